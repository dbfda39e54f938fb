#include "ACWPSettingWidget.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <iterator>
#include <string>

#include "AdvancedSettingsPacket.h"
#include "CaptureRecorder.h"
#include "FileBeside.h"
#include "FileDialogs.h"
#include "MessageBoxes.h"
#include "PacketFormat.h"
#include "ResourceImage.h"
#include "StatusFrameCapture.h"
#include "UdpSocket.h"
#include "ui_ACWPSettingWidget.h"

using z540k::MessageKind;
using z540k::showMessage;

namespace {

// The icons of comboBox_rotateSpeed's motor speed items, in their order.
const char* const kSpeedIcons[] = {"./Resources/images/5.png", "./Resources/images/10.png",
                                   "./Resources/images/20.png"};
static_assert(std::size(kSpeedIcons) == z540k::kMotorSpeedChoices.size(), "an icon for each motor speed");

// Pauses that give the sensor time to take a packet before the next one.
// The buttons wait for them; the GUI thread does not.
constexpr int kAfterSendMs = 200;
constexpr int kAfterSetMs = 50;

// The worker reports the time waited at most this often.
constexpr qint64 kProgressStepMs = 50;

int valueAt(const std::vector<int>& values, std::size_t i) { return i < values.size() ? values[i] : 0; }

// A signed 16-bit status value as the sensor stores it (two's complement).
int signedValue(int value) { return z540k::signed16(static_cast<std::uint16_t>(value)); }

z540k::LocalDateTime localTimeOf(const QDateTime& t) {
  return {t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute(), t.time().second()};
}

QString text(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

ACWPSettingWidget::ACWPSettingWidget(QWidget* parent) : QWidget(parent), ui(new Ui::ACWPSettingWidget) {
  ui->setupUi(this);  // the form's texts go through tr
  ui->pushButton_OK->setEnabled(false);
  for (std::size_t i = 0; i < z540k::kMotorSpeedChoices.size(); ++i)
    ui->comboBox_rotateSpeed->addItem(QIcon(z540k::resourceImage(QString::fromLatin1(kSpeedIcons[i]))),
                                      tr(z540k::kMotorSpeedChoices[i].text));

  connect(ui->pushButton_OK, &QPushButton::clicked, this, &ACWPSettingWidget::onOK_Clicked, Qt::UniqueConnection);
  connect(ui->pushButton_Cancel, &QPushButton::clicked, this, &ACWPSettingWidget::onCancel_Clicked,
          Qt::UniqueConnection);
  connect(ui->pushButton_Refreshlidar, &QPushButton::clicked, this, &ACWPSettingWidget::onRefreshbutton_clicked,
          Qt::UniqueConnection);
  connect(ui->pushButton_SaveSettingfile, &QPushButton::clicked, this, &ACWPSettingWidget::onSaveSettingFile,
          Qt::UniqueConnection);
  connect(ui->pushButton_RecoverSetting, &QPushButton::clicked, this, &ACWPSettingWidget::onRecoverSetting,
          Qt::UniqueConnection);
  connect(ui->pushButton_startCheck, &QPushButton::clicked, this, &ACWPSettingWidget::onStartCheck_Clicked,
          Qt::UniqueConnection);
  setAttribute(Qt::WA_QuitOnClose, false);

  for (QWidget* hidden : std::initializer_list<QWidget*>{ui->label_SerialNumber, ui->lineEdit_SerialNumber,
                                                         ui->label_VersionNumber, ui->lineEdit_Version})
    hidden->setVisible(false);
}

ACWPSettingWidget::~ACWPSettingWidget() { job_.reset(); }

// ---- Status from the receivers ----------------------------------------------

void ACWPSettingWidget::onLidarStatusReceiving(SettingData* data, std::vector<int> Mac) {
  if (!data) return;
  session_.takeStatus(*data, std::move(Mac));
  const std::vector<int>& values = session_.statusValues();
  ui->lineEdit_board2HV->setText(QString::number(valueAt(values, 16)));
  ui->lineEdit_board2HV_adjust->setText(QString::number(signedValue(valueAt(values, 17))));
  ui->lineEdit_board2HV_sill->setText(QString::number(signedValue(valueAt(values, 18))));
}

// ---- Capturing the status frame -----------------------------------------------

QString ACWPSettingWidget::captureAdapter(CaptureUse use) {
  const std::string named =
      captureDevice_.isEmpty() ? z540k::namedCaptureDevice(0, nullptr) : captureDevice_.toStdString();
  std::string reason;
  const std::string device = z540k::chooseStatusCaptureAdapter(named, reason);
  if (!device.empty()) return text(device);
  showMessage(this, MessageKind::Information, tr("error"),
              use == CaptureUse::Send ? tr("抓包失败！!") : tr("抓包失败,没有找到网卡！!"));
  return {};
}

void ACWPSettingWidget::startCapture(CaptureUse use, const QString& device, const z540k::AdvancedSettingsInput& input) {
  z540k::StatusFrameCaptureSettings settings = z540k::statusFrameCaptureSettings(
      use == CaptureUse::Refresh ? z540k::StatusFrameUse::Refresh : z540k::StatusFrameUse::Send, device.toStdString(),
      static_cast<std::uint16_t>(statusPort_), std::max(1, captureTimeoutMs_));

  // The wait is bounded; the box shows it and lets the operator end it.
  z540k::JobBox look;
  look.title = tr("Tips");
  look.label = tr("Waiting for the Lidar's status packet on %1 ...").arg(device);
  look.cancelText = tr("Cancel");
  look.maximum = settings.timeoutMs;
  look.modality = Qt::ApplicationModal;
  const CaptureFunction capture = captureFunction_ ? captureFunction_ : CaptureFunction(z540k::captureStatusFrame);
  job_ = std::make_unique<z540k::BackgroundJob<CaptureRun>>(
      this, look,
      // On the worker thread: the capture, telling the box the time waited
      // and ending when the cancel flag is set.
      [capture, settings](const std::atomic<bool>& cancel, const std::function<void(int)>& progress) mutable {
        QElapsedTimer clock;
        clock.start();
        qint64 reported = -kProgressStepMs;
        const int last = settings.timeoutMs - 1;
        settings.keepWaiting = [&] {
          const qint64 waited = clock.elapsed();
          if (waited - reported >= kProgressStepMs) {
            reported = waited;
            progress(static_cast<int>(std::min<qint64>(waited, last)));
          }
          return !cancel.load();
        };
        CaptureRun run;
        run.result = capture(settings, run.frame, run.error);
        return run;
      },
      [this, use, input](CaptureRun run, bool) { onCaptureFinished(use, run, input); });
  setBusy(true);
}

void ACWPSettingWidget::onCaptureFinished(CaptureUse use, const CaptureRun& run,
                                          const z540k::AdvancedSettingsInput& input) {
  job_.reset();
  const CaptureOutcome outcome = outcomeOf(use, run.result, run.error);
  switch (use) {
    case CaptureUse::Refresh:
      finishRefresh(outcome, run.frame);
      break;
    case CaptureUse::Send:
      finishSend(outcome, run.frame, input);
      break;
    case CaptureUse::Save:
      finishSave(outcome, run.frame);
      break;
  }
}

ACWPSettingWidget::CaptureOutcome ACWPSettingWidget::outcomeOf(CaptureUse use, z540k::StatusFrameResult result,
                                                               const std::string& error) {
  switch (result) {
    case z540k::StatusFrameResult::Captured:
      return CaptureOutcome::Captured;
    case z540k::StatusFrameResult::NoFrame:
      return CaptureOutcome::NoFrame;
    case z540k::StatusFrameResult::Cancelled:
      return CaptureOutcome::Stopped;
    case z540k::StatusFrameResult::Failed:
      break;
  }
  showMessage(this, MessageKind::Information, tr("error"),
              (use == CaptureUse::Send ? tr("抓包失败！!") : tr("抓包失败,没有找到网卡！!")) + "\n" + text(error));
  return CaptureOutcome::Stopped;
}

void ACWPSettingWidget::abandonCapture() {
  if (!job_) return;
  job_.reset();  // cancels and waits for the worker
  setBusy(false);
}

void ACWPSettingWidget::closeEvent(QCloseEvent* event) {
  abandonCapture();
  QWidget::closeEvent(event);
}

void ACWPSettingWidget::setBusy(bool busy) {
  session_.setBusy(busy);
  for (QWidget* button : std::initializer_list<QWidget*>{ui->pushButton_Refreshlidar, ui->pushButton_SaveSettingfile,
                                                         ui->pushButton_RecoverSetting})
    button->setEnabled(!busy);
  ui->pushButton_OK->setEnabled(session_.setEnabled());
  emit busyChanged(busy);
}

void ACWPSettingWidget::showNoLidar() {
  showMessage(nullptr, MessageKind::Information, tr("warring"), tr("You didn't connect Lidar."));
}

// ---- Refresh ----------------------------------------------------------------

void ACWPSettingWidget::onRefreshbutton_clicked() {
  if (session_.busy()) return;
  const QString device = captureAdapter(CaptureUse::Refresh);
  if (device.isEmpty()) return;
  if (!session_.canRefresh()) {
    showMessage(this, MessageKind::Information, tr("error"), tr("设备包端口错误请检查!"));
    return;
  }
  startCapture(CaptureUse::Refresh, device, {});
}

void ACWPSettingWidget::finishRefresh(CaptureOutcome outcome, const z540k::CapturedStatusFrame& frame) {
  setBusy(false);
  if (outcome == CaptureOutcome::Stopped) return;
  if (outcome == CaptureOutcome::NoFrame)
    showNoLidar();
  else
    showRefreshedFields(frame);
  // Set captures again before it sends; it needs a refresh attempt first.
  session_.refreshEnded();
  ui->pushButton_OK->setEnabled(session_.setEnabled());
}

void ACWPSettingWidget::showRefreshedFields(const z540k::CapturedStatusFrame& frame) {
  // The fields show the frame just captured: the one Set builds on.
  const z540k::AdvancedSettingsView view = z540k::advancedSettingsView(frame.payload);
  ui->lineEdit_22->setEnabled(false);
  ui->lineEdit_21->setText(text(view.range));
  ui->lineEdit_22->setText(text(view.range));
  ui->lineEdit_tw->setText(text(view.trailThreshold));
  ui->lineEdit_twjl->setText(text(view.trailDistance));
  ui->lineEdit_HighReflect->setText(text(view.highReflect));
  if (view.zeroDegreeIndex >= 0) ui->comboBox_Zero_degree_position->setCurrentIndex(view.zeroDegreeIndex);
  if (view.echoIndex >= 0) ui->comboBox_SingleOrDouble->setCurrentIndex(view.echoIndex);
  ui->lineEdit_deviationAngle->setText(text(view.deviationAngle));
  ui->lineEdit_MaPanAngle->setText(text(view.encoderZero));
  ui->lineEdit_Board_2->setText(text(view.board2Version));
  ui->lineEdit_Board_3->setText(text(view.board3Version));
  if (!view.motorSpeed.empty()) {
    const int index = ui->comboBox_rotateSpeed->findText(text(view.motorSpeed));
    if (index >= 0) ui->comboBox_rotateSpeed->setCurrentIndex(index);
  }
  showMessage(this, MessageKind::Information, tr("Tips"), tr("Resresh completed"));
}

// ---- Set --------------------------------------------------------------------

bool ACWPSettingWidget::sendPacket(const std::uint8_t* data, std::size_t size, const std::string& address,
                                   std::uint16_t port, const QString& what) {
  std::string error;
  if (z540k::sendDatagram(address, port, data, size, error)) return true;
  showMessage(this, MessageKind::Critical, tr("error"),
              tr("The %1 could not be sent to %2:%3: %4").arg(what, text(address)).arg(port).arg(text(error)));
  return false;
}

void ACWPSettingWidget::onOK_Clicked() {
  if (session_.busy()) return;
  z540k::AdvancedSettingsInput input;
  input.highReflect = ui->lineEdit_HighReflect->text().toStdString();
  input.zeroDegreeIndex = ui->comboBox_Zero_degree_position->currentIndex();
  input.echoIndex = ui->comboBox_SingleOrDouble->currentIndex();
  input.deviationAngle = ui->lineEdit_deviationAngle->text().toStdString();
  input.range = ui->lineEdit_21->text().toStdString();
  input.trailThreshold = ui->lineEdit_tw->text().toStdString();
  input.trailDistance = ui->lineEdit_twjl->text().toStdString();
  input.encoderZero = ui->lineEdit_MaPanAngle->text().toStdString();
  input.motorSpeed = ui->comboBox_rotateSpeed->currentText().toStdString();
  const z540k::AdvancedSettingsSession::SetCheck check = session_.checkSet(input);
  if (check.refused != z540k::AdvancedSettingsSession::SetRefusal::None) {
    showMessage(this, MessageKind::Information, tr("error"),
                check.refused == z540k::AdvancedSettingsSession::SetRefusal::NotRefreshed
                    ? tr("请先刷新数据否则再进行设置!")
                    : text(check.refusal));
    return;
  }
  const QString device = captureAdapter(CaptureUse::Send);
  if (device.isEmpty()) return;

  startCapture(CaptureUse::Send, device, input);
}

void ACWPSettingWidget::finishSend(CaptureOutcome outcome, const z540k::CapturedStatusFrame& frame,
                                   const z540k::AdvancedSettingsInput& input) {
  if (outcome != CaptureOutcome::Captured) {
    if (outcome == CaptureOutcome::NoFrame) {
      showNoLidar();
      endSend();
    } else {
      setBusy(false);  // stopped: the refreshed mark stays
    }
    return;
  }
  switch (z540k::checkAdvancedSettings(input)) {
    case z540k::AdvancedSettingsRefusal::DeviationAngleEmpty:
      setBusy(false);
      showMessage(this, MessageKind::Information, tr("error"), tr("请输入水平偏移角度!"));
      return;
    case z540k::AdvancedSettingsRefusal::RangeEmpty:
      setBusy(false);
      showMessage(this, MessageKind::Information, tr("error"), tr("请输入量程!"));
      return;
    case z540k::AdvancedSettingsRefusal::None:
      break;
  }
  if (z540k::trailingRemovalSendsZero(input, frame.payload) &&
      showMessage(this, MessageKind::Question, tr("error"), tr("拖尾数据为0,或拖尾距离为0?"),
                  QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) != QMessageBox::Ok) {
    setBusy(false);
    return;
  }

  packet_ = z540k::buildAdvancedSettingsPacket(input, frame.payload, frame.addresses,
                                               localTimeOf(QDateTime::currentDateTime()));
  lastSent_ = packet_;
  const auto& ip = frame.addresses.sensorIp;
  const std::string sensor = z540k::dottedIpv4(ip.data());
  if (!sendPacket(packet_.data(), packet_.size(), sensor, frame.addresses.sensorPort, tr("settings"))) {
    endSend();
    return;
  }
  // The sensor takes the packet before it hears of the next; the box says
  // so after that pause.
  // Fields left empty that keep the sensor's value are said with it.
  const QString kept = text(z540k::keptValuesText(z540k::advancedKeptFields(input)));
  QTimer::singleShot(kAfterSendMs, this, [this, kept] {
    showMessage(this, MessageKind::Information, tr("Tips"),
                kept.isEmpty() ? tr("Setup completed") : tr("Setup completed") + "\n" + kept);
    endSend();
  });
}

void ACWPSettingWidget::endSend() {
  // Every send attempt that reached the capture needs a new refresh.
  session_.sendEnded();
  QTimer::singleShot(kAfterSetMs, this, [this] { setBusy(false); });
}

void ACWPSettingWidget::onCancel_Clicked() { close(); }

// ---- Save set file ------------------------------------------------------------

void ACWPSettingWidget::onSaveSettingFile() {
  if (session_.busy()) return;
  const QString device = captureAdapter(CaptureUse::Save);
  if (device.isEmpty()) return;
  startCapture(CaptureUse::Save, device, {});
}

void ACWPSettingWidget::finishSave(CaptureOutcome outcome, const z540k::CapturedStatusFrame& frame) {
  setBusy(false);
  if (outcome == CaptureOutcome::Stopped) return;
  if (outcome == CaptureOutcome::NoFrame) {
    showMessage(this, MessageKind::Information, tr("error"), tr("抓包失败,请设置发包间隔为0!"));
    return;
  }

  const QString path =
      z540k::askSaveFileName(this, tr("WireSharkCaptureFile"), QString(), tr("Supported Files (*.ini)"));
  if (path.isEmpty()) return;
  // Written beside the target and renamed when complete: a failed write
  // leaves an earlier file of that name as it was.
  z540k::TextFileBeside file;
  std::string error;
  if (!file.open(path.toLocal8Bit().toStdString(), error) ||
      !file.commit(z540k::statusDumpText(frame.payload.data(), frame.payload.size()), error)) {
    qWarning("%s", error.c_str());
    showMessage(this, MessageKind::Information, tr("error"), tr("打开文件失败,请检查!"));
  }
}

// ---- Restore Laser set --------------------------------------------------------

void ACWPSettingWidget::onRecoverSetting() {
  if (session_.busy()) return;
  std::string address, reason;
  std::uint16_t port = 0;
  if (!z540k::restoreDestination(ui->lineEdit_DestIP->text().toStdString(), ui->lineEdit_DestPort->text().toStdString(),
                                 address, port, reason)) {
    showMessage(this, MessageKind::Warning, tr("warring"), text(reason));
    return;
  }
  const auto packet = z540k::buildDefaultRestorePacket(localTimeOf(QDateTime::currentDateTime()));
  if (!sendPacket(packet.data(), packet.size(), address, port, tr("restore packet"))) return;
  // The sensor takes the packet before the next one; the box follows the pause.
  setBusy(true);
  QTimer::singleShot(kAfterSendMs, this, [this] {
    setBusy(false);
    showMessage(this, MessageKind::Information, tr("Tips"), tr("Reset completed !"));
  });
}

// ---- GPS time-stamp test --------------------------------------------------------

QString ACWPSettingWidget::gpsTestFolder(const QDate& date) {
  return QDir::homePath() + QStringLiteral("/QK_Z540-K_GPSTimeTest/") + date.toString(QStringLiteral("yyyy-MM-dd"));
}

void ACWPSettingWidget::onStartCheck_Clicked() {
  if (session_.gpsTestRunning()) {
    showGpsTestStopped();
    emit sendStopTest();
    return;
  }
  const QString number = ui->lineEdit_IDNumber->text();
  if (number.isEmpty()) {
    showMessage(nullptr, MessageKind::Warning, tr("warring"), tr("The number can not be empty!"));
    return;
  }
  // The number becomes part of the file names: it must not lead elsewhere.
  if (number.contains(QChar('/')) || number.contains(QChar('\\')) || number.contains(QStringLiteral("..")) ||
      number.contains(QChar(0))) {
    showMessage(nullptr, MessageKind::Warning, tr("warring"),
                tr("The number \"%1\" cannot be used in a file name: it must not contain \"/\", \"\\\" or \"..\" !")
                    .arg(number));
    return;
  }

  const QDateTime now = QDateTime::currentDateTime();
  const QString folder = gpsTestFolder(now.date());
  const QString stamp = now.toString(QStringLiteral("yyyy-MM-dd-hh-mm-ss"));
  const QString log = folder + "/Z540-K_" + number + "_" + stamp + ".txt";
  const QString errors = folder + "/Z540-K_" + number + "_Error_" + stamp + ".txt";

  // The receiver only appends to the files: whether they can be written is
  // found out here, before a test that would log nothing.
  if (!QDir().mkpath(folder)) {
    showMessage(this, MessageKind::Critical, tr("error"),
                tr("The GPS test folder %1 cannot be created !").arg(QDir::toNativeSeparators(folder)));
    return;
  }
  for (const QString& path : {log, errors}) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
      showMessage(
          this, MessageKind::Critical, tr("error"),
          tr("The GPS test log %1 cannot be created: %2").arg(QDir::toNativeSeparators(path), file.errorString()));
      return;
    }
  }

