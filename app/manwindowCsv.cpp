// manwindow's CSV export: the frame frozen on screen at once, or a number of
// frames as they arrive. A file name ending in .pcd or .ply gets the same
// points as one point cloud (the frames merged, with the frame number as a
// field) instead of the CSV.
#include <QCloseEvent>
#include <QDateTime>
#include <QTimer>

#include "CloudFrameFile.h"
#include "CsvFrameFile.h"
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
const QString kSaveFilters = QStringLiteral("CSV (*.csv);;Point cloud (*.pcd);;Point cloud (*.ply)");

// The export the chosen name asks for.
std::unique_ptr<FrameFile> frameFileFor(const std::string& path, const CsvExportOptions& options, long long frames) {
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
  if (csvActive) {
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
  if (isSave && csvActive) {
    showMessage(this, MessageKind::Warning, "Warning",
                QString("A CSV export is still being written (%1 of %2 frames): wait for it to complete.")
                    .arg(csvFrameCounter)
                    .arg(csvFrames));
    return;
  }
  csvFrames = freams;
  csvAngleMin = angleMin;
  csvAngleMax = angleMax;
  csvLines = lines;
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
  options.angleMin = csvAngleMin;
  options.angleMax = csvAngleMax;
  const bool frozen = !displayRunning;
  const std::string target = path.toLocal8Bit().toStdString();
  csvFile_ = frameFileFor(target, options, frozen ? 1 : csvFrames);
  std::string error;
  if (!csvFile_->open(target, error)) {
    csvFile_.reset();
    showMessage(this, MessageKind::Critical, "error", "Cannot write the file: " + QString::fromStdString(error));
    return;
  }
  csvActive = true;

  if (frozen) {
    // The frame on screen, at once.
    csvFile_->writeFrame(lastFrame, CsvFrameKind::Frozen);
    csvActive = false;
    const bool written = csvFile_->close(error);
    csvFile_.reset();
    if (!written)
      showMessage(this, MessageKind::Critical, "error",
                  "The file could not be written: " + QString::fromStdString(error));
    return;
  }
  // Frame by frame: every revolution is needed, none is dropped on its way.
  recordsInFlightBeforeCsv_ = liveReceiver_->maxRecordsInFlight;
  liveReceiver_->maxRecordsInFlight = 0;
  updateStatusLine();
}

// One arriving record into the file; the last one completes the export.
void manwindow::writeCsvFrame(const LidarDataSingleLine& record) {
  ++csvFrameCounter;
  csvFile_->writeFrame(record, CsvFrameKind::Arriving);
  if (csvFrameCounter == csvFrames && csvFrameCounter != 0) finishCsvExport();
}

bool manwindow::askToStopCsvExport() {
  const auto answer = showMessage(this, MessageKind::Question, "Question",
                                  QString("Stop the export and keep the %1 frames written?").arg(csvFrameCounter),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  if (answer != QMessageBox::Yes || !csvActive) return false;
  finishCsvExport();
  return true;
}

void manwindow::finishCsvExport() {
  csvFramesWritten_ = csvFrameCounter;
  csvActive = false;
  csvFrameCounter = 0;
  liveReceiver_->maxRecordsInFlight = recordsInFlightBeforeCsv_;
  std::string error;
  const bool written = csvFile_->close(error);
  csvFile_.reset();
  if (written) {
    emit Sig_SaveCSV();
  } else {
    lastError_ = "The file could not be written: " + QString::fromStdString(error);
    showMessage(this, MessageKind::Critical, "error", lastError_);
  }
}

void manwindow::closeEvent(QCloseEvent* event) {
  if (csvActive && !askToStopCsvExport()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

// An export stopped early says how much of it was written.
void manwindow::On_SaveCSV() {
  QString text = kCsvDone;
  if (csvFramesWritten_ < csvFrames)
    text += QString("\n%1 of %2 frames were written.").arg(csvFramesWritten_).arg(csvFrames);
  showMessage(this, MessageKind::Information, kTipsTitle, text);
}
