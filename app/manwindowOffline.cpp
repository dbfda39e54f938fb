// manwindow's Offline tab: recording the data port's traffic, opening a
// capture, and the playback controls that steer the capture player.
#include <QApplication>
#include <QBoxLayout>
#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <atomic>

#include "CapturePlayer.h"
#include "CaptureRecorder.h"
#include "DataPacketLoad.h"
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
  if (!liveRunning && !recording_.recording()) {
    showMessage(this, MessageKind::Information, kTipsTitle, kConnectFirst);
  } else if (recording_.recording()) {
    stopRecording();
    const QString error = QString::fromStdString(recording_.error());
    if (!error.isEmpty()) {
      showMessage(this, MessageKind::Critical, "error", "The recording failed: " + error);
    } else {
      showMessage(this, MessageKind::Information, kTipsTitle, kRecordingDone);
      if (recording_.packetsDropped() > 0)
        showMessage(this, MessageKind::Warning, "Warning",
                    QString("%1 packets were dropped by the capture and are missing from %2.")
                        .arg(recording_.packetsDropped())
                        .arg(QString::fromStdString(recording_.path())));
    }
  } else {
    const QString proposed = QDateTime::currentDateTime().toString("yyyy-MM-dd-hh-mm") + ".pcap";
    const QString path = askSaveFileName(this, "Save PCAP", proposed, "WireSharkCaptureFile (*.pcap)");
    // The loaded capture is read in place from its file: writing over it would
    // pull the packets from under the player.
    const QFileInfo target(path), loaded(capturePath);
    std::string reason;
    if (!path.isEmpty() && playerPackets && loaded.exists() && target.exists() &&
        target.canonicalFilePath() == loaded.canonicalFilePath()) {
      showMessage(
          this, MessageKind::Warning, "Warning",
          "The capture " + capturePath + " is open for playback and cannot be recorded over: choose another file.");
    } else if (!path.isEmpty() && recording_.start(path.toLocal8Bit().toStdString(),
                                                   ui.lineEdit_portNumber->text().toInt(), captureDevice_, reason)) {
      recorderWatch_->start();
    } else if (!path.isEmpty()) {
      showMessage(this, MessageKind::Critical, "error", QString::fromStdString(reason));
    }
  }
  ui.toolButton_SavePcapData->setChecked(recording_.recording());
  updateStatusLine();
}

// The stop takes effect at once; everything captured until now is in the
// file.
void manwindow::stopRecording() {
  if (!recording_.stop(5000)) {
    // A write that hangs (a network drive): the recording ends when it
    // returns, and checkRecorder() then reports how it ended.
    lastError_ = "The recording did not end within 5 s; it ends when its last write returns";
    updateStatusLine();
    return;
  }
  recorderWatch_->stop();
  ui.toolButton_SavePcapData->setChecked(false);
}

// While recording: a recorder that ended on its own (a file that cannot be
// written, an adapter that went away) is reported at once.
void manwindow::checkRecorder() {
  if (!recording_.endedByItself()) return;
  recorderWatch_->stop();
  ui.toolButton_SavePcapData->setChecked(false);
  lastError_ = "The recording ended: " + QString::fromStdString(recording_.error());
  showMessage(this, MessageKind::Critical, "error", lastError_);
  updateStatusLine();
}

// ---- Open ----------------------------------------------------------------------

struct manwindow::CaptureLoaded {
  bool loaded = false;
  std::vector<SensorPackets> sensors;  // one list per sensor, most packets first
  std::string error, damage;
};

