// manwindow's CSV export: the frame frozen on screen at once, or a number of
// frames as they arrive. A file name ending in .pcd or .ply gets the same
// points as one point cloud (the frames merged, with the frame number as a
// field) instead of the CSV. Also the ends of the program: quitting, and the
// signals that end it from outside, which finish the export and a recording.
#include <QCloseEvent>
#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "CaptureRecorder.h"
#include "CloudFrameFile.h"
#ifdef Z540K_WITH_ROS
#include "BagFrameFile.h"
#endif
#include "CsvFrameFile.h"
#include "ExitSignals.h"
#include "FileDialogs.h"
#include "LiveDataReceiver.h"
#include "MessageBoxes.h"
#include "PointCloudView.h"
#include "SaveDataOptions.h"
#include "manwindow.h"

using namespace z540k;

namespace {
const QString kTipsTitle = QStringLiteral("提示");
const QString kConnectFirst = QStringLiteral("请先连接雷达！");
const QString kCsvDone = QStringLiteral("保存CSV文件完成！");
// CSV first: the proposed name and a name without a known extension stay CSV.
// A ROS bag too when the program is built with ROS (export-bag's file).
#ifdef Z540K_WITH_ROS
const QString kSaveFilters = QStringLiteral("CSV (*.csv);;Point cloud (*.pcd);;Point cloud (*.ply);;ROS bag (*.bag)");
#else
const QString kSaveFilters = QStringLiteral("CSV (*.csv);;Point cloud (*.pcd);;Point cloud (*.ply)");
#endif
// Revolutions on their way to the window at most while frames are exported:
// a file written more slowly for a moment loses none, and the queue still
// has a bound (what finds no room is counted and reported as missing).
constexpr std::size_t kRecordsInFlightWhileExporting = 256;

// "\n2 revolutions arriving between its frames were dropped on their way
// and are missing from the file.", or nothing.
QString missedText(unsigned long long missed) {
  if (missed == 0) return {};
  return QString(
             "\n%1 revolutions arriving between its frames were dropped on their way and are missing from the "
             "file.")
      .arg(missed);
}

// "\n3 frames arriving while the stop question was open were not written.",
// or nothing.
QString notWrittenText(int frames) {
  if (frames == 0) return {};
  return QString("\n%1 %2 arriving while the stop question was open %3 not written.")
      .arg(frames)
      .arg(frames == 1 ? "frame" : "frames")
      .arg(frames == 1 ? "was" : "were");
}

// "\n120 measurements without a return were left out of the cloud.", or
// nothing.
QString leftOutText(std::uint64_t measurements) {
  if (measurements == 0) return {};
  return QString("\n%1 %2 without a return %3 left out of the cloud.")
      .arg(measurements)
      .arg(measurements == 1 ? "measurement" : "measurements")
      .arg(measurements == 1 ? "was" : "were");
}

// The export the chosen name asks for.
std::unique_ptr<FrameFile> frameFileFor(const std::string& path, const CsvExportOptions& options, long long frames) {
#ifdef Z540K_WITH_ROS
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bag") == 0) {
    RosScanOptions ros;
    ros.cloudTopic = "cloud";
    ros.selection = scanSelectionOf(options);
    auto bag = std::make_unique<BagFrameFile>(ros, BagCompression::None, frames);
    bag->stampAtWriting();  // the window's frames carry no capture time
    return bag;
  }
#endif
  if (const auto format = cloudFormatOfName(path)) {
    CloudFileOptions cloud;
    cloud.format = *format;
    return std::make_unique<CloudFrameFile>(options, frames, cloud);
  }
  return std::make_unique<CsvFrameFile>(options, frames);
}
}  // namespace

void manwindow::onSaveCsvClicked() {
  // A frame-by-frame export under way can be stopped, keeping what it wrote.
  if (csvExport_.active()) {
    askToStopCsvExport();
    return;
  }
  if (!liveRunning) {
    showMessage(this, MessageKind::Information, kTipsTitle, kConnectFirst);
    return;
  }
  saveDataOptions_->show();
}

