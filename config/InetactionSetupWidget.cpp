#include "InetactionSetupWidget.h"

#include <QDateTime>
#include <QEvent>
#include <QIcon>
#include <QIntValidator>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QThread>
#include <cstring>
#include <string>

#include "MessageBoxes.h"
#include "ResourceImage.h"
#include "StatusPacket.h"
#include "UdpSocket.h"
#include "ui_InetactionSetupWidget.h"

using z540k::MessageKind;
using z540k::showMessage;
namespace at = z540k::status_offset;

namespace {

const char* const kIpv4Pattern =
    "\\b(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\b";

// The motor speed items, in their order in comboBox_rotateSpeed, and the
// measured speeds (rpm) each stands for.
constexpr const char* kSpeedItems[] = {" 5 HZ", " 10 HZ", " 20 HZ"};

QString dotted(const std::uint8_t* p) { return QString::fromStdString(z540k::dottedIpv4(p)); }

// Status value i, 0 when the list is shorter than the receivers make it.
int valueAt(const std::vector<int>& values, std::size_t i) { return i < values.size() ? values[i] : 0; }

// A label's text without its trailing colon, to name its field in a message.
QString fieldName(const QLabel* label) {
  QString name = label->text().trimmed();
  while (!name.isEmpty() && (name.endsWith(QChar(':')) || name.endsWith(QChar(0xFF1A)))) name.chop(1);
  return name.trimmed();
}

}  // namespace

InetactionSetupWidget::InetactionSetupWidget(QWidget* parent) : QWidget(parent), ui(new Ui::InetactionSetupWidget) {
  ui->setupUi(this);  // the form's texts go through tr
  setAttribute(Qt::WA_QuitOnClose, false);
  ui->pushButton_OK->setEnabled(false);

  for (QLineEdit* address :
       {ui->lineEdit_DefaultIP, ui->lineEdit_DestIP, ui->lineEdit_Subnet, ui->lineEdit_Gateway, ui->lineEdit_NTP})
    address->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QString::fromLatin1(kIpv4Pattern)), address));
  ui->lineEdit_defaultPort->setValidator(new QIntValidator(1024, 65536, ui->lineEdit_defaultPort));
  ui->lineEdit_destPort->setValidator(new QIntValidator(1024, 65536, ui->lineEdit_destPort));
  ui->lineEdit_interval->setValidator(new QIntValidator(0, 1, ui->lineEdit_interval));
  ui->lineEdit_SetPPS_Angle->setValidator(new QIntValidator(0, 360, ui->lineEdit_SetPPS_Angle));

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
  ui->comboBox_localTime->addItem(QIcon(z540k::resourceImage(QStringLiteral("./Resources/images/NO.png"))),
                                  tr(" No"));
  for (const char* speed : kSpeedItems) ui->comboBox_rotateSpeed->addItem(QString::fromLatin1(speed));

  connect(ui->pushButton_OK, &QPushButton::clicked, this, &InetactionSetupWidget::onOK_Clicked, Qt::UniqueConnection);
  connect(ui->pushButton_Cancel, &QPushButton::clicked, this, &InetactionSetupWidget::onCancel_Clicked,
          Qt::UniqueConnection);
  connect(ui->pushButton_LidarRefresh, &QPushButton::clicked, this, &InetactionSetupWidget::onRefreshCilcked,
          Qt::UniqueConnection);

  for (QWidget* noFocus : std::initializer_list<QWidget*>{
           ui->lineEdit_Motor_State, ui->lineEdit_GPS_Position_longitude, ui->lineEdit_GPS_Position_latitude,
           ui->lineEdit_Current_IP, ui->lineEdit_Current_Port})
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

void InetactionSetupWidget::OnLidarDifoData(const u_char* data) {
  if (!data) return;
  std::memcpy(snapshot_.data(), data, snapshot_.size());
  sendReady_ = true;
  refreshReady_ = true;
}

