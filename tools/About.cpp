#include "About.h"

#include "ui_About.h"

namespace {

// The FPGA 3rd board version shown when measurements arrived but the sensor's
// status has not told its versions yet.
const char* const kDefaultSoftwareVersion = "200.2.5-V3.0";

// Each value label and the version list entry it shows.
struct VersionLabel {
  QLabel* Ui::About::*label;
  int entry;
};
constexpr VersionLabel kVersionLabels[] = {
    {&Ui::About::label_3ndFPGAShftware, 1}, {&Ui::About::label_LidarNumber, 2},  {&Ui::About::label_2ndFPGA, 0},
    {&Ui::About::label_3ndFPGA, 1},         {&Ui::About::label_2ndHardware, 3},  {&Ui::About::label_3ndHardware, 4},
    {&Ui::About::label_emisionBoard, 5},    {&Ui::About::label_receiveBoard, 6}, {&Ui::About::label_structVer, 7},
};

}  // namespace

About::About(QWidget* parent) : QWidget(parent), ui(new Ui::About) {
  ui->setupUi(this);
  setAttribute(Qt::WA_QuitOnClose, false);
  dataSeen_ = false;
  // Board versions the sensor reports but the window does not show.
  for (QLabel* label :
       {ui->label_9, ui->label_2ndHardware, ui->label_11, ui->label_3ndHardware, ui->label_13, ui->label_emisionBoard,
        ui->label_15, ui->label_receiveBoard, ui->label_17, ui->label_structVer})
    label->hide();
}

About::~About() = default;

void About::setDataSeen(bool seen) { dataSeen_ = seen; }

void About::sSetVersion(QStringList Versions) {
  if (Versions.isEmpty()) return;
  versions_ = Versions;
  showVersions();
}

void About::showVersions() {
  for (const VersionLabel& v : kVersionLabels)
    if (v.entry < versions_.size()) (ui.get()->*v.label)->setText(versions_.at(v.entry));
}

void About::showEvent(QShowEvent* event) {
  if (dataSeen_) {
    if (!versions_.isEmpty())
      showVersions();
    else
      ui->label_3ndFPGAShftware->setText(QString::fromLatin1(kDefaultSoftwareVersion));
  }
  QWidget::showEvent(event);
}
