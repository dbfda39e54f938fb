// manwindow's Offline tab: recording the data port's traffic, opening a
// capture, and the playback controls that steer the capture player.
#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QSignalBlocker>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <mutex>

#include "CaptureFile.h"
#include "CapturePlayer.h"
#include "CaptureRecorder.h"
#include "FileDialogs.h"
#include "LiveDataReceiver.h"
#include "MessageBoxes.h"
#include "PointCloudView.h"
#include "RecordMetaTypes.h"
#include "ResourceImage.h"
#include "RevolutionIndex.h"
#include "manwindow.h"

using namespace z540k;

namespace {

QIcon image(const char* path) { return QIcon(resourceImage(path)); }

// The messages of this tab, in the operator's language.
const QString kTipsTitle = QStringLiteral("提示");
const QString kConnectFirst = QStringLiteral("请先连接雷达！");
const QString kRecordingDone = QStringLiteral("录制pcap文件完成！");

}  // namespace

std::size_t manwindow::loadedPacketCount() const { return playerPackets ? playerPackets->count() : 0; }

// ---- Record ------------------------------------------------------------------

void manwindow::onRecordClicked() {
  // A recording can always be stopped, also after "Lidar" was stopped.
  if (!liveRunning && !recording) {
    showMessage(this, MessageKind::Information, kTipsTitle, kConnectFirst);
  } else if (recording) {
    stopRecording();
    const QString error = QString::fromStdString(recorder_->error());
    if (!error.isEmpty()) {
      showMessage(this, MessageKind::Critical, "error", "The recording failed: " + error);
    } else {
      showMessage(this, MessageKind::Information, kTipsTitle, kRecordingDone);
      if (recorder_->packetsDropped() > 0)
        showMessage(this, MessageKind::Warning, "Warning",
                    QString("%1 packets were dropped by the capture and are missing from %2.")
                        .arg(recorder_->packetsDropped())
                        .arg(recordPath));
    }
  } else {
    const QString proposed = QDateTime::currentDateTime().toString("yyyy-MM-dd-hh-mm") + ".pcap";
    const QString path = askSaveFileName(this, "Save PCAP", proposed, "WireSharkCaptureFile (*.pcap)");
    captureFilter = "port " + ui.lineEdit_portNumber->text();
    // The loaded capture is read in place from its file: writing over it would
    // pull the packets from under the player.
    const QFileInfo target(path), loaded(capturePath);
    if (!path.isEmpty() && playerPackets && loaded.exists() && target.exists() &&
        target.canonicalFilePath() == loaded.canonicalFilePath()) {
      showMessage(
          this, MessageKind::Warning, "Warning",
          "The capture " + capturePath + " is open for playback and cannot be recorded over: choose another file.");
    } else if (!path.isEmpty()) {
      std::string reason, listError;
      const std::string device = chooseCaptureAdapter(captureDevice_, listCaptureAdapters(listError), reason);
      if (device.empty()) {
        showMessage(this, MessageKind::Critical, "error",
                    "No network adapter to record on: " + QString::fromStdString(reason.empty() ? listError : reason));
      } else {
        recordPath = path;
        if (!recorder_) recorder_ = std::make_unique<CaptureRecorder>();
        if (recorder_->start({path.toLocal8Bit().toStdString(), captureFilter.toStdString(), device})) {
          recording = true;
          recorderWatch_->start();
        } else {
          showMessage(this, MessageKind::Critical, "error",
                      "The previous recording is still ending: try again in a moment.");
        }
      }
    }
  }
  ui.toolButton_SavePcapData->setChecked(recording);
  updateStatusLine();
}

// The stop takes effect at once; everything captured until now is in the
// file.
void manwindow::stopRecording() {
  recorder_->postStop();
  recorder_->wait(5000);
  recorderWatch_->stop();
  recording = false;
  ui.toolButton_SavePcapData->setChecked(false);
}