void manwindow::receiveSaveDataOption(bool isSave, int freams, float angleMin, float angleMax, QList<int> lines) {
  // A new export while one is being written would lose the file in progress.
  if (isSave && csvExport_.active()) {
    showMessage(this, MessageKind::Warning, "Warning",
                QString("A CSV export is still being written (%1 of %2 frames): wait for it to complete.")
                    .arg(csvExport_.framesWritten())
                    .arg(csvExport_.framesWanted()));
    return;
  }
  csvExport_.choose({freams, angleMin, angleMax, std::vector<int>(lines.begin(), lines.end())});
  if (!isSave) return;
  if (freams < 1) {  // such an export would never complete
    showMessage(this, MessageKind::Warning, "Warning", "Fream count must be 1 or more");
    return;
  }

  const QString proposed = QDateTime::currentDateTime().toString("yyyy-MM-dd-hh-mm") + ".csv";
  const QString path = askSaveFileName(this, "Save CSV", proposed, kSaveFilters);
  if (path.isEmpty()) return;  // cancelled: nothing is exported

  CsvExportOptions options;
  options.layout = chosenLayout();
  options.viewMode = chosenViewMode();
  options.angleMin = angleMin;
  options.angleMax = angleMax;
  const std::string target = path.toLocal8Bit().toStdString();
  std::string error;
  if (!display_.running()) {
    // The frame on screen, at once.
    const std::unique_ptr<FrameFile> file = frameFileFor(target, options, 1);
    if (!CsvExportSession::exportFrozen(*file, target, display_.latest(), error))
      showMessage(this, MessageKind::Critical, "error", "Cannot write the file: " + QString::fromStdString(error));
    else if (file->leftOut() > 0)
      showMessage(this, MessageKind::Information, kTipsTitle, leftOutText(file->leftOut()).mid(1));
    return;
  }
  if (!csvExport_.begin(frameFileFor(target, options, freams), target, error)) {
    showMessage(this, MessageKind::Critical, "error", "Cannot write the file: " + QString::fromStdString(error));
    return;
  }
  // Frame by frame: every revolution is needed; those dropped on their way
  // all the same are counted.
  recordsInFlightBeforeCsv_ = liveReceiver_->maxRecordsInFlight;
  liveReceiver_->maxRecordsInFlight = std::max(recordsInFlightBeforeCsv_, kRecordsInFlightWhileExporting);
  csvMissedCounted_ = connect(liveReceiver_, &GetlidarData_1::SendRevolutionsDropped, this,
                              [this](quint64 dropped) { csvExport_.missed(dropped); });
  updateStatusLine();
}

// The export holds still while the question is open: "Yes" keeps exactly
// the frames asked about.
bool manwindow::askToStopCsvExport() {
  csvExport_.pause();
  const auto answer =
      showMessage(this, MessageKind::Question, "Question",
                  QString("Stop the export and keep the %1 frames written?").arg(csvExport_.framesWritten()),
                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  csvExport_.resume();
  if (answer != QMessageBox::Yes || !csvExport_.active()) return false;
  finishCsvExport();
  return true;
}

// Ends the export under way, keeping its frames; false with a reason when
// the file could not be written.
bool manwindow::endCsvExport(std::string& error) {
  liveReceiver_->maxRecordsInFlight = recordsInFlightBeforeCsv_;
  disconnect(csvMissedCounted_);
  return csvExport_.finish(error);
}

void manwindow::finishCsvExport() {
  std::string error;
  if (endCsvExport(error)) {
    emit Sig_SaveCSV();
  } else {
    lastError_ = "The file could not be written: " + QString::fromStdString(error);
    showMessage(this, MessageKind::Critical, "error", lastError_);
  }
}

void manwindow::closeEvent(QCloseEvent* event) {
  if (csvExport_.active() && !askToStopCsvExport()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void manwindow::endOnExitSignals() {
  auto* exitSignals = new ExitSignals(this);
  connect(exitSignals, &ExitSignals::caught, this, &manwindow::finishForExitSignal);
}

// The program is ended from outside (logout, shutdown, kill, a closed
// terminal): nobody may be there to answer a question or read a box, so what
// is being written ends as quitting ends it and stderr says what was kept.
void manwindow::finishForExitSignal(int signalNumber) {
  const QString stopped = QString("z540k-host: stopped by SIG%1: ").arg(sigabbrev_np(signalNumber));
  auto say = [&stopped](const QString& text) {
    std::fprintf(stderr, "%s\n", (stopped + text).toLocal8Bit().constData());
  };
  bool whole = true;
  if (csvExport_.active()) {
    const QString path = QString::fromLocal8Bit(csvExport_.path().c_str());
    std::string error;
    if (endCsvExport(error)) {
      say(QString("the export kept %1 of %2 frames in %3")
              .arg(csvExport_.framesWrittenLast())
              .arg(csvExport_.framesWanted())
              .arg(path) +
          QString(missedText(csvExport_.missedLast()) + notWrittenText(csvExport_.framesNotWrittenLast()))
              .replace('\n', "; "));
      whole = csvExport_.framesWrittenLast() >= csvExport_.framesWanted() && csvExport_.missedLast() == 0 &&
              csvExport_.framesNotWrittenLast() == 0;
    } else {
      say("the export " + path + " could not be written: " + QString::fromStdString(error));
      whole = false;
    }
  }
  if (recording_.recording()) {
    stopRecording();
    say(QString::fromStdString(recording_.summary()));
    whole = whole && recording_.whole();
  }
  QCoreApplication::exit(whole ? 0 : 1);
}

// An export stopped early says how much of it was written.
void manwindow::On_SaveCSV() {
  QString text = kCsvDone;
  if (csvExport_.framesWrittenLast() < csvExport_.framesWanted())
    text +=
        QString("\n%1 of %2 frames were written.").arg(csvExport_.framesWrittenLast()).arg(csvExport_.framesWanted());
  text += missedText(csvExport_.missedLast()) + notWrittenText(csvExport_.framesNotWrittenLast()) +
          leftOutText(csvExport_.leftOutLast());
  showMessage(this, MessageKind::Information, kTipsTitle, text);
}
