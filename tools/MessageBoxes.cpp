#include "MessageBoxes.h"

namespace z540k {

namespace {
MessageResponder& responder() {
  static MessageResponder r;
  return r;
}
}  // namespace

MessageResponder setMessageResponder(MessageResponder r) {
  MessageResponder previous = std::move(responder());
  responder() = std::move(r);
  return previous;
}

QMessageBox::StandardButton showMessage(QWidget* parent, MessageKind kind, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) {
  if (responder()) return responder()(kind, title, text);
  switch (kind) {
    case MessageKind::Information:
      return QMessageBox::information(parent, title, text, buttons, defaultButton);
    case MessageKind::Warning:
      return QMessageBox::warning(parent, title, text, buttons, defaultButton);
    case MessageKind::Critical:
      return QMessageBox::critical(parent, title, text, buttons, defaultButton);
    case MessageKind::Question:
      return QMessageBox::question(parent, title, text, buttons, defaultButton);
  }
  return QMessageBox::NoButton;
}

}  // namespace z540k