// While recording: a recorder that ended on its own (a file that cannot be
// written, an adapter that went away) is reported at once.
void manwindow::checkRecorder() {
  if (!recording || !recorder_ || recorder_->isRunning()) return;
  recorder_->wait(1000);
  recorderWatch_->stop();
  recording = false;
  ui.toolButton_SavePcapData->setChecked(false);
  lastError_ = "The recording ended: " + QString::fromStdString(recorder_->error());
  showMessage(this, MessageKind::Critical, "error", lastError_);
  updateStatusLine();
}

// ---- Open ----------------------------------------------------------------------

// One load under way: the worker's result, its progress box and the cancel
// flag the worker polls.
struct manwindow::CaptureLoad {
  struct Result {
    bool loaded = false;
    std::vector<SensorPackets> sensors;  // one list per sensor, most packets first
    std::string error, damage;
  };
  static Result read(const std::string& path, const std::atomic<bool>& cancel, QProgressBar* bar);

  QString path;
  std::atomic<bool> cancel{false};
  QPointer<QProgressDialog> progress;
  // The worker leaves its result here under `resultMutex`, not in the
  // future: QFuture's result store hands it over under a lock of the Qt
  // library that ThreadSanitizer does not see.
  std::mutex resultMutex;
  Result result;
  QFutureWatcher<void>* watcher = nullptr;  // null once its result was taken
};

// The worker is done before the box it reports to goes.
void manwindow::CaptureLoadEnd::operator()(CaptureLoad* load) const {
  load->cancel = true;
  if (load->watcher) {
    load->watcher->disconnect();
    load->watcher->waitForFinished();
    delete load->watcher;
  }
  // The worker's last writes (under the lock) come before the result goes.
  { std::lock_guard<std::mutex> lock(load->resultMutex); }
  delete load->progress;
  delete load;
}

// On the worker thread: the packets of `path`, the tenths read told to the
// bar (queued to the GUI thread); the load stops when the cancel flag is set.
manwindow::CaptureLoad::Result manwindow::CaptureLoad::read(const std::string& path, const std::atomic<bool>& cancel,
                                                            QProgressBar* bar) {
  Result result;
  int shown = 0;
  result.loaded =
      loadSensorPackets(path, result.sensors, result.error, result.damage, [&](std::uint64_t read, std::uint64_t size) {
        const int tenth = size ? static_cast<int>(read * 10 / size) : 10;
        if (tenth != shown) {
          shown = tenth;
          queueCall(bar, [bar, tenth] { bar->setValue(tenth); });
        }
        return !cancel.load();
      });
  return result;
}

void manwindow::startCaptureLoad(const QString& path) {
  captureLoad_.reset(new CaptureLoad);
  CaptureLoad& load = *captureLoad_;
  load.path = path;
  load.progress = new QProgressDialog("Opening file...", QString(), 0, 10, this);
  QProgressDialog& progress = *load.progress;
  progress.setWindowTitle("Please wait a moment");
  progress.setWindowIcon(QIcon(resourceImage("./Resources/image/tavrel.png")));
  progress.setFixedWidth(200);
  progress.setMinimumDuration(5);
  progress.setWindowModality(Qt::WindowModal);
  // The worker's reports go to the bar itself: the box's setValue() would
  // run the event loop inside the call.
  auto* bar = new QProgressBar;
  progress.setBar(bar);
  progress.setRange(0, 10);
  progress.setValue(0);  // shown from the event loop
  std::atomic<bool>* cancel = &load.cancel;
  connect(&progress, &QProgressDialog::canceled, this, [cancel] { *cancel = true; });

  load.watcher = new QFutureWatcher<void>;
  connect(load.watcher, &QFutureWatcherBase::finished, this, &manwindow::onCaptureLoadFinished);
  const std::string file = path.toLocal8Bit().toStdString();
  CaptureLoad* target = &load;
  load.watcher->setFuture(QtConcurrent::run([file, cancel, bar, target] {
    CaptureLoad::Result result = CaptureLoad::read(file, *cancel, bar);
    std::lock_guard<std::mutex> lock(target->resultMutex);
    target->result = std::move(result);
  }));
  showPlaybackControls();  // Open and the playback controls wait for the load
}

