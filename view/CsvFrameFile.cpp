#include "CsvFrameFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace z540k {

namespace {

constexpr std::size_t kFlushAt = 4 << 20;

bool startsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

}  // namespace

// ---- FileBeside --------------------------------------------------------------

int FileBeside::create(const std::string& path, bool inPlaceAllowed, std::string& error) {
  abandon();
  path_ = path;
  finalPath_ = path;
  struct stat target {};
  const bool exists = ::stat(path.c_str(), &target) == 0;
  if (exists && S_ISDIR(target.st_mode)) {
    error = "cannot write " + path + ": it is a directory";
    return -1;
  }
  // Devices, pipes and the process's own streams are written in place.
  const bool inPlace = (exists && !S_ISREG(target.st_mode)) || startsWith(path, "/dev/") || startsWith(path, "/proc/");
  if (inPlace) {
    if (!inPlaceAllowed) {
      error = "cannot write " + path + ": not a regular file";
      return -1;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) error = "cannot write " + path + ": " + std::strerror(errno);
    return fd;
  }
  // A file this user may not write stays so: it is not replaced either.
  if (exists && ::access(path.c_str(), W_OK) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return -1;
  }
  // Through a symbolic link the rename replaces the file it points to, not
  // the link.
  if (exists) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) finalPath_ = resolved;
  }
  const auto slash = finalPath_.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : finalPath_.substr(0, slash);
  const std::string name = slash == std::string::npos ? finalPath_ : finalPath_.substr(slash + 1);
  std::string temp = directory + (directory == "/" ? "." : "/.") + name + ".XXXXXX";
  const int fd = ::mkstemp(&temp[0]);
  if (fd < 0) {
    error = "cannot create a file beside " + path + ": " + std::strerror(errno);
    return -1;
  }
  tempPath_ = temp;
  // The file gets the target's permissions (and owner, where allowed), or
  // those a newly created file would get. The umask is read while the tool
  // runs one thread.
  if (exists) {
    if (::fchown(fd, target.st_uid, target.st_gid) != 0) {
      // Not allowed for other users' files: the file stays ours.
    }
    ::fchmod(fd, target.st_mode & 07777);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  return fd;
}

bool FileBeside::commit(std::string& error) {
  if (tempPath_.empty()) return true;
  if (std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
    const int e = errno;
    const std::string unchanged = unchangedNote();
    abandon();
    error = "cannot put the file in place of " + path_ + ": " + std::strerror(e) + unchanged;
    return false;
  }
  tempPath_.clear();
  return true;
}

void FileBeside::abandon() {
  if (tempPath_.empty()) return;
  ::unlink(tempPath_.c_str());
  tempPath_.clear();
}

std::string FileBeside::unchangedNote() const { return tempPath_.empty() ? "" : "; " + path_ + " was left unchanged"; }

// ---- CsvFrameFile ------------------------------------------------------------

CsvFrameFile::~CsvFrameFile() { discard(); }

bool CsvFrameFile::open(const std::string& path, std::string& error) {
  const int fd = target_.create(path, true, error);
  if (fd < 0) return false;
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::close(fd);
    target_.abandon();
    return false;
  }
  failed_ = false;
  writeErrno_ = 0;
  buffer_.reserve(kFlushAt + (1 << 16));
  buffer_ = kCsvHeader;
  buffer_ += '\n';
  return true;
}

void CsvFrameFile::writeFrame(const LidarDataSingleLine& record, CsvFrameKind kind) {
  if (!file_ || complete()) return;
  ++frames_;
  lines_ += appendCsvFrame(buffer_, record, static_cast<int>(frames_), options_, kind);
  if (buffer_.size() >= kFlushAt) flush();
}

bool CsvFrameFile::flush() {
  if (!failed_ && !buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
    failed_ = true;
    writeErrno_ = errno;
  }
  buffer_.clear();
  return !failed_;
}

bool CsvFrameFile::close(std::string& error) {
  if (!file_) return true;
  flush();
  if (!failed_ && std::fflush(file_) != 0) {
    failed_ = true;
    writeErrno_ = errno;
  }
  // The data reaches the disk before the name points at it.
  if (!failed_ && !target_.inPlace() && ::fsync(fileno(file_)) != 0) {
    failed_ = true;
    writeErrno_ = errno;
  }
  if (std::fclose(file_) != 0 && !failed_) {
    failed_ = true;
    writeErrno_ = errno;
  }
  file_ = nullptr;
  if (failed_) {
    error = "writing " + target_.path() + " failed: " + std::strerror(writeErrno_) + target_.unchangedNote();
    target_.abandon();
    return false;
  }
  return target_.commit(error);
}

void CsvFrameFile::discard() {
  if (file_) {
    std::fclose(file_);
    file_ = nullptr;
  }
  buffer_.clear();
  target_.abandon();
}

}  // namespace z540k
