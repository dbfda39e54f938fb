#include "CsvExportSession.h"

namespace z540k {

bool CsvExportSession::exportFrozen(FrameFile& file, const std::string& path, const LidarDataSingleLine& frame,
                                    std::string& error) {
  if (!file.open(path, error)) return false;
  file.writeFrame(frame, CsvFrameKind::Frozen);
  return file.close(error);
}

bool CsvExportSession::begin(std::unique_ptr<FrameFile> file, const std::string& path, std::string& error) {
  if (active()) {
    error = "an export is still being written";
    return false;
  }
  if (!file->open(path, error)) return false;
  file_ = std::move(file);
  path_ = path;
  frames_ = 0;
  missed_ = 0;
  notWritten_ = 0;
  paused_ = false;
  wanted_ = choices_.frames;
  return true;
}

bool CsvExportSession::add(const LidarDataSingleLine& record) {
  if (!file_) return false;
  if (paused_) {
    ++notWritten_;
    return false;
  }
  ++frames_;
  file_->writeFrame(record, CsvFrameKind::Arriving);
  // A file that cannot be written ends the export at once: finish() says why.
  return frames_ >= wanted_ || file_->failed();
}

bool CsvExportSession::finish(std::string& error) {
  if (!file_) return true;
  framesLast_ = frames_;
  frames_ = 0;
  missedLast_ = missed_;
  missed_ = 0;
  notWrittenLast_ = notWritten_;
  notWritten_ = 0;
  paused_ = false;
  leftOutLast_ = file_->leftOut();
  const bool written = file_->close(error);
  file_.reset();
  return written;
}

}  // namespace z540k
