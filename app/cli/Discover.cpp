// discover: every sensor whose status packets reach this host, on the status
// port and on the data port (where a sensor may send its status too), with
// what its latest status packet says of it. The list is the command's data
// (stdout); the counts go to stderr.
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "Commands.h"
#include "PacketFormat.h"
#include "StatusText.h"
#include "UdpSocket.h"

namespace z540k::cli {

namespace {

const char* const kHelp =
    "usage: z540k-tool discover [options]\n"
    "\n"
    "Listens on the status port and the data port for --seconds and lists every sensor (source\n"
    "address) whose status packets arrived: the ports it sent them from and to, the data packets it\n"
    "sent to the data port, and from its latest status packet its address, data and device ports,\n"
    "MAC, versions and motor speed, as the settings windows show them. No sensor heard: exit code 3.\n"
    "\n"
    "options:\n"
    "  --seconds S            how long to listen (default 3)\n"
    "  --port P               the data port (default 2368)\n"
    "  --status-port P        the status port (default 2369)\n"
    "  --json                 one JSON object per sensor, one a line\n";

// The status texts discover shows, in this order, when the packet has them.
const char* const kShown[] = {"layout",
                              "sensorIp",
                              "dataPort",
                              "devicePort",
                              "mac",
                              "motorSpeedRead",
                              "versionText",
                              "fpga2Version",
                              "fpga3Version",
                              "hardware2Version",
                              "hardware3Version",
                              "emissionBoardVersion",
                              "receiveBoardVersion",
                              "structureVersion",
                              "board2Version",
                              "board3Version"};

struct Heard {
  std::set<std::string> statusRoutes;  // "2368 -> 2369"
  unsigned long long statusPackets = 0, dataPackets = 0;
  NamedTexts latest;
};

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string printable(const std::string& text) {
  std::string out;
  for (const unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    }
  }
  return out;
}

std::string shownValue(const NamedTexts& texts, const char* name, bool& found) {
  for (const auto& [key, value] : texts)
    if (key == name) {
      found = true;
      return value.substr(0, value.find_last_not_of('\0') + 1);  // the text's padding left out
    }
  found = false;
  return {};
}

void printSensor(std::uint32_t ip, const Heard& h, bool json) {
  std::string routes;
  for (const std::string& r : h.statusRoutes) routes += (routes.empty() ? "" : ", ") + r;
  if (json) {
    std::string line = "{\"address\":" + jsonString(formatIpv4(ip)) +
                       ",\"statusPackets\":" + std::to_string(h.statusPackets) +
                       ",\"dataPackets\":" + std::to_string(h.dataPackets) + ",\"statusRoutes\":[";
    const char* separator = "";
    for (const std::string& r : h.statusRoutes) {
      line += separator + jsonString(r);
      separator = ",";
    }
    line += "]";
    for (const char* name : kShown) {
      bool found = false;
      const std::string value = shownValue(h.latest, name, found);
      if (found) line += ",\"" + std::string(name) + "\":" + jsonString(value);
    }
    std::printf("%s}\n", line.c_str());
    return;
  }
  std::printf("sensor %s: %llu status packets (from port -> to port: %s), %llu data packets\n", formatIpv4(ip).c_str(),
              h.statusPackets, routes.c_str(), h.dataPackets);
  for (const char* name : kShown) {
    bool found = false;
    const std::string value = shownValue(h.latest, name, found);
    if (found) std::printf("  %-22s %s\n", name, printable(value).c_str());
  }
}

}  // namespace

int discoverCommand(const std::vector<std::string>& args) {
  const CommandLine line(args, {"--seconds", "--port", "--status-port"}, {"--help", "--json"});
  if (line.has("--help")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (!line.positional().empty()) throw UsageError("takes no file names (see --help)");
  const double seconds = line.has("--seconds") ? line.seconds("--seconds") : 3.0;
  if (seconds <= 0) throw UsageError("--seconds: discover listens for a time; give more than 0");
  const int dataPort = line.port("--port", kDefaultDataPort);
  const int statusPort = line.port("--status-port", kDefaultStatusPort);
  if (dataPort == statusPort) throw UsageError("--port and --status-port are the same port");

  UdpSocket sockets[2];
  const int ports[2] = {statusPort, dataPort};
  for (int i = 0; i < 2; ++i)
    if (!(sockets[i].create() && sockets[i].setReuseAddress() &&
          sockets[i].bind(static_cast<std::uint16_t>(ports[i])))) {
      std::fprintf(stderr, "z540k-tool discover: port %d: %s\n", ports[i], sockets[i].lastError().c_str());
      return 1;
    }

  std::map<std::uint32_t, Heard> sensors;
  std::map<std::uint32_t, unsigned long long> dataOnly;  // data packets of addresses not (yet) heard with status
  unsigned long long other = 0;
  static std::uint8_t buffer[65536];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!stopRequested) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd fds[2] = {{sockets[0].fd(), POLLIN, 0}, {sockets[1].fd(), POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 100))) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      std::uint32_t from = 0;
      std::uint16_t fromPort = 0;
      const ReceiveResult r = sockets[i].receive(buffer, sizeof buffer, 0, &from, &fromPort);
      if (!r.datagram()) continue;
      const DatagramKind kind = r.fits(sizeof buffer) ? classifyDatagram(buffer, r.length) : DatagramKind::Other;
      if (kind == DatagramKind::StatusPacket) {
        Heard& h = sensors[from];
        ++h.statusPackets;
        h.statusRoutes.insert(std::to_string(fromPort) + " -> " + std::to_string(ports[i]));
        h.latest = windowValues(buffer);
      } else if (kind == DatagramKind::DataPacket || kind == DatagramKind::CompactScanPacket) {
        ++dataOnly[from];
      } else {
        ++other;
      }
    }
  }
  const bool json = line.has("--json");
  for (auto& [ip, h] : sensors) {
    h.dataPackets = dataOnly[ip];
    dataOnly.erase(ip);
    printSensor(ip, h, json);
  }
  std::fflush(stdout);
  for (const auto& [ip, count] : dataOnly)
    std::fprintf(stderr, "z540k-tool discover: %s sent %llu data packets but no status packet\n",
                 formatIpv4(ip).c_str(), count);
  std::fprintf(stderr, "%zu sensors heard in %.1f s on ports %d (status) and %d (data), %llu other datagrams%s\n",
               sensors.size(), seconds, statusPort, dataPort, other,
               stopRequested ? (", " + interruptedText()).c_str() : "");
  if (sensors.empty()) {
    std::fprintf(stderr, "z540k-tool discover: %s\n", nothingArrivedText("status packet", statusPort, seconds).c_str());
    return kExitNothingReceived;
  }
  return 0;
}

}  // namespace z540k::cli
