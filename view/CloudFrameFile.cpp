#include "CloudFrameFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <pcl/PCLPointCloud2.h>
#include <pcl/console/print.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <ostream>

namespace z540k {

namespace {

// The point's bytes: x y z intensity (float32), azimuth distance timestamp
// (float64), frame point (uint32), in the machine's (little-endian) order.
constexpr std::uint32_t kPointStep = 48;

pcl::PCLPointField field(const char* name, std::uint32_t offset, std::uint8_t type) {
  pcl::PCLPointField f;
  f.name = name;
  f.offset = offset;
  f.datatype = type;
  f.count = 1;
  return f;
}

std::vector<pcl::PCLPointField> pointFields() {
  using F = pcl::PCLPointField;
  return {field("x", 0, F::FLOAT32),          field("y", 4, F::FLOAT32),        field("z", 8, F::FLOAT32),
          field("intensity", 12, F::FLOAT32), field("azimuth", 16, F::FLOAT64), field("distance", 24, F::FLOAT64),
          field("timestamp", 32, F::FLOAT64), field("frame", 40, F::UINT32),    field("point", 44, F::UINT32)};
}

// ASCII PCD keeps every bit of the float64 fields (and of the float32 ones,
// widened).
constexpr int kAsciiPrecision = 17;

// PCL reports on its console; the export reports failures itself.
class QuietPcl {
 public:
  QuietPcl() : level_(pcl::console::getVerbosityLevel()) { pcl::console::setVerbosityLevel(pcl::console::L_ALWAYS); }
  ~QuietPcl() { pcl::console::setVerbosityLevel(level_); }

 private:
  pcl::console::VERBOSITY_LEVEL level_;
};

mode_t newFileMode(mode_t bits) {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return bits & ~mask;
}

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

// PCL's stream-based writers (ASCII PCD, both PLY forms) return success
// when a write failed (a full disk, a file size limit) and leave a short
// file: the file is read back and must hold the whole cloud after its
// header, `points` lines of text or `points` x kPointStep bytes.
bool wholeOnDisk(const std::string& path, const char* headerEnd, bool text, std::uint64_t points) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::vector<char> buffer(1 << 20);
  std::string head;  // until the header's end is found
  bool inData = false;
  std::uint64_t lines = 0, bytes = 0;
  char last = '\n';
  for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;) {
    const char* data = buffer.data();
    if (!inData) {
      head.append(data, n);
      const auto end = head.find(headerEnd);
      if (end == std::string::npos) {
        if (head.size() > (1 << 16)) break;  // no header of ours
        continue;
      }
      inData = true;
      const std::size_t start = end + std::strlen(headerEnd);
      data = head.data() + start;
      n = head.size() - start;
    }
    bytes += n;
    if (text && n > 0) {
      lines += static_cast<std::uint64_t>(std::count(data, data + n, '\n'));
      last = data[n - 1];
    }
  }
  const bool readAll = !std::ferror(f);
  std::fclose(f);
  if (!inData || !readAll) return false;
  return text ? lines == points && last == '\n' : bytes == points * kPointStep;
}

