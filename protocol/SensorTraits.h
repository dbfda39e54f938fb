// What the sensor's data packets show about how it sends, so that the host
// knows the sensor instead of assuming it: single or dual return, and which
// slot layout its measurements fill; and the return mode a receiver decodes
// in when the operator has not fixed one.
//
// Return arrangement. In dual return the sensor fires once per block pair:
// blocks 2f and 2f+1 carry the first and second return of one firing and
// share its azimuth, while the azimuth moves on from pair to pair. In single
// return every block is a firing of its own, so neighbouring blocks differ
// by the same step. A packet whose pairs differ by less than a quarter of
// the step between pairs is dual; one whose pairs differ like its steps is
// single; a sensor whose motor stands still shows neither.
//
// Layout. In single return, protocol 1.7 fills 30 slots of every block
// (0..14, 16..30) with measurements and protocol 1.6 only slots 0 and 16,
// the others staying empty. So the slots 1..14 and 17..29 (those that only
// protocol 1.7 measures in, apart from the GPS bytes at slots 15, 30 and
// 31) tell the layouts apart: with returns in slots 0 and 16, the data look
// like protocol 1.7 when those slots hold returns about as often (at least
// half as often per slot), and like protocol 1.6 when they hold next to none
// (under a fiftieth). At least 200 returns in slots 0 and 16 are needed
// before anything is said. Dual-return blocks use the 30-slot arrangement in
// both layouts, which then differ only in the unit of a distance: their
// data cannot tell the layouts apart and never warn.
//
// Plain classes over bytes; each belongs to the one thread that feeds it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "DataPacketDecoder.h"
#include "PacketFormat.h"

namespace z540k {

enum class ReturnArrangement { Unknown, Single, Dual };

// What one data packet (1206 bytes starting FF EE) shows.
ReturnArrangement returnArrangementOf(const std::uint8_t* packet);

// The return mode that decodes an arrangement as the sensor sends it: both
// returns in dual return, the strongest return otherwise.
ReturnMode returnModeOf(ReturnArrangement arrangement);

// "single return", "dual return" ("unknown" for Unknown).
const char* arrangementText(ReturnArrangement arrangement);
// "1.6", "1.7".
const char* layoutText(Layout layout);
// "StrongEcho", "DualEcho", "DualEcho_first", "DualEcho_second".
const char* returnModeName(ReturnMode mode);

// The tally of a stream of data packets.
class DataPacketTraits {
 public:
  // `recentPackets` > 0 keeps the verdicts on about the last that many
  // packets (a live sensor may be reconfigured); 0 keeps all.
  explicit DataPacketTraits(std::uint64_t recentPackets = 0) : recent_(recentPackets) {}

  void addPacket(const std::uint8_t* packet) { addPacket(packet, returnArrangementOf(packet)); }
  // The same, with the arrangement the packet shows already known.
  void addPacket(const std::uint8_t* packet, ReturnArrangement shown);

  std::uint64_t packets() const { return packets_; }
  std::uint64_t recentPackets() const { return recent_; }
  // The arrangement most packets showed (Unknown when none showed one).
  ReturnArrangement arrangement() const;
  // The layout the single-return measurements look like; none when they
  // cannot tell (dual return, too few returns, neither picture clear).
  std::optional<Layout> layoutLook() const;

 private:
  void halve();

  std::uint64_t recent_;
  std::uint64_t packets_ = 0;
  std::uint64_t single_ = 0, dual_ = 0;
  std::uint64_t blocks_ = 0;         // single-return blocks looked at
  std::uint64_t commonReturns_ = 0;  // returns in slots 0 and 16
  std::uint64_t wideReturns_ = 0;    // returns in the slots only protocol 1.7 measures in
};

// The warning for data read in `chosen` that look like the other layout:
// "the measurements look like layout 1.7; " + `advice` + "1.7" (the tool's
// advice is "try --layout "); empty when they do not.
std::string layoutWarning(std::optional<Layout> look, Layout chosen, const std::string& advice);
inline std::string layoutWarning(const DataPacketTraits& traits, Layout chosen, const std::string& advice) {
  return layoutWarning(traits.layoutLook(), chosen, advice);
}

// The return mode a receiver decodes in. Fixed by the operator, it stays
// (and the data's disagreement is known). Otherwise it follows the sensor:
// the echo mode its status packets state once one came, before that the
// data packets. A change of mind needs three packets in a row that show the
// other arrangement, so that a stray datagram does not flip it.
class ReturnModeChoice {
 public:
  enum class Basis { Fixed, Status, Data, Default };

