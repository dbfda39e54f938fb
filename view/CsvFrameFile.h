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

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "CsvExport.h"
#include "FileBeside.h"

namespace z540k {

// The frames of an export on their way to a file (or files): the CSV file
// here, the point cloud files in CloudFrameFile. The window and the headless
// tool drive both the same way: open, a frame per revolution until complete,
// then close (keep) or discard (the target stays as it was).
class FrameFile {
 public:
  explicit FrameFile(long long maxFrames) : maxFrames_(maxFrames) {}
  virtual ~FrameFile() = default;
  FrameFile(const FrameFile&) = delete;
  FrameFile& operator=(const FrameFile&) = delete;

  // False with a reason when the target cannot be written.
  virtual bool open(const std::string& path, std::string& error) = 0;
  // Writes one revolution unless the frame limit is reached; a frozen frame
  // rounds whole centimetres half up, as the export of the frame on screen
  // does.
  virtual void writeFrame(const LidarDataSingleLine& record, CsvFrameKind kind = CsvFrameKind::Arriving) = 0;
  // Puts what was written in place of the target; false with a reason, the
  // target then unchanged.
  virtual bool close(std::string& error) = 0;
  // Drops what was written: the target stays as it was.
  virtual void discard() = 0;
  // True once a write failed (a full disk, a file size limit): the file
  // takes no more frames, and close() says why and leaves the target as it
  // was. The caller stops feeding it then.
  virtual bool failed() const = 0;
  // The measurements written (CSV lines, points), complete once closed...
  virtual std::uint64_t rows() const = 0;
  // ...as a summary says it ("1200 lines", "1200 points in 3 files").
  virtual std::string rowsText() const = 0;
  // Measurements left out because they are no point (a cloud's measurements
  // without a return), counted.
  virtual std::uint64_t leftOut() const { return 0; }

  // How much of the input is read (`read` of `total` bytes), told now and
  // then by an export of a capture file: a file whose header states its size
  // first may start writing before it is complete.
  virtual void shareRead(std::uint64_t /*read*/, std::uint64_t /*total*/) {}
  // True once maxFrames frames are written (never with maxFrames 0).
  bool complete() const { return maxFrames_ > 0 && frames_ >= maxFrames_; }
  long long frames() const { return frames_; }

 protected:
  long long maxFrames_;
  long long frames_ = 0;
};

// The frames are turned into text and written by threads of the file's own
// while the caller goes on (see Writer in the .cpp), in writes of 1 MiB or
// more. After a failed write nothing more is taken or formatted.
class CsvFrameFile : public FrameFile {
 public:
  CsvFrameFile(CsvExportOptions options, long long maxFrames);
  // Abandons a file that was not closed (the target stays as it was).
  ~CsvFrameFile() override;

  // Creates the temporary file for `path` and writes the header; false with
  // a reason (a directory, no right to create a file beside the target...).
  bool open(const std::string& path, std::string& error) override;
  void writeFrame(const LidarDataSingleLine& record, CsvFrameKind kind = CsvFrameKind::Arriving) override;
  // Finishes the file: writes what is buffered, syncs it and puts it in place
  // of the target. False with a reason if any step failed; the target is then
  // unchanged and the temporary file removed.
  bool close(std::string& error) override;
  void discard() override;
  // Seen by the caller's thread as soon as the writing thread's write
  // failed.
  bool failed() const override;

  std::uint64_t rows() const override { return lines_; }
  std::string rowsText() const override { return std::to_string(lines_) + " lines"; }

 private:
  class Writer;

  CsvExportOptions options_;
  FileBeside target_;
  std::unique_ptr<Writer> writer_;  // null while no file is open
  std::uint64_t lines_ = 0;         // counted by the writer, known once the file is closed
};

}  // namespace z540k
