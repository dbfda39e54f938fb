#include "ConfigurationInputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "PacketFormat.h"

namespace z540k::cli {

namespace {
bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
}  // namespace

LocalDateTime localTimeOption(const CommandLine& line) {
  if (!line.has("--local-time")) {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return LocalDateTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
  }
  const std::string text = line.text("--local-time", "");
  LocalDateTime t;
  char tail = 0;
  const bool shaped = text.size() == 19 && text[4] == '-' && text[7] == '-' && text[10] == ' ' && text[13] == ':' &&
                      text[16] == ':' &&
                      std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &t.year, &t.month, &t.day, &t.hour,
                                  &t.minute, &t.second, &tail) == 6;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool valid = shaped && t.year >= 2000 && t.year <= 2255 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
                     t.day <= kDays[t.month - 1] + (t.month == 2 && isLeapYear(t.year)) && t.hour >= 0 &&
                     t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59;
  if (!valid)
    throw UsageError("bad value for --local-time: \"" + text +
                     "\" (expected \"yyyy-MM-dd hh:mm:ss\", a date from 2000 to 2255)");
  return t;
}

StatusSnapshot snapshotFromFile(const std::string& path) {
  // Opened without blocking, so that a FIFO given by mistake is refused
  // rather than waited on for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw Refusal("cannot read " + path + ": " + std::strerror(errno));
  const struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) throw Refusal("cannot read " + path + ": " + std::strerror(errno));
  if (S_ISDIR(info.st_mode)) throw Refusal("cannot read " + path + ": it is a directory");
  if (!S_ISREG(info.st_mode)) throw Refusal("cannot read " + path + ": it is not a regular file");
  // A dump is 3618 characters; anything far larger is not one.
  constexpr std::size_t kLargestDump = 64 * 1024;
  std::string text(kLargestDump + 1, '\0');
  std::size_t size = 0;
  while (size < text.size()) {
    const ssize_t n = ::read(fd, &text[size], text.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Refusal("cannot read " + path + ": " + std::strerror(errno));
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  text.resize(size);
  if (text.size() > kLargestDump) throw Refusal(path + " is not a status dump: it is larger than 64 KiB");
  StatusSnapshot snapshot{};
  std::string error;
  if (!parseStatusDump(text, snapshot, error)) throw Refusal(path + " is not a status dump: " + error);
  if (!std::equal(kStatusHeader.begin(), kStatusHeader.end(), snapshot.begin()))
    throw Refusal(path + " holds no status packet: it starts " + statusDumpText(snapshot.data(), 8) +
                  "instead of a5 ff 00 5a 11 11 55 55");
  return snapshot;
}

}  // namespace z540k::cli
