// configure: the settings window's Set from the command line. The fields
// start as a Refresh from the sensor's status leaves them, the options change
// what they name, and the network settings packet is built and sent as the
// window builds and sends it.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "Commands.h"
#include "ConfigurationInputs.h"
#include "NetworkSettingsPacket.h"
#include "NetworkSettingsRules.h"
#include "NetworkSettingsSession.h"
#include "PacketFormat.h"
#include "SettingsFieldValues.h"
#include "StatusPacket.h"
#include "StatusText.h"
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
    "settings (texts as typed into the window; an empty value is an empty field; a value its field\n"
    "cannot hold, or a half-typed address, is refused as the window refuses it):\n"
    "  --sensor-ip A.B.C.D    the sensor's new address (a host's: first number 1-223)\n"
    "  --dest-ip A.B.C.D      the host that receives its data and status (the same rule)\n"
    "  --subnet A.B.C.D       subnet mask (empty: the sensor keeps its own)\n"
    "  --gateway A.B.C.D      default gateway (empty: the sensor keeps its own)\n"
    "  --ntp A.B.C.D          NTP server (empty: the sensor keeps its own)\n"
    "  --mac XX-XX-XX-XX-XX-XX  MAC address (any separators; another length sends 60-76-88-00-00-00)\n"
    "  --data-port N          data port; 1024 or below the sensor keeps its port\n"
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
    "  --json                 with --dry-run: one JSON object of each field's value before and after, and\n"
    "                         the destination, instead of the packet\n"
    "  --sensor-port P        the port the packet goes to (default 2368)\n";

// The options that name a field, checked as the window checks that field
// before Set.
const std::pair<const char*, NetworkField> kFieldOptions[] = {{"--sensor-ip", NetworkField::SensorIp},
                                                              {"--dest-ip", NetworkField::DestIp},
                                                              {"--subnet", NetworkField::Subnet},
                                                              {"--gateway", NetworkField::Gateway},
                                                              {"--ntp", NetworkField::Ntp},
                                                              {"--mac", NetworkField::Mac},
                                                              {"--data-port", NetworkField::DataPort},
                                                              {"--device-port", NetworkField::DevicePort},
                                                              {"--pps-angle", NetworkField::PpsAngle}};

StatusSnapshot snapshotFromSensor(std::uint16_t port, double seconds) {
  UdpSocket socket;
  if (!(socket.create() && socket.setReuseAddress() && socket.bind(port))) throw Refusal(socket.lastError());
  const auto start = std::chrono::steady_clock::now();
  std::uint8_t buffer[2048];
  while (!stopRequested) {
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds > 0 && waited >= seconds) break;
    const int waitMs = seconds > 0 ? static_cast<int>(std::clamp((seconds - waited) * 1000 + 1, 1.0, 100.0)) : 100;
    const ReceiveResult read = socket.receive(buffer, sizeof buffer, waitMs);
    if (read.failed()) throw Refusal("receiving on port " + std::to_string(port) + " failed");
    if (read.datagram() && read.length == kStatusPacketSize &&
        std::equal(kStatusHeader.begin(), kStatusHeader.end(), buffer)) {
      StatusSnapshot snapshot;
      std::copy(buffer, buffer + snapshot.size(), snapshot.begin());
      return snapshot;
    }
  }
  if (stopRequested) throw Refusal(interruptedText() + " before a status packet arrived");
  throw NothingArrived(nothingArrivedText("status packet", port, seconds) +
                       " (see --status-port, --timeout, --snapshot)");
}

void note(const std::string& text) { std::fprintf(stderr, "z540k-tool configure: %s\n", text.c_str()); }

// The options the short packet does not carry.
const std::vector<std::string> kLongOnlyOptions = {"--subnet",    "--gateway", "--ntp",   "--mac",  "--interval",
                                                   "--pps-angle", "--motor",   "--state", "--time", "--local-time"};

// What the command line alone decides; -1 for a choice not given.
struct ConfigureOptions {
  std::string mac, interval;
  int rpm = -1, motor = -1, state = -1;
  bool writeTime = true;
  LocalDateTime now;
  std::uint16_t sensorPort = 0, statusPort = 0;
  double timeout = 5.0;
};

