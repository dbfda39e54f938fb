#include "CloudFrameFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pcl/PCLPointCloud2.h>
#include <pcl/console/print.h>
#include <pcl/io/lzf.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace z540k {

namespace {

// The point's bytes: x y z intensity (float32), azimuth distance timestamp
// (float64), frame point (uint32), in the machine's (little-endian) order;
// in dual return then return (uint8: 1 first, 2 second).
constexpr std::uint32_t kPointStep = 48;
constexpr std::uint32_t kDualPointStep = 49;

pcl::PCLPointField field(const char* name, std::uint32_t offset, std::uint8_t type) {
  pcl::PCLPointField f;
  f.name = name;
  f.offset = offset;
  f.datatype = type;
  f.count = 1;
  return f;
}

std::vector<pcl::PCLPointField> pointFields(std::uint32_t step) {
  using F = pcl::PCLPointField;
  std::vector<pcl::PCLPointField> fields = {
      field("x", 0, F::FLOAT32),          field("y", 4, F::FLOAT32),        field("z", 8, F::FLOAT32),
      field("intensity", 12, F::FLOAT32), field("azimuth", 16, F::FLOAT64), field("distance", 24, F::FLOAT64),
      field("timestamp", 32, F::FLOAT64), field("frame", 40, F::UINT32),    field("point", 44, F::UINT32)};
  if (step == kDualPointStep) fields.push_back(field("return", 48, F::UINT8));
  return fields;
}

// PCL reports on its console; the export reports failures itself.
class QuietPcl {
 public:
  QuietPcl() : level_(pcl::console::getVerbosityLevel()) { pcl::console::setVerbosityLevel(pcl::console::L_ALWAYS); }
  ~QuietPcl() { pcl::console::setVerbosityLevel(level_); }

 private:
  pcl::console::VERBOSITY_LEVEL level_;
};

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool folderIsEmpty(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  bool empty = true;
  while (const dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  ::closedir(dir);
  return empty;
}

// The data of a file reaches the disk before a name points at it.
bool syncFile(const std::string& path, bool wholeFileSystem) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = (wholeFileSystem ? ::syncfs(fd) : ::fsync(fd)) == 0;
  ::close(fd);
  return ok;
}

// The bytes of a file, gathered into writes of a MiB or more, each one
// checked (a full disk, a file size limit: the first failure is kept and
// nothing more is written). Writeback is started for every 32 MiB, so the
// sync at the end waits for little.
class FileOutput {
 public:
  static constexpr std::size_t kLeastWrite = 1 << 20;
  // `buffer`: kLeastWrite bytes, kept from file to file.
  FileOutput(int fd, char* buffer) : fd_(fd), buffer_(buffer) {}
  void append(const char* data, std::size_t size) {
    if (used_ + size > kLeastWrite) drain();
    if (size >= kLeastWrite) {
      writeDirect(data, size);
      return;
    }
    std::memcpy(buffer_ + used_, data, size);
    used_ += size;
  }
  // Writes what is gathered: 0, or the errno of the first write that failed.
  int finish() {
    drain();
    return error_;
  }
  bool failed() const { return error_ != 0; }
  int error() const { return error_; }

 private:
  void drain() {
    if (used_ > 0) writeDirect(buffer_, used_);
    used_ = 0;
  }
  void writeDirect(const char* data, std::size_t size) {
    if (error_ != 0) return;
    error_ = writeWhole(fd_, data, size);
    written_ += size;
    if (error_ == 0 && written_ - writebackStarted_ >= kWritebackRange) {
      ::sync_file_range(fd_, static_cast<off_t>(writebackStarted_), static_cast<off_t>(written_ - writebackStarted_),
                        SYNC_FILE_RANGE_WRITE);
      writebackStarted_ = written_;
    }
  }

  static constexpr std::uint64_t kWritebackRange = 32 << 20;
  int fd_;
  char* buffer_;
  std::size_t used_ = 0;
  int error_ = 0;
  std::uint64_t written_ = 0, writebackStarted_ = 0;
};

// Numbers as text in an ASCII PCD file, as PCL's writer puts them through a
// stream with precision 17: `%.17g`. Whole numbers below the precision's
// reach (intensities, frame numbers, time stamps, whole centimetres) are
// plain integers in that format and take the short way; -0 stays "-0".
char* formatGeneral17(char* out, double v) {
  if (std::isnan(v)) {
    // A stream prints the sign of a NaN as printf does.
    if (std::signbit(v)) *out++ = '-';
    std::memcpy(out, "nan", 3);
    return out + 3;
  }
  if (v > -1e17 && v < 1e17) {
    const auto whole = static_cast<long long>(v);
    if (static_cast<double>(whole) == v) {
      if (whole == 0 && std::signbit(v)) *out++ = '-';
      return std::to_chars(out, out + 24, whole).ptr;
    }
  }
  return std::to_chars(out, out + 32, v, std::chars_format::general, 17).ptr;
}

// In an ASCII PLY file: the shortest text that reads back as the same value
// of the field's own type (float or double). A fixed number of digits (six,
// as PCL's PLY writer keeps) would cut time stamps and azimuths.
template <typename T>
char* formatShortest(char* out, T v) {
  if (std::isnan(v)) {
    if (std::signbit(v)) *out++ = '-';
    std::memcpy(out, "nan", 3);
    return out + 3;
  }
  // Whole numbers the type holds exactly (intensities, whole centimetres,
  // time stamps) take the short way: their shortest digits are their own
  // without trailing zeros, written plainly unless the exponent form is
  // shorter (ties go to the plain form).
  constexpr T kExact = sizeof(T) == 4 ? T(1 << 24) : T(1LL << 53);
  if (v > -kExact && v < kExact) {
    const auto whole = static_cast<long long>(v);
    if (static_cast<T>(whole) == v) {
      const unsigned long long magnitude = whole < 0 ? 0 - static_cast<unsigned long long>(whole) : whole;
      int digits = 1, zeros = 0;
      for (unsigned long long m = magnitude; m >= 10; m /= 10) ++digits;
      if (magnitude != 0)
        for (unsigned long long m = magnitude; m % 10 == 0; m /= 10) ++zeros;
      const int significant = digits - zeros;
      if (digits <= significant + (significant > 1 ? 1 : 0) + 4) {
        if (std::signbit(v)) *out++ = '-';
        return std::to_chars(out, out + 24, magnitude).ptr;
      }
    }
  }
  return std::to_chars(out, out + 32, v).ptr;
}

// The texts of the values a scan repeats revolution after revolution (its
// azimuths), by their bits: a two-way memo whose every entry holds what
// `Format` gives for its value, small enough to stay in a core's cache
// (distances vary too much for a memo to pay).
template <char* (*Format)(char*, double), int SetBits>
class TextMemo {
 public:
  TextMemo() : sets_(std::size_t{1} << SetBits) {
    Entry zero{};
    zero.length = static_cast<std::uint8_t>(Format(zero.text, 0.0) - zero.text);
    for (Set& set : sets_) set.way[0] = set.way[1] = zero;
  }
  char* put(char* out, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    Set& set = sets_[(bits * 0x9E3779B97F4A7C15u) >> (64 - SetBits)];
    const Entry* e = &set.way[0];
    if (e->bits != bits) {
      e = &set.way[1];
      if (e->bits != bits) {
        set.way[1] = set.way[0];
        set.way[0].bits = bits;
        set.way[0].length = static_cast<std::uint8_t>(Format(set.way[0].text, v) - set.way[0].text);
        e = &set.way[0];
      }
    }
    std::memcpy(out, e->text, e->length);
    return out + e->length;
  }

