#include "CaptureSummary.h"

#include <algorithm>
#include <memory>

#include "DataPacketDecoder.h"
#include "PacketFormat.h"
#include "RevolutionIndex.h"

namespace z540k {

double SourceSummary::durationSeconds() const {
  return static_cast<double>(lastSeconds - firstSeconds) +
         (static_cast<double>(lastMicroseconds) - static_cast<double>(firstMicroseconds)) / 1e6;
}

double SourceSummary::rpm() const {
  const double seconds = lastCloseSeconds - firstCloseSeconds;
  return revolutions >= 2 && seconds > 0 ? static_cast<double>(revolutions - 1) * 60.0 / seconds : 0.0;
}

namespace {

// A source being tallied: its revolution index and a decoder that only
// counts (data packets in no return mode are not decoded, their gaps are
// still counted; compact scan revolutions are counted as they close).
// When revolutions closed: the first and the last time, and how many.
struct Closes {
  std::uint64_t count = 0;
  double first = 0, last = 0;
  void note(std::uint64_t now, double seconds) {
    if (now == count) return;
    if (count == 0) first = seconds;
    count = now;
    last = seconds;
  }
};

struct Tally {
  SourceSummary summary;
  Closes strongest, dual, compact;
  RevolutionIndex index;
  std::uint64_t compactRevolutions = 0;
  DataPacketDecoder counter;
  std::uint64_t order = 0;
  Tally() {
    counter.setReturnMode(static_cast<ReturnMode>(-1));
    counter.setRecordSink([this](const LidarDataSingleLine&) { ++compactRevolutions; });
  }
};

}  // namespace

bool summarizeCapture(const std::string& path, CaptureSummary& summary, std::string& error,
                      const std::atomic<bool>* stop) {
  summary = CaptureSummary{};
  CaptureReader reader;
  if (!reader.open(path)) {
    error = reader.error();
    return false;
  }
  summary.pcapng = reader.isPcapng();
  summary.linkType = reader.linkType();
  std::vector<std::unique_ptr<Tally>> tallies;
  std::size_t last = 0;
  CapturedDatagram d;
  while (reader.next(d)) {
    if (stop && *stop) {
      error = "interrupted";
      return false;
    }
    ++summary.datagrams;
    const SensorAddress from{d.sourceIp, d.sourcePort};
    if (last >= tallies.size() || tallies[last]->summary.source != from) {
      last = static_cast<std::size_t>(
          std::find_if(tallies.begin(), tallies.end(), [&](const auto& t) { return t->summary.source == from; }) -
          tallies.begin());
      if (last == tallies.size()) {
        if (tallies.size() >= SensorSources::kMaxListed) {
          ++summary.unlisted;
          continue;
        }
        tallies.push_back(std::make_unique<Tally>());
        tallies.back()->summary.source = from;
        tallies.back()->summary.firstSeconds = d.seconds;
        tallies.back()->summary.firstMicroseconds = d.microseconds;
        tallies.back()->order = tallies.size();
      }
    }
    Tally& t = *tallies[last];
    SourceSummary& s = t.summary;
    s.lastSeconds = d.seconds;
    s.lastMicroseconds = d.microseconds;
    const double now = static_cast<double>(d.seconds) + d.microseconds / 1e6;
    switch (classifyDatagram(d.payload, d.size)) {
      case DatagramKind::DataPacket:
        ++s.dataPackets;
        t.index.addPacket(d.payload);
        t.counter.decodeDataPacket(d.payload, d.size);
        t.strongest.note(t.index.frameCount(ReturnFamily::Strongest), now);
        t.dual.note(t.index.frameCount(ReturnFamily::Dual), now);
        break;
      case DatagramKind::CompactScanPacket:
        ++s.compactPackets;
        t.counter.decodeCompactScanPacket(d.payload, d.size);
        t.compact.note(t.compactRevolutions, now);
        break;
      case DatagramKind::StatusPacket:
        ++s.statusPackets;
        break;
      case DatagramKind::Other:
        ++s.otherDatagrams;
        break;
    }
  }
  summary.records = reader.recordsRead();
  summary.damage = reader.damage();
  for (auto& t : tallies) {
    SourceSummary& s = t->summary;
    s.arrangement = t->index.traits().arrangement();
    s.layoutLook = t->index.traits().layoutLook();
    const ReturnFamily family = returnFamilyOf(returnModeOf(s.arrangement));
    s.revolutions = t->index.frameCount(family) + t->compactRevolutions;
    // The rpm of the kind of revolutions the sender sent most of.
    const Closes& c = t->compactRevolutions > t->index.frameCount(family)
                          ? t->compact
                          : (family == ReturnFamily::Dual ? t->dual : t->strongest);
    s.firstCloseSeconds = c.first;
    s.lastCloseSeconds = c.last;
    s.lostOnWire = t->counter.lostPackets();
  }
  std::stable_sort(tallies.begin(), tallies.end(), [](const auto& a, const auto& b) {
    const auto n = [](const SourceSummary& s) {
      return s.dataPackets + s.compactPackets + s.statusPackets + s.otherDatagrams;
    };
    return n(a->summary) > n(b->summary);
  });
  for (auto& t : tallies) summary.sources.push_back(t->summary);
  return true;
}

}  // namespace z540k
