// What a capture holds, sensor by sensor, in one pass and without decoding a
// measurement: the datagrams of each source address and port by kind, the
// revolutions a decoder would emit, the layout and return arrangement the
// data packets show, the packets lost on the wire, the first and last time.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CaptureFile.h"
#include "SensorSources.h"
#include "SensorTraits.h"

namespace z540k {

struct SourceSummary {
  SensorAddress source;
  std::uint64_t dataPackets = 0, compactPackets = 0, statusPackets = 0, otherDatagrams = 0;
  // Revolutions as the export counts them: data packets in the return mode
  // they show, plus the compact scan revolutions.
  std::uint64_t revolutions = 0;
  std::uint64_t lostOnWire = 0;  // data and compact scan packets missing, by the azimuth gaps
  ReturnArrangement arrangement = ReturnArrangement::Unknown;
  std::optional<Layout> layoutLook;
  std::int64_t firstSeconds = 0, lastSeconds = 0;
  std::uint32_t firstMicroseconds = 0, lastMicroseconds = 0;

  // When the first and the last revolution closed (seconds since 1970).
  double firstCloseSeconds = 0, lastCloseSeconds = 0;

  double durationSeconds() const;
  // Revolutions a minute between the first and the last close (0 with
  // fewer than two revolutions).
  double rpm() const;
};

struct CaptureSummary {
  bool pcapng = false;
  LinkType linkType = LinkType::Ethernet;
  std::uint64_t records = 0;    // every record (packet block) of the file
  std::uint64_t datagrams = 0;  // the UDP datagrams among them
  // Most datagrams first (equal counts in the order first seen); at most
  // SensorSources::kMaxListed, the datagrams of further sources in `unlisted`.
  std::vector<SourceSummary> sources;
  std::uint64_t unlisted = 0;
  std::string damage;  // empty when the file was read to its end
};

// False with a one-line reason in `error` when the file cannot be read at
// all; damage part way keeps what came before (summary.damage). `stop` set
// ends the reading: false, error "interrupted".
bool summarizeCapture(const std::string& path, CaptureSummary& summary, std::string& error,
                      const std::atomic<bool>* stop = nullptr);

}  // namespace z540k