 private:
  struct Entry {
    std::uint64_t bits = 0;  // +0, whose text every entry starts with
    char text[31];           // at most 25 characters
    std::uint8_t length;
  };
  struct Set {
    Entry way[2];
  };
  std::vector<Set> sets_;
};

// What one formatting thread keeps from batch to batch and file to file.
template <bool Pcd>
struct PointTextMemos {
  static constexpr auto kFormat = Pcd ? &formatGeneral17 : &formatShortest<double>;
  TextMemo<kFormat, 13> azimuth;
};

// One point as a line of an ASCII PCD (Pcd true) or PLY file: its fields in
// order, separated by a space.
template <bool Pcd>
char* formatPoint(char* out, const std::uint8_t* point, std::uint32_t step, PointTextMemos<Pcd>& memos) {
  float singles[4];
  double doubles[3];
  std::uint32_t numbers[2];
  std::memcpy(singles, point, sizeof singles);
  std::memcpy(doubles, point + 16, sizeof doubles);
  std::memcpy(numbers, point + 40, sizeof numbers);
  for (const float v : singles) {
    out = Pcd ? formatGeneral17(out, v) : formatShortest(out, v);
    *out++ = ' ';
  }
  out = memos.azimuth.put(out, doubles[0]);
  *out++ = ' ';
  out = Pcd ? formatGeneral17(out, doubles[1]) : formatShortest(out, doubles[1]);
  *out++ = ' ';
  out = Pcd ? formatGeneral17(out, doubles[2]) : formatShortest(out, doubles[2]);
  *out++ = ' ';
  out = std::to_chars(out, out + 12, numbers[0]).ptr;
  *out++ = ' ';
  out = std::to_chars(out, out + 12, numbers[1]).ptr;
  if (step == kDualPointStep) {
    *out++ = ' ';
    out = std::to_chars(out, out + 4, unsigned{point[48]}).ptr;
  }
  *out++ = '\n';
  return out;
}
// The longest line: 7 numbers of at most 25 characters, 2 of 10, one of 3, spaces.
constexpr std::size_t kLongestLine = 7 * 25 + 2 * 10 + 3 + 10;

// Formats `count` points at `points` as lines into `text`.
// Lines of text, in a buffer that is not cleared before it is written.
struct Lines {
  std::unique_ptr<char[]> data;
  std::size_t room = 0, size = 0;
};

template <bool Pcd>
void formatPoints(const std::uint8_t* points, std::size_t count, std::uint32_t step, Lines& text,
                  PointTextMemos<Pcd>& memos) {
  if (text.room < count * kLongestLine) {
    text.data.reset(new char[count * kLongestLine]);
    text.room = count * kLongestLine;
  }
  char* out = text.data.get();
  for (std::size_t i = 0; i < count; ++i) out = formatPoint<Pcd>(out, points + i * step, step, memos);
  text.size = static_cast<std::size_t>(out - text.data.get());
}

// Field `offset` (of `bytes` bytes) of `count` points, one after the other
// into `out`: copies of a size known here, which the compiler makes single
// moves instead of a call per value.
template <std::size_t Bytes>
void gatherField(char* out, const std::uint8_t* points, std::size_t count, std::uint32_t step, std::size_t offset) {
  for (std::size_t i = 0; i < count; ++i, out += Bytes) std::memcpy(out, points + i * step + offset, Bytes);
}
void gatherField(char* out, const std::uint8_t* points, std::size_t count, std::uint32_t step, std::size_t offset,
                 std::size_t bytes) {
  switch (bytes) {
    case 1:
      return gatherField<1>(out, points, count, step, offset);
    case 4:
      return gatherField<4>(out, points, count, step, offset);
    case 8:
      return gatherField<8>(out, points, count, step, offset);
    default:
      for (std::size_t i = 0; i < count; ++i) std::memcpy(out + i * bytes, points + i * step + offset, bytes);
  }
}

// The points' fields one after the other (all x, all y, ...), each field
// compressed on its own with PCL's LZF, appended to `out` (one text per
// field). LZF streams joined end to end decompress to their data joined, so
// a cloud's blocks compressed one after the other give, field by field, the
// stream PCL's reader takes. A field LZF cannot shrink is written as LZF's
// literal runs (32 bytes after a count), which it reads all the same.
void compressFields(const std::uint8_t* points, std::size_t count, std::uint32_t step, std::vector<std::string>& out) {
  const std::vector<pcl::PCLPointField> fields = pointFields(step);
  out.resize(fields.size());
  std::string plane, compressed;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    const std::size_t bytes = pcl::getFieldSize(fields[f].datatype);
    plane.resize(count * bytes);
    gatherField(plane.data(), points, count, step, fields[f].offset, bytes);
    compressed.resize(plane.size() + plane.size() / 16 + 64);
    const unsigned int size = plane.empty()
                                  ? 0
                                  : pcl::lzfCompress(plane.data(), static_cast<unsigned int>(plane.size()),
                                                     compressed.data(), static_cast<unsigned int>(compressed.size()));
    if (size > 0 || plane.empty()) {
      out[f].assign(compressed.data(), size);
      continue;
    }
    out[f].clear();
    for (std::size_t i = 0; i < plane.size(); i += 32) {
      const std::size_t run = std::min<std::size_t>(32, plane.size() - i);
      out[f].push_back(static_cast<char>(run - 1));
      out[f].append(plane, i, run);
    }
  }
}

}  // namespace

