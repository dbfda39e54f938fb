// The code entry dialog: a masked field and OK / Cancel. OK hands the typed
// text on through sendCode; Cancel hands nothing on. Either clears the field
// and closes the dialog, and so does every other way of closing it (Escape,
// the window's close button), so a typed code never waits in the field for
// the next opening.
//
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class CodeDialog;
}

class CodeDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CodeDialog(QWidget* parent = nullptr);
  ~CodeDialog() override;

  // Every close ends here (accept, reject, Escape, close()).
  void done(int result) override;

 signals:
  void sendCode(QString code);

 public slots:
  void onOKClick();
  void onCancelClick();

 private:
  std::unique_ptr<Ui::CodeDialog> ui;
};