void InetactionSetupWidget::OnLidarStatusReceiving(SettingData* data, std::vector<int> Mac) {
  if (!data) return;
  // The record is the receiver's and its 32-bit fields are unaligned: copy
  // the bytes before anything else reads them.
  std::memcpy(&status_, data, sizeof status_);
  decodedStatusReady_ = true;
  dataPortValue_ = valueAt(Mac, 7);
  devicePortValue_ = valueAt(Mac, 8);

  shortFormat_ = status_.board3Version[at::kConfigurationFormat - at::kBoard3Version] ==
                 at::kShortConfigurationFormat;
  versions_ = versionList();
  emit sVersionsToHelp(versions_);

  showStatus(Mac);
}

void InetactionSetupWidget::showStatus(const std::vector<int>& values) {
  std::int32_t speed = status_.motorSpeed;
  if (speed <= 100) speed = 0;
  status_.motorSpeed = speed;
  ui->lineEdit_Motor_State->setText(QString::number(speed));

  const std::uint8_t* t = status_.utcTime;
  ui->lineEdit_utc_time->clear();
  ui->lineEdit_utc_time->setText(QStringLiteral("%1/%2/%3 %4:%5:%6")
                                     .arg(t[0] + 2000)
                                     .arg(t[1])
                                     .arg(t[2])
                                     .arg(t[3])
                                     .arg(t[4])
                                     .arg(t[5]));

  ui->lineEdit_PPS_Set_Angle->setText(QString::number(z540k::loadBE16(status_.ppsSetAngle) / 100.0, 'f', 2));

  ui->lineEdit_GPS_Position_longitude->clear();
  ui->lineEdit_GPS_Position_latitude->clear();
  ui->lineEdit_GPS_Position_longitude->setText(
      QString::fromLatin1(status_.longitude, sizeof status_.longitude) +
      QChar(QLatin1Char(status_.longitudeHemisphere)));
  ui->lineEdit_GPS_Position_latitude->setText(QString::fromLatin1(status_.latitude, sizeof status_.latitude) +
                                              QChar(QLatin1Char(status_.latitudeHemisphere)));

  QStringList mac;
  for (std::size_t i = 0; i < 6; ++i) mac << QStringLiteral("%1").arg(valueAt(values, i) & 0xFF, 2, 16, QChar('0'));
  ui->lineEdit_mac_addr->setText(mac.join(QChar('-')));

  int deviation = valueAt(values, 6);
  if (deviation >= 32767) deviation -= 65535;
  const double d = deviation / 100.0;
  ui->lineEdit->setText(d >= -15 && d <= 15 ? QStringLiteral("0") : QStringLiteral("1"));
  ui->lineEdit_2->setText(QString::number(d));

  const auto plate2 = static_cast<std::int16_t>(z540k::loadBE16(status_.plate2Temperature) - 50);
  ui->lineEdit_Plate_2_T->setText(QString::number(static_cast<double>(plate2), 'f', 2));

  ui->comboBox_LVDS_Valuse->setCurrentIndex(status_.lvdsSetting[1] % 2 == 1 ? 1 : 0);

  ui->lineEdit_GPS_State->setText(QString::number(status_.gpsState));
  ui->lineEdit_PPS_State->setText(QString::number(status_.ppsState));
  ui->lineEdit_High_T_Pause->setText(QString::number(status_.highTemperaturePause));

  const int stop = z540k::loadBE16(status_.machineStopTemperature);
  ui->lineEdit_Machine_Stop_T->setText(QString::number(stop == 0 ? 0.0 : stop / 4096.0 * 330.0 - 50.0, 'f', 2));

  QString voltage;
  for (std::uint8_t digit : status_.plate3Voltage) voltage += QString::number(digit);
  ui->lineEdit_Plate_3_V->setText(voltage);
}

