#include "InetactionSetupWidget.h"

#include <QDateTime>
#include <QEvent>
#include <QIcon>
#include <QIntValidator>
#include <string>

#include "MessageBoxes.h"
#include "NetworkSettingsRules.h"
#include "ResourceImage.h"
#include "SettingsFieldValues.h"
#include "UdpSocket.h"
#include "ui_InetactionSetupWidget.h"

using z540k::MessageKind;
using z540k::showMessage;

namespace {

// The motor speed items, in their order in comboBox_rotateSpeed, and the
// measured speeds (rpm) each stands for.

QString text(const std::string& s) { return QString::fromStdString(s); }
// Bytes the sensor sends as text, one Latin-1 character each.
QString latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<int>(s.size())); }

}  // namespace

InetactionSetupWidget::InetactionSetupWidget(QWidget* parent) : QWidget(parent), ui(new Ui::InetactionSetupWidget) {
  ui->setupUi(this);  // the form's texts go through tr
  setAttribute(Qt::WA_QuitOnClose, false);
  ui->pushButton_OK->setEnabled(false);

  // The address, port and PPS angle fields take what is typed, every
  // keystroke: a validator that drops the one keystroke it cannot place
  // turns 10.0.0.256 into 10.0.0.25 and 1e308 into 130 behind the
  // operator's back. Set judges the whole text by the rules the tool's
  // configure uses, and refuses it naming the field. (The hidden interval
  // field is only ever filled by a Refresh.)
  ui->lineEdit_interval->setValidator(new QIntValidator(0, 1, ui->lineEdit_interval));

  // Display fields: they show what the sensor reports.
  for (QWidget* display : std::initializer_list<QWidget*>{
           ui->lineEdit_mac_addr, ui->lineEdit_utc_time, ui->comboBox_LVDS_Valuse, ui->lineEdit_PPS_Set_Angle,
           ui->lineEdit_Motor_State, ui->lineEdit, ui->lineEdit_2, ui->lineEdit_Plate_2_T, ui->lineEdit_Plate_3_V,
           ui->lineEdit_High_T_Pause, ui->lineEdit_Machine_Stop_T, ui->lineEdit_GPS_State, ui->lineEdit_PPS_State,
           ui->lineEdit_GPS_Position_longitude, ui->lineEdit_GPS_Position_latitude, ui->lineEdit_Current_IP,
           ui->lineEdit_Current_Port})
    display->setEnabled(false);

  ui->comboBox_localTime->addItem(QIcon(z540k::resourceImage(QStringLiteral("./Resources/images/YES.png"))),
                                  tr(" Yes"));
  ui->comboBox_localTime->addItem(QIcon(z540k::resourceImage(QStringLiteral("./Resources/images/NO.png"))), tr(" No"));
  for (const z540k::MotorSpeedChoice& speed : z540k::kMotorSpeedChoices)
    ui->comboBox_rotateSpeed->addItem(QString::fromLatin1(speed.text));

  connect(ui->pushButton_OK, &QPushButton::clicked, this, &InetactionSetupWidget::onOK_Clicked, Qt::UniqueConnection);
  connect(ui->pushButton_Cancel, &QPushButton::clicked, this, &InetactionSetupWidget::onCancel_Clicked,
          Qt::UniqueConnection);
  connect(ui->pushButton_LidarRefresh, &QPushButton::clicked, this, &InetactionSetupWidget::onRefreshCilcked,
          Qt::UniqueConnection);

  for (QWidget* noFocus : std::initializer_list<QWidget*>{ui->lineEdit_Motor_State, ui->lineEdit_GPS_Position_longitude,
                                                          ui->lineEdit_GPS_Position_latitude, ui->lineEdit_Current_IP,
                                                          ui->lineEdit_Current_Port})
    noFocus->setFocusPolicy(Qt::NoFocus);

  onCleanUCWPControl();

  ui->lineEdit_Subnet->installEventFilter(this);
  ui->lineEdit_Gateway->installEventFilter(this);
  connect(ui->lineEdit_Subnet, &QLineEdit::editingFinished, this, &InetactionSetupWidget::isLegalSubNetMask,
          Qt::UniqueConnection);
  connect(ui->lineEdit_Gateway, &QLineEdit::editingFinished, this, &InetactionSetupWidget::isLegalGateway,
          Qt::UniqueConnection);

  for (QWidget* hidden : std::initializer_list<QWidget*>{
           ui->lineEdit_interval, ui->label_3, ui->CBox_Resolution, ui->label_4, ui->lineEdit_Plate_3_V,
           ui->label_Plate_3_V, ui->lineEdit_High_T_Pause, ui->label_High_T_Pause, ui->lineEdit_Machine_Stop_T,
           ui->label_Machine_Stop_T, ui->lineEdit_GPS_State, ui->label_GPS_State, ui->lineEdit_PPS_State,
           ui->label_PPS_State, ui->lineEdit_Current_IP, ui->label_Current_IP, ui->lineEdit_Current_Port,
           ui->label_Current_Port})
    hidden->setVisible(false);
}