// Everything the command line alone decides, checked before waiting for the
// sensor.
ConfigureOptions configureOptions(const CommandLine& line) {
  for (const auto& [name, field] : kFieldOptions)
    if (line.has(name))
      if (const auto refusal = networkFieldRefusal(field, line.text(name, "")))
        throw UsageError(std::string(name) + ": " + *refusal);
  ConfigureOptions o;
  o.mac = line.text("--mac", "");
  // The window's interval field takes 0 or 1.
  o.interval = line.text("--interval", "");
  if (!o.interval.empty() && o.interval != "0" && o.interval != "1")
    throw UsageError("bad value for --interval: \"" + o.interval + "\" (expected 0 or 1, or empty)");
  o.rpm = line.choice("--rpm", {"300", "600", "1200"}, -1);
  o.motor = line.choice("--motor", {"run", "stop"}, -1);
  o.state = line.choice("--state", {"running", "sleep"}, -1);
  o.writeTime = line.choice("--time", {"yes", "no"}, 0) == 0;
  o.now = localTimeOption(line);
  o.sensorPort = static_cast<std::uint16_t>(line.port("--sensor-port", kConfigurationPort));
  o.statusPort = static_cast<std::uint16_t>(line.port("--status-port", kDefaultStatusPort));
  o.timeout = line.has("--timeout") ? line.seconds("--timeout") : 5.0;
  if (line.has("--snapshot") && (line.has("--status-port") || line.has("--timeout")))
    throw UsageError("--snapshot takes the status from the file: --status-port and --timeout do not apply");
  return o;
}

// The fields as a Refresh leaves them, changed where the options name them;
// a Refusal when the sensor's status leaves a choice the options must make.
NetworkSettingsInput configuredFields(const CommandLine& line, const ConfigureOptions& o,
                                      const NetworkSettingsRefresh& r, const StatusSnapshot& snapshot,
                                      bool shortFormat) {
  NetworkSettingsInput in;
  applyRefresh(r, in);
  const auto set = [&](const char* name, std::string& field) {
    if (line.has(name)) field = line.text(name, "");
  };
  set("--sensor-ip", in.sensorIp);
  set("--dest-ip", in.destIp);
  set("--data-port", in.dataPort);
  set("--device-port", in.devicePort);
  if (o.rpm >= 0) in.motorSpeed = z540k::kMotorSpeedChoices[static_cast<std::size_t>(o.rpm)].text;
  if (r.motorSpeedChoice.empty() && o.rpm < 0)
    throw Refusal("the sensor reports a motor speed of " + std::to_string(r.motorSpeed) +
                  " rpm, none of 300, 600, 1200: give --rpm");
  if (shortFormat) return in;
  set("--subnet", in.subnet);
  set("--gateway", in.gateway);
  set("--ntp", in.ntp);
  set("--mac", in.mac);
  set("--interval", in.interval);
  set("--pps-angle", in.ppsAngle);
  if (o.motor >= 0) in.motorState = o.motor == 1 ? "Stop" : "Run";
  if (o.state >= 0) in.sensorState = o.state;
  in.writeTime = o.writeTime;
  if (r.motorState.empty() && o.motor < 0)
    throw Refusal("the sensor reports a run state of " + std::to_string(loadBE16(&snapshot[status_offset::kRunState])) +
                  ", neither run (0) nor stop (1): give --motor");
  if (r.sensorState < 0 && o.state < 0)
    throw Refusal("the sensor reports a sensor state of " +
                  std::to_string(loadBE16(&snapshot[status_offset::kSensorState])) +
                  ", neither running (0) nor sleep (1): give --state");
  return in;
}

// A port option the sensor ignores: it keeps its port.
void notePortsKept(const CommandLine& line) {
  for (const auto& [name, what] : {std::pair<const char*, const char*>{"--data-port", "data"},
                                   std::pair<const char*, const char*>{"--device-port", "device"}}) {
    std::uint16_t value = 0;
    const std::string text = line.text(name, "");
    if (line.has(name) && !portTextValue(text, value))
      note(std::string(name) + " \"" + text + "\" is not a port from 1025 to 65535: the sensor keeps its " + what +
           " port");
  }
}

