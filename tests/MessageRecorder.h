// Records every message box the program shows while it lives, answering each
// with a chosen button, so no test waits on a modal dialog.
#pragma once

#include <QString>
#include <vector>

#include "MessageBoxes.h"

namespace z540k::test {

struct RecordedMessage {
  MessageKind kind;
  QString title;
  QString text;
};

class MessageRecorder {
 public:
  explicit MessageRecorder(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer_(answer) {
    previous_ = setMessageResponder([this](MessageKind kind, const QString& title, const QString& text) {
      messages.push_back({kind, title, text});
      return answer_;
    });
  }
  ~MessageRecorder() { setMessageResponder(previous_); }
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  void answerWith(QMessageBox::StandardButton answer) { answer_ = answer; }
  const RecordedMessage& last() const { return messages.back(); }

  std::vector<RecordedMessage> messages;

 private:
  QMessageBox::StandardButton answer_;
  MessageResponder previous_;
};

}  // namespace z540k::test