InetactionSetupWidget::~InetactionSetupWidget() {
  // The fields outlive this object's own part of the destruction; a field
  // losing the focus as the window goes must not reach its checks or fills.
  for (QLineEdit* field : {ui->lineEdit_Subnet, ui->lineEdit_Gateway}) {
    field->removeEventFilter(this);
    field->disconnect(this);
  }
}

// ---- Status from the receivers ----------------------------------------------

void InetactionSetupWidget::OnLidarDifoData(const u_char* data) { session_.takeRawStatus(data); }

void InetactionSetupWidget::OnLidarStatusReceiving(SettingData* data, std::vector<int> Mac) {
  if (!data) return;
  const z540k::NetworkStatusDisplay display = session_.takeDecodedStatus(*data, Mac);
  versions_.clear();
  for (std::size_t i = 0; i < display.versions.size(); ++i)
    versions_ << (i == 2 ? latin1(display.versions[i]) : text(display.versions[i]));
  emit sVersionsToHelp(versions_);

  showStatus(display);
}

void InetactionSetupWidget::showStatus(const z540k::NetworkStatusDisplay& d) {
  ui->lineEdit_Motor_State->setText(QString::number(d.motorSpeed));
  ui->lineEdit_utc_time->clear();
  ui->lineEdit_utc_time->setText(text(d.utcTime));
  ui->lineEdit_PPS_Set_Angle->setText(text(d.ppsSetAngle));
  ui->lineEdit_GPS_Position_longitude->clear();
  ui->lineEdit_GPS_Position_latitude->clear();
  ui->lineEdit_GPS_Position_longitude->setText(latin1(d.longitude));
  ui->lineEdit_GPS_Position_latitude->setText(latin1(d.latitude));
  ui->lineEdit_mac_addr->setText(text(d.mac));
  ui->lineEdit->setText(text(d.ppsAngleLocked));
  ui->lineEdit_2->setText(text(d.ppsDeviation));
  ui->lineEdit_Plate_2_T->setText(text(d.plate2Temperature));
  ui->comboBox_LVDS_Valuse->setCurrentIndex(d.lvdsIndex);
  ui->lineEdit_GPS_State->setText(text(d.gpsState));
  ui->lineEdit_PPS_State->setText(text(d.ppsState));
  ui->lineEdit_High_T_Pause->setText(text(d.highTemperaturePause));
  ui->lineEdit_Machine_Stop_T->setText(text(d.machineStopTemperature));
  ui->lineEdit_Plate_3_V->setText(text(d.plate3Voltage));
}

// ---- Refresh ----------------------------------------------------------------

void InetactionSetupWidget::onRefreshCilcked() {
  const auto refresh = session_.refresh();
  if (!refresh) {
    showMessage(nullptr, MessageKind::Information, tr("warring"), tr("Please check the device package port !"));
    return;
  }
  showRefreshed(*refresh);
  ui->pushButton_OK->setEnabled(true);
}

