// The file dialogs of the program, through one helper: tests install a
// responder that answers them without showing anything, as for message
// boxes.
//
// GUI thread only.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace z540k {

enum class FileDialogKind { Open, Save };

// Answers a dialog instead of the operator: gets its kind, caption, proposed
// name and filter; returns the chosen path (empty: cancelled).
using FileDialogResponder =
    std::function<QString(FileDialogKind kind, const QString& caption, const QString& proposed, const QString& filter)>;

// Installs a responder (an empty one restores the real dialogs); returns the
// previous one.
FileDialogResponder setFileDialogResponder(FileDialogResponder responder);

QString askOpenFileName(QWidget* parent, const QString& caption, const QString& directory, const QString& filter);
QString askSaveFileName(QWidget* parent, const QString& caption, const QString& proposed, const QString& filter);

}  // namespace z540k
