#include "SaveDataOptions.h"

#include "CsvExport.h"
#include "MessageBoxes.h"
#include "ui_SaveDataOptions.h"

SaveDataOptions::SaveDataOptions(QWidget* parent) : QWidget(parent), ui(new Ui::SaveDataOptions) {
  ui->setupUi(this);  // sets the form's texts through tr
  connect(ui->pushButton_cancel, &QPushButton::clicked, this, &SaveDataOptions::onCancel_Clicked, Qt::UniqueConnection);
  connect(ui->pushButton_ok, &QPushButton::clicked, this, &SaveDataOptions::onOk_Clicked, Qt::UniqueConnection);
}

SaveDataOptions::~SaveDataOptions() = default;

void SaveDataOptions::onCancel_Clicked() {
  emit sendOptions(false, 1, 0.0f, 360.0f, QList<int>());
  close();
}

void SaveDataOptions::onOk_Clicked() {
  // One channel on this sensor: channel 0.
  QList<int> lines;
  for (int line = 0; line < 1; ++line) lines.append(line);

  int freams = 1;
  if (ui->lineEdit_freamCount->text().isEmpty()) {
    ui->lineEdit_freamCount->setText(QStringLiteral("1"));
  } else {
    freams = ui->lineEdit_freamCount->text().toInt(nullptr, 10);  // not a number: 0
  }
  // An export counts frames up to this number, so one below 1 would never end.
  if (freams < 1) {
    z540k::showMessage(nullptr, z540k::MessageKind::Warning, tr("Warning"), tr("Fream count must be 1 or more"));
    return;
  }

  if (ui->lineEdit_AngleMin->text().isEmpty() || ui->lineEdit_AngleMax->text().isEmpty()) {
    z540k::showMessage(nullptr, z540k::MessageKind::Warning, tr("Warning"), tr("Angle range can not be empty"));
    return;
  }
  // Not a number reads as 0.0; the range rule is the tool's too.
  z540k::CsvExportOptions range;
  if (const char* refusal = z540k::takeCsvAngleRange(ui->lineEdit_AngleMin->text().toFloat(),
                                                     ui->lineEdit_AngleMax->text().toFloat(), range)) {
    z540k::showMessage(nullptr, z540k::MessageKind::Warning, tr("Warning"), tr(refusal));
    return;
  }
  emit sendOptions(true, freams, range.angleMin, range.angleMax, lines);
  close();
}
