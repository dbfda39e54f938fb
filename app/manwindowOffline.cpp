// manwindow's Offline tab: recording the data port's traffic, opening a
// capture, and the playback controls that steer the capture player.
#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QFileInfo>
#include <QProgressDialog>
#include <QSignalBlocker>
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
#include "RevolutionIndex.h"
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
  lastError_ = "The recording ended: " + QString::fromStdString(recorder_->error());
  showMessage(this, MessageKind::Critical, "error", lastError_);
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
  const QString path = askOpenFileName(this, "WireSharkCaptureFile", "", "Supported Files (*.pcap *.pcapng)");
  QCoreApplication::processEvents();
  if (path.isEmpty()) return;

  // A file that cannot be opened changes nothing: it is read before anything
  // of the present playback is let go.
  std::shared_ptr<const DataPacketList> packets;
  if (!loadCapture(path, packets)) return;
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

// The revolutions of a capture in the return mode chosen.
int manwindow::framesIn(const DataPacketList& packets) const {
  return static_cast<int>(packets.revolutions().frameCount(returnFamilyOf(returnModeIndex)));
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
    player_->layout = ui.comboBox_agree->currentIndex() == 0 ? kLayoutProtocol16 : kLayoutProtocol17;
    player_->returnMode = returnModeIndex;
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
  ui.toolButton_Open->setEnabled(playback_.openEnabled());
  const bool on = playback_.controlsEnabled();
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
  if (csvActive) finishCsvExport();
}

void manwindow::FinshorStart(bool Finshone) {
  playback_.finished(Finshone);
  showPlaybackControls();
}
