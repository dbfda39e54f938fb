// status: live status port reception; every status packet decoded and
// printed, readable or as one JSON object per line; the first one saved in
// the status dump format on request.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Commands.h"
#include "NetworkSettingsPacket.h"
#include "StatusPacket.h"
#include "StatusText.h"
#include "UdpSocket.h"

namespace z540k::cli {

namespace {

const char* const kHelp =
    "usage: z540k-tool status [options]\n"
    "\n"
    "Receives the sensor's status packets and prints every field of each. A packet in the short layout\n"
    "(byte 1202 = 3) shows the fields that layout carries: sensor IP, data port, destination IP, device\n"
    "port and motor speed. At the end: the packets received and those the kernel dropped.\n"
    "\n"
    "options:\n"
    "  --port P               UDP port to receive on (default 2369)\n"
    "  --seconds S            stop after S seconds (default 0: until Ctrl+C)\n"
    "  --count N              stop after N status packets (default 0: until Ctrl+C)\n"
    "  --json                 one JSON object per line: the fields in record order and \"values\";\n"
    "                         {\"layout\":\"short\",...} for the short layout; the summary goes to stderr\n"
    "  --values               the values as the settings windows show them instead: the live values and\n"
    "                         the Refresh texts of the settings window, the advanced window's Refresh\n"
    "                         (with --json: one object of texts per packet)\n"
    "  --save-snapshot FILE   write the first status packet to FILE in the status dump format (what\n"
    "                         \"configure --snapshot\" reads); stops after it unless --count says more\n";

// The snapshot file: created beside the target at once (so a path that
// cannot be written fails before any waiting), written and renamed over the
// target when the packet is there; removed, the target untouched, otherwise.
class SnapshotFile {
 public:
  ~SnapshotFile() {
    if (!temp_.empty()) ::unlink(temp_.c_str());
  }

  bool open(const std::string& path, std::string& error) {
    path_ = path;
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0) {
      if (S_ISDIR(target.st_mode)) {
        error = "cannot write " + path + ": it is a directory";
        return false;
      }
      if (::access(path.c_str(), W_OK) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
      }
      // Through a symbolic link the file it points to is replaced.
      char resolved[PATH_MAX];
      if (::realpath(path.c_str(), resolved)) final_ = resolved;
    }
    if (final_.empty()) final_ = path;
    const auto slash = final_.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : final_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? final_ : final_.substr(slash + 1);
    std::string temp = (slash == std::string::npos ? "./." : directory + ".") + name + ".XXXXXX";
    fd_ = ::mkstemp(&temp[0]);
    if (fd_ < 0) {
      error = "cannot create a file beside " + path + ": " + std::strerror(errno);
      return false;
    }
    temp_ = temp;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    return true;
  }

  bool commit(const std::string& text, std::string& error) {
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return fail("writing " + path_ + " failed: ", error);
      done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd_) != 0) return fail("writing " + path_ + " failed: ", error);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) return fail("writing " + path_ + " failed: ", error);
    if (std::rename(temp_.c_str(), final_.c_str()) != 0)
      return fail("cannot put the file in place of " + path_ + ": ", error);
    temp_.clear();
    return true;
  }

 private:
  bool fail(const std::string& what, std::string& error) {
    error = what + std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return false;
  }

  std::string path_, final_, temp_;
  int fd_ = -1;
};

}  // namespace

int statusCommand(const std::vector<std::string>& args) {
  const CommandLine line(args, {"--port", "--seconds", "--count", "--save-snapshot"}, {"--json", "--values", "--help"});
  if (line.has("--help")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  line.refusePositional();
  const auto port = static_cast<std::uint16_t>(line.port("--port", 2369));
  const double seconds = line.seconds("--seconds");
  const bool saving = line.has("--save-snapshot");
  const long long count = saving && !line.has("--count") ? 1 : line.count("--count");
  const bool json = line.has("--json");
  const bool windowTexts = line.has("--values");
  SnapshotFile snapshotFile;
  bool saved = false;
  if (saving) {
    std::string error;
    if (!snapshotFile.open(line.text("--save-snapshot", ""), error)) {
      std::fprintf(stderr, "z540k-tool status: %s\n", error.c_str());
      return 1;
    }
  }

  UdpSocket socket;
  if (!(socket.create() && socket.setReuseAddress() && socket.enableDropCounter() && socket.bind(port))) {
    std::fprintf(stderr, "z540k-tool status: %s\n", socket.lastError().c_str());
    return 1;
  }

  long long received = 0, shortLayout = 0, others = 0;
  std::uint8_t buffer[2048];
  SettingData status{};
  ShortStatus shortStatus;
  std::vector<int> values;
  const auto deadline =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
  while (!stopRequested && (count == 0 || received < count)) {
    if (seconds > 0 && std::chrono::steady_clock::now() >= deadline) break;
    std::uint32_t from = 0;
    std::uint16_t fromPort = 0;
    const long n = socket.receive(buffer, sizeof buffer, 100, &from, &fromPort);
    if (n < 0) {
      std::fprintf(stderr, "z540k-tool status: receiving failed\n");
      return 1;
    }
    if (n == 0) continue;
    const auto size = static_cast<std::size_t>(n);
    // A sensor that reports in the short layout fills only that layout's
    // bytes: the long layout's fields would be read from the wrong places.
    const bool isShort = decodeShortStatus(buffer, size, shortStatus);
    if (!isShort && !decodeStatusPacket(buffer, size, status, values)) {
      ++others;
      continue;
    }
    ++received;
    if (isShort) ++shortLayout;
    if (saving && !saved) {
      std::string error;
      if (!snapshotFile.commit(statusDumpText(buffer, size), error)) {
        std::fprintf(stderr, "z540k-tool status: %s\n", error.c_str());
        return 1;
      }
      saved = true;
    }
    if (windowTexts) {
      const NamedTexts shown = windowValues(buffer);
      if (json)
        std::printf("%s\n", namedTextsAsJson(shown).c_str());
      else
        std::printf("status packet %lld from %s:%u\n%s\n", received, formatIpv4(from).c_str(), fromPort,
                    namedTextsAsText(shown).c_str());
    } else if (json) {
      std::printf("%s\n", (isShort ? shortStatusAsJson(shortStatus) : statusAsJson(status, values)).c_str());
    } else {
      std::printf("status packet %lld from %s:%u\n%s\n", received, formatIpv4(from).c_str(), fromPort,
                  (isShort ? shortStatusAsText(shortStatus) : statusAsText(status, values)).c_str());
    }
    std::fflush(stdout);
  }
  // As listen reports them: the datagrams the kernel dropped because they
  // were not read in time. With --json stdout keeps one object per line.
  char summary[200];
  std::snprintf(summary, sizeof summary,
                "status packets: %lld (%lld short layout), other datagrams: %lld; %u dropped by the kernel\n", received,
                shortLayout, others, socket.kernelDrops());
  if (json)
    std::fprintf(stderr, "z540k-tool status: %s", summary);
  else
    std::printf("%s", summary);
  if (saving && !saved) {
    std::fprintf(stderr, "z540k-tool status: no status packet arrived: %s was not written\n",
                 line.text("--save-snapshot", "").c_str());
    return 1;
  }
  return 0;
}

}  // namespace z540k::cli
