#include "FileBeside.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace z540k {

namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

// The process's umask as /proc/self/status states it (Linux 4.7 and later);
// the common 022 where it cannot be read.
mode_t readUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  return 022;
}

}  // namespace

mode_t newFileMode(mode_t bits) {
  static const mode_t mask = readUmask();  // the program never changes it
  return bits & ~mask;
}

int FileBeside::create(const std::string& path, bool inPlaceAllowed, std::string& error) {
  abandon();
  path_ = path;
  finalPath_ = path;
  // "-": the process's standard output, written in place.
  if (path == "-") {
    const int fd = inPlaceAllowed ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0) : -1;
    if (fd < 0)
      error = inPlaceAllowed ? std::string("cannot write to standard output: ") + std::strerror(errno)
                             : std::string("cannot write to standard output: this file is written as a whole");
    return fd;
  }
  struct stat target {};
  const bool exists = ::stat(path.c_str(), &target) == 0;
  if (exists && S_ISDIR(target.st_mode)) {
    error = "cannot write " + path + ": it is a directory";
    return -1;
  }
  // Devices, pipes and the process's own streams (/dev/stdout, /dev/fd/N:
  // links into /proc) are written in place. Files in a file system mounted
  // under /dev (/dev/shm) are files like any other.
  struct stat link {};
  const bool streamLink = startsWith(path, "/dev/") && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  const bool inPlace = (exists && !S_ISREG(target.st_mode)) || streamLink || startsWith(path, "/proc/");
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
  // those a newly created file would get.
  if (exists) {
    if (::fchown(fd, target.st_uid, target.st_gid) != 0) {
      // Not allowed for other users' files: the file stays ours.
    }
    ::fchmod(fd, target.st_mode & 07777);
  } else {
    ::fchmod(fd, newFileMode(0666));
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

int writeWhole(int fd, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

TextFileBeside::~TextFileBeside() {
  if (fd_ >= 0) ::close(fd_);
}

bool TextFileBeside::open(const std::string& path, std::string& error) {
  fd_ = file_.create(path, true, error);
  return fd_ >= 0;
}

bool TextFileBeside::commit(const std::string& text, std::string& error) {
  const std::string& path = file_.path();
  int e = writeWhole(fd_, text.data(), text.size());
  if (e == 0 && !file_.inPlace() && ::fsync(fd_) != 0) e = errno;
  if (::close(fd_) != 0 && e == 0) e = errno;
  fd_ = -1;
  if (e != 0) {
    error = "writing " + path + " failed: " + std::strerror(e) + file_.unchangedNote();
    file_.abandon();
    return false;
  }
  return file_.commit(error);
}

}  // namespace z540k
