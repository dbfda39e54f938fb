// configure: the settings window's Set from the command line. The fields
// start as a Refresh from the sensor's status leaves them, the options change
// what they name, and the network settings packet is built and sent as the
// window builds and sends it.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#include "Commands.h"
#include "ConfigurationInputs.h"
#include "NetworkSettingsPacket.h"
#include "PacketFormat.h"
#include "StatusPacket.h"
#include "UdpSocket.h"

namespace z540k::cli {

namespace {

const char* const kHelp =
    "usage: z540k-tool configure [options]\n"
    "\n"
    "Writes the sensor's network and motor settings with one network settings packet, as the settings\n"
    "window's Set does. The settings start at the sensor's current values, read from a status packet\n"
    "(its next one on the status port, or a saved one), so only what an option names changes. A sensor\n"
    "whose status says so (byte 1202 = 3) gets the 36-byte short packet, which carries only the\n"
    "addresses, the ports and the motor speed. The packet goes to the sensor's current address.\n"
    "\n"
    "the sensor's status:\n"
    "  --snapshot FILE        a status packet saved by \"status --save-snapshot\" or \"Save set file\"\n"
    "  --status-port P        otherwise the next status packet on this UDP port (default 2369)\n"
    "  --timeout S            waiting at most S seconds for it (default 5; 0: no limit)\n"
    "\n"
    "settings (texts as typed into the window; an empty value is an empty field):\n"
    "  --sensor-ip A.B.C.D    the sensor's new address\n"
    "  --dest-ip A.B.C.D      the host that receives its data and status\n"
    "  --subnet A.B.C.D       subnet mask (empty: 0.0.0.0)\n"
    "  --gateway A.B.C.D      default gateway (empty: 0.0.0.0)\n"
    "  --ntp A.B.C.D          NTP server (empty: 0.0.0.0)\n"
    "  --mac XX-XX-XX-XX-XX-XX  MAC address (any separators; another length sends 60-76-88-00-00-00)\n"
    "  --data-port N          data port; outside 1025-65535 the sensor keeps its port\n"
    "  --device-port N        status (device) port; same rule\n"
    "  --interval 0|1         packet interval (empty: 0)\n"
    "  --pps-angle D          PPS angle, whole degrees 0-360 (default: the sensor keeps its angle)\n"
    "  --rpm 300|600|1200     motor speed\n"
    "  --motor run|stop       motor state\n"
    "  --state running|sleep  sensor state\n"
    "  --time yes|no          write the local time into the sensor (default yes)\n"
    "  --local-time \"yyyy-MM-dd hh:mm:ss\"  the time written (default: now)\n"
    "\n"
    "sending:\n"
    "  --dry-run              print the packet in the status dump format and its destination; send nothing\n"
    "  --sensor-port P        the port the packet goes to (default 2368)\n";

const char* const kSameAddress =
    "The Lidar local IP cannot be set to the same as the destination IP.Please reset it !";

// The motor speed entries, in the order of --rpm 300, 600, 1200.
const std::vector<std::string> kMotorSpeedChoices = {" 5 HZ", " 10 HZ", " 20 HZ"};


bool allDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An address option: empty, or four decimal parts of 0-255 as the window's
// address validator lets them be typed (one to three digits each).
void checkAddressOption(const CommandLine& line, const std::string& name) {
  if (!line.has(name)) return;
  const std::string text = line.text(name, "");
  if (text.empty()) return;
  if (!ipv4TextHasFourParts(text))
    throw UsageError(name + " \"" + text + "\" is not a whole address: it needs four parts, as in 192.168.1.200");
  std::istringstream parts(text);
  for (std::string part; std::getline(parts, part, '.');)
    if (!allDigits(part) || part.size() > 3 || std::stoi(part) > 255)
      throw UsageError(name + " \"" + text + "\" is not an IPv4 address (four numbers from 0 to 255)");
}

// The motor speed entry a speed selects on Refresh; empty when none does.
StatusSnapshot snapshotFromSensor(std::uint16_t port, double seconds) {
  UdpSocket socket;
  if (!(socket.create() && socket.setReuseAddress() && socket.bind(port))) throw Refusal(socket.lastError());
  const auto start = std::chrono::steady_clock::now();
  std::uint8_t buffer[2048];
  while (!stopRequested) {
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds > 0 && waited >= seconds) break;
    const int waitMs = seconds > 0 ? static_cast<int>(std::clamp((seconds - waited) * 1000 + 1, 1.0, 100.0)) : 100;
    const long n = socket.receive(buffer, sizeof buffer, waitMs);
    if (n < 0) throw Refusal("receiving on port " + std::to_string(port) + " failed");
    if (n == static_cast<long>(kStatusPacketSize) &&
        std::equal(kStatusHeader.begin(), kStatusHeader.end(), buffer)) {
      StatusSnapshot snapshot;
      std::copy(buffer, buffer + snapshot.size(), snapshot.begin());
      return snapshot;
    }
  }
  char limit[64];
  std::snprintf(limit, sizeof limit, "%g", seconds);
  throw Refusal(stopRequested ? std::string("interrupted before a status packet arrived")
                              : "no status packet on port " + std::to_string(port) + " within " + limit +
                                    " s (see --status-port, --timeout, --snapshot)");
}

// What a Refresh leaves in the window's fields, and which of the three state
// combos it could not set from the status.
struct Refreshed {
  NetworkSettingsInput input;
  unsigned motorSpeed = 0;  // as the status reports it
  bool speedKnown = false, runStateKnown = false, sensorStateKnown = false;
  unsigned runState = 0, sensorState = 0;
  bool unsetSensorIp = false;
};

Refreshed refresh(const StatusSnapshot& s, bool shortFormat) {
  namespace at = status_offset;
  Refreshed r;
  NetworkSettingsInput& in = r.input;
  if (shortFormat) {
    in.sensorIp = dottedIpv4(&s[at::kShortSensorIp]);
    in.destIp = dottedIpv4(&s[at::kShortDestIp]);
    in.dataPort = std::to_string(loadBE16(&s[at::kShortDataPort]));
    in.devicePort = std::to_string(loadBE16(&s[at::kShortStatusPort]));
    r.motorSpeed = loadBE16(&s[at::kShortMotorSpeed]);
  } else {
    // A sensor that reports 255.255.255.255 is at its factory address, where
    // the packet goes: the empty field keeps that address.
    static const std::uint8_t kUnset[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    r.unsetSensorIp = std::equal(kUnset, kUnset + 4, &s[at::kSensorIp]);
    in.sensorIp = r.unsetSensorIp ? "" : dottedIpv4(&s[at::kSensorIp]);
    in.destIp = dottedIpv4(&s[at::kDestIp]);
    in.ntp = dottedIpv4(&s[at::kNtpIp]);
    in.gateway = dottedIpv4(&s[at::kGateway]);
    in.subnet = dottedIpv4(&s[at::kSubnetMask]);
    in.dataPort = std::to_string(loadBE16(&s[at::kDataPort]));
    in.devicePort = std::to_string(loadBE16(&s[at::kStatusPort]));
    in.interval = std::to_string(loadBE16(&s[at::kInterval]));
    char mac[18];
    std::snprintf(mac, sizeof mac, "%02x-%02x-%02x-%02x-%02x-%02x", s[at::kMac], s[at::kMac + 1],
                  s[at::kMac + 2], s[at::kMac + 3], s[at::kMac + 4], s[at::kMac + 5]);
    in.mac = mac;
    // The window shows a speed of 100 rpm or less as 0.
    r.motorSpeed = loadBE16(&s[at::kMotorSpeed]);
    if (r.motorSpeed <= 100) r.motorSpeed = 0;
    r.runState = loadBE16(&s[at::kRunState]);
    r.runStateKnown = r.runState <= 1;
    in.motorState = r.runState == 1 ? "Stop" : "Run";
    r.sensorState = loadBE16(&s[at::kSensorState]);
    r.sensorStateKnown = r.sensorState <= 1;
    in.sensorState = r.sensorState == 1 ? 1 : 0;
  }
  in.motorSpeed = motorSpeedChoice(r.motorSpeed);
  r.speedKnown = !in.motorSpeed.empty();
  return r;
}

void note(const std::string& text) { std::fprintf(stderr, "z540k-tool configure: %s\n", text.c_str()); }

std::uint32_t addressValue(const std::string& text) {
  const auto b = ipv4TextBytes(text);
  return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
         static_cast<std::uint32_t>(b[2]) << 8 | b[3];
}

}  // namespace

int configureCommand(const std::vector<std::string>& args) {
  static const std::vector<std::string> kAddressOptions = {"--sensor-ip", "--dest-ip", "--subnet", "--gateway",
                                                           "--ntp"};
  static const std::vector<std::string> kLongOnlyOptions = {"--subnet",   "--gateway",   "--ntp",
                                                            "--mac",      "--interval",  "--pps-angle",
                                                            "--motor",    "--state",     "--time",
                                                            "--local-time"};
  const CommandLine line(args,
                         {"--snapshot", "--status-port", "--timeout", "--sensor-ip", "--dest-ip", "--subnet",
                          "--gateway", "--ntp", "--mac", "--data-port", "--device-port", "--interval",
                          "--pps-angle", "--rpm", "--motor", "--state", "--time", "--local-time", "--sensor-port"},
                         {"--dry-run", "--help"});
  if (line.has("--help")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (!line.positional().empty()) throw UsageError("unexpected argument \"" + line.positional()[0] + "\"");

  // Everything the command line alone decides is checked before waiting for
  // the sensor.
  for (const auto& name : kAddressOptions) checkAddressOption(line, name);
  const std::string mac = line.text("--mac", "");
  if (mac.size() == 17 && !macTextUsable(mac))
    throw UsageError("--mac \"" + mac + "\" is not a MAC address: each of its six pairs must be two hexadecimal digits");
  for (const char* name : {"--data-port", "--device-port"}) {
    const std::string port = line.text(name, "");
    if (!port.empty() && !allDigits(port))
      throw UsageError(std::string("bad value for ") + name + ": \"" + port + "\" (expected a port number)");
  }
  const std::string interval = line.text("--interval", "");
  if (!interval.empty() && interval != "0" && interval != "1")
    throw UsageError("bad value for --interval: \"" + interval + "\" (expected 0 or 1, or empty)");
  const std::string pps = line.text("--pps-angle", "");
  if (!pps.empty() && (!allDigits(pps) || pps.size() > 3 || std::stoi(pps) > 360))
    throw UsageError("bad value for --pps-angle: \"" + pps + "\" (expected whole degrees from 0 to 360, or empty)");
  const int rpm = line.choice("--rpm", {"300", "600", "1200"}, -1);
  const int motor = line.choice("--motor", {"run", "stop"}, -1);
  const int state = line.choice("--state", {"running", "sleep"}, -1);
  const bool writeTime = line.choice("--time", {"yes", "no"}, 0) == 0;
  const LocalDateTime now = localTimeOption(line);
  const auto sensorPort = static_cast<std::uint16_t>(line.integer("--sensor-port", kConfigurationPort, 1, 65535));
  const auto statusPort = static_cast<std::uint16_t>(line.integer("--status-port", 2369, 1, 65535));
  const double timeout = line.has("--timeout") ? line.seconds("--timeout") : 5.0;
  if (line.has("--snapshot") && (line.has("--status-port") || line.has("--timeout")))
    throw UsageError("--snapshot takes the status from the file: --status-port and --timeout do not apply");

  try {
    StatusSnapshot snapshot = line.has("--snapshot") ? snapshotFromFile(line.text("--snapshot", ""))
                                                     : snapshotFromSensor(statusPort, timeout);
    const bool shortFormat = isShortStatusFormat(snapshot);
    Refreshed r = refresh(snapshot, shortFormat);
    NetworkSettingsInput& in = r.input;

    // The options change the fields they name.
    const auto set = [&](const char* name, std::string& field) {
      if (line.has(name)) field = line.text(name, "");
    };
    set("--sensor-ip", in.sensorIp);
    set("--dest-ip", in.destIp);
    set("--data-port", in.dataPort);
    set("--device-port", in.devicePort);
    if (rpm >= 0) in.motorSpeed = kMotorSpeedChoices[static_cast<std::size_t>(rpm)];
    if (!r.speedKnown && rpm < 0)
      throw Refusal("the sensor reports a motor speed of " + std::to_string(r.motorSpeed) +
                    " rpm, none of 300, 600, 1200: give --rpm");
    if (!shortFormat) {
      set("--subnet", in.subnet);
      set("--gateway", in.gateway);
      set("--ntp", in.ntp);
      set("--mac", in.mac);
      set("--interval", in.interval);
      set("--pps-angle", in.ppsAngle);
      if (motor >= 0) in.motorState = motor == 1 ? "Stop" : "Run";
      if (state >= 0) in.sensorState = state;
      in.writeTime = writeTime;
      if (!r.runStateKnown && motor < 0)
        throw Refusal("the sensor reports a run state of " + std::to_string(r.runState) +
                      ", neither run (0) nor stop (1): give --motor");
      if (!r.sensorStateKnown && state < 0)
        throw Refusal("the sensor reports a sensor state of " + std::to_string(r.sensorState) +
                      ", neither running (0) nor sleep (1): give --state");
    }

    std::vector<std::uint8_t> packet;
    std::size_t sensorAt = 0, destAt = 0;
    if (shortFormat) {
      const auto p = buildShortNetworkSettingsPacket(in, snapshot);
      packet.assign(p.begin(), p.end());
      sensorAt = network_settings_offset::kShortSensorIp;
      destAt = network_settings_offset::kShortDestIp;
    } else {
      const auto p = buildLongNetworkSettingsPacket(in, snapshot, now);
      packet.assign(p.begin(), p.end());
      sensorAt = network_settings_offset::kSensorIp;
      destAt = network_settings_offset::kDestIp;
    }
    // The window refuses equal texts; equal addresses written differently
    // ("10.0.0.1", "10.0.0.01") are refused as well.
    if (in.sensorIp == in.destIp || std::equal(&packet[sensorAt], &packet[sensorAt + 4], &packet[destAt]))
      throw Refusal(kSameAddress);

    // What the window does without a word, said.
    if (shortFormat) {
      for (const auto& name : kLongOnlyOptions)
        if (line.has(name)) note(name + " is ignored: this sensor takes the short packet, which does not carry it");
    } else if (line.has("--local-time") && !writeTime) {
      note("--local-time is ignored with --time no");
    }
    if (r.unsetSensorIp)
      note("the sensor reports its address as 255.255.255.255: taken as its factory address 192.168.1.200" +
           std::string(line.has("--sensor-ip") ? "" : ", which it keeps"));
    for (const auto& [name, what] : {std::pair<const char*, const char*>{"--data-port", "data"},
                                     std::pair<const char*, const char*>{"--device-port", "device"}}) {
      std::uint16_t value = 0;
      const std::string text = line.text(name, "");
      if (line.has(name) && !portTextValue(text, value))
        note(std::string(name) + " \"" + text + "\" is not a port from 1025 to 65535: the sensor keeps its " +
             what + " port");
    }
    if (!shortFormat) {
      if (line.has("--mac") && mac.size() != 17)
        note("--mac \"" + mac + "\" is not 17 characters: sends the default MAC 60-76-88-00-00-00");
      for (const char* name : {"--subnet", "--gateway", "--ntp"})
        if (line.has(name) && line.text(name, "").empty()) note(std::string(name) + " is empty: sends 0.0.0.0");
      if (line.has("--interval") && interval.empty()) note("--interval is empty: sends 0");
      // The window's warnings when a mask or gateway is entered; it sends all
      // the same.
      if ((line.has("--subnet") || line.has("--gateway")) && !in.subnet.empty()) {
        const std::uint32_t m = addressValue(in.subnet);
        if ((m | (m - 1)) != 0xFFFFFFFFu)
          note("warning: the subnet mask " + in.subnet + " is not contiguous");
        else if (!in.gateway.empty() && !in.destIp.empty() &&
                 (addressValue(in.gateway) & m) != (addressValue(in.destIp) & m))
          note("warning: the gateway " + in.gateway + " is not in the subnet of " + in.destIp + " and " +
               in.subnet);
      }
    }
    const std::string destination = networkSettingsDestination(snapshot, shortFormat);

    if (line.has("--dry-run")) {
      std::printf("%s\ndestination %s:%u\n", statusDumpText(packet.data(), packet.size()).c_str(),
                  destination.c_str(), sensorPort);
      return 0;
    }
    std::string error;
    if (!sendDatagram(destination, sensorPort, packet.data(), packet.size(), error)) throw Refusal(error);
    std::printf("sent the %zu-byte %s network settings packet to %s:%u\n", packet.size(),
                shortFormat ? "short" : "long", destination.c_str(), sensorPort);
    return 0;
  } catch (const Refusal& e) {
    std::fprintf(stderr, "z540k-tool configure: %s\n", e.what());
    return 1;
  }
}

}  // namespace z540k::cli
