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
#include "FileBeside.h"
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
    "port and motor speed. At the end, on stderr: the status packets, the other datagrams (empty and\n"
    "over-long ones included), all datagrams received, and those the kernel dropped.\n"
    "\n"
    "options:\n"
    "  --port P               UDP port to receive on (default 2369)\n"
    "  --seconds S            stop after S seconds (default 0: until Ctrl+C)\n"
    "  --count N              stop after N status packets (default 0: until Ctrl+C)\n"
    "  --json                 one JSON object per line: the sender, the fields by name in record order\n"
    "                         (numbers as numbers; addresses, MAC, texts and time as text), \"versions\"\n"
    "                         decoded and the named \"values\"; {\"layout\":\"short\",...} for the short layout\n"
    "  --values               the values as the settings windows show them instead: the live values and\n"
    "                         the Refresh texts of the settings window, the advanced window's Refresh\n"
    "                         (with --json: one object per packet, numbers as numbers, a choice the\n"
    "                         status leaves unchanged as null)\n"
    "  --save-snapshot FILE   write the first status packet to FILE in the status dump format (what\n"
    "                         \"configure --snapshot\" reads); stops after it unless --count says more\n";

struct StatusOptions {
  std::uint16_t port = kDefaultStatusPort;
  double seconds = 0;
  bool saving = false;
  long long count = 0;  // 0: no limit
  bool json = false, windowTexts = false;
};

StatusOptions statusOptions(const CommandLine& line) {
  StatusOptions o;
  o.port = static_cast<std::uint16_t>(line.port("--port", kDefaultStatusPort));
  o.seconds = line.seconds("--seconds");
  o.saving = line.has("--save-snapshot");
  o.count = o.saving && !line.has("--count") ? 1 : line.count("--count");
  o.json = line.has("--json");
  o.windowTexts = line.has("--values");
  return o;
}

// The last status packet decoded, in the layout it came in.
struct DecodedStatus {
  bool isShort = false;
  SettingData status{};
  ShortStatus shortStatus;
  std::vector<int> values;
};

// What the reception counted.
struct StatusTally {
  long long statusPackets = 0, shortLayout = 0, others = 0;
  bool saved = false;
};

// A sensor that reports in the short layout fills only that layout's bytes:
// the long layout's fields would be read from the wrong places. False for a
// datagram that is no status packet.
bool decodeStatus(const std::uint8_t* buffer, std::size_t size, DecodedStatus& d) {
  d.isShort = decodeShortStatus(buffer, size, d.shortStatus);
  return d.isShort || decodeStatusPacket(buffer, size, d.status, d.values);
}

void printStatusPacket(const StatusOptions& o, const std::uint8_t* buffer, long long number, std::uint32_t from,
                       std::uint16_t fromPort, const DecodedStatus& d) {
  if (o.windowTexts) {
    NamedTexts shown = windowValues(buffer);
    if (o.json) {
      shown.insert(shown.begin(), {{"sourceIp", formatIpv4(from)}, {"sourcePort", std::to_string(fromPort)}});
      std::printf("%s\n", namedTextsAsJson(shown).c_str());
    } else {
      std::printf("status packet %lld from %s:%u\n%s\n", number, formatIpv4(from).c_str(), fromPort,
                  namedTextsAsText(shown).c_str());
    }
  } else if (o.json) {
    const std::string sender = formatIpv4(from);
    std::printf("%s\n", (d.isShort ? shortStatusAsJson(d.shortStatus, sender, fromPort)
                                   : statusAsJson(d.status, d.values, sender, fromPort))
                            .c_str());
  } else {
    std::printf("status packet %lld from %s:%u\n%s\n", number, formatIpv4(from).c_str(), fromPort,
                (d.isShort ? shortStatusAsText(d.shortStatus) : statusAsText(d.status, d.values)).c_str());
  }
  std::fflush(stdout);
}

