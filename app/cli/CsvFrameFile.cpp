#include "CsvFrameFile.h"

#include <cerrno>
#include <cstring>

namespace z540k::cli {

namespace {
constexpr std::size_t kFlushAt = 4 << 20;
}

CsvFrameFile::~CsvFrameFile() {
  std::string ignored;
  close(ignored);
}

bool CsvFrameFile::open(const std::string& path, std::string& error) {
  path_ = path;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  buffer_.reserve(kFlushAt + (1 << 16));
  buffer_ = kCsvHeader;
  buffer_ += '\n';
  return true;
}

void CsvFrameFile::writeFrame(const LidarDataSingleLine& record) {
  if (!file_ || complete()) return;
  ++frames_;
  lines_ += appendCsvFrame(buffer_, record, static_cast<int>(frames_), options_, CsvFrameKind::Arriving);
  if (buffer_.size() >= kFlushAt) flush();
}

bool CsvFrameFile::flush() {
  if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size() && !failed_) {
    failed_ = true;
    writeErrno_ = errno;
  }
  buffer_.clear();
  return !failed_;
}

bool CsvFrameFile::close(std::string& error) {
  if (!file_) return true;
  flush();
  if (std::fclose(file_) != 0 && !failed_) {
    failed_ = true;
    writeErrno_ = errno;
  }
  file_ = nullptr;
  if (failed_) {
    error = "writing " + path_ + " failed: " + std::strerror(writeErrno_);
    return false;
  }
  return true;
}

}  // namespace z540k::cli
