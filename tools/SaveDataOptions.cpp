#include "SaveDataOptions.h"

#include "MessageBoxes.h"
#include "ui_SaveDataOptions.h"

namespace {

// Every angle must lie in [0, 360], both ends included. Written as "not
// inside" so that a NaN ("nan" parses as one) is refused like any other
// out-of-range angle instead of passing every comparison.
bool angleOutOfRange(float angle) {
  const double a = angle;
  return !(a >= 0.0 && a <= 360.0);
}

}  // namespace

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
  float angleMin = ui->lineEdit_AngleMin->text().toFloat();  // not a number: 0.0
  float angleMax = ui->lineEdit_AngleMax->text().toFloat();
  if (angleOutOfRange(angleMin) || angleOutOfRange(angleMax)) {
    z540k::showMessage(nullptr, z540k::MessageKind::Warning, tr("Warning"), tr("Invalid angle"));
    return;
  }
  if (angleMin > angleMax) {
    z540k::showMessage(nullptr, z540k::MessageKind::Warning, tr("Warning"), tr("Angle range invalid"));
    return;
  }
  // A single angle keeps half a degree on each side, so it still matches
  // measurements near it; this may reach past 0 or 360.
  if (angleMin == angleMax) {
    angleMin -= 0.5f;
    angleMax += 0.5f;
  }

  emit sendOptions(true, freams, angleMin, angleMax, lines);
  close();
}
