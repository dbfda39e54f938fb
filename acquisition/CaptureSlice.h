// A part of a capture as a capture of its own: the original records of some
// revolutions of one sensor, everything between them kept (status packets,
// other senders' datagrams), in the input's format, link type and time
// stamps, copied byte for byte.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "CaptureFile.h"
#include "PacketFormat.h"
#include "SensorSources.h"

namespace z540k {

struct SliceRequest {
  long long firstFrame = 1;  // counted from 1, as the export counts its frames
  long long frames = 0;      // 0: to the end
  // By time instead: seconds from the sensor's first data packet, the
  // revolutions that close within [fromSeconds, toSeconds] (toSeconds 0: to
  // the end). Used when `bySeconds` is set.
  bool bySeconds = false;
  double fromSeconds = 0, toSeconds = 0;
  std::optional<SensorAddress> source;   // none: the capture's one sensor
  std::optional<ReturnMode> returnMode;  // none: as the data show
};

struct SliceResult {
  long long firstFrame = 0, lastFrame = 0;  // the frames of the whole that the slice holds
  long long framesInCapture = 0;
  bool leadIn = false;            // the slice starts with the packets leading into firstFrame
  std::uint64_t dataPackets = 0;  // the sensor's data packets written (the records between them too)
  std::uint64_t bytes = 0;
};

// Where the slice's bytes go, in order: false with a one-line reason when
// they cannot be written.
using SliceWrite = std::function<bool(const std::uint8_t* bytes, std::size_t size, std::string& error)>;

// Reads the capture once to find the revolutions, then hands the bytes of
// the slice to `write` (the caller puts them in place when all went well). A
// slice from
// frame A > 1 starts with a few packets of frame A - 1 and the packet where
// frame A begins, so that frame A decodes as in the whole: the export of the
// slice gives that part revolution first, then frames A..B exactly. False
// with a one-line reason in `error`; `stop` set ends it at once (false,
// error "interrupted").
bool sliceCapture(const std::string& inPath, const SliceRequest& request, const SliceWrite& write, SliceResult& result,
                  std::string& error, const std::atomic<bool>* stop = nullptr);

}  // namespace z540k
