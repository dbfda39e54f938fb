// manwindow: the program's main window. It owns the 3-D view, the point
// table, the auxiliary windows and the worker threads, starts and stops live
// reception, and turns every record that arrives into the picture.
//
// GUI thread only. Records arrive queued from the live receiver and the
// capture player; when they come faster than the window draws, the newest
// wins and the others are counted as dropped for display.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "BackgroundJob.h"
#include "CsvExportSession.h"
#include "FrameDisplay.h"
#include "LidarRecords.h"
#include "PlaybackControl.h"
#include "PointComputation.h"
#include "RecordingSession.h"
#include "RegionPicking.h"
#include "Ruler.h"
#include "SensorTraits.h"
#include "StartupOptions.h"
#include "StatusLine.h"
#include "Trails.h"
#include "ui_manwindow.h"

class QLabel;
class QDialog;
class QPlainTextEdit;
class QToolButton;
class ElidedLabel;
class QStandardItemModel;
class QTimer;
class GetlidarData_1;
class GetSet;
class ReadLiveOffData;
class SaveDataOptions;
class CodeDialog;
class InetactionSetupWidget;
class Form_QLaserSelection;
class ACWPSettingWidget;
class About;

namespace z540k {
class PointCloudView;
class FrameFile;
class DataPacketList;
struct SensorPackets;
}  // namespace z540k

class manwindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit manwindow(const z540k::StartupOptions& options = {}, QWidget* parent = nullptr);
  ~manwindow() override;

  // The window's parts, for tests and the status line: its widgets and
  // threads, and its state apart from them.
  z540k::PointCloudView& cloudView() { return *view_; }
  GetlidarData_1& liveReceiver() { return *liveReceiver_; }
  GetSet& statusReceiver() { return *statusReceiver_; }
  ReadLiveOffData& player() { return *player_; }
  bool isLiveRunning() const { return liveRunning; }
  int currentPointSize() const { return pointSize; }
  QStandardItemModel* pointTableModel() const { return pointTable; }
  SaveDataOptions& saveDataOptions() { return *saveDataOptions_; }
  CodeDialog& codeDialog() { return *codeDialog_; }
  InetactionSetupWidget& networkSettings() { return *networkSettings_; }
  Form_QLaserSelection& laserSelection() { return *laserSelection_; }
  ACWPSettingWidget& advancedSettings() { return *advancedSettings_; }
  About& about() { return *about_; }
  // What playback of the loaded capture is doing.
  const z540k::PlaybackControl& playback() const { return playback_; }
  // The frames that arrive for display, the newest kept.
  const z540k::FrameDisplay& frameDisplay() const { return display_; }
  // The export of frames, its choices and progress.
  const z540k::CsvExportSession& csvExport() const { return csvExport_; }
  // The marked region and its statistics.
  const z540k::RegionPicking& regionPicking() const { return picking_; }
  // The recording of the data port's traffic (Record).
  const z540k::RecordingSession& recording() const { return recording_; }
  std::size_t loadedPacketCount() const;
  // The whole status line (the bar shows it elided when it does not fit,
  // the whole of it in its tooltip).
  QString statusLine() const;
  // The status line as it shows in the bar now.
  QString statusLineShown() const;
  // The last error told to the operator (and the reception's setup error),
  // whole; empty when none.
  QString lastErrorText() const;
  // Opens the read-only box with the whole last error, to read and copy.
  void showLastError();
  // From now on SIGTERM, SIGHUP, SIGINT and SIGQUIT end the program as
  // quitting does, without asking: a running export keeps the frames written
  // under the chosen name, a recording its whole file; a line on stderr says
  // what was kept; the exit code is 1 when an export had not written all its
  // frames or something could not be written, else 0.
  void endOnExitSignals();
  // A capture file dropped onto the window: opened as Open opens it, when
  // Open is available.
  void openDroppedFile(const QString& path);
  // The ruler's click (with the Ruler button down): the scan-plane position
  // clicked, in centimetres; the drawn point nearest to it becomes an end.
  void onRulerClick(double x, double y);
  const z540k::Ruler& ruler() const { return ruler_; }
  // The revolutions kept on screen (the Trails box, 1..50).
  const z540k::Trails& trails() const { return trails_; }
  // The area-picking callback: the indices of the display cloud's points
  // inside the rectangle the operator dragged.
  void onAreaPicked(const std::vector<int>& indices);

 signals:
  void SendModel(z540k::ReturnMode returnMode);
  void SendDegreeMode(int degreeMode);
  void SendCount(int K);
  void sendAngleMistake(int channel);
  void Sig_SaveCSV();

 public slots:
  void view();
  void SelectPoints();
  void CalculateCoordinates(LidarDataSingleLine lidardata);
  void onCodeData(QString code);
  void FinshorStart(bool Finshone);
  void Return_Mode();
  void Return_Degree();
  void showVerticalSetting();
  void showAngleLinedit_pressed();
  void receiveSaveDataOption(bool isSave, int freams, float angleMin, float angleMax, QList<int> lines);
  void OnAgreeIndexChange(int);
  void On_SaveCSV();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  // Quitting during a frame-by-frame export asks whether to stop it and keep
  // the frames written.
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void setUpView();
  void makeConnections();
  void connectWorkers();
  void applyStartupOptions(const z540k::StartupOptions& options);
  void onLidarClicked();
  void onDisplayPauseClicked();
  void toggleAxes();
  void toggleGrid();
  void clearView();
  void resetPointTable();
  void ensurePointTable();
  void drawLatestFrame();
  void noteRevolution(const LidarDataSingleLine& record);
  z540k::FrameSettings currentFrameSettings() const;
  // The modes chosen in the window's lists, each read from its list only
  // here.
  z540k::Layout chosenLayout() const;
  z540k::ReturnMode chosenReturnMode() const;
  z540k::ReturnModeChoice captureModeChoice(const z540k::DataPacketList& packets) const;
  z540k::ReturnMode captureReturnMode(const z540k::DataPacketList& packets) const;
  // What the status line says of the sensor: the return mode in use and on
  // what it rests, and a layout the data look like other than the chosen one.
  std::string sensorNote() const;
  z540k::ViewMode chosenViewMode() const;
  z540k::ColourMode chosenColourMode() const;
  void refreshReadout();
  std::string exportNotice() const;
  void updateStatusLine();
  void onStatusTick();
  void onViewKey(const std::string& keySym, char key);
  // The keyboard's shortcuts, and their keys in the buttons' tooltips.
  void addShortcuts();
  void showFirstOrLastFrame(bool last);
  void addRulerButton();
  void addTrailsBox();
  // The display cloud's points as drawn: the newest frame's, or the trails'.
  const std::vector<z540k::ColouredPoint>& shownPoints() const;
  void showRuler();
  QString rulerText() const;

  // The Offline tab.
  void onRecordClicked();
  void stopRecording();
  void checkRecorder();
  void onOpenClicked();
  void onPlayClicked();
  void onSeekForwardClicked();
  void onSeekBackwardClicked();
  void onGoToStartClicked();
  void onGoToEndClicked();
  void stopPlayback();
  // The Offline tab's Stop: ends playback at any moment, back to live.
  void addStopButton();
  void onStopClicked();
  int framesIn(const z540k::DataPacketList& packets) const;
  void carryOut(const z540k::PlayerOrder& order);
  void showPlaybackControls();
  void showFrameCounter();
  void onFrameChosen(int frame);
  void onPlayerFrame(int frame, int total);
  void onPlayerError(QString message);

  // Region picking.
  void writeTableRow(int row, const z540k::PointTableRow& cells);
  // The newest drawn frame's rows, when the table is shown.
  void writeWaitingTableRows();
  void measureRegion(const std::vector<z540k::RegionMeasurement>& inRegion);

  // The CSV export.
  void onSaveCsvClicked();
  void finishCsvExport();
  bool endCsvExport(std::string& error);
  void finishForExitSignal(int signalNumber);
  bool askToStopCsvExport();

  Ui::manwindowClass ui;

  // Auxiliary windows and threads, created once and kept for the window's life.
  SaveDataOptions* saveDataOptions_ = nullptr;
  InetactionSetupWidget* networkSettings_ = nullptr;
  Form_QLaserSelection* laserSelection_ = nullptr;
  CodeDialog* codeDialog_ = nullptr;
  ACWPSettingWidget* advancedSettings_ = nullptr;
  About* about_ = nullptr;
  ReadLiveOffData* player_ = nullptr;
  GetlidarData_1* liveReceiver_ = nullptr;
  GetSet* statusReceiver_ = nullptr;
  std::unique_ptr<z540k::PointCloudView> view_;

  // Flags.
  bool liveRunning = false;
  // The operator chose a return mode (--return-mode, or the hidden list):
  // it stays; otherwise the sensor's own is followed.
  bool returnModeFixed_ = false;
  bool liveStartedOnce = false;
  bool axesShown = false;
  bool gridHidden = true;

  // Numbers.
  int pointSize = 1;
  int tableRows = 0;
  bool tableColumnsFitted_ = false;  // once per table, with its first rows
  int degreeModeIndex = 0;
  float angleLimit = 180.0f;

  // Recording and playback.
  QToolButton* stopButton_ = nullptr;
  z540k::RecordingSession recording_;
  QTimer* recorderWatch_ = nullptr;
  std::string captureDevice_;  // the operator's adapter for recording, if named
  QString capturePath;
  std::shared_ptr<const z540k::DataPacketList> playerPackets;
  z540k::PlaybackControl playback_;

  // The CSV export (or point cloud export, by the file name's extension).
  z540k::CsvExportSession csvExport_;
  std::size_t recordsInFlightBeforeCsv_ = 0;
  QMetaObject::Connection csvMissedCounted_;  // the receiver's drops, while exporting

  // The frames: the newest arrived, the points of the one drawn last, the
  // marked region.
  z540k::FrameDisplay display_;
  z540k::TableRefresh tableRefresh_;
  QTimer* tableTimer_ = nullptr;
  z540k::FramePoints framePoints_;
  z540k::RegionPicking picking_;
  z540k::Ruler ruler_;
  QToolButton* rulerButton_ = nullptr;
  bool rulerMissed_ = false;  // the last click found no point near it
  z540k::Trails trails_;
  QStandardItemModel* pointTable = nullptr;

  // The status line.
  ElidedLabel* statusLabel_ = nullptr;
  QToolButton* lastErrorButton_ = nullptr;
  QDialog* lastErrorBox_ = nullptr;
  QPlainTextEdit* lastErrorView_ = nullptr;
  QTimer* statusTimer_ = nullptr;
  z540k::ReceptionCounters counters_;
  QElapsedTimer hostClock_;
  // When the newest revolution not yet drawn was received (steady clock).
  qint64 arrivedAtNs_ = -1;
  QString lastError_;  // the last error told to the operator, for the status line
  QString setupError_;
  std::optional<z540k::SensorAddress> sensorPin_;  // --sensor: the one sensor drawn

  // ---- Open's capture load, off the GUI thread (manwindowOffline.cpp) ------
  // The capture is read on a worker thread; Open returns to the event loop at
  // once, the progress box follows the worker through queued calls, and the
  // completion slot takes the packets. While it reads, Open and the playback
  // controls are disabled; destroying the window cancels the load and waits
  // for the worker.
 public:
  bool isLoadingCapture() const { return captureLoad_ != nullptr; }

 signals:
  // Open's load ended and its outcome was handled (loaded, refused, cancelled).
  void captureLoadFinished();

 private:
  struct CaptureLoaded;  // what a load of a capture gives
  void startCaptureLoad(const QString& path);
  void onCaptureLoadFinished(const QString& path, CaptureLoaded result, bool cancelled);
  void takeCapture(const QString& path, std::shared_ptr<const z540k::DataPacketList> packets);
  int chooseSensor(const QString& path, const std::vector<z540k::SensorPackets>& sensors);
  std::unique_ptr<z540k::BackgroundJobBase> captureLoad_;  // last member: goes first
};