// The points held, in blocks that never move as more arrive (a growing
// vector would copy them, and hold both copies for a moment). A merged
// export holds every point until close(); one file per frame, a frame's.
struct CloudFrameFile::Points {
  static constexpr std::size_t kBlockPoints = std::size_t{1} << 16;  // 3 MiB
  ~Points() {
    clear();
    endFinishing();
  }
  std::uint64_t size() const { return size_; }
  // The bytes of a point (kPointStep, or kDualPointStep with the return);
  // set while no point is held.
  std::uint32_t step = kPointStep;
  // The next point's bytes, to be filled.
  std::uint8_t* add() {
    if (size_ == blocks_.size() * kBlockPoints && !grow()) return nullptr;
    std::uint8_t* at = blocks_[size_ / kBlockPoints] + (size_ % kBlockPoints) * step;
    ++size_;
    return at;
  }
  // Forgets the points; the first block stays for the next frame.
  void reset() {
    while (blocks_.size() > 1) {
      std::free(blocks_.back());
      blocks_.pop_back();
    }
    size_ = 0;
  }
  // Forgets the points (compressed ones too) and gives their memory back.
  void clear() {
    forgetFinished();
    for (std::uint8_t* block : blocks_) std::free(block);
    blocks_.clear();
    size_ = 0;
  }
  std::size_t blocks() const { return blocks_.size(); }
  // Block `i`'s points and their count.
  const std::uint8_t* block(std::size_t i) const { return blocks_[i]; }
  std::size_t blockSize(std::size_t i) const {
    return i + 1 < blocks_.size() ? kBlockPoints : static_cast<std::size_t>(size_ - i * kBlockPoints);
  }
  // Takes the first block, which is full, out of the points held: the
  // caller owns it (std::free) and the points after it move up.
  std::uint8_t* takeFirstBlock() {
    std::uint8_t* first = blocks_.front();
    blocks_.erase(blocks_.begin());
    size_ -= kBlockPoints;
    return first;
  }
  // Gives block `i`'s memory back while the blocks after it stay.
  void release(std::size_t i) {
    std::free(blocks_[i]);
    blocks_[i] = nullptr;
  }

 private:
  bool grow() {
    // Plain pages: on this kind of machine (a virtual one) huge pages come
    // cold from the host and cost more to clear than the small ones.
    auto* block = static_cast<std::uint8_t*>(std::malloc(kBlockPoints * kDualPointStep));
    if (!block) return false;
    try {
      blocks_.push_back(block);
    } catch (const std::bad_alloc&) {
      std::free(block);
      return false;
    }
    return true;
  }

  std::vector<std::uint8_t*> blocks_;
  std::uint64_t size_ = 0;

 public:
  // Where a file's writes are gathered, kept from file to file.
  std::unique_ptr<char[]> output{new char[FileOutput::kLeastWrite]};
  // The texts of ASCII files' values, per formatting thread, kept from file
  // to file (made at the first ASCII file).
  struct TextMemos {
    PointTextMemos<true> pcd[2];
    PointTextMemos<false> ply[2];
  };
  TextMemos& textMemos() {
    if (!memos_) memos_ = std::make_shared<TextMemos>();
    return *memos_;
  }
  // Shared by point sets that are formatted one after the other.
  std::shared_ptr<TextMemos> memos_;

  // A merged cloud of more than a block, compressed or as text: its full
  // blocks are turned into the file's bytes as they fill (each field
  // compressed on its own, or the points' lines), by a thread of their own
  // while the next blocks fill, or by the exporting thread itself when two
  // blocks wait already. Memory then holds about the file's size instead of
  // every point, and both cores work while the capture is decoded. A cloud
  // of one block is finished whole at the end, as PCL writes it.
  struct Finished {
    struct ThreadTools {
      PointTextMemos<true> pcd;
      PointTextMemos<false> ply;
      Lines lines;
    };
    struct Job {
      std::uint8_t* block;
      std::vector<std::string>* result;
    };
    bool text = false, pcd = true;                // the form: text (PCD or PLY) or compressed
    std::deque<std::vector<std::string>> blocks;  // in order: per block its fields compressed, or its text
    std::atomic<std::uint64_t> bytes{0};          // of the blocks finished
    std::uint64_t points = 0;                     // in the blocks finished or on their way
    std::deque<Job> queue;
    std::mutex mutex;
    std::condition_variable wake, done;
    std::thread worker;
    bool noThread = false, working = false, ending = false;
    std::atomic<bool> failed{false};  // out of memory
    std::unique_ptr<ThreadTools> workerTools, callerTools;
  } finished;

  // Hands the first (full) block over to be finished.
  void finishFirstBlock(bool text, bool pcd) {
    Finished& f = finished;
    std::unique_lock<std::mutex> lock(f.mutex);
    f.text = text;
    f.pcd = pcd;
    f.blocks.emplace_back();
    f.queue.push_back(Finished::Job{takeFirstBlock(), &f.blocks.back()});
    f.points += kBlockPoints;
    if (!f.worker.joinable() && !f.noThread) {
      try {
        f.worker = std::thread([this] { finishingThread(); });
      } catch (const std::system_error&) {
        f.noThread = true;  // finished here instead
      }
    }
    if (f.noThread || f.queue.size() > 2)
      finishQueued(lock, f.callerTools);
    else
      f.wake.notify_one();
  }
  // Waits for every block handed over, finishing queued ones meanwhile.
  void finishAll() {
    Finished& f = finished;
    std::unique_lock<std::mutex> lock(f.mutex);
    while (!f.queue.empty()) finishQueued(lock, f.callerTools);
    f.done.wait(lock, [&f] { return !f.working; });
  }
  void forgetFinished() {
    finishAll();
    finished.blocks.clear();
    finished.bytes = 0;
    finished.points = 0;
    finished.failed = false;
  }
  void endFinishing() {
    {
      const std::lock_guard<std::mutex> lock(finished.mutex);
      finished.ending = true;
    }
    finished.wake.notify_all();
    if (finished.worker.joinable()) finished.worker.join();
  }

