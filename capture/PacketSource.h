// Where a capture's bytes are read from: a file held open, or bytes in memory.
//
// A file is remembered as it was when opened: its size, modification time,
// and the device and inode its path named. Another program may shorten,
// rewrite, replace or remove the file while it is read; reading through the
// source checks that the file is still as it was (one fstat and one stat),
// so such a change is reported ("FILE changed on disk after it was opened")
// instead of bytes of another file being taken for the capture's. Nothing is
// mapped: a shortened file cannot fault the program.
//
// A source is read-only after it is made; any thread may read from it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace z540k {

class PacketSource {
 public:
  // Opens `path` for reading without waiting on it (a FIFO given by mistake
  // does not hang) and refuses what is not a non-empty regular file. Null,
  // with the reason in `reason` (one line, without the path), on failure.
  static std::shared_ptr<PacketSource> openFile(const std::string& path, std::string& reason);
  // Bytes of its own, which never change.
  static std::shared_ptr<PacketSource> ofBytes(std::vector<std::uint8_t> bytes);

  ~PacketSource();
  PacketSource(const PacketSource&) = delete;
  PacketSource& operator=(const PacketSource&) = delete;

  std::uint64_t size() const { return size_; }  // at open
  int fd() const { return fd_; }                // -1 for bytes in memory

  // Whether the file is still the one opened, as it was: the same size and
  // modification time, and its path still names it. Always for bytes.
  bool unchanged() const;
  // "PATH changed on disk after it was opened".
  std::string changedMessage() const;

  // Copies `size` bytes at `offset` into `out`, once unchanged() holds. False
  // with a one-line reason when the file changed (the read came up short
  // included) or cannot be read.
  bool readAt(std::uint64_t offset, std::uint8_t* out, std::size_t size, std::string& error) const;

 private:
  PacketSource() = default;

  std::string path_;      // as given, for messages
  std::string statPath_;  // absolute, so a change of directory does not matter
  int fd_ = -1;
  std::uint64_t size_ = 0;
  timespec modified_{};
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace z540k