// Receives, saves the first packet when asked and prints each, until the
// count, the time or a stop; false, with the message printed, when receiving
// or saving failed.
bool receiveStatusPackets(UdpSocket& socket, const StatusOptions& o, TextFileBeside& snapshotFile, StatusTally& tally) {
  std::uint8_t buffer[2048];
  DecodedStatus decoded;
  const auto deadline =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(o.seconds));
  while (!stopRequested && (o.count == 0 || tally.statusPackets < o.count)) {
    if (o.seconds > 0 && std::chrono::steady_clock::now() >= deadline) break;
    std::uint32_t from = 0;
    std::uint16_t fromPort = 0;
    const ReceiveResult read = socket.receive(buffer, sizeof buffer, 100, &from, &fromPort);
    if (read.failed()) {
      std::fprintf(stderr, "z540k-tool status: receiving failed\n");
      return false;
    }
    if (!read.datagram()) continue;
    const std::size_t size = read.length;
    // An empty datagram is counted like any other; one too long for the
    // buffer is never decoded from the part of it stored.
    if (!read.fits(sizeof buffer) || !decodeStatus(buffer, size, decoded)) {
      ++tally.others;
      continue;
    }
    ++tally.statusPackets;
    if (decoded.isShort) ++tally.shortLayout;
    if (o.saving && !tally.saved) {
      std::string error;
      if (!snapshotFile.commit(statusDumpText(buffer, size), error)) {
        std::fprintf(stderr, "z540k-tool status: %s\n", error.c_str());
        return false;
      }
      tally.saved = true;
    }
    printStatusPacket(o, buffer, tally.statusPackets, from, fromPort, decoded);
  }
  return true;
}

// As listen reports them: the datagrams the kernel dropped because they
// were not read in time. On stderr: stdout holds the packets only.
void printStatusSummary(const StatusTally& tally, std::uint32_t kernelDrops) {
  char summary[240];
  std::snprintf(summary, sizeof summary,
                "status packets: %lld (%lld short layout), other datagrams: %lld (%lld received); %u dropped by the "
                "kernel\n",
                tally.statusPackets, tally.shortLayout, tally.others, tally.statusPackets + tally.others, kernelDrops);
  std::fprintf(stderr, "z540k-tool status: %s", summary);
}

}  // namespace

int statusCommand(const std::vector<std::string>& args) {
  const CommandLine line(args, {"--port", "--seconds", "--count", "--save-snapshot"}, {"--json", "--values", "--help"});
  if (line.has("--help")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  line.refusePositional();
  const StatusOptions o = statusOptions(line);
  TextFileBeside snapshotFile;
  if (o.saving) {
    std::string error;
    if (!snapshotFile.open(line.text("--save-snapshot", ""), error)) {
      std::fprintf(stderr, "z540k-tool status: %s\n", error.c_str());
      return 1;
    }
  }

  UdpSocket socket;
  if (!(socket.create() && socket.setReuseAddress() && socket.enableDropCounter() && socket.bind(o.port))) {
    std::fprintf(stderr, "z540k-tool status: %s\n", socket.lastError().c_str());
    return 1;
  }
  StatusTally tally;
  if (!receiveStatusPackets(socket, o, snapshotFile, tally)) return 1;
  printStatusSummary(tally, socket.kernelDrops());
  if (o.saving && !tally.saved) {
    std::fprintf(stderr, "z540k-tool status: no status packet arrived: %s was not written\n",
                 line.text("--save-snapshot", "").c_str());
    return 1;
  }
  if (stoppedShort("status", static_cast<unsigned long long>(tally.statusPackets), o.count, "status packets")) return 1;
  if (tally.statusPackets == 0) {
    std::fprintf(stderr, "z540k-tool status: %s\n", nothingArrivedText("status packet", o.port, o.seconds).c_str());
    return kExitNothingReceived;
  }
  return 0;
}

}  // namespace z540k::cli
