// The advanced (factory) configuration window: the sensor's high-reflection
// compensation, measuring range, trailing-point removal, zero-degree
// position, echo mode, horizontal offset, encoder zero and motor speed, with
// the board versions and board-2 high-voltage values shown read-only.
//
// It does not rely on the receivers for the packet it edits: Refresh, Set and
// "Save set file" each capture one status frame themselves on the recorder's
// adapter (bounded wait, a progress box with Cancel while it waits), so they
// see the sensor's real address and source port. The capture runs on a
// worker thread: the click returns to the event loop at once, the progress
// and Cancel reach the worker through queued calls and a cancel flag, and
// what follows the capture runs in the completion slot. While one runs (and
// in the pauses after a send) the buttons that capture or send are disabled
// and refuse; closing the window cancels the capture and waits for it. Set writes the advanced
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
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AdvancedSettingsSession.h"
#include "BackgroundJob.h"
#include "LidarRecords.h"
#include "RecordMetaTypes.h"
#include "StatusFrameCapture.h"

namespace Ui {
class ACWPSettingWidget;
}
namespace z540k {
struct AdvancedSettingsInput;
struct CapturedStatusFrame;
struct StatusFrameCaptureSettings;
enum class StatusFrameResult;
}  // namespace z540k
class QCloseEvent;
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
  // What captures the status frame, on the worker thread: empty (the
  // default) is z540k::captureStatusFrame. Tests put a stand-in here, as the
  // real one needs the right to capture.
  using CaptureFunction = std::function<z540k::StatusFrameResult(const z540k::StatusFrameCaptureSettings&,
                                                                 z540k::CapturedStatusFrame&, std::string&)>;
  void setCaptureFunction(CaptureFunction capture) { captureFunction_ = std::move(capture); }

  // What the window holds, for the main window and the tests: the session
  // (refreshed, busy, Set usable, the GPS test's state) and the last
  // advanced settings packet handed to the socket (zeros before).
  const z540k::AdvancedSettingsSession& session() const { return session_; }
  // The window is shown anew: a Set needs a fresh Refresh first.
  void clearRefreshedMark() { session_.clearRefreshedMark(); }
  const std::array<std::uint8_t, 1206>& lastSent() const { return lastSent_; }
  // The folder the GPS test logs of a test started at `date` go to.
  static QString gpsTestFolder(const QDate& date);

 signals:
  void sendTestFileName(QString path, QString pathError);
  void sendStopTest();
  // session().busy() changed; false once what followed the capture has been done.
  void busyChanged(bool busy);

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

 protected:
  // Closing the window cancels a capture under way and waits for its worker.
  void closeEvent(QCloseEvent* event) override;

 private:
  // What a capture of the status frame gives.
  struct CaptureRun {
    z540k::StatusFrameResult result = z540k::StatusFrameResult::Failed;
    z540k::CapturedStatusFrame frame;
    std::string error;
  };
  enum class CaptureUse { Refresh, Send, Save };
  enum class CaptureOutcome { Captured, NoFrame, Stopped };
  // The adapter the captures use; empty after showing the use's message.
  QString captureAdapter(CaptureUse use);
  // Starts capturing one status frame on `device` on the worker thread,
  // showing a progress box (with Cancel) while it waits; `input` is what Set
  // sends. onCaptureFinished() carries on.
  void startCapture(CaptureUse use, const QString& device, const z540k::AdvancedSettingsInput& input);
  void onCaptureFinished(CaptureUse use, const CaptureRun& run, const z540k::AdvancedSettingsInput& input);
  // Cancels a capture under way and waits for its worker; nothing follows it.
  void abandonCapture();
  // NoFrame: nothing came in time (the caller says so); Stopped: cancelled,
  // or the adapter could not be opened (shown here).
  CaptureOutcome outcomeOf(CaptureUse use, z540k::StatusFrameResult result, const std::string& error);
  // What follows the capture of each use, in the completion slot.
  void finishRefresh(CaptureOutcome outcome, const z540k::CapturedStatusFrame& frame);
  void finishSend(CaptureOutcome outcome, const z540k::CapturedStatusFrame& frame,
                  const z540k::AdvancedSettingsInput& input);
  void finishSave(CaptureOutcome outcome, const z540k::CapturedStatusFrame& frame);
  // After a send attempt that reached the capture: a new refresh is needed,
  // and the buttons wait while the sensor takes the packet.
  void endSend();
  void setBusy(bool busy);
  void showRefreshedFields(const z540k::CapturedStatusFrame& frame);
  // Sends one datagram; on failure shows what went wrong and returns false.
  bool sendPacket(const std::uint8_t* data, std::size_t size, const std::string& address, std::uint16_t port,
                  const QString& what);
  void showNoLidar();
  // The GPS test controls in the stopped state: number editable, "Start".
  void showGpsTestStopped();

  std::unique_ptr<Ui::ACWPSettingWidget> ui;
  z540k::AdvancedSettingsSession session_;
  std::unique_ptr<z540k::BackgroundJob<CaptureRun>> job_;  // the capture under way, if any
  CaptureFunction captureFunction_;
  std::array<std::uint8_t, 1206> packet_{};
  std::array<std::uint8_t, 1206> lastSent_{};
  QString captureDevice_;
  int captureTimeoutMs_ = 3000;
  int statusPort_ = z540k::kDefaultStatusPort;
};
