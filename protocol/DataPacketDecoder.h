// Turns the sensor's data packets and compact scan packets into one
// LidarDataSingleLine per revolution.
//
// A plain stateful class over bytes: no sockets, no threads, no Qt. The live
// receiver and the capture player own one each and call it from their worker
// thread; every member is to be called from that one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "LidarRecords.h"
#include "PacketFormat.h"
#include "RevolutionAssembly.h"

namespace z540k {

// One GPS reading: taken once per block while readings are enabled, in the
// strongest-return mode only.
struct GpsReading {
  GpsDateTime current;
  GpsDateTime previous;  // the reading before this one (all zero after a reset)
  int block = 0;         // 0..11 within its packet
};

class DataPacketDecoder {
 public:
  using RecordSink = std::function<void(const LidarDataSingleLine&)>;
  using GpsSink = std::function<void(const GpsReading&)>;

  // Compact scan records close only on a packet with a start angle of exactly
  // 270.0 degrees. A stream that never brings one would grow the record without
  // end, so it keeps at most this many measurements (a real revolution has
  // 1000): when a packet would not fit, the older half is dropped.
  static constexpr std::size_t kCompactRecordLimit = 100000;
  // The same guard for the data packet records, whose revolutions close only
  // when the block azimuth wraps (a sensor whose motor stands still never
  // wraps). Far above any real revolution; the capture player's too.
  static constexpr std::size_t kRecordLimit = z540k::kRecordLimit;

  explicit DataPacketDecoder(RecordSink sink = {});

  // Receives every completed record. The reference is valid only during the
  // call: the sink copies what it keeps.
  void setRecordSink(RecordSink sink) { sink_ = std::move(sink); }
  // The host's clock when the datagram about to be decoded was read, passed
  // on in the records it completes (LidarDataSingleLine::receivedAtNs).
  void setReceivedAt(std::int64_t ns) { receivedAtNs_ = ns; }
  // Likewise the capture time of a packet played from a capture
  // (LidarDataSingleLine::capturedAtUs).
  void setCapturedAt(std::int64_t us) { capturedAtUs_ = us; }

  // Decodes a data packet (1206 bytes starting FF EE). Returns false, and
  // changes nothing, for anything else. From `firstBlock` on (0..11): a
  // player that resumes a stream at the first block of a revolution passes
  // over the blocks before it.
  bool decodeDataPacket(const std::uint8_t* data, std::size_t size, int firstBlock = 0);

  // Decodes a compact scan packet (778 bytes starting A2 5C). Returns false,
  // and changes nothing, for anything else.
  bool decodeCompactScanPacket(const std::uint8_t* data, std::size_t size);

  // One of the four return modes; any other value makes data packets be
  // ignored.
  void setReturnMode(ReturnMode mode) { returnMode_ = mode; }
  ReturnMode returnMode() const { return returnMode_; }

  // The layout requested by the operator. It becomes the active one when the
  // strongest-return record is next emitted; until then blocks are read in
  // the old layout. A value outside the two reads as protocol 1.6.
  void setPendingLayout(Layout layout) {
    pendingLayout_ = layout == Layout::Protocol17 ? Layout::Protocol17 : Layout::Protocol16;
  }
  Layout pendingLayout() const { return pendingLayout_; }
  Layout activeLayout() const { return activeLayout_; }
  // Sets both the active and the pending layout, for decoders that start on a
  // known layout (the headless tool, tests).
  void setLayout(Layout layout) {
    setPendingLayout(layout);
    activeLayout_ = pendingLayout_;
  }

  // GPS readings (the time-stamp test). While enabled, and only in
  // ReturnMode::Strongest, every block yields one reading to the sink before
  // the block's revolution test.
  void setGpsReadingsEnabled(bool enabled) { gpsEnabled_ = enabled; }
  bool gpsReadingsEnabled() const { return gpsEnabled_; }
  void setGpsSink(GpsSink sink) { gpsSink_ = std::move(sink); }

  // Empties all five lists of all three accumulators.
  void clear();
  // What a receiver does when its thread starts: clear() and set the current
  // and previous GPS date-time bytes to zero; the next packet starts the
  // loss count afresh (forgetPreviousPacket).
  void reset();

  // Datagrams lost before they reached this host. Within a revolution the
  // sensor's azimuth advances by a nearly constant step per packet: by 12
  // block steps per data packet (6 block pairs in dual return), as the
  // spacing of the packet's own block azimuths tells, and by 90 degrees
  // (250 x 0.36) per compact scan packet. A step of about k times that means
  // k - 1 packets never arrived; the step is taken across 0/360 as well, so a
  // gap over a revolution's wrap counts too. A whole turn of lost packets
  // cannot be told from none.
  //
  // Packets lost since reset(), in total...
  std::uint64_t lostPackets() const { return lostTotal_; }
  // ...and in the revolution being emitted: read it in the record sink.
  std::uint64_t revolutionLostPackets() const { return lostInRevolution_; }
  // The receiver knows `count` datagrams were dropped on this host (the
  // kernel's receive buffer) since the previous one: the next gap is
  // explained by them first and only the rest counts as lost.
  void excuseDroppedDatagrams(std::uint64_t count) { excused_ += count; }
  // The next packet is not compared with the one before (datagrams were
  // discarded on purpose in between, or the stream was resumed elsewhere).
  void forgetPreviousPacket() {
    previousAzimuth_ = -1;
    previousCompactStart_ = -1;
  }

  // The accumulators, for inspection.
  const LidarDataSingleLine& mainRecord() const { return main_; }
  const LidarDataSingleLine& secondReturnRecord() const { return second_; }
  const LidarDataSingleLine& compactRecord() const { return compact_; }
  const GpsDateTime& lastGpsDateTime() const { return gpsCurrent_; }

 private:
  void decodeStrongestBlocks(const std::uint8_t* packet, int firstBlock, std::uint32_t packetTime);
  void decodeDualBlock(const std::uint8_t* packet, int b, std::uint32_t packetTime);
  void takeGpsReading(const std::uint8_t* block, int b);
  void closeStrongestRevolution(int measurementsPerBlock);
  void closeDualRevolution();
  void emitRecord(LidarDataSingleLine& record);
  void countLostDataPackets(const std::uint8_t* packet);
  void countLostCompactPackets(std::uint32_t start);
  void countLost(std::uint64_t missing);

  RecordSink sink_;
  std::int64_t receivedAtNs_ = 0;
  std::int64_t capturedAtUs_ = 0;
  GpsSink gpsSink_;

  LidarDataSingleLine main_;     // strongest return, or first return
  LidarDataSingleLine second_;   // second return
  LidarDataSingleLine compact_;  // compact scan packets

  // Measurements moved from the end of one revolution to the start of the next.
  LidarDataSingleLine carry_;

  ReturnMode returnMode_ = ReturnMode::Strongest;
  Layout activeLayout_ = Layout::Protocol16;
  Layout pendingLayout_ = Layout::Protocol16;

  // Where the previous packet began: block 0's raw azimuth (hundredths), the
  // compact scan start angle (ten-thousandths); -1 when not known.
  std::int32_t previousAzimuth_ = -1;
  std::int64_t previousCompactStart_ = -1;
  std::uint64_t lostTotal_ = 0;
  std::uint64_t lostInRevolution_ = 0;
  std::uint64_t excused_ = 0;

  bool gpsEnabled_ = false;
  GpsDateTime gpsCurrent_;
  GpsDateTime gpsPrevious_;
};

}  // namespace z540k
