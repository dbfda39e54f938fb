#include "FileDialogs.h"

#include <QFileDialog>

namespace z540k {

namespace {
FileDialogResponder& responder() {
  static FileDialogResponder r;
  return r;
}
}  // namespace

FileDialogResponder setFileDialogResponder(FileDialogResponder r) {
  FileDialogResponder previous = std::move(responder());
  responder() = std::move(r);
  return previous;
}

QString askOpenFileName(QWidget* parent, const QString& caption, const QString& directory, const QString& filter) {
  if (responder()) return responder()(FileDialogKind::Open, caption, directory, filter);
  return QFileDialog::getOpenFileName(parent, caption, directory, filter);
}

QString askSaveFileName(QWidget* parent, const QString& caption, const QString& proposed, const QString& filter) {
  if (responder()) return responder()(FileDialogKind::Save, caption, proposed, filter);
  return QFileDialog::getSaveFileName(parent, caption, proposed, filter);
}

}  // namespace z540k