QStringList InetactionSetupWidget::versionList() const {
  const std::uint8_t* b2 = status_.board2Version;  // packet 1196, 1197
  const std::uint8_t* b3 = status_.board3Version;  // packet 1198..1203
  const std::uint8_t* pairs = status_.versionPairs;
  QStringList list;
  list << QStringLiteral("V%1.%2.%3").arg(b2[0]).arg(b2[1] >> 4).arg(b2[1] & 15);
  list << QStringLiteral("%1%2.%3.%4-V.%5.%6.%7")
              .arg(b3[0])
              .arg(b3[1])
              .arg(b3[2])
              .arg(b3[3])
              .arg(b3[4])
              .arg(b3[5] >> 4)
              .arg(b3[5] & 15);
  list << QString::fromLatin1(reinterpret_cast<const char*>(status_.versionText), sizeof status_.versionText);
  for (int i = 0; i < 5; ++i) list << QStringLiteral("V%1.%2").arg(pairs[2 * i]).arg(pairs[2 * i + 1]);
  return list;
}

// ---- Refresh ----------------------------------------------------------------

void InetactionSetupWidget::onRefreshCilcked() {
  if (!refreshReady_) {
    showMessage(nullptr, MessageKind::Information, tr("warring"), tr("Please check the device package port !"));
    return;
  }
  if (shortFormat_)
    refreshShort();
  else
    refreshLong();
  refreshReady_ = false;
  ui->pushButton_OK->setEnabled(true);
}

void InetactionSetupWidget::selectRotateSpeed(int rpm) {
  if (rpm < 0) return;
  const int index = ui->comboBox_rotateSpeed->findText(QString::fromStdString(z540k::motorSpeedChoice(rpm)));
  if (index >= 0) ui->comboBox_rotateSpeed->setCurrentIndex(index);
}

void InetactionSetupWidget::refreshLong() {
  ui->lineEdit_DefaultIP->setText(dotted(snapshot_.data() + at::kSensorIp));
  ui->lineEdit_DestIP->setText(dotted(snapshot_.data() + at::kDestIp));
  if (snapshot_[0] == 0xA5 && snapshot_[1] == 0xFF) {
    ui->lineEdit_NTP->setText(dotted(snapshot_.data() + at::kNtpIp));
    ui->lineEdit_Gateway->setText(dotted(snapshot_.data() + at::kGateway));
    ui->lineEdit_Subnet->setText(dotted(snapshot_.data() + at::kSubnetMask));
  }
  ui->lineEdit_defaultPort->setText(QString::number(dataPortValue_));
  ui->lineEdit_destPort->setText(QString::number(devicePortValue_));
  if (!decodedStatusReady_) return;

  const std::int32_t interval = status_.interval;
  const std::int32_t speed = status_.motorSpeed;
  const std::int32_t runState = status_.runState;
  ui->lineEdit_interval->setText(QString::number(interval));
  ui->lineEdit_Motor_State->setText(QString::number(speed));
  selectRotateSpeed(speed);
  // Only the two states the list holds; anything else would leave the list
  // without a choice and the next Set without a sensor state.
  const int sensorState = z540k::loadBE16(snapshot_.data() + at::kSensorState);
  if (sensorState >= 0 && sensorState < ui->comboBox_LidarStatus->count())
    ui->comboBox_LidarStatus->setCurrentIndex(sensorState);
  if (runState == 0)
    ui->comboBox->setCurrentIndex(ui->comboBox->findText(QStringLiteral("Run")));
  else if (runState == 1)
    ui->comboBox->setCurrentIndex(ui->comboBox->findText(QStringLiteral("Stop")));
  showMessage(this, MessageKind::Information, tr("Tips"), tr("Resresh completed"));
  decodedStatusReady_ = false;
}

