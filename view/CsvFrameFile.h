// A CSV file of frames as the program's frame-by-frame export writes it: the
// header line, then each arriving revolution with FreamID counting from 1,
// lines ending in a line feed. Shared by export-csv and listen --csv so both
// write the same bytes for the same datagrams.
//
// The frames go to a temporary file beside the target (same directory), which
// close() syncs and renames over the target only when every write succeeded:
// a failed or abandoned export leaves an existing target as it was and removes
// the temporary file. A target that is a device or a pipe (/dev/stdout, a
// FIFO) is written in place instead, as there is no file to keep.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "CsvExport.h"

namespace z540k {

class CsvFrameFile {
 public:
  CsvFrameFile(CsvExportOptions options, long long maxFrames) : options_(options), maxFrames_(maxFrames) {}
  // Abandons a file that was not closed (the target stays as it was).
  ~CsvFrameFile();
  CsvFrameFile(const CsvFrameFile&) = delete;
  CsvFrameFile& operator=(const CsvFrameFile&) = delete;

  // Creates the temporary file for `path` and writes the header; false with
  // a reason (a directory, no right to create a file beside the target...).
  bool open(const std::string& path, std::string& error);
  // Writes one revolution unless the frame limit is reached; a frozen frame
  // rounds whole centimetres half up, as the export of the frame on screen
  // does.
  void writeFrame(const LidarDataSingleLine& record, CsvFrameKind kind = CsvFrameKind::Arriving);
  // True once maxFrames frames are written (never with maxFrames 0).
  bool complete() const { return maxFrames_ > 0 && frames_ >= maxFrames_; }
  // Finishes the file: writes what is buffered, syncs it and puts it in place
  // of the target. False with a reason if any step failed; the target is then
  // unchanged and the temporary file removed.
  bool close(std::string& error);
  // Drops what was written: the temporary file is removed, the target kept.
  void discard();

  long long frames() const { return frames_; }
  std::uint64_t lines() const { return lines_; }

 private:
  bool flush();
  void removeTemporary();

  CsvExportOptions options_;
  long long maxFrames_;
  std::FILE* file_ = nullptr;
  std::string path_;       // the target as given
  std::string finalPath_;  // the file the rename replaces (a symbolic link's target)
  std::string tempPath_;   // empty when the target is written in place
  std::string buffer_;
  long long frames_ = 0;
  std::uint64_t lines_ = 0;
  bool failed_ = false;
  int writeErrno_ = 0;
};

}  // namespace z540k