void InetactionSetupWidget::showRefreshed(const z540k::NetworkSettingsSession::Refresh& refresh) {
  const z540k::NetworkSettingsRefresh& r = refresh.fields;
  ui->lineEdit_DefaultIP->setText(text(r.sensorIp));
  ui->lineEdit_DestIP->setText(text(r.destIp));
  if (r.hasServerAddresses) {
    ui->lineEdit_NTP->setText(text(r.ntp));
    ui->lineEdit_Gateway->setText(text(r.gateway));
    ui->lineEdit_Subnet->setText(text(r.subnet));
  }
  ui->lineEdit_defaultPort->setText(text(r.dataPort));
  ui->lineEdit_destPort->setText(text(r.devicePort));
  if (!refresh.withStatus) return;

  if (!r.shortFormat) ui->lineEdit_interval->setText(text(r.interval));
  ui->lineEdit_Motor_State->setText(QString::number(r.motorSpeed));
  const int speed = ui->comboBox_rotateSpeed->findText(text(r.motorSpeedChoice));
  if (!r.motorSpeedChoice.empty() && speed >= 0) ui->comboBox_rotateSpeed->setCurrentIndex(speed);
  // Only the states the lists hold; anything else leaves the choice as it is.
  if (r.sensorState >= 0) ui->comboBox_LidarStatus->setCurrentIndex(r.sensorState);
  if (!r.motorState.empty()) ui->comboBox->setCurrentIndex(ui->comboBox->findText(text(r.motorState)));
  showMessage(this, MessageKind::Information, tr("Tips"), tr("Resresh completed"));
}

// ---- Set --------------------------------------------------------------------

z540k::NetworkSettingsInput InetactionSetupWidget::settingsInput() const {
  z540k::NetworkSettingsInput in;
  in.sensorIp = ui->lineEdit_DefaultIP->text().toStdString();
  in.destIp = ui->lineEdit_DestIP->text().toStdString();
  in.subnet = ui->lineEdit_Subnet->text().toStdString();
  in.gateway = ui->lineEdit_Gateway->text().toStdString();
  in.ntp = ui->lineEdit_NTP->text().toStdString();
  in.mac = ui->lineEdit_mac_addr->text().toStdString();
  in.dataPort = ui->lineEdit_defaultPort->text().toStdString();
  in.devicePort = ui->lineEdit_destPort->text().toStdString();
  in.interval = ui->lineEdit_interval->text().toStdString();
  in.ppsAngle = ui->lineEdit_SetPPS_Angle->text().toStdString();
  in.motorSpeed = ui->comboBox_rotateSpeed->currentText().toStdString();
  in.motorState = ui->comboBox->currentText().toStdString();
  in.sensorState = ui->comboBox_LidarStatus->currentIndex();
  in.writeTime = ui->comboBox_localTime->currentText() == QLatin1String(" Yes");
  return in;
}

void InetactionSetupWidget::onOK_Clicked() {
  using Refused = z540k::NetworkSettingsSession::SetRefusal;
  const QDateTime now = QDateTime::currentDateTime();
  const z540k::LocalDateTime local{now.date().year(), now.date().month(),  now.date().day(),
                                   now.time().hour(), now.time().minute(), now.time().second()};
  const z540k::NetworkSettingsSession::SetPlan plan = session_.set(settingsInput(), local);
  if (plan.refused != Refused::None) {
    const QString refusal = plan.refused == Refused::SameAddress ? tr(z540k::kSameAddressMessage)
                            : plan.refused == Refused::NoStatus  ? tr("Please check the device package port !")
                                                                 : text(plan.refusal);
    showMessage(nullptr, MessageKind::Information, tr("warring"), refusal);
    return;
  }

  std::string error;
  if (!z540k::sendDatagram(plan.destination, z540k::kConfigurationPort, plan.packet.data(), plan.packet.size(),
                           error)) {
    // Nothing went out: the status packet is still fresh for another try.
    showMessage(this, MessageKind::Critical, tr("error"),
                tr("The settings could not be sent to %1:%2: %3")
                    .arg(QString::fromStdString(plan.destination))
                    .arg(z540k::kConfigurationPort)
                    .arg(QString::fromStdString(error)));
    return;
  }
  session_.sent();

  showMessage(this, MessageKind::Information, tr("Tips"),
              plan.kept.empty() ? tr("Setup completed") : tr("Setup completed") + "\n" + text(plan.kept));
  const auto answer =
      showMessage(this, MessageKind::Question, tr("Question"), tr("Whether to close the Settings form ?"),
                  QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
  // Kept open, the window stays live: Set sends again only after the
  // sensor's next status packet, which gives it time to take the settings.
  if (answer == QMessageBox::Ok) close();
}

void InetactionSetupWidget::onCancel_Clicked() { close(); }

// ---- Subnet mask and gateway --------------------------------------------------

bool InetactionSetupWidget::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    if (watched->objectName() == ui->lineEdit_Subnet->objectName())
      fillSubnetMask();
    else if (watched->objectName() == ui->lineEdit_Gateway->objectName())
      fillGateway();
  }
  return QWidget::eventFilter(watched, event);
}

