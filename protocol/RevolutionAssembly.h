// The building blocks of revolution assembly, shared by the live decoder and
// the capture player: appending a block's measurements with their times,
// giving a block its per-measurement azimuths, and the revolution test.
#pragma once

#include <cstdint>

#include "LidarRecords.h"
#include "PacketFormat.h"

namespace z540k {

// Firing offsets of every measurement of a packet relative to the packet time
// stamp, per block and measurement index, for both slot layouts.
const double* protocol17FiringOffsets(int block);  // 30 entries
const double* protocol16FiringOffsets(int block);  // 2 entries

// Appends the `count` measurements of one block, read from the listed slots,
// to distance, intensity and timestamp (time = packetTime + offsets[k],
// truncated; negative times become 0).
void appendMeasurements(LidarDataSingleLine& record, const std::uint8_t* block, const std::uint8_t* slots, int count,
                        const double* offsets, double packetTime);

// Gives the measurements of the second-newest block their azimuths, spread
// evenly from its azimuth towards the newest block's; the step is computed
// in single precision. Needs two block azimuths, else does nothing.
void interpolate(LidarDataSingleLine& record, int count);

// Gives the newest block's measurements azimuths by continuing the last
// block span beyond the newest block azimuth (double precision). Needs two
// block azimuths, else does nothing.
void extrapolate(LidarDataSingleLine& record, int count);

// A revolution closes when the two newest block azimuths are more than half
// a turn apart: the scan wrapped past 0 degrees between them.
inline bool revolutionWrapped(const LidarDataSingleLine& record) {
  const std::size_t nb = record.blockAzimuth.size();
  if (nb < 2) return false;
  const double d = record.blockAzimuth[nb - 1] - record.blockAzimuth[nb - 2];
  return (d < 0 ? -d : d) > 180.0;
}

}  // namespace z540k