void InetactionSetupWidget::refreshShort() {
  ui->lineEdit_DefaultIP->setText(dotted(snapshot_.data() + at::kShortSensorIp));
  ui->lineEdit_DestIP->setText(dotted(snapshot_.data() + at::kShortDestIp));
  dataPortValue_ = z540k::loadBE16(snapshot_.data() + at::kShortDataPort);
  devicePortValue_ = z540k::loadBE16(snapshot_.data() + at::kShortStatusPort);
  ui->lineEdit_defaultPort->setText(QString::number(dataPortValue_));
  ui->lineEdit_destPort->setText(QString::number(devicePortValue_));
  if (!decodedStatusReady_) return;

  const int speed = z540k::loadBE16(snapshot_.data() + at::kShortMotorSpeed);
  ui->lineEdit_Motor_State->setText(QString::number(speed));
  selectRotateSpeed(speed);
  showMessage(this, MessageKind::Information, tr("Tips"), tr("Resresh completed"));
  decodedStatusReady_ = false;
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

bool InetactionSetupWidget::fieldsUsable() {
  // The address fields the current format sends; each may be empty (the
  // packet then keeps or clears that address), but a half-typed one has no
  // four numbers to send.
  std::vector<std::pair<QLabel*, QLineEdit*>> addresses = {{ui->label_defaultIP, ui->lineEdit_DefaultIP},
                                                           {ui->label_destIP, ui->lineEdit_DestIP}};
  if (!shortFormat_)
    addresses.insert(addresses.end(), {{ui->label_Subnet, ui->lineEdit_Subnet},
                                       {ui->label_Gateway, ui->lineEdit_Gateway},
                                       {ui->label_7, ui->lineEdit_NTP}});
  for (const auto& [label, field] : addresses) {
    const QString text = field->text();
    if (text.isEmpty() || z540k::ipv4TextHasFourParts(text.toStdString())) continue;
    showMessage(nullptr, MessageKind::Information, tr("warring"),
                tr("%1 \"%2\" is not a complete IPv4 address. Please enter four numbers separated by dots, or "
                   "leave the field empty !")
                    .arg(fieldName(label), text));
    return false;
  }
  const QString mac = ui->lineEdit_mac_addr->text();
  if (!shortFormat_ && mac.size() == 17 && !z540k::macTextUsable(mac.toStdString())) {
    showMessage(nullptr, MessageKind::Information, tr("warring"),
                tr("The MAC address \"%1\" is not six pairs of hexadecimal digits. Refresh the state and try "
                   "again !")
                    .arg(mac));
    return false;
  }
  return true;
}

void InetactionSetupWidget::onOK_Clicked() {
  if (ui->lineEdit_DefaultIP->text() == ui->lineEdit_DestIP->text()) {
    showMessage(nullptr, MessageKind::Information, tr("warring"),
                tr("The Lidar local IP cannot be set to the same as the destination IP.Please reset it !"));
    return;
  }
  if (!sendReady_) {
    showMessage(nullptr, MessageKind::Information, tr("warring"), tr("Please check the device package port !"));
    return;
  }
  if (!fieldsUsable()) return;

  const z540k::NetworkSettingsInput input = settingsInput();
  std::string error;
  bool sent = false;
  std::string destination;
  if (shortFormat_) {
    const auto packet = z540k::buildShortNetworkSettingsPacket(input, snapshot_);
    destination = z540k::networkSettingsDestination(snapshot_, true);
    sent = z540k::sendDatagram(destination, z540k::kConfigurationPort, packet.data(), packet.size(), error);
  } else {
    const QDateTime now = QDateTime::currentDateTime();
    const z540k::LocalDateTime local{now.date().year(), now.date().month(),   now.date().day(),
                                     now.time().hour(), now.time().minute(), now.time().second()};
    packet_ = z540k::buildLongNetworkSettingsPacket(input, snapshot_, local);
    destination = z540k::networkSettingsDestination(snapshot_, false);
    sent = z540k::sendDatagram(destination, z540k::kConfigurationPort, packet_.data(), packet_.size(), error);
  }
  if (!sent) {
    // Nothing went out: the status packet is still fresh for another try.
    showMessage(this, MessageKind::Critical, tr("error"),
                tr("The settings could not be sent to %1:%2: %3")
                    .arg(QString::fromStdString(destination))
                    .arg(z540k::kConfigurationPort)
                    .arg(QString::fromStdString(error)));
    return;
  }
  sendReady_ = false;

  showMessage(this, MessageKind::Information, tr("Tips"), tr("Setup completed"));
  const auto answer = showMessage(this, MessageKind::Question, tr("Question"),
                                  tr("Whether to close the Settings form ?"), QMessageBox::Ok | QMessageBox::Cancel,
                                  QMessageBox::Ok);
  if (answer == QMessageBox::Ok)
    close();
  else
    QThread::msleep(1000);
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
  const QString ip = ui->lineEdit_DestIP->text();
  if (ip.isEmpty()) return;
  ui->lineEdit_Subnet->clear();
  const QStringList parts = ip.split(QChar('.'));
  if (parts.size() != 4) return;
  const int f = parts[0].toInt();
  if (f >= 1 && f <= 126)
    ui->lineEdit_Subnet->setText(QStringLiteral("255.0.0.0"));
  else if (f >= 128 && f <= 191)
    ui->lineEdit_Subnet->setText(QStringLiteral("255.255.0.0"));
  else if (f >= 192 && f <= 223)
    ui->lineEdit_Subnet->setText(QStringLiteral("255.255.255.0"));
}

void InetactionSetupWidget::fillGateway() {
  const QStringList ip = ui->lineEdit_DestIP->text().split(QChar('.'));
  const QStringList mask = ui->lineEdit_Subnet->text().split(QChar('.'));
  if (ip.size() != 4 || mask.size() != 4) return;
  ui->lineEdit_Gateway->setText(QStringLiteral("%1.%2.%3.1")
                                    .arg(ip[0].toInt() & mask[0].toInt())
                                    .arg(ip[1].toInt() & mask[1].toInt())
                                    .arg(ip[2].toInt() & mask[2].toInt()));
}

bool InetactionSetupWidget::isLegalSubNetMask() {
  const QString text = ui->lineEdit_Subnet->text();
  if (text.isEmpty()) return false;
  const QStringList parts = text.split(QChar('.'));
  if (parts.size() != 4) return false;
  std::uint32_t m = 0;
  for (const QString& part : parts) m = (m << 8) + static_cast<std::uint32_t>(part.toInt());
  if ((m | (m - 1)) == 0xFFFFFFFFu) return true;
  showMessage(this, MessageKind::Warning, tr("Warning"),
              tr("The subnet mask entered is invalid. The subnet mask must be contiguous, please re-enter the "
                 "subnet mask."),
              QMessageBox::Yes);
  return false;
}

bool InetactionSetupWidget::isLegalGateway() {
  const QString gateway = ui->lineEdit_Gateway->text();
  const QString ip = ui->lineEdit_DestIP->text();
  const QString mask = ui->lineEdit_Subnet->text();
  if (gateway.isEmpty() || ip.isEmpty() || mask.isEmpty()) return false;
  const QStringList g = gateway.split(QChar('.'), Qt::SkipEmptyParts);
  const QStringList i = ip.split(QChar('.'), Qt::SkipEmptyParts);
  const QStringList m = mask.split(QChar('.'), Qt::SkipEmptyParts);
  // A half-typed address has no subnet to compare with.
  if (g.size() < 4 || i.size() < 4 || m.size() < 4) return false;
  for (int k = 0; k < 4; ++k) {
    const int maskPart = m[k].toInt();
    if ((i[k].toInt() & maskPart) == (g[k].toInt() & maskPart)) continue;
    showMessage(this, MessageKind::Warning, tr("Warning"),
                tr("The gateway is not on the same network segment (subnet) defined by the IP address and subnet "
                   "mask. Please reset it."),
                QMessageBox::Yes);
    ui->lineEdit_Gateway->setFocus();
    return false;
  }
  return true;
}

bool InetactionSetupWidget::firstOctetLegal(QLineEdit* field) {
  const QString text = field->text();
  if (text.isEmpty()) return false;
  const QStringList parts = text.split(QChar('.'));
  // A half-typed address cannot be judged (nor rebuilt below).
  if (parts.size() != 4) return false;
  const int f = parts[0].toInt();
  if (f >= 1 && f <= 223) return true;
  showMessage(this, MessageKind::Warning, tr("Warning"),
              tr("%1 is not a valid item in the first paragraph. Please specify a value between 1 and 223.").arg(f),
              QMessageBox::Yes);
  field->setText(QStringLiteral("223.%1.%2.%3").arg(parts[1], parts[2], parts[3]));
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