  // nullopt: follow the sensor.
  explicit ReturnModeChoice(std::optional<ReturnMode> fixed = std::nullopt);
  void fix(std::optional<ReturnMode> fixed);

  // The echo mode byte of a status packet (0 single, 1 dual; other values
  // are not a mode and are passed over).
  void sensorStatus(std::uint8_t echoMode);
  // The next data packet: true when the mode to decode it in changed
  // (the receiver then starts its revolutions afresh).
  bool dataPacket(const std::uint8_t* packet) { return dataShown(returnArrangementOf(packet)); }
  // The same, for data known to show `shown` (a packet, or a whole capture).
  bool dataShown(ReturnArrangement shown);

  ReturnMode mode() const { return mode_; }
  Basis basis() const { return basis_; }
  bool followsSensor() const { return !fixed_; }
  // What the data show lately (Unknown until a packet showed it).
  ReturnArrangement dataArrangement() const { return seen_; }
  // The data show the other family than the mode in use.
  bool dataDisagree() const;
  // The arrangement the data show when it disagrees with the mode, else Unknown.
  ReturnArrangement disagreeing() const { return dataDisagree() ? seen_ : ReturnArrangement::Unknown; }

 private:
  void settle();

  std::optional<ReturnMode> fixed_;
  std::optional<ReturnArrangement> status_;
  ReturnArrangement seen_ = ReturnArrangement::Unknown;
  ReturnArrangement candidate_ = ReturnArrangement::Unknown;
  int candidateRun_ = 0;
  ReturnMode mode_ = ReturnMode::Strongest;
  Basis basis_ = Basis::Default;
};

// Data packets into a decoder in the return mode the sensor shows (or the one
// fixed), tallying what they show: what the live receiver and the exports
// share. A change of mode the sensor made (or its data showed) starts the
// decoder's revolutions afresh: a record of blocks decoded in two modes is no
// revolution. A mode the operator fixes takes effect from the next block.
class DataPacketFeed {
 public:
  // `recentPackets` as for DataPacketTraits.
  explicit DataPacketFeed(DataPacketDecoder& decoder, std::uint64_t recentPackets = 0)
      : decoder_(decoder), traits_(recentPackets) {}

  // The choice, to fix a mode or give it the sensor's status before a packet.
  ReturnModeChoice& mode() { return mode_; }
  const ReturnModeChoice& mode() const { return mode_; }
  const DataPacketTraits& traits() const { return traits_; }
  // Forgets the sensor (a receiver starting anew; the decoder is its own).
  void forget() {
    mode_ = ReturnModeChoice();
    traits_ = DataPacketTraits(traits_.recentPackets());
  }

  // Decodes a data packet (1206 bytes starting FF EE) in the mode it calls for.
  void decode(const std::uint8_t* packet, std::size_t size);

 private:
  DataPacketDecoder& decoder_;
  ReturnModeChoice mode_;
  DataPacketTraits traits_;
};

// The return mode as the window's status line and the tool's summary name it:
// "return mode DualEcho (from the sensor's status)", "... (from the data)",
// "... (fixed)"; with a fixed mode the data disagree with, "; the data look
// like dual return".
std::string returnModeText(ReturnMode mode, ReturnModeChoice::Basis basis, ReturnArrangement disagreeing);
inline std::string returnModeText(const ReturnModeChoice& choice) {
  return returnModeText(choice.mode(), choice.basis(), choice.disagreeing());
}

}  // namespace z540k
