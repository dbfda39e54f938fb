#include "MessageBoxes.h"

#include <QInputDialog>

namespace z540k {

namespace {
MessageResponder& responder() {
  static MessageResponder r;
  return r;
}
ChoiceResponder& choiceResponder() {
  static ChoiceResponder r;
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

ChoiceResponder setChoiceResponder(ChoiceResponder r) {
  ChoiceResponder previous = std::move(choiceResponder());
  choiceResponder() = std::move(r);
  return previous;
}

int askChoice(QWidget* parent, const QString& title, const QString& text, const QStringList& items) {
  if (choiceResponder()) return choiceResponder()(title, text, items);
  bool ok = false;
  const QString chosen = QInputDialog::getItem(parent, title, text, items, 0, false, &ok);
  return ok ? items.indexOf(chosen) : -1;
}

}  // namespace z540k
