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
    return;
  }
  if (!csvExport_.begin(frameFileFor(target, options, freams), target, error)) {
    showMessage(this, MessageKind::Critical, "error", "Cannot write the file: " + QString::fromStdString(error));
    return;
  }
  // Frame by frame: every revolution is needed, none is dropped on its way.
  recordsInFlightBeforeCsv_ = liveReceiver_->maxRecordsInFlight;
  liveReceiver_->maxRecordsInFlight = 0;
  updateStatusLine();
}

bool manwindow::askToStopCsvExport() {
  const auto answer =
      showMessage(this, MessageKind::Question, "Question",
                  QString("Stop the export and keep the %1 frames written?").arg(csvExport_.framesWritten()),
                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  if (answer != QMessageBox::Yes || !csvExport_.active()) return false;
  finishCsvExport();
  return true;
}

void manwindow::finishCsvExport() {
  liveReceiver_->maxRecordsInFlight = recordsInFlightBeforeCsv_;
  std::string error;
  if (csvExport_.finish(error)) {
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

// An export stopped early says how much of it was written.
void manwindow::On_SaveCSV() {
  QString text = kCsvDone;
  if (csvExport_.framesWrittenLast() < csvExport_.framesWanted())
    text +=
        QString("\n%1 of %2 frames were written.").arg(csvExport_.framesWrittenLast()).arg(csvExport_.framesWanted());
  showMessage(this, MessageKind::Information, kTipsTitle, text);
}
