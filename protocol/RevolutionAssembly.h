// The building blocks of revolution assembly, shared by the live decoder and
// the capture player: appending a block's measurements with their times,
// giving a block its per-measurement azimuths, and the revolution test.
#pragma once

#include <cstdint>

#include "LidarRecords.h"
#include "PacketFormat.h"

namespace z540k {

// Gives the measurements of the second-newest block their azimuths, spread
// evenly from its azimuth towards the newest block's; the step is computed
// in single precision. Needs two block azimuths, else does nothing.
void interpolate(LidarDataSingleLine& record, int count);

// Gives the newest block's measurements azimuths by continuing the last
// block span beyond the newest block azimuth: the step is the interpolation's
// single-precision one, added to the newest block azimuth in double
// precision. Needs two block azimuths, else does nothing.
void extrapolate(LidarDataSingleLine& record, int count);

// Measurements per block of a layout (30 in protocol 1.7, 2 in protocol 1.6).
inline int measurementsPerBlock(Layout layout) {
  return layout == Layout::Protocol17 ? kProtocol17MeasurementsPerBlock : kProtocol16MeasurementsPerBlock;
}

// A record whose revolution never closes (a sensor whose motor stands still
// never wraps) keeps at most `limit` measurements: before `incoming` more
// would overflow it, the older half goes, in whole blocks or packets of
// `incoming`, the same count from every list so entry i stays one measurement.
void boundRecord(LidarDataSingleLine& record, std::size_t incoming, std::size_t limit);

// Far above any real revolution (1000 to 12,000 measurements).
constexpr std::size_t kRecordLimit = 2000000;

// One block of the strongest-return form, as the live decoder and the capture
// player read it: bound the record, append `blockAzimuth` and the block's
// measurements in `layout` (block b of its packet, for the firing times:
// packet time stamp + the slot's firing offset, truncated, negative times 0),
// and interpolate the block before it. Returns the measurements per block.
int appendBlock(LidarDataSingleLine& record, const std::uint8_t* block, double blockAzimuth, int b, Layout layout,
                std::uint32_t packetTime);

// Blocks first..end-1 of `packet` in one layout, with block b's azimuth in
// blockAzimuths[b]: exactly what appendBlock does block by block, with the
// lists grown once for the run.
int appendBlocks(LidarDataSingleLine& record, const std::uint8_t* packet, const double* blockAzimuths, int first,
                 int end, Layout layout, std::uint32_t packetTime);

// A revolution closes when the two newest block azimuths are more than half
// a turn apart: the scan wrapped past 0 degrees between them.
inline bool azimuthsWrap(double older, double newer) {
  const double d = newer - older;
  return (d < 0 ? -d : d) > 180.0;
}
inline bool revolutionWrapped(const LidarDataSingleLine& record) {
  const std::size_t nb = record.blockAzimuth.size();
  return nb >= 2 && azimuthsWrap(record.blockAzimuth[nb - 2], record.blockAzimuth[nb - 1]);
}

}  // namespace z540k
