// Every message box of the program goes through here: modal information,
// warning, error and question boxes with a title and a text, and the choice
// of one item from a list. Tests install a
// responder that records each box and answers it without showing anything,
// so no test ever waits on a modal dialog.
//
// GUI thread only.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

namespace z540k {

enum class MessageKind { Information, Warning, Critical, Question };

// Answers a box instead of the operator: gets its kind, title and text, and
// returns the button pressed.
using MessageResponder =
    std::function<QMessageBox::StandardButton(MessageKind kind, const QString& title, const QString& text)>;

// Installs a responder (an empty one restores the real boxes); returns the
// previous one.
MessageResponder setMessageResponder(MessageResponder responder);

// Shows a modal box and returns the button pressed. A box without a parent
// is modal to the whole application.
QMessageBox::StandardButton showMessage(QWidget* parent, MessageKind kind, const QString& title, const QString& text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

// Answers a choice instead of the operator: gets its title, text and items,
// returns the index chosen (-1: cancelled).
using ChoiceResponder = std::function<int(const QString& title, const QString& text, const QStringList& items)>;
ChoiceResponder setChoiceResponder(ChoiceResponder responder);

// Asks for one of `items` in a modal box (the first one proposed); returns
// its index, or -1 when the operator cancelled.
int askChoice(QWidget* parent, const QString& title, const QString& text, const QStringList& items);

}  // namespace z540k