// A file written through write(), each one checked. PCL's own binary PCD
// writers map the file instead, and a full disk then ends the process
// (SIGBUS) rather than failing a write; their bytes come through this.
class CheckedFileOutput final : public std::streambuf {
 public:
  explicit CheckedFileOutput(int fd) : fd_(fd) { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
  // Writes what is buffered: 0, or the errno of the first write that failed.
  int finish() {
    drain();
    return error_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize size) override {
    if (size <= epptr() - pptr()) {
      std::memcpy(pptr(), text, static_cast<std::size_t>(size));
      pbump(static_cast<int>(size));
      return size;
    }
    return drain() && writeAll(text, static_cast<std::size_t>(size)) ? size : 0;
  }
  int sync() override { return drain() ? 0 : -1; }

 private:
  bool drain() {
    const std::size_t size = static_cast<std::size_t>(pptr() - pbase());
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return size == 0 ? error_ == 0 : writeAll(buffer_.data(), size);
  }
  bool writeAll(const char* text, std::size_t size) {
    if (error_ == 0) error_ = writeWhole(fd_, text, size);
    return error_ == 0;
  }

  int fd_;
  int error_ = 0;
  std::array<char, 1 << 16> buffer_;
};

// A binary or binary compressed PCD file, as PCL's writers make it (their
// header, the points as they are or compressed by PCL), written through
// checked writes. 0, or -1 with errno set when the system gave a reason.
int writeBinaryPcd(const std::string& path, const pcl::PCLPointCloud2& cloud, bool compressed) {
  const Eigen::Vector4f origin = Eigen::Vector4f::Zero();
  const Eigen::Quaternionf orientation = Eigen::Quaternionf::Identity();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  CheckedFileOutput file(fd);
  std::ostream out(&file);
  pcl::PCDWriter writer;
  int result = 0;
  if (compressed) {
    result = writer.writeBinaryCompressed(out, cloud, origin, orientation);
  } else {
    const std::string header = writer.generateHeaderBinary(cloud, origin, orientation) + "DATA binary\n";
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    out.write(reinterpret_cast<const char*>(cloud.data.data()), static_cast<std::streamsize>(cloud.data.size()));
  }
  int error = file.finish();
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    errno = error;
    return -1;
  }
  if (result != 0) errno = 0;  // PCL's own refusal (a cloud too large for the format)
  return result == 0 ? 0 : -1;
}

}  // namespace

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
    // A sixth of the memory: the growing cloud briefly needs three times its
    // size while it moves.
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 6;
  }();
  return limit;
}

struct CloudFrameFile::Points {
  pcl::PCLPointCloud2 cloud;  // data: the points held, nothing more
  // One frame's points, before they join the cloud: appended whole, the
  // cloud grows without writing its memory twice.
  std::vector<std::uint8_t> frame;

  Points() {
    cloud.fields = pointFields();
    cloud.point_step = kPointStep;
    cloud.height = 1;
    cloud.is_bigendian = false;
    cloud.is_dense = true;
  }
  void clear() { cloud.data = std::vector<std::uint8_t>(); }
  // The cloud as PCL's writers take it.
  void settle() {
    cloud.width = static_cast<std::uint32_t>(cloud.data.size() / kPointStep);
    cloud.row_step = cloud.width * kPointStep;
  }
};