void manwindow::onOpenClicked() {
  if (captureLoad_) return;  // one load at a time
  const QString path = askOpenFileName(this, "WireSharkCaptureFile", "", "Supported Files (*.pcap *.pcapng)");
  if (path.isEmpty()) return;
  // A file that cannot be opened changes nothing: it is read before anything
  // of the present playback is let go.
  startCaptureLoad(path);
}

void manwindow::onCaptureLoadFinished() {
  if (!captureLoad_ || !captureLoad_->watcher) return;
  // The watcher is the sender: it goes once its signal has been delivered.
  CaptureLoad::Result result;
  {
    std::lock_guard<std::mutex> lock(captureLoad_->resultMutex);
    result = std::move(captureLoad_->result);
  }
  captureLoad_->watcher->deleteLater();
  captureLoad_->watcher = nullptr;
  const QString path = captureLoad_->path;
  const bool cancelled = captureLoad_->cancel;
  captureLoad_->progress->close();
  captureLoad_.reset();
  showPlaybackControls();

  if (!result.loaded) {
    if (!cancelled) {
      qDebug().noquote() << QString::fromStdString(result.error);
      showMessage(this, MessageKind::Critical, "error",
                  "Cannot open the capture " + path + ": " + QString::fromStdString(result.error));
    }
  } else if (result.sensors.empty()) {
    showMessage(this, MessageKind::Critical, "error",
                "The capture " + path + " holds no data packets of the sensor" +
                    (result.damage.empty() ? QString(".") : ": " + QString::fromStdString(result.damage)));
  } else if (const int chosen = chooseSensor(path, result.sensors); chosen >= 0) {
    auto packets = std::make_shared<const DataPacketList>(std::move(result.sensors[chosen].packets));
    if (!result.damage.empty())
      showMessage(this, MessageKind::Warning, "Warning",
                  "The capture " + path + " is damaged (" + QString::fromStdString(result.damage) + "); the " +
                      QString::number(packets->count()) + " data packets before the damage are loaded.");
    takeCapture(path, std::move(packets));
  }
  emit captureLoadFinished();
}

// Each sensor on its own: a capture of several plays the one the operator
// picks (the one with the most packets proposed first). The index into
// `sensors`, or -1 when the operator cancelled (nothing changes).
int manwindow::chooseSensor(const QString& path, const std::vector<SensorPackets>& sensors) {
  if (sensors.size() == 1) return 0;
  QStringList items;
  for (const SensorPackets& s : sensors)
    items << QString::fromStdString(sensorAddressText(s.source)) + "  (" + QString::number(s.packets.count()) +
                 " data packets)";
  return askChoice(this, "Sensors",
                   "The capture " + path + " holds the data packets of " + QString::number(sensors.size()) +
                       " sensors. Which one to play?",
                   items);
}

// The packets of a capture that loaded become the player's, when they hold a
// revolution.
void manwindow::takeCapture(const QString& path, std::shared_ptr<const DataPacketList> packets) {
  const int total = framesIn(*packets);
  if (total == 0) {
    showMessage(this, MessageKind::Critical, "error",
                "The capture " + path + " holds no complete revolution of the sensor (" +
                    QString::number(packets->count()) + " data packets).");
    return;
  }
  // A capture that plays, or waits paused, stops before its packets go.
  stopPlayback();
  if (playback_.loaded()) view_->clear();
  capturePath = path;
  playerPackets = std::move(packets);
  playback_.load(total);
  showPlaybackControls();
}

// The revolutions of a capture in the return mode it plays in.
int manwindow::framesIn(const DataPacketList& packets) const {
  return static_cast<int>(packets.revolutions().frameCount(returnFamilyOf(captureReturnMode(packets))));
}

// A capture plays in the return mode the operator fixed, else in the one its
// data packets show (block pairs of one firing: both returns).
ReturnMode manwindow::captureReturnMode(const DataPacketList& packets) const {
  return returnModeFixed_ ? chosenReturnMode() : returnModeOf(packets.revolutions().traits().arrangement());
}

// Ends a playback that runs or waits paused, so its packets can go; the next
// Play starts from the first frame.
void manwindow::stopPlayback() {
  if (!player_->isRunning()) return;
  player_->stop();
  player_->giveGate();
  playback_.stopped();
  showPlaybackControls();
}