// Opening reads the capture on a worker thread; the box shows the tenths
// read.
void manwindow::startCaptureLoad(const QString& path) {
  JobBox look;
  look.title = "Please wait a moment";
  look.label = "Opening file...";
  look.maximum = 10;
  look.minimumDurationMs = 5;
  look.fixedWidth = 200;
  look.icon = QIcon(resourceImage("./Resources/image/tavrel.png"));
  const std::string file = path.toLocal8Bit().toStdString();
  captureLoad_ = std::make_unique<BackgroundJob<CaptureLoaded>>(
      this, look,
      [file](const std::atomic<bool>& cancel, const std::function<void(int)>& progress) {
        CaptureLoaded result;
        int shown = 0;
        result.loaded = loadSensorPackets(file, result.sensors, result.error, result.damage,
                                          [&](std::uint64_t read, std::uint64_t size) {
                                            const int tenth = size ? static_cast<int>(read * 10 / size) : 10;
                                            if (tenth != shown) progress(shown = tenth);
                                            return !cancel.load();
                                          });
        return result;
      },
      [this, path](CaptureLoaded result, bool cancelled) {
        onCaptureLoadFinished(path, std::move(result), cancelled);
      });
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

void manwindow::onCaptureLoadFinished(const QString& path, CaptureLoaded result, bool cancelled) {
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
ReturnModeChoice manwindow::captureModeChoice(const DataPacketList& packets) const {
  ReturnModeChoice choice(returnModeFixed_ ? std::optional<ReturnMode>(chosenReturnMode()) : std::nullopt);
  choice.dataShown(packets.revolutions().traits().arrangement());
  return choice;
}

ReturnMode manwindow::captureReturnMode(const DataPacketList& packets) const {
  return captureModeChoice(packets).mode();
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

// Stop sits after the playback buttons; it is there whenever a run holds the
// view, playing or paused.
void manwindow::addStopButton() {
  stopButton_ = new QToolButton(ui.toolButton_GoToEnd->parentWidget());
  stopButton_->setObjectName("toolButton_Stop");
  stopButton_->setText("Stop");
  stopButton_->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
  stopButton_->setIconSize(ui.toolButton_GoToEnd->iconSize());
  stopButton_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  stopButton_->setAutoRaise(true);
  stopButton_->setToolTip("Ends playback and returns to the live view");
  stopButton_->setEnabled(false);
  if (auto* row = qobject_cast<QBoxLayout*>(ui.toolButton_GoToEnd->parentWidget()->layout()))
    row->insertWidget(row->indexOf(ui.toolButton_GoToEnd) + 1, stopButton_);
  connect(stopButton_, &QToolButton::clicked, this, &manwindow::onStopClicked);
}

void manwindow::onStopClicked() { stopPlayback(); }

// ---- Playback ----------------------------------------------------------------

void manwindow::carryOut(const PlayerOrder& order) {
  player_->direction = playback_.direction();
  player_->speedIndex = playback_.speedIndex();
  if (order.clearStepRequest) player_->stepRequest = 0;
  if (order.stepRequest) player_->stepRequest = 1;
  if (order.seekFrame > 0) player_->seekTo(order.seekFrame);
  if (order.start) {
    // A run that signalled its end is ending: wait for it, then start anew.
    waitForRunEnd(*player_, "the capture player");
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
  stopButton_->setEnabled(playback_.runActive() && !captureLoad_);
  liveReceiver_->paused = playback_.holdsView() && liveStartedOnce && liveReceiver_->isRunning();
  showFrameCounter();
  updateStatusLine();
}

// The counter and the slider show the frame on screen; setting them here is
// not a choice of the operator.
void manwindow::showFrameCounter() {
  const QSignalBlocker blockSpin(ui.Spbox_Frame), blockSlider(ui.Slider_Frame);
  ui.Spbox_Frame->setRange(0, playback_.frameTotal());
  // "k / N": the capture's length is known from the moment it is open.
  ui.Spbox_Frame->setSuffix(playback_.loaded() ? QString(" / %1").arg(playback_.frameTotal()) : QString());
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
  updateStatusLine();
  showMessage(this, MessageKind::Critical, "error", message + "; open it again to play it.");
  // A frame-by-frame export of the capture keeps the frames written before.
  if (csvExport_.active()) finishCsvExport();
}

void manwindow::FinshorStart(bool Finshone) {
  playback_.finished(Finshone);
  showPlaybackControls();
}
