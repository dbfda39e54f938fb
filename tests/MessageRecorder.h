// Records every message box the program shows while it lives, answering each
// with a chosen button, so no test waits on a modal dialog.
#pragma once

#include <QString>
#include <functional>
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
      if (whileOpen) whileOpen(messages.back());
      return answer_;
    });
    previousChoice_ = setChoiceResponder([this](const QString& title, const QString& text, const QStringList& items) {
      choices.push_back({title, text, items});
      return choiceAnswer_;
    });
  }
  ~MessageRecorder() {
    setMessageResponder(previous_);
    setChoiceResponder(previousChoice_);
  }
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  void answerWith(QMessageBox::StandardButton answer) { answer_ = answer; }
  // The index a choice is answered with (-1: cancelled; default the first).
  void chooseWith(int index) { choiceAnswer_ = index; }
  const RecordedMessage& last() const { return messages.back(); }

  std::vector<RecordedMessage> messages;
  // Runs while a message is open, before it is answered (what happens
  // meanwhile, e.g. frames arriving).
  std::function<void(const RecordedMessage&)> whileOpen;
  struct RecordedChoice {
    QString title, text;
    QStringList items;
  };
  std::vector<RecordedChoice> choices;

 private:
  QMessageBox::StandardButton answer_;
  int choiceAnswer_ = 0;
  MessageResponder previous_;
  ChoiceResponder previousChoice_;
};

}  // namespace z540k::test