// The long packet's defaults for empty or odd fields, and the window's
// warnings when a mask or gateway is entered; it sends all the same.
void noteLongFieldDefaults(const CommandLine& line, const ConfigureOptions& o, const NetworkSettingsInput& in) {
  if (line.has("--mac") && o.mac.size() != 17)
    note("--mac \"" + o.mac + "\" is not 17 characters: sends the default MAC 60-76-88-00-00-00");
  for (const char* name : {"--subnet", "--gateway", "--ntp"})
    if (line.has(name) && line.text(name, "").empty())
      note(std::string(name) + " is empty: the sensor keeps its own address");
  if (line.has("--interval") && o.interval.empty()) note("--interval is empty: sends 0");
  if (line.has("--subnet") || line.has("--gateway")) {
    if (subnetMaskCheck(in.subnet) == AddressCheck::Invalid)
      note("warning: the subnet mask " + in.subnet + " is not contiguous");
    else if (gatewayCheck(in.gateway, in.destIp, in.subnet) == AddressCheck::Invalid)
      note("warning: the gateway " + in.gateway + " is not in the subnet of " + in.destIp + " and " + in.subnet);
  }
}

// What the window does without a word, said.
void noteSilentChanges(const CommandLine& line, const ConfigureOptions& o, const NetworkSettingsRefresh& r,
                       const NetworkSettingsInput& in, bool shortFormat, const std::string& destination) {
  if (shortFormat) {
    for (const auto& name : kLongOnlyOptions)
      if (line.has(name)) note(name + " is ignored: this sensor takes the short packet, which does not carry it");
  } else if (line.has("--local-time") && !o.writeTime) {
    note("--local-time is ignored with --time no");
  }
  if (!shortFormat && r.sensorIp == "255.255.255.255")
    note("the sensor reports its address as 255.255.255.255: the packet goes to its factory address " + destination);
  notePortsKept(line);
  if (!shortFormat) noteLongFieldDefaults(line, o, in);
}

// Prints the packet (--dry-run) or sends it; a failed send is a Refusal.
void printOrSend(const CommandLine& line, const StatusSnapshot& snapshot, const std::vector<std::uint8_t>& packet,
                 bool shortFormat, const std::string& destination, std::uint16_t sensorPort) {
  if (line.has("--json")) {
    std::printf("%s\n", settingsChangeJson(networkSettingsTexts(snapshot.data(), snapshot.size()),
                                           networkSettingsTexts(packet.data(), packet.size()),
                                           destination + ":" + std::to_string(sensorPort))
                            .c_str());
    return;
  }
  if (line.has("--dry-run")) {
    std::printf("%s\ndestination %s:%u\n", statusDumpText(packet.data(), packet.size()).c_str(), destination.c_str(),
                sensorPort);
    return;
  }
  std::string error;
  if (!sendDatagram(destination, sensorPort, packet.data(), packet.size(), error)) throw Refusal(error);
  std::fprintf(stderr, "z540k-tool configure: sent the %zu-byte %s network settings packet to %s:%u\n", packet.size(),
               shortFormat ? "short" : "long", destination.c_str(), sensorPort);
}

}  // namespace

int configureCommand(const std::vector<std::string>& args) {
  const CommandLine line(args,
                         {"--snapshot", "--status-port", "--timeout", "--sensor-ip", "--dest-ip", "--subnet",
                          "--gateway", "--ntp", "--mac", "--data-port", "--device-port", "--interval", "--pps-angle",
                          "--rpm", "--motor", "--state", "--time", "--local-time", "--sensor-port"},
                         {"--dry-run", "--json", "--help"});
  if (line.has("--help")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  line.refusePositional();
  if (line.has("--json") && !line.has("--dry-run")) throw UsageError("--json goes with --dry-run");
  const ConfigureOptions o = configureOptions(line);

  try {
    const StatusSnapshot snapshot = line.has("--snapshot") ? snapshotFromFile(line.text("--snapshot", ""))
                                                           : snapshotFromSensor(o.statusPort, o.timeout);
    NetworkSettingsSession session = NetworkSettingsSession::fromSnapshot(snapshot);
    const bool shortFormat = session.shortFormat();
    const NetworkSettingsRefresh r = session.refresh()->fields;
    const NetworkSettingsInput in = configuredFields(line, o, r, snapshot, shortFormat);
    // The window's Set: its refusals in its order, then the packet and the
    // sensor's current address.
    const NetworkSettingsSession::SetPlan plan = session.set(in, o.now);
    if (plan.refused != NetworkSettingsSession::SetRefusal::None) throw Refusal(plan.refusal);
    noteSilentChanges(line, o, r, in, shortFormat, plan.destination);
    printOrSend(line, snapshot, plan.packet, shortFormat, plan.destination, o.sensorPort);
    return 0;
  } catch (const Refusal& e) {
    std::fprintf(stderr, "z540k-tool configure: %s\n", e.what());
    return dynamic_cast<const NothingArrived*>(&e) ? kExitNothingReceived : 1;
  }
}

}  // namespace z540k::cli