 private:
  void finishingThread() {
    Finished& f = finished;
    std::unique_lock<std::mutex> lock(f.mutex);
    for (;;) {
      f.wake.wait(lock, [&f] { return !f.queue.empty() || f.ending; });
      if (f.queue.empty()) return;
      f.working = true;
      while (!f.queue.empty()) finishQueued(lock, f.workerTools);
      f.working = false;
      f.done.notify_all();
    }
  }
  // Finishes the oldest block queued, the lock released meanwhile; each
  // thread with its own text memos and buffer.
  void finishQueued(std::unique_lock<std::mutex>& lock, std::unique_ptr<Finished::ThreadTools>& tools) {
    Finished& f = finished;
    const Finished::Job job = f.queue.front();
    f.queue.pop_front();
    const bool text = f.text, pcd = f.pcd;
    lock.unlock();
    std::uint64_t bytes = 0;
    try {
      if (!tools) tools = std::make_unique<Finished::ThreadTools>();
      if (!text) {
        compressFields(job.block, kBlockPoints, step, *job.result);
      } else {
        if (pcd)
          formatPoints<true>(job.block, kBlockPoints, step, tools->lines, tools->pcd);
        else
          formatPoints<false>(job.block, kBlockPoints, step, tools->lines, tools->ply);
        job.result->assign(1, std::string(tools->lines.data.get(), tools->lines.size));
      }
      for (const std::string& part : *job.result) bytes += part.size();
    } catch (const std::bad_alloc&) {
      f.failed = true;
    }
    std::free(job.block);
    f.bytes += bytes;
    lock.lock();
  }

