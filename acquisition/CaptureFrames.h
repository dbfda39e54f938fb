// The revolutions of a loaded capture, by number: frame k is the k-th record
// the live decoder emits when fed the capture's data packets from the first
// one, in the chosen layout and return mode — so playback, the live view and
// export-csv give the same frames. Playing forwards decodes on; any other
// frame is decoded afresh from a revolution before it, far enough back that
// the measurements a revolution hands on to the next are the same as in a
// decoding from the start. A plain class over a packet list: one thread
// uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "DataPacketDecoder.h"
#include "DataPacketList.h"
#include "LidarRecords.h"
#include "RevolutionIndex.h"

namespace z540k {

class CaptureFrames {
 public:
  explicit CaptureFrames(std::shared_ptr<const DataPacketList> packets);

  // The layout applies from the next revolution on, as in the live receiver.
  void setLayout(Layout layout);
  // A return mode of another family (strongest or dual) numbers the frames
  // anew.
  void setReturnMode(ReturnMode mode);

  std::size_t frameTotal() const;

  enum class Result { Frame, Abandoned, Failed };
  // Decodes frame k (0 <= k < frameTotal()) into `out`. `beforePacket` is
  // asked before each packet is read; when it returns false the frame is
  // abandoned (Abandoned; asking again later goes on from there). Failed:
  // the packets cannot be read (the file changed on disk), error() says why.
  Result frame(std::size_t k, LidarDataSingleLine& out, const std::function<bool()>& beforePacket);
  const std::string& error() const { return error_; }

  // A revolution hands on measurements from its last 100; one with at least
  // this many of its own hands on the same ones however it was reached.
  static constexpr std::size_t kHandOnWindow = 100;

 private:
  void startAt(std::size_t k);

  std::shared_ptr<const DataPacketList> packets_;
  ReturnFamily family() const { return returnFamilyOf(returnMode_); }

  ReturnMode returnMode_ = ReturnMode::Strongest;
  Layout layout_ = Layout::Protocol17;

  DataPacketDecoder decoder_;
  bool positioned_ = false;
  std::uint64_t nextPacket_ = 0;
  int nextBlock_ = 0;           // where the first packet after a fresh start begins
  std::size_t nextRecord_ = 0;  // the frame number of the decoder's next record
  std::size_t wanted_ = 0;      // records before it are passed over
  std::deque<std::pair<std::size_t, LidarDataSingleLine>> ready_;
  std::string error_;
};

}  // namespace z540k
