// Writing a file as a whole: beside its target, put in its place only when
// complete, with the permissions the target has or a new file would get.
// Every file the program and the tool write goes this way (CSV, point
// clouds, status snapshots and dumps).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace z540k {

// A target written beside itself (a hidden temporary in its directory, with
// the target's permissions, or those a new file gets) and put in its place
// only when complete: the CSV file and the point cloud files.
class FileBeside {
 public:
  ~FileBeside() { abandon(); }
  // Checks the target and creates the temporary file; returns its descriptor
  // (the caller closes it), or -1 with a reason. A target that is a device or
  // a pipe, or "-" (standard output), is opened in place when
  // `inPlaceAllowed`, else refused.
  int create(const std::string& path, bool inPlaceAllowed, std::string& error);
  const std::string& path() const { return path_; }
  // The file to write: the temporary one, or the target when in place.
  const std::string& writtenPath() const { return tempPath_.empty() ? path_ : tempPath_; }
  bool inPlace() const { return tempPath_.empty(); }
  // Renames the temporary file over the target (through a symbolic link, over
  // the file it points to). False with a reason; the temporary file is then
  // removed.
  bool commit(std::string& error);
  // Removes the temporary file; the target stays as it was.
  void abandon();
  // "; PATH was left unchanged", or nothing when written in place.
  std::string unchangedNote() const;

 private:
  std::string path_;       // the target as given
  std::string finalPath_;  // the file the rename replaces (a symbolic link's target)
  std::string tempPath_;   // empty when the target is written in place
};

// A text file written whole: created beside its target at once (so a path
// that cannot be written fails before any waiting), written and put in place
// of the target by commit(); removed, the target untouched, otherwise. The
// status snapshots and dumps.
class TextFileBeside {
 public:
  ~TextFileBeside();
  bool open(const std::string& path, std::string& error);
  bool commit(const std::string& text, std::string& error);

 private:
  FileBeside file_;
  int fd_ = -1;
};

// Writes all `size` bytes to `fd`, again after an interruption or a short
// write: 0, or the errno of the write that failed (EIO when nothing was
// taken). The files of frames write through it.
int writeWhole(int fd, const char* data, std::size_t size);

// The permissions a new file with `bits` gets under the process's umask. The
// umask is read from /proc/self/status, never set to read it (setting it,
// even back, would race with another thread creating a file meanwhile).
mode_t newFileMode(mode_t bits);

}  // namespace z540k
