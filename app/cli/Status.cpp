// status: live status port reception; every status packet decoded and
// printed, readable or as one JSON object per line.
#include <chrono>
#include <cstdio>

#include "Commands.h"
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
    "                         {\"layout\":\"short\",...} for the short layout; the summary goes to stderr\n";

}  // namespace

int statusCommand(const std::vector<std::string>& args) {
  const CommandLine line(args, {"--port", "--seconds", "--count"}, {"--json", "--help"});
  if (line.has("--help")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (!line.positional().empty()) throw UsageError("unexpected argument \"" + line.positional()[0] + "\"");
  const auto port = static_cast<std::uint16_t>(line.integer("--port", 2369, 1, 65535));
  const double seconds = line.seconds("--seconds");
  const long long count = line.count("--count");
  const bool json = line.has("--json");

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
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(seconds));
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
    if (json) {
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
                "status packets: %lld (%lld short layout), other datagrams: %lld; %u dropped by the kernel\n",
                received, shortLayout, others, socket.kernelDrops());
  if (json)
    std::fprintf(stderr, "z540k-tool status: %s", summary);
  else
    std::printf("%s", summary);
  return 0;
}

}  // namespace z540k::cli