// ---- Playback ----------------------------------------------------------------

void manwindow::carryOut(const PlayerOrder& order) {
  player_->direction = playback_.direction();
  player_->speedIndex = playback_.speedIndex();
  if (order.clearStepRequest) player_->stepRequest = 0;
  if (order.stepRequest) player_->stepRequest = 1;
  if (order.seekFrame > 0) player_->seekTo(order.seekFrame);
  if (order.start) {
    // A run that signalled its end is ending: wait for it, then start anew.
    player_->wait();
    player_->setPackets(playerPackets);
    player_->layout = chosenLayout();
    player_->returnMode = captureReturnMode(*playerPackets);
    ensurePointTable();
    // A new run starts with the gate open, also when a pause closed it
    // behind the previous run.
    player_->giveGate();
    player_->start();
  } else if (order.gate == PlayerOrder::Gate::Open) {
    player_->giveGate();
  } else if (order.gate == PlayerOrder::Gate::Close) {
    player_->takeGate();
  }
  showPlaybackControls();
}

// The buttons as the playback state has them. Live data is read and dropped
// while a capture's run holds the view.
void manwindow::showPlaybackControls() {
  ui.toolButton_Play->setIcon(image(playback_.playIcon().c_str()));
  ui.toolButton_SeekForward->setIcon(image(playback_.seekForwardIcon().c_str()));
  ui.toolButton_SeekBackward->setIcon(image(playback_.seekBackwardIcon().c_str()));
  // While a capture loads, nothing starts another load or needs the packets.
  ui.toolButton_Open->setEnabled(playback_.openEnabled() && !captureLoad_);
  const bool on = playback_.controlsEnabled() && !captureLoad_;
  for (QWidget* w : {static_cast<QWidget*>(ui.toolButton_Play), static_cast<QWidget*>(ui.toolButton_SeekBackward),
                     static_cast<QWidget*>(ui.toolButton_SeekForward), static_cast<QWidget*>(ui.Spbox_Frame),
                     static_cast<QWidget*>(ui.Slider_Frame)})
    w->setEnabled(on);
  ui.toolButton_GoToEnd->setEnabled(on && playback_.stepsEnabled());
  ui.toolButton_GoToStart->setEnabled(on && playback_.stepsEnabled());
  liveReceiver_->paused = playback_.holdsView() && liveStartedOnce && liveReceiver_->isRunning();
  showFrameCounter();
  updateStatusLine();
}

// The counter and the slider show the frame on screen; setting them here is
// not a choice of the operator.
void manwindow::showFrameCounter() {
  const QSignalBlocker blockSpin(ui.Spbox_Frame), blockSlider(ui.Slider_Frame);
  ui.Spbox_Frame->setRange(0, playback_.frameTotal());
  ui.Slider_Frame->setRange(0, playback_.frameTotal());
  ui.Spbox_Frame->setValue(playback_.frame());
  ui.Slider_Frame->setValue(playback_.frame());
}

void manwindow::onPlayClicked() { carryOut(playback_.play()); }
void manwindow::onSeekForwardClicked() { carryOut(playback_.seekForward()); }
void manwindow::onSeekBackwardClicked() { carryOut(playback_.seekBackward()); }
void manwindow::onGoToStartClicked() { carryOut(playback_.stepBackward()); }
void manwindow::onGoToEndClicked() { carryOut(playback_.stepForward()); }
void manwindow::onFrameChosen(int frame) { carryOut(playback_.seek(frame)); }

void manwindow::onPlayerFrame(int frame, int total) {
  playback_.frameShown(frame, total);
  showFrameCounter();
}

void manwindow::onPlayerError(QString message) {
  playback_.failed();
  showPlaybackControls();
  lastError_ = message;
  showMessage(this, MessageKind::Critical, "error", message + "; open it again to play it.");
  // A frame-by-frame export of the capture keeps the frames written before.
  if (csvExport_.active()) finishCsvExport();
}

void manwindow::FinshorStart(bool Finshone) {
  playback_.finished(Finshone);
  showPlaybackControls();
}