 public:
};
namespace {

// The cloud's description as PCL's header writers take it.
pcl::PCLPointCloud2 describedCloud(std::uint64_t points, std::uint32_t step) {
  pcl::PCLPointCloud2 cloud;
  cloud.fields = pointFields(step);
  cloud.point_step = step;
  cloud.height = 1;
  cloud.width = static_cast<std::uint32_t>(points);
  cloud.row_step = cloud.width * step;
  cloud.is_bigendian = false;
  cloud.is_dense = true;
  return cloud;
}

// The header PCL's writers give the file, through PCL itself.
std::string cloudHeader(CloudFormat format, CloudEncoding encoding, std::uint64_t points, std::uint32_t step) {
  const pcl::PCLPointCloud2 cloud = describedCloud(points, step);
  const Eigen::Vector4f origin = Eigen::Vector4f::Zero();
  const Eigen::Quaternionf orientation = Eigen::Quaternionf::Identity();
  const int count = static_cast<int>(cloud.width);
  if (format == CloudFormat::Ply) {
    // No camera element: plain vertices for every reader.
    pcl::PLYWriter writer;
    return encoding == CloudEncoding::Ascii ? writer.generateHeaderASCII(cloud, origin, orientation, count, false)
                                            : writer.generateHeaderBinary(cloud, origin, orientation, count, false);
  }
  pcl::PCDWriter writer;
  switch (encoding) {
    case CloudEncoding::Ascii:
      return writer.generateHeaderASCII(cloud, origin, orientation) + "DATA ascii\n";
    case CloudEncoding::Binary:
      return writer.generateHeaderBinary(cloud, origin, orientation) + "DATA binary\n";
    case CloudEncoding::BinaryCompressed:
      break;
  }
  return writer.generateHeaderBinaryCompressed(cloud, origin, orientation) + "DATA binary_compressed\n";
}

// The points as text (PCD as PCL's writer puts them, PLY in the shortest
// exact form), formatted by two threads in turn, written in order.
void writeText(FileOutput& file, CloudFrameFile::Points& points, bool pcd) {
  constexpr std::size_t kBatch = 1 << 15;
  const std::uint32_t step = points.step;
  CloudFrameFile::Points::TextMemos& memos = points.textMemos();
  auto format = [pcd, step, &memos](const std::uint8_t* at, std::size_t count, Lines& text, int thread) {
    if (pcd)
      formatPoints<true>(at, count, step, text, memos.pcd[thread]);
    else
      formatPoints<false>(at, count, step, text, memos.ply[thread]);
  };
  for (const std::vector<std::string>& block : points.finished.blocks) file.append(block[0].data(), block[0].size());
  Lines mine, helpers;
  for (std::size_t b = 0; b < points.blocks() && !file.failed(); ++b) {
    const std::uint8_t* data = points.block(b);
    const std::size_t size = points.blockSize(b);
    for (std::size_t i = 0; i < size && !file.failed(); i += 2 * kBatch) {
      const std::size_t first = std::min(kBatch, size - i);
      const std::size_t second = std::min(kBatch, size - i - first);
      if (second == 0) {
        format(data + i * step, first, mine, 0);
        file.append(mine.data.get(), mine.size);
        continue;
      }
      std::thread helper(format, data + (i + first) * step, second, std::ref(helpers), 1);
      format(data + i * step, first, mine, 0);
      helper.join();
      file.append(mine.data.get(), mine.size);
      file.append(helpers.data.get(), helpers.size);
    }
  }
}

// A binary compressed PCD's data as PCL writes it: the fields one after the
// other (all x, all y, ...), compressed whole with PCL's LZF, after the
// compressed and the plain size (uint32 each). 0, or PCL's refusal (-2: too
// large for the format's sizes; -1: not compressed). With `giveBack` the
// points' blocks are freed as they are rearranged (the points are then
// gone).
int writeCompressed(FileOutput& file, CloudFrameFile::Points& points, bool giveBack) {
  const std::uint64_t count = points.size();
  const std::uint32_t step = points.step;
  const std::uint64_t size = count * step;
  if (size * 3 / 2 > std::numeric_limits<std::uint32_t>::max()) return -2;
  const std::vector<pcl::PCLPointField> fields = pointFields(step);
  std::unique_ptr<char[]> fieldwise(new char[size]);
  std::vector<char*> planes;
  std::uint64_t start = 0;
  for (const pcl::PCLPointField& f : fields) {
    planes.push_back(fieldwise.get() + start);
    start += count * pcl::getFieldSize(f.datatype);
  }
  for (std::size_t b = 0; b < points.blocks(); ++b) {
    const std::size_t n = points.blockSize(b);
    for (std::size_t f = 0; f < fields.size(); ++f) {
      const std::size_t bytes = pcl::getFieldSize(fields[f].datatype);
      gatherField(planes[f], points.block(b), n, step, fields[f].offset, bytes);
      planes[f] += n * bytes;
    }
    if (giveBack) points.release(b);
  }
  if (giveBack) points.clear();
  const std::uint64_t room = size * 3 / 2;
  std::unique_ptr<char[]> compressed(new char[room + 8]);
  unsigned int compressedSize = 0;
  if (size > 0) {
    QuietPcl quiet;
    compressedSize = pcl::lzfCompress(fieldwise.get(), static_cast<unsigned int>(size), compressed.get() + 8,
                                      static_cast<unsigned int>(room));
    if (compressedSize == 0) return -1;
  }
  fieldwise.reset();
  const std::uint32_t sizes[2] = {compressedSize, static_cast<std::uint32_t>(size)};
  std::memcpy(compressed.get(), sizes, sizeof sizes);
  file.append(compressed.get(), compressedSize + 8);
  return 0;
}

// A binary compressed PCD's data from the blocks compressed as they filled
// and the points still held (compressed now): the compressed and the plain
// size, then each field's streams block after block. 0, or -2 when the
// format's sizes cannot hold the cloud (PCL's own limit).
int writeCompressedBlocks(FileOutput& file, CloudFrameFile::Points& points) {
  CloudFrameFile::Points::Finished& f = points.finished;
  if (f.failed) throw std::bad_alloc();
  const std::uint64_t size = (f.points + points.size()) * points.step;
  if (size * 3 / 2 > std::numeric_limits<std::uint32_t>::max()) return -2;
  std::uint64_t bytes = f.bytes;
  for (std::size_t b = 0; b < points.blocks(); ++b) {
    std::vector<std::string> fields;
    compressFields(points.block(b), points.blockSize(b), points.step, fields);
    for (const std::string& field : fields) bytes += field.size();
    f.blocks.push_back(std::move(fields));
    points.release(b);
  }
  if (bytes > std::numeric_limits<std::uint32_t>::max()) return -2;
  const std::uint32_t sizes[2] = {static_cast<std::uint32_t>(bytes), static_cast<std::uint32_t>(size)};
  file.append(reinterpret_cast<const char*>(sizes), sizeof sizes);
  for (std::size_t field = 0; field < f.blocks.front().size(); ++field)
    for (const std::vector<std::string>& block : f.blocks) file.append(block[field].data(), block[field].size());
  return 0;
}

// Writes the points held to `path` in the form asked, the file as PCL's
// writers make it, through checked writes. 0, or -1 with errno set when the
// system gave a reason (0 when the format refused the cloud). `giveBack`:
// a compressed file may free the points as it goes.
int writePoints(const std::string& path, CloudFrameFile::Points& points, CloudFormat format, CloudEncoding encoding,
                bool giveBack) {
  points.finishAll();
  if (points.finished.failed) throw std::bad_alloc();
  const bool inBlocks = points.finished.points > 0;
  const std::string header = cloudHeader(format, encoding, points.finished.points + points.size(), points.step);
  // "-": standard output.
  const int fd = path == "-" ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0)
                             : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  int result = 0;
  int error = 0;
  try {
    FileOutput file(fd, points.output.get());
    file.append(header.data(), header.size());
    if (encoding == CloudEncoding::Ascii) {
      writeText(file, points, format == CloudFormat::Pcd);
    } else if (encoding == CloudEncoding::BinaryCompressed) {
      result = inBlocks ? writeCompressedBlocks(file, points) : writeCompressed(file, points, giveBack);
    } else {
      for (std::size_t b = 0; b < points.blocks(); ++b)
        file.append(reinterpret_cast<const char*>(points.block(b)), points.blockSize(b) * points.step);
    }
    error = file.finish();
  } catch (const std::bad_alloc&) {
    error = ENOMEM;
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    errno = error;
    return -1;
  }
  if (result != 0) errno = 0;  // the format's own refusal (a cloud too large for it)
  return result == 0 ? 0 : -1;
}

}  // namespace