CloudFrameFile::CloudFrameFile(CsvExportOptions options, long long maxFrames, CloudFileOptions cloud)
    : FrameFile(maxFrames), options_(options), cloud_(cloud), cloudData_(std::make_unique<Points>()) {
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
  cloudData_->clear();
  if (cloud_.merged) {
    const int fd = file_.create(path, false, error);
    if (fd < 0) return false;
    ::close(fd);  // PCL's writer opens the file by its name
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
  if (!open_ || complete() || failed_) return;
  ++frames_;
  Points& points = *cloudData_;
  const std::size_t most = record.pairedSize() * kPointStep;
  if (points.frame.size() < most) points.frame.resize(most);
  const std::uint32_t frame = static_cast<std::uint32_t>(frames_);
  std::uint8_t* out = points.frame.data();
  forEachExportedMeasurement(record, options_, [&](std::size_t j, double a, double d) {
    const CsvPoint p = csvPoint(d, a, options_.viewMode, kind);
    const float singles[4] = {p.x, p.y, p.z, static_cast<float>(record.intensity[j])};
    const double doubles[3] = {a, d / 10, static_cast<double>(record.timestamp[j])};
    const std::uint32_t numbers[2] = {frame, static_cast<std::uint32_t>(j)};
    std::memcpy(out, singles, sizeof singles);
    std::memcpy(out + 16, doubles, sizeof doubles);
    std::memcpy(out + 40, numbers, sizeof numbers);
    out += kPointStep;
  });
  const std::size_t bytes = static_cast<std::size_t>(out - points.frame.data());
  points_ += bytes / kPointStep;
  std::vector<std::uint8_t>& data = points.cloud.data;
  if (cloud_.merged) {
    if (data.size() + bytes > mergedLimitBytes()) {
      fail("the merged cloud would take more than " + std::to_string(mergedLimitBytes() >> 20) +
           " MB of memory; write one file per frame instead");
      return;
    }
    try {
      data.insert(data.end(), points.frame.data(), out);
    } catch (const std::bad_alloc&) {
      fail("not enough memory for the merged cloud; write one file per frame instead");
    }
    return;
  }
  if (bytes == 0) return;
  data.assign(points.frame.data(), out);

  // One file per frame, straight into the new folder.
  const std::string name = cloudFrameFileName(frames_, cloud_.format);
  const std::string path = tempFolder_ + "/" + name;
  std::string error;
  if (!writeCloud(path, target_ + "/" + name, error)) {
    fail(error);
    return;
  }
  ::chmod(path.c_str(), newFileMode(0666));
  ++files_;
}

std::string CloudFrameFile::rowsText() const {
  std::string text = std::to_string(points_) + " points";
  if (!cloud_.merged) text += " in " + std::to_string(files_) + (files_ == 1 ? " file" : " files");
  return text;
}

bool CloudFrameFile::writeCloud(const std::string& path, const std::string& named, std::string& error) {
  Points& points = *cloudData_;
  points.settle();
  const pcl::PCLPointCloud2& cloud = points.cloud;
  const Eigen::Vector4f origin = Eigen::Vector4f::Zero();
  const Eigen::Quaternionf orientation = Eigen::Quaternionf::Identity();
  int result = -1;
  errno = 0;
  try {
    QuietPcl quiet;
    if (cloud_.format == CloudFormat::Pcd) {
      result = cloud_.encoding == CloudEncoding::Ascii
                   ? pcl::PCDWriter().writeASCII(path, cloud, origin, orientation, kAsciiPrecision)
                   : writeBinaryPcd(path, cloud, cloud_.encoding == CloudEncoding::BinaryCompressed);
    } else {
      // No camera element: plain vertices for every reader.
      pcl::PLYWriter writer;
      result = cloud_.encoding == CloudEncoding::Ascii
                   ? writer.writeASCII(path, cloud, origin, orientation, kAsciiPrecision, false)
                   : writer.writeBinary(path, cloud, origin, orientation, false);
    }
  } catch (const std::exception& e) {
    error = "writing " + named + " failed: " + e.what();
    return false;
  }
  const bool streamed = cloud_.format == CloudFormat::Ply || cloud_.encoding == CloudEncoding::Ascii;
  if (result == 0 && streamed &&
      !wholeOnDisk(path, cloud_.format == CloudFormat::Ply ? "end_header\n" : "DATA ascii\n",
                   cloud_.encoding == CloudEncoding::Ascii, cloud.width)) {
    result = -1;
    if (errno == 0) errno = EIO;
  }
  if (result != 0) {
    error = "writing " + named + " failed" + (errno ? std::string(": ") + std::strerror(errno) : std::string());
    return false;
  }
  return true;
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
    } else if (!writeCloud(file_.writtenPath(), target_, error)) {
      error += unchanged;
    } else if (!syncFile(file_.writtenPath(), false)) {
      error = "writing " + target_ + " failed: " + std::strerror(errno) + unchanged;
    } else {
      cloudData_->clear();
      if (!file_.commit(error)) return false;
      files_ = 1;
      return true;
    }
    cloudData_->clear();
    file_.abandon();
    return false;
  }

  const std::string unchanged = "; " + target_ + " was left unchanged";
  if (failed_) {
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
