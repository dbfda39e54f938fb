// The exports of a capture without their command lines: a capture decoded as
// live and written as CSV frames (export-csv) or point cloud files
// (export-cloud), with what to print and the exit code as results.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "Commands.h"
#include "CsvFrameFile.h"
#include "PacketFormat.h"

namespace z540k::cli {

struct CaptureExportResult {
  int exitCode = 0;
  std::string message;           // one line for stderr, without the command's name; empty when all went well
  std::string summary;           // the line for stdout once the output was written; empty otherwise
  std::string warning;           // one line for stderr when the data look like the other layout
  std::uint64_t lostOnWire = 0;  // data and compact scan packets missing from the capture
};

struct CaptureExportHooks {
  // Now and then while reading, with the bytes read and the file size.
  std::function<void(std::uint64_t bytesRead, std::uint64_t fileSize)> progress;
  // After every refill of the capture reader's buffer (tests change the file from it).
  std::function<void()> afterRefill;
  // Before each of the chosen sensor's packets is decoded, with its capture time.
  std::function<void(std::int64_t seconds, std::uint32_t microseconds)> arrival;
  // Read the GPS date and time the data packets carry, and give the latest
  // before each revolution is written.
  std::function<void(const GpsDateTime& gps)> beforeFrame;
};

// Decodes every data and compact scan packet of the capture in file order
// and writes each completed revolution to `out`, opened on `outPath` (its
// frame limit ends the reading). Only one sensor's packets are decoded (the
// source address and port name the sensor): the one settings.source names,
// else the first one; a second sensor without settings.source discards the
// output and lists the sensors with their packets (exit code 1). Damage, or the capture changing on disk
// while it is read, keeps the frames before it (exit code 1; with no frame
// the target is left as it was); `stop` set, or a write that failed (a
// full disk), ends the export at once leaving the target as it was. The
// summary gives the packets lost on the wire: the gaps
// in the sensor's azimuths (DataPacketDecoder::lostPackets).
CaptureExportResult exportCapture(const std::string& capturePath, const std::string& outPath, FrameFile& out,
                                  const DecodeSettings& settings, const std::atomic<bool>& stop,
                                  const CaptureExportHooks& hooks = {});

// export-csv: exportCapture into a CsvFrameFile of `settings`.
CaptureExportResult exportCaptureToCsv(const std::string& capturePath, const std::string& csvPath,
                                       const DecodeSettings& settings, const std::atomic<bool>& stop,
                                       const CaptureExportHooks& hooks = {});

}  // namespace z540k::cli
