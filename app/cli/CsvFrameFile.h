// A CSV file of frames as the program's frame-by-frame export writes it: the
// header line, then each arriving revolution with FreamID counting from 1,
// lines ending in a line feed. Shared by export-csv and listen --csv so both
// write the same bytes for the same datagrams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "CsvExport.h"

namespace z540k::cli {

class CsvFrameFile {
 public:
  CsvFrameFile(CsvExportOptions options, long long maxFrames) : options_(options), maxFrames_(maxFrames) {}
  ~CsvFrameFile();
  CsvFrameFile(const CsvFrameFile&) = delete;
  CsvFrameFile& operator=(const CsvFrameFile&) = delete;

  // Creates or truncates the file and writes the header; false with a reason.
  bool open(const std::string& path, std::string& error);
  // Writes one revolution unless the frame limit is reached.
  void writeFrame(const LidarDataSingleLine& record);
  // True once maxFrames frames are written (never with maxFrames 0).
  bool complete() const { return maxFrames_ > 0 && frames_ >= maxFrames_; }
  // Flushes and closes; false with a reason if any write failed.
  bool close(std::string& error);

  long long frames() const { return frames_; }
  std::uint64_t lines() const { return lines_; }

 private:
  bool flush();

  CsvExportOptions options_;
  long long maxFrames_;
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string buffer_;
  long long frames_ = 0;
  std::uint64_t lines_ = 0;
  bool failed_ = false;
  int writeErrno_ = 0;
};

}  // namespace z540k::cli
