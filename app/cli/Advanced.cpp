// advanced and restore-defaults: the advanced window's Set and "Restore Laser
// set" from the command line, with the window's packet functions. The status
// comes from a saved dump with the addresses given, or from a status frame
// captured as the window captures it.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

#include "AdvancedSettingsPacket.h"
#include "CaptureRecorder.h"
#include "Commands.h"
#include "ConfigurationInputs.h"
#include "PacketFormat.h"
#include "StatusFrameCapture.h"
#include "StatusPacket.h"
#include "StatusText.h"
#include "UdpSocket.h"

namespace z540k::cli {

namespace {

const char* const kAdvancedHelp =
    "usage: z540k-tool advanced [options]\n"
    "\n"
    "Writes the sensor's factory values with one advanced settings packet, as the advanced window's Set\n"
    "does: built on the sensor's status packet, each option encoded as the window encodes the same text\n"
    "typed into its field; an omitted option keeps the status packet's value. Without field options\n"
    "(and without --dry-run) it prints the values as the window's Refresh shows them and sends nothing.\n"
    "\n"
    "the sensor's status:\n"
    "  --snapshot FILE        a status packet saved by \"Save set file\" or \"status --save-snapshot\",\n"
    "    --sensor IP:PORT     with the sensor's address and port (where its status frames come from)\n"
    "    --host-ip IP         and the host address its status frames go to\n"
    "  otherwise a status frame is captured (libpcap; as root or with capture rights):\n"
    "  --capture-device NAME  the adapter (default: Z540K_CAPTURE_DEVICE, else as the recorder chooses)\n"
    "  --status-port P        the status port (default 2369)\n"
    "  --timeout S            waiting at most S seconds for a frame (default 5)\n"
    "\n"
    "fields (texts as typed into the window; a value its field cannot hold, or with more decimals than\n"
    "it keeps, is refused):\n"
    "  --rpm 300|600|1200     motor speed\n"
    "  --high-reflect MM      high-reflection compensation, whole mm, 0-65535 (empty: kept)\n"
    "  --zero-degree 0|1      0 at the cable end, 1 straight ahead\n"
    "  --echo single|dual     echo mode\n"
    "  --deviation-angle DEG  horizontal offset angle, -327.68 to 327.67\n"
    "  --range M              measuring range in metres, 0 to 655.35\n"
    "  --trail-threshold N    trailing-removal threshold, 0-65535\n"
    "  --trail-distance CM    trailing-removal distance, 0-65535\n"
    "  --encoder-zero DEG     encoder zero calibration, -327.68 to 327.67 (empty: kept)\n"
    "  --local-time \"yyyy-MM-dd hh:mm:ss\"  the time written (default: now)\n"
    "\n"
    "  --dry-run              print the packet in the status dump format and its destination; send nothing\n"
    "  --json                 with --dry-run: one JSON object of each value before and after, and the\n"
    "                         destination, instead of the packet\n";

const char* const kRestoreHelp =
    "usage: z540k-tool restore-defaults --to IP:PORT [options]\n"
    "\n"
    "Sends the default-restore packet (300 rpm, sensor 192.168.1.222, host 192.168.1.125, ports 2368 and\n"
    "2369), as the advanced window's \"Restore Laser set\" does.\n"
    "\n"
    "  --to IP:PORT           where it goes (the window's Dest IP and Dest Port), port 1-65535\n"
    "  --local-time \"yyyy-MM-dd hh:mm:ss\"  the time written (default: now)\n"
    "  --dry-run              print the packet in the status dump format and its destination; send nothing\n";

const char* const kFieldOptions[] = {
    "--rpm",   "--high-reflect",    "--zero-degree",    "--echo",        "--deviation-angle",
    "--range", "--trail-threshold", "--trail-distance", "--encoder-zero"};

// "IP:PORT" with a dotted IPv4 address and a port of 1-65535.
void addressAndPort(const std::string& name, const std::string& text, std::string& ip, std::uint16_t& port) {
  const auto colon = text.rfind(':');
  std::string reason;
  if (colon == std::string::npos ||
      !restoreDestination(text.substr(0, colon), text.substr(colon + 1), ip, port, reason))
    throw UsageError("bad value for " + name + ": \"" + text + "\" (expected IP:PORT, as 192.168.1.222:2368" +
                     (reason.empty() ? ")" : "; " + reason + ")"));
}

void printOrSend(const CommandLine& line, const char* command, const char* what, const std::uint8_t* packet,
                 std::size_t size, const std::string& ip, std::uint16_t port, const StatusSnapshot* before = nullptr) {
  if (line.has("--json") && before) {
    std::printf("%s\n", settingsChangeJson(advancedSettingsTexts(before->data()), advancedSettingsTexts(packet),
                                           ip + ":" + std::to_string(port))
                            .c_str());
    return;
  }
  if (line.has("--dry-run")) {
    std::printf("%s\ndestination %s:%u\n", statusDumpText(packet, size).c_str(), ip.c_str(), port);
    return;
  }
  std::string error;
  if (!sendDatagram(ip, port, packet, size, error)) throw Refusal(error);
  std::fprintf(stderr, "z540k-tool %s: sent the %zu-byte %s packet to %s:%u\n", command, size, what, ip.c_str(), port);
}

// What a Refresh shows, one field per line.
void printRefresh(const StatusSnapshot& s, const StatusFrameAddresses& frame) {
  const AdvancedSettingsView v = advancedSettingsView(s);
  const unsigned rpm = loadBE16(&s[status_offset::kMotorSpeed]);
  std::printf("sensor: %s:%u\nhost: %s\n", dottedIpv4(frame.sensorIp.data()).c_str(), frame.sensorPort,
              dottedIpv4(frame.hostIp.data()).c_str());
  std::printf("motor speed: %u rpm%s\n", rpm,
              v.motorSpeed.empty() ? " (none of 300, 600, 1200)" : (" (\"" + v.motorSpeed + "\")").c_str());
  std::printf("high reflection (mm): %s\n", v.highReflect.c_str());
  std::printf("zero-degree position: %s\n",
              v.zeroDegreeIndex == 0 ? "0 (at the cable end)"
              : v.zeroDegreeIndex == 1
                  ? "1 (straight ahead)"
                  : std::to_string(s[status_offset::kZeroDegreePosition]).append(" (unknown)").c_str());
  std::printf("echo: %s\n", v.echoIndex == 0 ? "single"
                            : v.echoIndex == 1
                                ? "dual"
                                : std::to_string(s[status_offset::kEchoMode]).append(" (unknown)").c_str());
  std::printf("deviation angle: %s\nrange: %s\ntrailing threshold: %s\ntrailing distance (cm): %s\n",
              v.deviationAngle.c_str(), v.range.c_str(), v.trailThreshold.c_str(), v.trailDistance.c_str());
  std::printf("encoder zero: %s\nboard 2 version: %s\nboard 3 version: %s\n", v.encoderZero.c_str(),
              v.board2Version.c_str(), v.board3Version.c_str());
  std::printf("board 2 high voltage: %s\nboard 2 high-voltage adjustment: %s\nboard 2 threshold adjustment: %s\n",
              v.board2HighVoltage.c_str(), v.board2HighVoltageAdjust.c_str(), v.board2ThresholdAdjust.c_str());
}

// What the command line alone decides, before any wait.
struct AdvancedOptions {
  bool fromFile = false;
  StatusFrameAddresses frame;  // with --snapshot: the addresses given
  std::uint16_t statusPort = 0;
  double timeout = 5.0;
  AdvancedSettingsInput in;
  LocalDateTime now;
  bool anyField = false;
};

// Where the status comes from: a snapshot with the addresses of its frame,
// or a capture on the status port, bounded in time.
void readStatusSource(const CommandLine& line, AdvancedOptions& o) {
  o.fromFile = line.has("--snapshot");
  if (o.fromFile && !(line.has("--sensor") && line.has("--host-ip")))
    throw UsageError("--snapshot needs --sensor IP:PORT and --host-ip IP (the addresses of the status frame)");
  if (!o.fromFile && (line.has("--sensor") || line.has("--host-ip")))
    throw UsageError("--sensor and --host-ip go with --snapshot");
  if (o.fromFile && (line.has("--capture-device") || line.has("--status-port") || line.has("--timeout")))
    throw UsageError(
        "--snapshot takes the status from the file: --capture-device, --status-port and --timeout do not apply");
  if (o.fromFile) {
    std::string ip, reason;
    addressAndPort("--sensor", line.text("--sensor", ""), ip, o.frame.sensorPort);
    o.frame.sensorIp = ipv4TextBytes(ip);
    std::uint16_t unused = 0;
    if (!restoreDestination(line.text("--host-ip", ""), "1", ip, unused, reason))
      throw UsageError("bad value for --host-ip: \"" + line.text("--host-ip", "") + "\" (expected an IPv4 address)");
    o.frame.hostIp = ipv4TextBytes(ip);
  }
  o.statusPort = static_cast<std::uint16_t>(line.port("--status-port", kDefaultStatusPort));
  o.timeout = line.has("--timeout") ? line.seconds("--timeout") : 5.0;
  if (o.timeout <= 0 || o.timeout > 3600)
    throw UsageError("bad value for --timeout: the wait must be bounded, more than 0 and at most 3600 seconds");
}

// The field options as the window's fields; a text its field cannot hold is
// refused as the window refuses it.
AdvancedSettingsInput advancedFields(const CommandLine& line) {
  AdvancedSettingsInput in;
  const int rpm = line.choice("--rpm", {"300", "600", "1200"}, -1);
  if (rpm >= 0) in.motorSpeed = kMotorSpeedChoices[static_cast<std::size_t>(rpm)].text;
  const int zero = line.choice("--zero-degree", {"0", "1"}, -1);
  if (zero >= 0) in.zeroDegreeIndex = zero;
  const int echo = line.choice("--echo", {"single", "dual"}, -1);
  if (echo >= 0) in.echoIndex = echo;
  const auto text = [&](const char* name, std::optional<std::string>& field) {
    if (line.has(name)) field = line.text(name, "");
  };
  text("--high-reflect", in.highReflect);
  text("--deviation-angle", in.deviationAngle);
  text("--range", in.range);
  text("--trail-threshold", in.trailThreshold);
  text("--trail-distance", in.trailDistance);
  text("--encoder-zero", in.encoderZero);
  const std::pair<const char*, AdvancedField> fieldOptions[] = {{"--high-reflect", AdvancedField::HighReflect},
                                                                {"--deviation-angle", AdvancedField::DeviationAngle},
                                                                {"--range", AdvancedField::Range},
                                                                {"--trail-threshold", AdvancedField::TrailThreshold},
                                                                {"--trail-distance", AdvancedField::TrailDistance},
                                                                {"--encoder-zero", AdvancedField::EncoderZero}};
  for (const auto& [name, field] : fieldOptions)
    if (const auto refusal = advancedFieldRefusal(field, line.text(name, "")))
      throw UsageError(std::string(name) + ": " + *refusal);
  switch (checkAdvancedSettings(in)) {
    case AdvancedSettingsRefusal::DeviationAngleEmpty:
      throw UsageError("--deviation-angle is empty: the horizontal offset angle needs a value");
    case AdvancedSettingsRefusal::RangeEmpty:
      throw UsageError("--range is empty: the measuring range needs a value");
    case AdvancedSettingsRefusal::None:
      break;
  }
  return in;
}

AdvancedOptions advancedOptions(const CommandLine& line) {
  AdvancedOptions o;
  readStatusSource(line, o);
  o.in = advancedFields(line);
  o.now = localTimeOption(line);
  o.anyField =
      std::any_of(std::begin(kFieldOptions), std::end(kFieldOptions), [&](const char* name) { return line.has(name); });
  return o;
}

// A status frame captured as the window captures it: its payload, and its
// addresses into `frame`. A Refusal when none arrives.
StatusSnapshot capturedStatus(const CommandLine& line, const AdvancedOptions& o, StatusFrameAddresses& frame) {
  std::string reason;
  const std::string named =
      line.has("--capture-device") ? line.text("--capture-device", "") : namedCaptureDevice(0, nullptr);
  const std::string device = chooseStatusCaptureAdapter(named, reason);
  if (device.empty()) throw Refusal("cannot capture a status frame: " + reason);
  StatusFrameCaptureSettings settings =
      statusFrameCaptureSettings(StatusFrameUse::Send, device, o.statusPort, static_cast<int>(o.timeout * 1000));
  settings.keepWaiting = [] { return !stopRequested.load(); };
  CapturedStatusFrame captured;
  std::string error;
  const StatusFrameResult result = captureStatusFrame(settings, captured, error);
  if (result == StatusFrameResult::Cancelled) throw Refusal(interruptedText() + " before a status frame arrived");
  if (result == StatusFrameResult::NoFrame) throw NothingArrived("You didn't connect Lidar.: " + error);
  if (result != StatusFrameResult::Captured) throw Refusal("You didn't connect Lidar.: " + error);
  frame = captured.addresses;
  return captured.payload;
}

}  // namespace

int advancedCommand(const std::vector<std::string>& args) {
  const CommandLine line(args,
                         {"--snapshot", "--sensor", "--host-ip", "--capture-device", "--status-port", "--timeout",
                          "--rpm", "--high-reflect", "--zero-degree", "--echo", "--deviation-angle", "--range",
                          "--trail-threshold", "--trail-distance", "--encoder-zero", "--local-time"},
                         {"--dry-run", "--json", "--help"});
  if (line.has("--help")) {
    std::fputs(kAdvancedHelp, stdout);
    return 0;
  }
  line.refusePositional();
  if (line.has("--json") && !line.has("--dry-run")) throw UsageError("--json goes with --dry-run");
  const AdvancedOptions o = advancedOptions(line);

  try {
    StatusFrameAddresses frame = o.frame;
    const StatusSnapshot snapshot =
        o.fromFile ? snapshotFromFile(line.text("--snapshot", "")) : capturedStatus(line, o, frame);
    if (!o.anyField && !line.has("--dry-run")) {
      printRefresh(snapshot, frame);
      return 0;
    }
    if (trailingRemovalSendsZero(o.in, snapshot))
      std::fprintf(stderr, "z540k-tool advanced: warning: the trailing-removal threshold or distance is 0\n");
    const auto packet = buildAdvancedSettingsPacket(o.in, snapshot, frame, o.now);
    printOrSend(line, "advanced", "advanced settings", packet.data(), packet.size(), dottedIpv4(frame.sensorIp.data()),
                frame.sensorPort, &snapshot);
    return 0;
  } catch (const Refusal& e) {
    std::fprintf(stderr, "z540k-tool advanced: %s\n", e.what());
    return dynamic_cast<const NothingArrived*>(&e) ? kExitNothingReceived : 1;
  }
}

int restoreDefaultsCommand(const std::vector<std::string>& args) {
  const CommandLine line(args, {"--to", "--local-time"}, {"--dry-run", "--help"});
  if (line.has("--help")) {
    std::fputs(kRestoreHelp, stdout);
    return 0;
  }
  line.refusePositional();
  if (!line.has("--to")) throw UsageError("needs --to IP:PORT (the window's Dest IP and Dest Port)");
  std::string ip;
  std::uint16_t port = 0;
  addressAndPort("--to", line.text("--to", ""), ip, port);
  const auto packet = buildDefaultRestorePacket(localTimeOption(line));
  try {
    printOrSend(line, "restore-defaults", "default-restore", packet.data(), packet.size(), ip, port);
    return 0;
  } catch (const Refusal& e) {
    std::fprintf(stderr, "z540k-tool restore-defaults: %s\n", e.what());
    return 1;
  }
}

}  // namespace z540k::cli
