// Point cloud files of frames, for PCL, CloudCompare and mapping tools: the
// points of the CSV rows (same measurements, same x, y, z in centimetres),
// the files byte for byte as PCL's own PCD and PLY writers make them (PCL's
// headers and compression, a compressed cloud of more than 65,536 points
// compressed in blocks that PCL reads back to the same points; ASCII PLY numbers exact where PCL's keep 6 digits; the
// points written here, every write checked, where PCL's writers crash on a full disk or report a short file as written,
// and format text a character at a time).
//
// Every point has the fields
//   x y z       float32, centimetres, as the CSV's Points_X/Y/Z
//   intensity   float32, 0..255
//   azimuth     float64, degrees, as the CSV's azimuth
//   distance    float64, centimetres, as the CSV's distance
//   timestamp   float64, the measurement's time stamp (exact below 2^53)
//   frame       uint32, the frame's number from 1, as the CSV's FreamID
//   point       uint32, the measurement's place in its revolution, from 0
//   return      uint8, in dual return only: 1 first return, 2 second
// (x y z and distance in metres instead when asked). Measurements without a
// return (distance 0) are points at the sensor: left out and counted when
// asked (keepEmpty false).
//
// Merged, all frames go into one cloud, kept in memory (48 bytes a point, in
// blocks that never move; a compressed cloud keeps its full blocks compressed,
// about the file's size) and written at close() to a file beside the target
// that is then renamed over it. One file
// per frame (frame_000001.pcd, ...) goes into a new folder beside the target
// folder, renamed to it at close(); the target folder must not exist yet or
// be empty, so no file of the operator's is ever replaced. A frame without a
// point in the angle range gives no file (PCL writes no empty PLY). Either
// way a failed or discarded export leaves the target as it was.
//
// No PCL header here: PCL's are only in CloudFrameFile.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "CsvFrameFile.h"

namespace z540k {

enum class CloudFormat { Pcd, Ply };
// PCD knows all three; PLY binary and ASCII. ASCII PCD keeps every bit (17
// significant digits, as PCL's writer); ASCII PLY the shortest text that
// reads back exactly.
enum class CloudEncoding { Binary, Ascii, BinaryCompressed };

struct CloudFileOptions {
  CloudFormat format = CloudFormat::Pcd;
  CloudEncoding encoding = CloudEncoding::BinaryCompressed;
  bool merged = true;  // one file of all frames, else a folder of one file per frame
  // Keep the measurements without a return (points at the sensor, which
  // every viewer shows as a spike); left out and counted unless asked.
  bool keepEmpty = false;
  bool metres = false;  // x y z and distance in metres, else centimetres
};

// ".pcd" or ".ply" (any case) at the end of `path`: its format.
std::optional<CloudFormat> cloudFormatOfName(const std::string& path);
const char* cloudExtension(CloudFormat format);  // "pcd", "ply"
// The file of frame `frame` in a folder of one file per frame: frame_000001.pcd.
std::string cloudFrameFileName(long long frame, CloudFormat format);

class CloudFrameFile : public FrameFile {
 public:
  CloudFrameFile(CsvExportOptions options, long long maxFrames, CloudFileOptions cloud);
  // Abandons what was not closed (the target stays as it was).
  ~CloudFrameFile() override;

  bool open(const std::string& path, std::string& error) override;
  void writeFrame(const LidarDataSingleLine& record, CsvFrameKind kind = CsvFrameKind::Arriving) override;
  bool close(std::string& error) override;
  void discard() override;
  // A frame file that could not be written, or a merged cloud over its
  // memory limit.
  bool failed() const override;
  // A merged binary cloud of a capture read far enough for its point count
  // to be judged starts writing its points at once, at the place its header
  // will need: the disk then writes while the capture is decoded. Should the
  // count end with another number of digits, the file is written again
  // whole at close.
  void shareRead(std::uint64_t read, std::uint64_t total) override;
  std::uint64_t rows() const override { return points_; }
  std::string rowsText() const override;

  // Files written so far (one per frame with points; the merged file counts
  // once it is written).
  long long files() const { return files_; }
  // Measurements without a return left out so far.
  std::uint64_t leftOut() const override { return emptyLeftOut_; }

  // Merged clouds are held in memory until close(): at most this many bytes
  // of points (48 a point; a third of the machine's memory). A merged export that would need more fails with
  // a message naming the per-frame form instead.
  static std::uint64_t mergedLimitBytes();

  struct Points;  // the points held (defined where they are written)

 private:
  class FrameWriter;
  struct Stream;
  void streamFullBlocks();
  bool finishStream(bool& rewrite, std::string& error);
  bool writeMerged(std::string& error);
  // Writes `points` to `path`; failures name the file `named`.
  bool writeCloud(Points& points, const std::string& path, const std::string& named, std::string& error) const;
  void fail(std::string reason);
  void removeFolder();

  CsvExportOptions options_;
  CloudFileOptions cloud_;
  std::unique_ptr<Points> cloudData_;
  std::unique_ptr<CsvRowMemo> azimuths_;      // sines and cosines of the azimuths met
  std::unique_ptr<FrameWriter> frameWriter_;  // one file per frame
  std::unique_ptr<Stream> stream_;            // a merged binary cloud written as it grows
  bool streamJudged_ = false;
  FileBeside file_;         // merged: the file beside the target
  std::string target_;      // the target as given
  std::string folderPath_;  // one file per frame: the target folder (a link resolved)
  std::string tempFolder_;  // ...and the new folder beside it
  bool open_ = false;
  bool failed_ = false;
  std::string failure_;
  std::uint64_t points_ = 0;
  std::uint64_t emptyLeftOut_ = 0;  // measurements without a return not written
  long long files_ = 0;
};

}  // namespace z540k
