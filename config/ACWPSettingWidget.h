// The advanced (factory) configuration window: the sensor's high-reflection
// compensation, measuring range, trailing-point removal, zero-degree
// position, echo mode, horizontal offset, encoder zero and motor speed, with
// the board versions and board-2 high-voltage values shown read-only.
//
// It does not rely on the receivers for the packet it edits: Refresh, Set and
// "Save set file" each capture one status frame themselves on the recorder's
// adapter (bounded wait, a progress box with Cancel while it waits), so they
// see the sensor's real address and source port. Set writes the advanced
// settings packet built on that frame; "Restore Laser set" sends the
// default-restore packet to the typed destination.
//
// It also hosts the GPS time-stamp test controls: Start names the two log
// files under the user's home folder and hands them to the live receiver
// (sendTestFileName), Stop ends the test (sendStopTest); the receiver's error
// count and last time stamp come back through recvErrorCount/recvTimeStamp;
// a log the receiver cannot write ends the test (recvLogWriteError): an error
// box names the file and the reason, and the controls show the test stopped.
//
// GUI thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "LidarRecords.h"

namespace Ui {
class ACWPSettingWidget;
}
namespace z540k {
struct CapturedStatusFrame;
}
class QDate;

class ACWPSettingWidget : public QWidget {
  Q_OBJECT

 public:
  explicit ACWPSettingWidget(QWidget* parent = nullptr);
  ~ACWPSettingWidget() override;

  // The adapter the captures use: the operator's named one (the program's
  // --capture-device); empty chooses as the recorder does (the environment
  // variable Z540K_CAPTURE_DEVICE, else the first adapter that can carry the
  // sensor's traffic).
  void setCaptureDevice(const QString& device) { captureDevice_ = device; }
  // The sensor's status port: the captures look only at its traffic.
  void setStatusPort(int port) { statusPort_ = port; }
  // How long one capture waits for the sensor's status frame at most.
  void setCaptureTimeout(int milliseconds) { captureTimeoutMs_ = milliseconds; }
  int captureTimeout() const { return captureTimeoutMs_; }

  // What the window holds, for the main window and the tests.
  // A refresh got past its checks since the last send attempt.
  bool refreshed() const { return refreshed_; }
  // The window is shown anew: a Set needs a fresh Refresh first.
  void clearRefreshedMark() { refreshed_ = false; }
  // The last advanced settings packet handed to the socket (zeros before).
  const std::array<std::uint8_t, 1206>& lastSent() const { return lastSent_; }
  // The status value list last received (empty before any status).
  const std::vector<int>& statusValues() const { return values_; }
  // True while a GPS time-stamp test runs (the button reads "Stop").
  bool gpsTestRunning() const;
  // The folder the GPS test logs of a test started at `date` go to.
  static QString gpsTestFolder(const QDate& date);

 signals:
  void sendTestFileName(QString path, QString pathError);
  void sendStopTest();

 public slots:
  void onOK_Clicked();
  void onCancel_Clicked();
  void onLidarStatusReceiving(SettingData* data, std::vector<int> Mac);
  void onRefreshbutton_clicked();
  void onSaveSettingFile();
  void onRecoverSetting();
  void onStartCheck_Clicked();
  void recvErrorCount(int count);
  void recvTimeStamp(QString stamp);
  void onCleanACWPControl();
  void recvLogWriteError(QString file, QString reason);

 private:
  enum class CaptureUse { Refresh, Send, Save };
  enum class CaptureOutcome { Captured, NoFrame, Stopped };
  // The adapter the captures use; empty after showing the use's message.
  QString captureAdapter(CaptureUse use);
  // Captures one status frame on `device`, showing a progress box (with
  // Cancel) while it waits. NoFrame: nothing came in time (the caller says
  // so); Stopped: cancelled, or the adapter could not be opened (shown here).
  CaptureOutcome captureStatus(CaptureUse use, const QString& device, z540k::CapturedStatusFrame& out);
  void showRefreshedFields(const z540k::CapturedStatusFrame& frame);
  // Sends one datagram; on failure shows what went wrong and returns false.
  bool sendPacket(const std::uint8_t* data, std::size_t size, const std::string& address, std::uint16_t port,
                  const QString& what);
  void showNoLidar();
  // The GPS test controls in the stopped state: number editable, "Start".
  void showGpsTestStopped();

  std::unique_ptr<Ui::ACWPSettingWidget> ui;
  bool refreshed_ = false;
  bool busy_ = false;  // a capture or send is under way: the buttons wait
  SettingData status_{};
  std::vector<int> values_;
  std::array<std::uint8_t, 1206> packet_{};
  std::array<std::uint8_t, 1206> lastSent_{};
  QString captureDevice_;
  int captureTimeoutMs_ = 3000;
  int statusPort_ = 2369;
  QStringList gpsTestLogs_;  // the two logs of the running or last GPS test
};
