#include "Form_QLaserSelection.h"

#include <QTableWidgetItem>

#include "ui_Form_QLaserSelection.h"

namespace {

constexpr int kModes = 2;

// Vertical angle of each row, in degrees, per degree mode.
const char* const kAngles[kModes][Form_QLaserSelection::kChannels] = {
    {"-15", "-13", "-11", "-9", "-7", "-5", "-3", "-1", "1", "3", "5", "7", "9", "11", "13", "15"},
    {"-10", "-8.665", "-7.33", "-6", "-4.665", "-3.33", "-2", "-0.665", "0.665", "2", "3.33", "4.665", "6", "7.33",
     "8.665", "10"},
};

// Channel number of each row, the same in every mode.
const char* const kChannelNumbers[Form_QLaserSelection::kChannels] = {"0", "2", "4", "6", "8", "10", "12", "14",
                                                                      "1", "3", "5", "7", "9", "11", "13", "15"};

// A cell that shows a fixed value: selectable, not editable, so the table
// always tells the sensor's layout as it is.
QTableWidgetItem* fixedItem(const char* text) {
  auto* item = new QTableWidgetItem(QString::fromLatin1(text));
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
}

}  // namespace

Form_QLaserSelection::Form_QLaserSelection(QWidget* parent) : QWidget(parent), ui(new Ui::Form_QLaserSelection) {
  ui->setupUi(this);  // the form's texts go through tr
  setAttribute(Qt::WA_QuitOnClose, false);
  setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
  setFixedSize(471, 502);

  QTableWidget* table = ui->tableWidget_laserselection;
  headerLabels_ << QStringLiteral(" ") << tr("Vertical Angle") << tr("Channel");
  table->setHorizontalHeaderLabels(headerLabels_);

  channelFlags_.fill(1);
  for (int row = 0; row < kChannels; ++row) {
    auto* box = new QCheckBox(table);
    box->setChecked(true);
    channelBoxes_[row] = box;
    table->setCellWidget(row, 0, box);
  }
  fillTable(0);

  connect(ui->checkBox, &QCheckBox::clicked, this, &Form_QLaserSelection::Checkstate, Qt::UniqueConnection);
  connect(ui->pushButton_toggleselection, &QPushButton::clicked, this, &Form_QLaserSelection::Parity,
          Qt::UniqueConnection);
  connect(ui->checkBox_2, &QCheckBox::clicked, this, &Form_QLaserSelection::Checkstate2, Qt::UniqueConnection);
  connect(ui->pushButton_OK, &QPushButton::clicked, this, &Form_QLaserSelection::onOk_Clicked, Qt::UniqueConnection);
  connect(ui->pushButton_Cancel, &QPushButton::clicked, this, &Form_QLaserSelection::onCancel_Clicked,
          Qt::UniqueConnection);
}

Form_QLaserSelection::~Form_QLaserSelection() = default;

void Form_QLaserSelection::fillTable(int mode) {
  QTableWidget* table = ui->tableWidget_laserselection;
  for (int row = 0; row < kChannels; ++row) {
    table->setItem(row, 1, fixedItem(kAngles[mode][row]));
    table->setItem(row, 2, fixedItem(kChannelNumbers[row]));
  }
}

void Form_QLaserSelection::onCancel_Clicked() { close(); }

void Form_QLaserSelection::onOk_Clicked() {
  for (int row = 0; row < kChannels; ++row) channelFlags_[row] = channelBoxes_[row]->isChecked() ? 1 : 0;
}

void Form_QLaserSelection::Checkstate() {
  for (QCheckBox* box : channelBoxes_) box->setChecked(togglePhase_);
  togglePhase_ = !togglePhase_;
}

void Form_QLaserSelection::Checkstate2() {
  // Kept for later dialogs to take over the selection; for now re-applying
  // the checked boxes is all it does.
  if (!ui->checkBox_2->isChecked()) return;
  for (QCheckBox* box : channelBoxes_)
    if (box->isChecked()) box->setChecked(true);
}

void Form_QLaserSelection::Parity() {
  // Phase false selects the even rows, phase true the odd ones.
  for (int row = 0; row < kChannels; ++row) channelBoxes_[row]->setChecked((row % 2 == 0) != togglePhase_);
  togglePhase_ = !togglePhase_;
}

void Form_QLaserSelection::ReceiveDegreeMode(int ReturnModel) {
  degreeMode_ = ReturnModel;
  if (ReturnModel >= 0 && ReturnModel < kModes) fillTable(ReturnModel);
}