  ui->lineEdit_IDNumber->setEnabled(false);
  ui->pushButton_startCheck->setText(tr("Stop"));
  session_.gpsTestStarted({log.toStdString(), errors.toStdString()});
  emit sendTestFileName(log, errors);
  ui->lineEdit_ErrorNumber->setText(QStringLiteral("0"));
}

void ACWPSettingWidget::recvErrorCount(int count) { ui->lineEdit_ErrorNumber->setText(QString::number(count)); }

void ACWPSettingWidget::recvTimeStamp(QString stamp) { ui->lineEdit_timeStamp->setText(stamp); }

void ACWPSettingWidget::recvLogWriteError(QString file, QString reason) {
  // The receiver has ended the test already. A report that comes after the
  // operator stopped that test and started another leaves the new one be.
  if (session_.logWriteErrorEndsTest(file.toStdString())) showGpsTestStopped();
  showMessage(this, MessageKind::Critical, tr("error"),
              tr("The GPS time-stamp test stopped: cannot write %1: %2").arg(QDir::toNativeSeparators(file), reason));
}

void ACWPSettingWidget::showGpsTestStopped() {
  session_.gpsTestStopped();
  ui->lineEdit_IDNumber->setEnabled(true);
  ui->pushButton_startCheck->setText(tr("Start"));
}

// ---- Clear ------------------------------------------------------------------

void ACWPSettingWidget::onCleanACWPControl() {
  ui->lineEdit_SerialNumber->clear();
  ui->lineEdit_Version->clear();
}
