#include "PacketSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace z540k {

namespace {

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char here[4096];
  if (!::getcwd(here, sizeof here)) return path;
  return std::string(here) + "/" + path;
}

}  // namespace

std::shared_ptr<PacketSource> PacketSource::openFile(const std::string& path, std::string& reason) {
  // Non-blocking, so that a FIFO given by mistake does not hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    reason = std::string("cannot open: ") + std::strerror(errno);
    return nullptr;
  }
  std::shared_ptr<PacketSource> source(new PacketSource);
  source->fd_ = fd;  // closed with the source from here on
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    reason = std::string("cannot read: ") + std::strerror(errno);
    return nullptr;
  }
  if (S_ISDIR(status.st_mode)) {
    reason = "is a directory, not a capture file";
    return nullptr;
  }
  if (!S_ISREG(status.st_mode)) {
    reason = "is not a regular file";
    return nullptr;
  }
  if (status.st_size == 0) {
    reason = "the file is empty";
    return nullptr;
  }
  source->path_ = path;
  source->statPath_ = absolutePath(path);
  source->size_ = static_cast<std::uint64_t>(status.st_size);
  source->modified_ = status.st_mtim;
  source->device_ = status.st_dev;
  source->inode_ = status.st_ino;
  return source;
}

std::shared_ptr<PacketSource> PacketSource::ofBytes(std::vector<std::uint8_t> bytes) {
  std::shared_ptr<PacketSource> source(new PacketSource);
  source->path_ = "packets in memory";
  source->size_ = bytes.size();
  source->bytes_ = std::move(bytes);
  return source;
}

PacketSource::~PacketSource() {
  if (fd_ >= 0) ::close(fd_);
}

bool PacketSource::unchanged() const {
  if (fd_ < 0) return true;
  struct stat now {};
  if (::fstat(fd_, &now) != 0 || static_cast<std::uint64_t>(now.st_size) != size_ || !sameTime(now.st_mtim, modified_))
    return false;
  struct stat named {};
  return ::stat(statPath_.c_str(), &named) == 0 && named.st_dev == device_ && named.st_ino == inode_;
}

std::string PacketSource::changedMessage() const { return path_ + " changed on disk after it was opened"; }

bool PacketSource::readAt(std::uint64_t offset, std::uint8_t* out, std::size_t size, std::string& error) const {
  if (fd_ < 0) {
    if (offset > bytes_.size() || bytes_.size() - offset < size) {
      error = path_ + ": no bytes at offset " + std::to_string(offset);
      return false;
    }
    std::memcpy(out, bytes_.data() + offset, size);
    return true;
  }
  if (!unchanged()) {
    error = changedMessage();
    return false;
  }
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = path_ + ": cannot read: " + std::strerror(errno);
      return false;
    }
    if (n == 0) {  // the file ends before the size it had: shortened since the check
      error = changedMessage();
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace z540k