void InetactionSetupWidget::fillSubnetMask() {
  if (const auto mask = z540k::subnetMaskFill(ui->lineEdit_DestIP->text().toStdString()))
    ui->lineEdit_Subnet->setText(text(*mask));
}

void InetactionSetupWidget::fillGateway() {
  if (const auto gateway =
          z540k::gatewayFill(ui->lineEdit_DestIP->text().toStdString(), ui->lineEdit_Subnet->text().toStdString()))
    ui->lineEdit_Gateway->setText(text(*gateway));
}

bool InetactionSetupWidget::isLegalSubNetMask() {
  const auto check = z540k::subnetMaskCheck(ui->lineEdit_Subnet->text().toStdString());
  if (check != z540k::AddressCheck::Invalid) return check == z540k::AddressCheck::Valid;
  showMessage(this, MessageKind::Warning, tr("Warning"),
              tr("The subnet mask entered is invalid. The subnet mask must be contiguous, please re-enter the "
                 "subnet mask."),
              QMessageBox::Yes);
  return false;
}

bool InetactionSetupWidget::isLegalGateway() {
  const auto check =
      z540k::gatewayCheck(ui->lineEdit_Gateway->text().toStdString(), ui->lineEdit_DestIP->text().toStdString(),
                          ui->lineEdit_Subnet->text().toStdString());
  if (check != z540k::AddressCheck::Invalid) return check == z540k::AddressCheck::Valid;
  showMessage(this, MessageKind::Warning, tr("Warning"),
              tr("The gateway is not on the same network segment (subnet) defined by the IP address and subnet "
                 "mask. Please reset it."),
              QMessageBox::Yes);
  ui->lineEdit_Gateway->setFocus();
  return false;
}

bool InetactionSetupWidget::firstOctetLegal(QLineEdit* field) {
  const z540k::FirstOctet octet = z540k::firstOctetCheck(field->text().toStdString());
  if (octet.check != z540k::AddressCheck::Invalid) return octet.check == z540k::AddressCheck::Valid;
  showMessage(
      this, MessageKind::Warning, tr("Warning"),
      tr("%1 is not a valid item in the first paragraph. Please specify a value between 1 and 223.").arg(octet.value),
      QMessageBox::Yes);
  field->setText(text(octet.replacement));
  return false;
}

bool InetactionSetupWidget::isLegalLidarIP() { return firstOctetLegal(ui->lineEdit_DefaultIP); }

bool InetactionSetupWidget::isLegalLocalIP() { return firstOctetLegal(ui->lineEdit_DestIP); }

// ---- Clear ------------------------------------------------------------------

void InetactionSetupWidget::onCleanUCWPControl() {
  for (QLineEdit* field :
       {ui->lineEdit_Current_IP, ui->lineEdit_DefaultIP, ui->lineEdit_DestIP, ui->lineEdit_Current_Port,
        ui->lineEdit_defaultPort, ui->lineEdit_destPort, ui->lineEdit_GPS_Position_latitude,
        ui->lineEdit_GPS_Position_longitude, ui->lineEdit_Motor_State, ui->lineEdit_mac_addr, ui->lineEdit_interval})
    field->setText(QString());
}
