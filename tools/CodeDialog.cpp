#include "CodeDialog.h"

#include "ui_CodeDialog.h"

CodeDialog::CodeDialog(QWidget* parent) : QDialog(parent), ui(new Ui::CodeDialog) {
  ui->setupUi(this);
  ui->lineEdit->setEchoMode(QLineEdit::Password);
  connect(ui->pushButton_ok, &QPushButton::clicked, this, &CodeDialog::onOKClick);
  connect(ui->pushButton_cancel, &QPushButton::clicked, this, &CodeDialog::onCancelClick);
}

CodeDialog::~CodeDialog() = default;

void CodeDialog::done(int result) {
  ui->lineEdit->clear();
  QDialog::done(result);
}

void CodeDialog::onOKClick() {
  const QString code = ui->lineEdit->text();
  emit sendCode(code);
  ui->lineEdit->clear();
  close();
}

void CodeDialog::onCancelClick() {
  ui->lineEdit->clear();
  close();
}
