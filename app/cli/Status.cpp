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
    "Receives the sensor's status packets and prints every field of each.\n"
    "\n"
    "options:\n"
    "  --port P               UDP port to receive on (default 2369)\n"
    "  --seconds S            stop after S seconds (default: until Ctrl+C)\n"
    "  --count N              stop after N status packets (default: until Ctrl+C)\n"
    "  --json                 one JSON object per line: the fields in record order and \"values\"\n";

}  // namespace

int statusCommand(const std::vector<std::string>& args) {
  const CommandLine line(args, {"--port", "--seconds", "--count"}, {"--json", "--help"});
  if (line.has("--help")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (!line.positional().empty()) throw UsageError("unexpected argument \"" + line.positional()[0] + "\"");
  const auto port = static_cast<std::uint16_t>(line.integer("--port", 2369, 1, 65535));
  const double seconds = line.number("--seconds", 0.0);
  const long long count = line.integer("--count", 0, 0, 1LL << 40);
  const bool json = line.has("--json");

  UdpSocket socket;
  if (!(socket.create() && socket.setReuseAddress() && socket.bind(port))) {
    std::fprintf(stderr, "z540k-tool status: %s\n", socket.lastError().c_str());
    return 1;
  }

  long long received = 0;
  std::uint8_t buffer[2048];
  SettingData status{};
  std::vector<int> values;
  const auto start = std::chrono::steady_clock::now();
  while (!stopRequested && (count == 0 || received < count)) {
    if (seconds > 0 && std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= seconds)
      break;
    std::uint32_t from = 0;
    std::uint16_t fromPort = 0;
    const long n = socket.receive(buffer, sizeof buffer, 100, &from, &fromPort);
    if (n < 0) {
      std::fprintf(stderr, "z540k-tool status: receiving failed\n");
      return 1;
    }
    if (n == 0 || !decodeStatusPacket(buffer, static_cast<std::size_t>(n), status, values)) continue;
    ++received;
    if (json) {
      std::printf("%s\n", statusAsJson(status, values).c_str());
    } else {
      std::printf("status packet %lld from %s:%u\n%s\n", received, formatIpv4(from).c_str(), fromPort,
                  statusAsText(status, values).c_str());
    }
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace z540k::cli
