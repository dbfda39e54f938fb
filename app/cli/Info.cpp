// info: what a capture holds, sensor by sensor, like capinfos for this
// sensor's captures. The lines are the command's data (stdout).
#include <cstdio>
#include <string>

#include "CaptureSummary.h"
#include "Commands.h"

namespace z540k::cli {

namespace {

const char* const kHelp =
    "usage: z540k-tool info CAPTURE [--json]\n"
    "\n"
    "Reads a capture (pcap or pcapng) once and prints, for each sender (source address and port),\n"
    "its datagrams by kind (data, compact scan, status, other), the revolutions export-csv would write\n"
    "of them, the return arrangement and layout the data packets show, the packets lost on the wire,\n"
    "the first and last time stamp (seconds since 1970, UTC), the duration and the rpm the revolutions\n"
    "give. A capture damaged part way is described up to the damage (exit code 1).\n"
    "\n"
    "options:\n"
    "  --json                 one JSON object instead of the text\n";

std::string timeText(std::int64_t seconds, std::uint32_t microseconds) {
  char text[40];
  std::snprintf(text, sizeof text, "%lld.%06u", static_cast<long long>(seconds), microseconds);
  return text;
}

std::string number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

std::string jsonText(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
      continue;
    }
    out += c;
  }
  return out + "\"";
}

std::string layoutOf(const SourceSummary& s) { return s.layoutLook ? layoutText(*s.layoutLook) : "unknown"; }

void printText(const std::string& path, const CaptureSummary& c) {
  std::printf("%s: %s, link type %u, %llu records, %llu UDP datagrams, %zu senders\n", path.c_str(),
              c.pcapng ? "pcapng" : "pcap", static_cast<unsigned>(c.linkType),
              static_cast<unsigned long long>(c.records), static_cast<unsigned long long>(c.datagrams),
              c.sources.size());
  for (const SourceSummary& s : c.sources) {
    std::printf("sender %s\n", sensorAddressText(s.source).c_str());
    std::printf("  packets: %llu data, %llu compact scan, %llu status, %llu other\n",
                static_cast<unsigned long long>(s.dataPackets), static_cast<unsigned long long>(s.compactPackets),
                static_cast<unsigned long long>(s.statusPackets), static_cast<unsigned long long>(s.otherDatagrams));
    std::printf("  revolutions: %llu, %s rpm\n", static_cast<unsigned long long>(s.revolutions),
                number(s.rpm()).c_str());
    std::printf("  data show: %s, layout %s\n", arrangementText(s.arrangement), layoutOf(s).c_str());
    std::printf("  lost on the wire: %llu packets\n", static_cast<unsigned long long>(s.lostOnWire));
    std::printf("  time: %s to %s (%s s)\n", timeText(s.firstSeconds, s.firstMicroseconds).c_str(),
                timeText(s.lastSeconds, s.lastMicroseconds).c_str(), number(s.durationSeconds()).c_str());
  }
  if (c.unlisted > 0) std::printf("further senders: %llu datagrams\n", static_cast<unsigned long long>(c.unlisted));
}

void printJson(const std::string& path, const CaptureSummary& c) {
  std::printf(
      "{\"file\": %s, \"format\": \"%s\", \"linkType\": %u, \"records\": %llu, \"datagrams\": %llu, "
      "\"unlistedDatagrams\": %llu, \"damage\": %s, \"senders\": [",
      jsonText(path).c_str(), c.pcapng ? "pcapng" : "pcap", static_cast<unsigned>(c.linkType),
      static_cast<unsigned long long>(c.records), static_cast<unsigned long long>(c.datagrams),
      static_cast<unsigned long long>(c.unlisted), c.damage.empty() ? "null" : jsonText(c.damage).c_str());
  const char* separator = "";
  for (const SourceSummary& s : c.sources) {
    std::printf(
        "%s\n  {\"address\": %s, \"dataPackets\": %llu, \"compactScanPackets\": %llu, "
        "\"statusPackets\": %llu, \"otherDatagrams\": %llu, \"revolutions\": %llu, \"rpm\": %s, "
        "\"returns\": \"%s\", \"layout\": \"%s\", \"lostOnWire\": %llu, \"first\": %s, \"last\": %s, "
        "\"durationSeconds\": %s}",
        separator, jsonText(sensorAddressText(s.source)).c_str(), static_cast<unsigned long long>(s.dataPackets),
        static_cast<unsigned long long>(s.compactPackets), static_cast<unsigned long long>(s.statusPackets),
        static_cast<unsigned long long>(s.otherDatagrams), static_cast<unsigned long long>(s.revolutions),
        number(s.rpm()).c_str(), arrangementText(s.arrangement), layoutOf(s).c_str(),
        static_cast<unsigned long long>(s.lostOnWire), timeText(s.firstSeconds, s.firstMicroseconds).c_str(),
        timeText(s.lastSeconds, s.lastMicroseconds).c_str(), number(s.durationSeconds()).c_str());
    separator = ",";
  }
  std::printf("\n]}\n");
}

}  // namespace

int infoCommand(const std::vector<std::string>& args) {
  const CommandLine line(args, {}, {"--help", "--json"});
  if (line.has("--help")) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (line.positional().size() != 1) throw UsageError("needs CAPTURE (see --help)");
  const std::string& path = line.positional()[0];
  CaptureSummary summary;
  std::string error;
  if (!summarizeCapture(path, summary, error, &stopRequested)) {
    std::fprintf(stderr, "z540k-tool info: %s\n", stopRequested ? interruptedText().c_str() : error.c_str());
    return 1;
  }
  if (line.has("--json"))
    printJson(path, summary);
  else
    printText(path, summary);
  if (summary.damage.empty()) return 0;
  std::fprintf(stderr, "z540k-tool info: %s; described up to there\n", summary.damage.c_str());
  return 1;
}

}  // namespace z540k::cli
