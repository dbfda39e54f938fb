// A disk that fills up, made without touching the machine. FileSizeLimit: a
// file size limit on this process and the programs it starts (RLIMIT_FSIZE),
// with the signal it raises (SIGXFSZ) ignored, so that a write past the limit
// fails with EFBIG as one on a full disk fails with ENOSPC. While it holds,
// the test writes no file of its own past the limit (gtest's output goes to
// a pipe or a terminal, which it does not reach). onSmallFileSystem: a real
// full file system, for what only ENOSPC shows (a mapped file's pages).
#pragma once

#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <string>
#include <vector>

namespace z540k::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    if (::getrlimit(RLIMIT_FSIZE, &original_) != 0) return;
    rlimit small = original_;
    small.rlim_cur = std::min(bytes, original_.rlim_max);
    active_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FileSizeLimit() {
    if (active_) ::setrlimit(RLIMIT_FSIZE, &original_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  bool active() const { return active_; }

 private:
  rlimit original_{};
  void (*previousHandler_)(int) = SIG_DFL;
  bool active_ = false;
};

// The arguments for a Process that runs `command` on a tmpfs of `bytes`
// mounted on `folder` in a mount namespace of its own (the machine's mounts
// stay as they are; the file system is gone when the command ends), then
// lists on stdout what the command left there. Its exit code is the
// command's, or 77 when no file system can be mounted here.
inline std::vector<std::string> onSmallFileSystem(const std::string& folder, std::size_t bytes,
                                                  const std::vector<std::string>& command) {
  std::vector<std::string> args = {"/usr/bin/unshare",
                                   "-m",
                                   "/bin/sh",
                                   "-c",
                                   "mount -t tmpfs -o size=" + std::to_string(bytes) +
                                       " tmpfs \"$0\" || exit 77; \"$@\"; code=$?; ls -A \"$0\"; exit $code",
                                   folder};
  args.insert(args.end(), command.begin(), command.end());
  return args;
}

// The names in a folder, hidden ones included (the temporary files written
// beside a target are hidden), sorted.
inline std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(dir))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace z540k::test