// One file per frame: frames' points are written by a thread of the
// writer's own while the caller computes the next frames' into other point
// sets. The thread is woken for a few frames at a time (a wake costs more
// than a small frame's file). A caller that finds every set taken writes
// queued files itself instead of waiting, so slow forms (text, compression)
// keep both cores busy. Where no thread can be had, the caller writes every
// file.
class CloudFrameFile::FrameWriter {
 public:
  explicit FrameWriter(const CloudFrameFile& file) : file_(file) {}
  ~FrameWriter() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      ending_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  // Hands `points` over to be written to `path` (failures name `named`) and
  // gives the caller an empty point set in their place. False with the
  // reason when a file written here failed; `files` counts those written.
  bool write(std::unique_ptr<Points>& points, const std::string& path, const std::string& named, long long& files,
             std::string& error) {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint32_t step = points->step;
    queue_.push_back(Job{std::move(points), path, named, handed_++});
    if (!startThread()) {
      writeQueued(lock, callerMemos_);
    } else if (queue_.size() >= kFramesAWake) {
      wake_.notify_one();
    }
    while (spare_.empty() && sets_ >= kSets) {
      if (queue_.empty()) {
        done_.wait(lock);
      } else {
        wake_.notify_one();
        writeQueued(lock, callerMemos_);
      }
    }
    if (spare_.empty()) {
      points = std::make_unique<Points>();
      ++sets_;
    } else {
      points = std::move(spare_.back());
      spare_.pop_back();
    }
    points->step = step;
    // A failure of a file still on its way is told by finish(), once the
    // files before it are written too (failing() says so meanwhile).
    if (noThread_) return taken(files, error);
    files += written_;
    written_ = 0;
    return true;
  }
  // Waits for the files on their way, writing queued ones meanwhile; false
  // with the first failure.
  bool finish(long long& files, std::string& error) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.notify_one();
    while (!queue_.empty()) writeQueued(lock, callerMemos_);
    done_.wait(lock, [this] { return !writing_; });
    return taken(files, error);
  }
  // True once a file failed (seen before write() or finish() say why).
  bool failing() const { return failing_.load(std::memory_order_acquire); }

 private:
  static constexpr std::size_t kFramesAWake = 8;
  static constexpr int kSets = 2 * kFramesAWake;
  struct Job {
    std::unique_ptr<Points> points;
    std::string path, named;
    std::uint64_t order;  // jobs are handed over in frame order
  };
  // Counts the files written since and takes a failure; under the lock.
  bool taken(long long& files, std::string& error) {
    files += written_;
    written_ = 0;
    if (failure_.empty()) return true;
    error = std::move(failure_);
    failure_.clear();
    failing_.store(false, std::memory_order_relaxed);
    return false;
  }
  bool startThread() {
    if (thread_.joinable() || noThread_) return thread_.joinable();
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      noThread_ = true;
    }
    return thread_.joinable();
  }
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !queue_.empty() || ending_; });
      if (queue_.empty()) return;
      writing_ = true;
      while (!queue_.empty()) writeQueued(lock, writerMemos_);
      writing_ = false;
      done_.notify_all();
    }
  }
  // Takes the oldest queued file and writes it, the lock released
  // meanwhile; after a failure files on their way are not written. Called
  // with the lock held, by the writer thread or the caller, each with the
  // text memos of its own.
  void writeQueued(std::unique_lock<std::mutex>& lock, std::shared_ptr<Points::TextMemos>& memos) {
    Job job = std::move(queue_.front());
    queue_.pop_front();
    if (file_.cloud_.encoding == CloudEncoding::Ascii) {
      if (!memos) memos = std::make_shared<Points::TextMemos>();
      job.points->memos_ = memos;
    }
    lock.unlock();
    std::string error;
    bool written = false;
    if (!failing()) {
      written = file_.writeCloud(*job.points, job.path, job.named, error);
      if (written)
        ::chmod(job.path.c_str(), newFileMode(0666));
      else
        failing_.store(true, std::memory_order_release);
    }
    job.points->reset();
    lock.lock();
    if (written) ++written_;
    // Two threads write: the failure told is that of the earliest frame.
    if (!error.empty() && (failure_.empty() || job.order < failureOrder_)) {
      failure_ = std::move(error);
      failureOrder_ = job.order;
    }
    spare_.push_back(std::move(job.points));
    done_.notify_all();
  }

  const CloudFrameFile& file_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::thread thread_;
  bool noThread_ = false, writing_ = false, ending_ = false;
  std::deque<Job> queue_;
  std::vector<std::unique_ptr<Points>> spare_;
  int sets_ = 1;  // the caller's
  std::shared_ptr<Points::TextMemos> writerMemos_, callerMemos_;
  long long written_ = 0;
  std::string failure_;
  std::uint64_t failureOrder_ = 0, handed_ = 0;
  std::atomic<bool> failing_{false};
};

bool CloudFrameFile::failed() const { return failed_ || frameWriter_->failing(); }

// A merged binary cloud written as it grows: its full blocks go to the file
// after room for the header of a count of `digits` digits.
struct CloudFrameFile::Stream {
  ~Stream() {
    if (fd >= 0) ::close(fd);
  }
  int fd = -1;
  int digits = 0;
  std::size_t headerLength = 0;
  std::size_t blocksWritten = 0;
  std::unique_ptr<FileOutput> out;  // through the points' own output buffer
};

namespace {

int decimalDigits(std::uint64_t n) {
  int digits = 1;
  for (; n >= 10; n /= 10) ++digits;
  return digits;
}

std::uint64_t powerOfTen(int exponent) {
  std::uint64_t p = 1;
  while (exponent-- > 0) p *= 10;
  return p;
}

}  // namespace

void CloudFrameFile::shareRead(std::uint64_t read, std::uint64_t total) {
  if (streamJudged_ || !open_ || failed() || !cloud_.merged || cloud_.encoding != CloudEncoding::Binary ||
      file_.inPlace() || total == 0 || read < total / 16 || cloudData_->blocks() < 2)
    return;
  streamJudged_ = true;
  // The count the whole capture will give, judged from the share read; too
  // near another number of digits, the cloud stays in memory until close.
  double estimate = static_cast<double>(points_) * static_cast<double>(total) / static_cast<double>(read);
  // An export of the first frames ends sooner than the capture.
  if (maxFrames_ > 0 && frames_ > 0)
    estimate = std::min(estimate,
                        static_cast<double>(points_) / static_cast<double>(frames_) * static_cast<double>(maxFrames_));
  const int digits = decimalDigits(static_cast<std::uint64_t>(estimate));
  if (decimalDigits(static_cast<std::uint64_t>(estimate * 0.8)) != digits ||
      decimalDigits(static_cast<std::uint64_t>(estimate * 1.25)) != digits)
    return;
  auto stream = std::make_unique<Stream>();
  stream->digits = digits;
  stream->headerLength = cloudHeader(cloud_.format, cloud_.encoding, powerOfTen(digits - 1), cloudData_->step).size();
  stream->fd = ::open(file_.writtenPath().c_str(), O_WRONLY | O_CLOEXEC);
  if (stream->fd < 0 || ::lseek(stream->fd, static_cast<off_t>(stream->headerLength), SEEK_SET) < 0) return;
  stream->out = std::make_unique<FileOutput>(stream->fd, cloudData_->output.get());
  stream_ = std::move(stream);
  streamFullBlocks();
}

