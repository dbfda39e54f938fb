// manwindow's Offline tab: recording the data port's traffic, opening a
// capture, and the playback controls that steer the capture player.
#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>
#include <atomic>
#include <thread>

#include "CaptureFile.h"
#include "CapturePlayer.h"
#include "CaptureRecorder.h"
#include "FileDialogs.h"
#include "LiveDataReceiver.h"
#include "MessageBoxes.h"
#include "PointCloudView.h"
#include "ResourceImage.h"
#include "manwindow.h"

using namespace z540k;

namespace {

QIcon image(const char* path) { return QIcon(resourceImage(path)); }

// The messages of this tab, in the operator's language.
const QString kTipsTitle = QStringLiteral("提示");
const QString kConnectFirst = QStringLiteral("请先连接雷达！");
const QString kRecordingDone = QStringLiteral("录制pcap文件完成！");

}  // namespace

int manwindow::currentSpeedIndex() const { return player_->speedIndex; }

std::size_t manwindow::loadedPacketCount() const { return playerPackets ? playerPackets->count() : 0; }

// ---- Record ------------------------------------------------------------------

void manwindow::onRecordClicked() {
  // A recording can always be stopped, also after "Lidar" was stopped.
  if (!liveRunning && !recording) {
    showMessage(this, MessageKind::Information, kTipsTitle, kConnectFirst);
  } else if (recording) {
    // The stop takes effect at once; everything captured until now is in the
    // file.
    recorder_->postStop();
    recorder_->wait(5000);
    recorderWatch_->stop();
    recording = false;
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
      showMessage(this, MessageKind::Warning, "Warning",
                  "The capture " + capturePath + " is open for playback and cannot be recorded over: choose another file.");
    } else if (!path.isEmpty()) {
      std::string reason, listError;
      const std::string device =
          chooseCaptureAdapter(captureDevice_, listCaptureAdapters(listError), reason);
      if (device.empty()) {
        showMessage(this, MessageKind::Critical, "error",
                    "No network adapter to record on: " +
                        QString::fromStdString(reason.empty() ? listError : reason));
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

// While recording: a recorder that ended on its own (a file that cannot be
// written, an adapter that went away) is reported at once.
void manwindow::checkRecorder() {
  if (!recording || !recorder_ || recorder_->isRunning()) return;
  recorder_->wait(1000);
  recorderWatch_->stop();
  recording = false;
  ui.toolButton_SavePcapData->setChecked(false);
  showMessage(this, MessageKind::Critical, "error",
              "The recording ended: " + QString::fromStdString(recorder_->error()));
  updateStatusLine();
}

// ---- Open ----------------------------------------------------------------------

bool manwindow::loadCapture(const QString& path, std::shared_ptr<const DataPacketList>& packets) {
  QProgressDialog progress("Opening file...", QString(), 0, 10, this);
  progress.setWindowTitle("Please wait a moment");
  progress.setWindowIcon(QIcon(resourceImage("./Resources/image/tavrel.png")));
  progress.setFixedWidth(200);
  progress.setMinimumDuration(5);
  progress.setWindowModality(Qt::WindowModal);
  progress.setValue(0);

  // The file is read on a worker thread; the window stays responsive and the
  // progress follows the bytes read.
  auto list = std::make_shared<DataPacketList>();
  std::string error, damage;
  bool loaded = false;
  std::atomic<bool> done{false};
  QEventLoop wait;
  std::thread reader([&] {
    loaded = loadDataPackets(path.toLocal8Bit().toStdString(), *list, error, damage,
                             [&](std::uint64_t read, std::uint64_t size) {
                               const int tenth = size ? static_cast<int>(read * 10 / size) : 10;
                               QMetaObject::invokeMethod(&progress, [&progress, tenth] { progress.setValue(tenth); },
                                                         Qt::QueuedConnection);
                               return true;
                             });
    done = true;
    QMetaObject::invokeMethod(&wait, "quit", Qt::QueuedConnection);
  });
  if (!done) wait.exec();
  reader.join();
  QCoreApplication::removePostedEvents(&progress);
  progress.close();

  if (!loaded) {
    qDebug().noquote() << QString::fromStdString(error);
    showMessage(this, MessageKind::Critical, "error",
                "Cannot open the capture " + path + ": " + QString::fromStdString(error));
    return false;
  }
  if (list->count() == 0) {
    showMessage(this, MessageKind::Critical, "error",
                "The capture " + path + " holds no data packets of the sensor" +
                    (damage.empty() ? QString(".") : ": " + QString::fromStdString(damage)));
    return false;
  }
  if (!damage.empty())
    showMessage(this, MessageKind::Warning, "Warning",
                "The capture " + path + " is damaged (" + QString::fromStdString(damage) + "); the " +
                    QString::number(list->count()) + " data packets before the damage are loaded.");
  packets = std::move(list);
  return true;
}

void manwindow::onOpenClicked() {
  const QString path = askOpenFileName(this, "WireSharkCaptureFile", "", "Supported Files (*.pcap)");
  QCoreApplication::processEvents();
  if (path.isEmpty()) return;

  // A file that cannot be opened changes nothing: it is read before anything
  // of the present playback is let go.
  std::shared_ptr<const DataPacketList> packets;
  if (!loadCapture(path, packets)) return;

  // A capture that plays, or waits paused, stops before its packets go.
  stopPlayback();
  if (playCount > 1) {
    playCount = 1;
    view_->clear();
  }
  capturePath = path;
  playerPackets = std::move(packets);
  ui.toolButton_Play->setIcon(image("./Resources/images/Play.png"));
  playPaused = true;
  playerFinished = false;

  packetsPerFrame = estimatePacketsPerFrame(*playerPackets);
  for (QWidget* w : {static_cast<QWidget*>(ui.toolButton_Play), static_cast<QWidget*>(ui.toolButton_GoToEnd),
                     static_cast<QWidget*>(ui.toolButton_GoToStart), static_cast<QWidget*>(ui.toolButton_SeekBackward),
                     static_cast<QWidget*>(ui.toolButton_SeekForward), static_cast<QWidget*>(ui.Spbox_Frame)})
    w->setEnabled(true);
  const FrameTotal frames = frameTotalOf(playerPackets->count(), packetsPerFrame);
  frameTotal = static_cast<int>(frames.total);
  frameRemainder = static_cast<int>(frames.remainder);
  framePartial = frames.partial();
  frameIndex = 0;
  ui.Spbox_Frame->setRange(0, frameTotal);
  ui.Slider_Frame->setRange(0, frameTotal);
  ui.Spbox_Frame->setValue(0);
  ui.Slider_Frame->setEnabled(true);
  updateStatusLine();
}

// Ends a playback that runs or waits paused, so its packets can go; the
// controls return to the state of a capture just loaded.
void manwindow::stopPlayback() {
  if (!player_->isRunning()) return;
  player_->stop();
  player_->giveGate();
  playing = false;
  stepMode = false;
  playPaused = true;
  playerFinished = true;  // the next Play starts from the first packet
  ui.toolButton_Play->setIcon(image("./Resources/images/Play.png"));
  ui.toolButton_Open->setEnabled(true);
  ui.toolButton_GoToEnd->setEnabled(true);
  ui.toolButton_GoToStart->setEnabled(true);
  // Live data shows again, also when the receiver is being stopped (Lidar):
  // a flag left set would drop everything of its next start.
  liveReceiver_->paused = false;
}

// ---- Playback ----------------------------------------------------------------

void manwindow::resetSeekButtons() {
  ui.toolButton_SeekForward->setIcon(image("./Resources/images/Seekforward.png"));
  forwardSpeedStep = 1;
  player_->speedIndex = 0;
  ui.toolButton_SeekBackward->setIcon(image("./Resources/images/Seekbackward.png"));
  backwardSpeedStep = 1;
}

void manwindow::onPlayClicked() {
  resetSeekButtons();
  ui.toolButton_Open->setEnabled(false);
  if (playPaused) {
    // Live data is read and dropped while a capture plays.
    if (liveStartedOnce && liveReceiver_->isRunning()) liveReceiver_->paused = true;
    ui.toolButton_Play->setIcon(image("./Resources/images/Pause.png"));
    playPaused = false;
    stepMode = true;
    playing = true;
    stepForward = true;
    stepBackward = false;
    player_->stepRequest = 0;
    player_->direction = 1;
    // Playing forwards at normal speed: the next Seek forward goes to 2x.
    lastSeekForward = true;
    if (playCount == 1) {
      ensurePointTable();
      player_->setPackets(playerPackets);
      const auto unique = static_cast<Qt::ConnectionType>(Qt::AutoConnection | Qt::UniqueConnection);
      connect(player_, &ReadLiveOffData::SendData, this, &manwindow::CalculateCoordinates, unique);
      connect(player_, &ReadLiveOffData::SendBool, this, &manwindow::FinshorStart, unique);
      player_->layout = ui.comboBox_agree->currentIndex() == 0 ? 0 : 1;
      // A new run starts with the gate open, also when a Pause pressed as
      // the previous capture ended closed it behind that run.
      player_->giveGate();
      player_->start();
      forwardSpeedStep = 1;
    } else if (!player_->isRunning() || playerFinished) {
      // The end was signalled: the run is ending or has ended; a new run
      // plays from the first packet.
      player_->wait();
      player_->layout = ui.comboBox_agree->currentIndex() == 0 ? 0 : 1;
      player_->giveGate();
      player_->start();
      if (playerFinished) {
        frameIndex = 0;
        ui.Spbox_Frame->setValue(frameIndex);
      }
      playerFinished = false;
    } else {
      player_->giveGate();
    }
    ++playCount;
    ui.toolButton_GoToEnd->setEnabled(false);
    ui.toolButton_GoToStart->setEnabled(false);
  } else {
    ui.toolButton_Play->setIcon(image("./Resources/images/Play.png"));
    playPaused = true;
    stepForward = true;
    if (playCount > 1) {
      if (playerFinished) {
        frameIndex = 0;
        ui.Spbox_Frame->setValue(frameIndex);
        playerFinished = false;
        forwardSpeedStep = 1;
        player_->speedIndex = 0;
        ui.toolButton_SeekForward->setIcon(image("./Resources/images/Seekforward.png"));
      } else {
        player_->takeGate();
      }
    }
    ui.toolButton_GoToEnd->setEnabled(true);
    ui.toolButton_GoToStart->setEnabled(true);
  }
  updateStatusLine();
}

void manwindow::onSeekForwardClicked() {
  if (!lastSeekForward) {
    ui.toolButton_SeekBackward->setIcon(image("./Resources/images/Seekbackward.png"));
    forwardSpeedStep = 5;
  }
  lastSeekForward = true;
  stepForward = true;
  if (playerFinished) {
    ui.toolButton_SeekForward->setIcon(image("./Resources/images/Seekforward.png"));
    forwardSpeedStep = 1;
    player_->speedIndex = 0;
  } else if (playPaused) {
    ui.toolButton_SeekForward->setIcon(image("./Resources/images/Seekforward.png"));
    forwardSpeedStep = 1;
    stepBackward = false;
    player_->direction = 1;
    player_->speedIndex = 0;
  } else {
    // Each press steps to the next speed: 2x, 3x, 0.5x, 0.25x, normal.
    static const struct {
      const char* icon;
      int speed;
      int next;
    } kSteps[] = {{"./Resources/images/Seekforward_2x.png", 1, 2},
                  {"./Resources/images/Seekforward_3x.png", 2, 3},
                  {"./Resources/images/Seekforward_0.5x.png", 3, 4},
                  {"./Resources/images/Seekforward_0.25x.png.", 4, 5},
                  {"./Resources/images/Seekforward.png", 0, 1}};
    const auto& step = kSteps[std::clamp(forwardSpeedStep, 1, 5) - 1];
    stepBackward = false;
    player_->direction = 1;
    ui.toolButton_SeekForward->setIcon(image(step.icon));
    player_->speedIndex = step.speed;
    forwardSpeedStep = step.next;
  }
}

void manwindow::onSeekBackwardClicked() {
  if (lastSeekForward) {
    ui.toolButton_SeekForward->setIcon(image("./Resources/images/Seekforward.png"));
    backwardSpeedStep = 1;
    player_->direction = -1;
    stepForward = false;
  }
  lastSeekForward = false;
  stepBackward = true;
  if (frameIndex < 2 || playerFinished) {
    ui.toolButton_SeekBackward->setIcon(image("./Resources/images/Seekbackward.png"));
    backwardSpeedStep = 1;
    player_->speedIndex = 0;
  }
  if (playPaused) {
    ui.toolButton_SeekBackward->setIcon(image("./Resources/images/Seekbackward.png"));
    backwardSpeedStep = 2;
    player_->direction = -1;
    player_->speedIndex = 0;
    stepForward = false;
  } else {
    static const struct {
      const char* icon;
      int speed;
      int next;
    } kSteps[] = {{"./Resources/images/Seekbackward.png", 0, 2},
                  {"./Resources/images/Seekbackward_2x.png", 1, 3},
                  {"./Resources/images/Seekbackward_3x.png", 2, 4},
                  {"./Resources/images/Seekbackward_0.5x.png", 3, 5},
                  {"./Resources/images/Seekbackward_0.25x.png", 4, 1}};
    const auto& step = kSteps[std::clamp(backwardSpeedStep, 1, 5) - 1];
    player_->direction = -1;
    stepForward = false;
    ui.toolButton_SeekBackward->setIcon(image(step.icon));
    player_->speedIndex = step.speed;
    backwardSpeedStep = step.next;
  }
}

// One frame backward while paused.
void manwindow::onGoToStartClicked() {
  if (frameIndex != 0 && !playerFinished) {
    stepBackward = true;
    if (playPaused) {
      ui.toolButton_SeekBackward->setIcon(image("./Resources/images/Seekbackward.png"));
      backwardSpeedStep = 1;
      player_->direction = -1;
      player_->stepRequest = 1;
      stepForward = false;
      player_->giveGate();
    } else if (player_->stepRequest != 0) {
      player_->stepRequest = 0;
    }
  }
}

// One frame forward while paused.
void manwindow::onGoToEndClicked() {
  if (frameIndex != 0 && !playerFinished) {
    stepForward = true;
    if (playPaused) {
      ui.toolButton_SeekForward->setIcon(image("./Resources/images/Seekforward.png"));
      forwardSpeedStep = 1;
      player_->direction = 1;
      player_->stepRequest = 1;
      stepBackward = false;
      player_->giveGate();
    } else if (player_->stepRequest != 0) {
      player_->stepRequest = 0;
    }
  }
}

void manwindow::FinshorStart(bool Finshone) {
  if (Finshone) {
    playerFinished = true;
    frameIndex = 0;
    ui.Spbox_Frame->setValue(frameIndex);
    player_->speedIndex = 0;
    ui.toolButton_Open->setEnabled(true);
    resetSeekButtons();
  }
  stepForward = true;
  stepMode = false;
  playing = false;
  playPaused = true;
  ui.toolButton_Play->setIcon(image("./Resources/images/Play.png"));
  ui.toolButton_GoToEnd->setEnabled(true);
  ui.toolButton_GoToStart->setEnabled(true);
  if (liveStartedOnce && liveReceiver_->isRunning()) liveReceiver_->paused = false;
  updateStatusLine();
}