// Writes the blocks that filled since, all but the last.
void CloudFrameFile::streamFullBlocks() {
  Points& points = *cloudData_;
  Stream& s = *stream_;
  for (; s.blocksWritten + 1 < points.blocks() && !s.out->failed(); ++s.blocksWritten)
    s.out->append(reinterpret_cast<const char*>(points.block(s.blocksWritten)), Points::kBlockPoints * points.step);
  if (s.out->failed()) fail("writing " + target_ + " failed: " + std::strerror(s.out->error()));
}

// Writes the rest and the header of a cloud streamed: true when the file is
// complete; false with `error` when a write failed. A count of other digits
// than judged leaves the file to be written again whole (`rewrite`).
bool CloudFrameFile::finishStream(bool& rewrite, std::string& error) {
  Points& points = *cloudData_;
  Stream& s = *stream_;
  rewrite = false;
  for (; s.blocksWritten < points.blocks(); ++s.blocksWritten)
    s.out->append(reinterpret_cast<const char*>(points.block(s.blocksWritten)),
                  points.blockSize(s.blocksWritten) * points.step);
  int e = s.out->finish();
  const std::string header = cloudHeader(cloud_.format, cloud_.encoding, points_, points.step);
  if (e == 0 && header.size() != s.headerLength) {
    rewrite = true;
    return false;
  }
  for (std::size_t done = 0; e == 0 && done < header.size();) {
    const ssize_t n = ::pwrite(s.fd, header.data() + done, header.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      e = n < 0 ? errno : EIO;
    else
      done += static_cast<std::size_t>(n);
  }
  if (::close(s.fd) != 0 && e == 0) e = errno;
  s.fd = -1;
  if (e != 0) error = "writing " + target_ + " failed: " + std::strerror(e);
  return e == 0;
}

std::optional<CloudFormat> cloudFormatOfName(const std::string& path) {
  if (path.size() < 4) return std::nullopt;
  std::string ext = path.substr(path.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == ".pcd") return CloudFormat::Pcd;
  if (ext == ".ply") return CloudFormat::Ply;
  return std::nullopt;
}

const char* cloudExtension(CloudFormat format) { return format == CloudFormat::Ply ? "ply" : "pcd"; }

std::string cloudFrameFileName(long long frame, CloudFormat format) {
  char name[64];
  std::snprintf(name, sizeof name, "frame_%06lld.%s", frame, cloudExtension(format));
  return name;
}

std::uint64_t CloudFrameFile::mergedLimitBytes() {
  // Read once: the machine's memory does not change during an export.
  static const std::uint64_t limit = [] {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return std::uint64_t{1} << 30;
    // A third of the memory: the points are held once, and a compressed
    // file needs them rearranged and compressed besides.
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 3;
  }();
  return limit;
}

CloudFrameFile::CloudFrameFile(CsvExportOptions options, long long maxFrames, CloudFileOptions cloud)
    : FrameFile(maxFrames),
      options_(options),
      cloud_(cloud),
      cloudData_(std::make_unique<Points>()),
      frameWriter_(std::make_unique<FrameWriter>(*this)) {
  // PLY has no compressed form: binary instead.
  if (cloud_.format == CloudFormat::Ply && cloud_.encoding == CloudEncoding::BinaryCompressed)
    cloud_.encoding = CloudEncoding::Binary;
}

CloudFrameFile::~CloudFrameFile() { discard(); }

bool CloudFrameFile::open(const std::string& path, std::string& error) {
  discard();
  target_ = path;
  failed_ = false;
  failure_.clear();
  frames_ = 0;
  points_ = 0;
  files_ = 0;
  emptyLeftOut_ = 0;
  cloudData_->clear();
  if (cloud_.merged) {
    const int fd = file_.create(path, path == "-", error);
    if (fd < 0) return false;
    ::close(fd);  // written by its name at close() ("-": standard output)
    open_ = true;
    return true;
  }

  // One file per frame: a new folder beside the target folder.
  folderPath_ = withoutTrailingSlashes(path);
  struct stat target {};
  mode_t mode = newFileMode(0777);
  if (::stat(folderPath_.c_str(), &target) == 0) {
    if (!S_ISDIR(target.st_mode)) {
      error = "cannot write " + path + ": it is not a folder (the frames go into a folder, one file each)";
      return false;
    }
    if (!folderIsEmpty(folderPath_)) {
      error = "cannot write into " + path + ": the folder is not empty (give a new or an empty folder)";
      return false;
    }
    char resolved[PATH_MAX];
    if (::realpath(folderPath_.c_str(), resolved)) folderPath_ = resolved;
    mode = target.st_mode & 07777;
  }
  const auto slash = folderPath_.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : folderPath_.substr(0, slash);
  const std::string name = slash == std::string::npos ? folderPath_ : folderPath_.substr(slash + 1);
  std::string temp = parent + (parent == "/" ? "." : "/.") + name + ".XXXXXX";
  if (!::mkdtemp(&temp[0])) {
    error = "cannot create a folder beside " + path + ": " + std::strerror(errno);
    return false;
  }
  tempFolder_ = temp;
  ::chmod(tempFolder_.c_str(), mode);
  open_ = true;
  return true;
}

void CloudFrameFile::fail(std::string reason) {
  if (failed_) return;
  failed_ = true;
  failure_ = std::move(reason);
  cloudData_->clear();  // gives the memory back
}

void CloudFrameFile::writeFrame(const LidarDataSingleLine& record, CsvFrameKind kind) {
  // After a failure the export is over: close() says why.
  if (!open_ || complete() || failed()) return;
  ++frames_;
  Points& points = *cloudData_;
  if (!cloud_.merged) points.reset();
  // The return field comes with the first frame of dual return (a merged
  // cloud keeps the fields of its first frame).
  const bool dual = record.secondReturnsFrom != LidarDataSingleLine::kNotDual;
  if (points.size() == 0 && (!cloud_.merged || points_ == 0)) points.step = dual ? kDualPointStep : kPointStep;
  const std::uint64_t before = points.size();
  const std::uint32_t frame = static_cast<std::uint32_t>(frames_);
  // Centimetres, as the CSV; or metres.
  const double scale = cloud_.metres ? 0.01 : 1.0;
  bool held = true;
  if (!azimuths_) azimuths_ = std::make_unique<CsvRowMemo>();
  CsvRowMemo& azimuths = *azimuths_;
  forEachExportedMeasurement(record, options_, [&](std::size_t j, double a, double d) {
    // No return: a point at the sensor, left out unless asked for.
    if (record.distance[j] == 0 && !cloud_.keepEmpty) {
      ++emptyLeftOut_;
      return;
    }
    std::uint8_t* out = held ? points.add() : nullptr;
    if (!out) {
      held = false;
      return;
    }
    const CsvRowMemo::Azimuth& azimuth = azimuths.of(a);
    const CsvPoint p = csvPoint(d, azimuth.sine, azimuth.cosine, options_.viewMode, kind);
    const float singles[4] = {
        cloud_.metres ? static_cast<float>(p.x * scale) : p.x, cloud_.metres ? static_cast<float>(p.y * scale) : p.y,
        cloud_.metres ? static_cast<float>(p.z * scale) : p.z, static_cast<float>(record.intensity[j])};
    const double doubles[3] = {a, d / 10 * scale, static_cast<double>(record.timestamp[j])};
    const std::uint32_t numbers[2] = {frame, static_cast<std::uint32_t>(j)};
    std::memcpy(out, singles, sizeof singles);
    std::memcpy(out + 16, doubles, sizeof doubles);
    std::memcpy(out + 40, numbers, sizeof numbers);
    if (points.step == kDualPointStep) out[48] = !dual ? 0 : j < record.secondReturnsFrom ? 1 : 2;
  });
  const std::uint64_t added = points.size() - before;
  points_ += added;
  if (cloud_.merged) {
    if (cloud_.encoding == CloudEncoding::BinaryCompressed)
      while (points.blocks() > 1) points.finishFirstBlock(false, true);
    else if (cloud_.encoding == CloudEncoding::Ascii)
      while (points.blocks() > 1) points.finishFirstBlock(true, cloud_.format == CloudFormat::Pcd);
    if (stream_) streamFullBlocks();
    if (failed()) return;
    if (points.size() * points.step + points.finished.bytes > mergedLimitBytes()) {
      fail("the merged cloud would take more than " + std::to_string(mergedLimitBytes() >> 20) +
           " MB of memory; write one file per frame instead");
    } else if (!held || points.finished.failed) {
      fail("not enough memory for the merged cloud; write one file per frame instead");
    }
    return;
  }
  if (!held) {
    fail("not enough memory for the points of frame " + std::to_string(frames_));
    return;
  }
  if (added == 0) return;

  // One file per frame, straight into the new folder, written by the frame
  // writer's thread while the next frame's points are computed.
  const std::string name = cloudFrameFileName(frames_, cloud_.format);
  std::string error;
  if (!frameWriter_->write(cloudData_, tempFolder_ + "/" + name, target_ + "/" + name, files_, error)) fail(error);
}

std::string CloudFrameFile::rowsText() const {
  std::string text = std::to_string(points_) + " points";
  if (!cloud_.merged) text += " in " + std::to_string(files_) + (files_ == 1 ? " file" : " files");
  if (emptyLeftOut_ > 0) text += " (" + std::to_string(emptyLeftOut_) + " measurements without a return left out)";
  return text;
}

bool CloudFrameFile::writeCloud(Points& points, const std::string& path, const std::string& named,
                                std::string& error) const {
  errno = 0;
  int result = -1;
  try {
    result = writePoints(path, points, cloud_.format, cloud_.encoding, cloud_.merged);
  } catch (const std::exception& e) {
    error = "writing " + named + " failed: " + e.what();
    return false;
  }
  if (result != 0) {
    error = "writing " + named + " failed" + (errno ? std::string(": ") + std::strerror(errno) : std::string());
    return false;
  }
  return true;
}

// The merged cloud into the file beside the target: streamed already, or
// written now.
bool CloudFrameFile::writeMerged(std::string& error) {
  if (stream_) {
    bool rewrite = false;
    const bool written = finishStream(rewrite, error);
    stream_.reset();
    if (!rewrite) return written;
  }
  return writeCloud(*cloudData_, file_.writtenPath(), target_, error);
}

bool CloudFrameFile::close(std::string& error) {
  if (!open_) return true;
  open_ = false;
  if (cloud_.merged) {
    const std::string unchanged = file_.unchangedNote();
    if (failed_) {
      error = failure_ + unchanged;
    } else if (points_ == 0) {
      error = "no point to write (none in the angle range)" + unchanged;
    } else if (!writeMerged(error)) {
      error += unchanged;
    } else if (!file_.inPlace() && !syncFile(file_.writtenPath(), false)) {
      error = "writing " + target_ + " failed: " + std::strerror(errno) + unchanged;
    } else {
      cloudData_->clear();
      if (!file_.commit(error)) return false;
      files_ = 1;
      return true;
    }
    stream_.reset();
    cloudData_->clear();
    file_.abandon();
    return false;
  }

  const std::string unchanged = "; " + target_ + " was left unchanged";
  std::string lastFile;
  if (!frameWriter_->finish(files_, lastFile)) fail(lastFile);
  if (failed()) {
    error = failure_ + unchanged;
  } else if (!syncFile(tempFolder_, true)) {
    error = "writing into " + target_ + " failed: " + std::strerror(errno) + unchanged;
  } else if (std::rename(tempFolder_.c_str(), folderPath_.c_str()) != 0) {
    error = "cannot put the folder in place of " + target_ + ": " + std::strerror(errno) + unchanged;
  } else {
    tempFolder_.clear();
    return true;
  }
  removeFolder();
  return false;
}

void CloudFrameFile::discard() {
  stream_.reset();
  streamJudged_ = false;
  std::string ignored;
  long long files = 0;
  frameWriter_->finish(files, ignored);
  open_ = false;
  file_.abandon();
  removeFolder();
  if (cloudData_) cloudData_->clear();
}

void CloudFrameFile::removeFolder() {
  if (tempFolder_.empty()) return;
  // Only the frame files this export wrote are in it.
  if (DIR* dir = ::opendir(tempFolder_.c_str())) {
    while (const dirent* e = ::readdir(dir))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        ::unlink((tempFolder_ + "/" + e->d_name).c_str());
    ::closedir(dir);
  }
  ::rmdir(tempFolder_.c_str());
  tempFolder_.clear();
}

}  // namespace z540k
