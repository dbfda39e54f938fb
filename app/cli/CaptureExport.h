// export-csv's work without its command line: a capture decoded as live and
// written as CSV frames, with what to print and the exit code as results.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "Commands.h"

namespace z540k::cli {

struct CaptureExportResult {
  int exitCode = 0;
  std::string message;  // one line for stderr, without the command's name; empty when all went well
  std::string summary;  // the line for stdout once a CSV was written; empty otherwise
};

struct CaptureExportHooks {
  // Now and then while reading, with the bytes read and the file size.
  std::function<void(std::uint64_t bytesRead, std::uint64_t fileSize)> progress;
  // After every refill of the capture reader's buffer (tests change the file from it).
  std::function<void()> afterRefill;
};

// Decodes every data and compact scan packet of the capture in file order
// and writes each completed revolution to `csvPath` (beside it first, put in
// its place when complete). Damage, or the capture changing on disk while it
// is read, keeps the frames before it (exit code 1; with no frame the target
// is left as it was); `stop` set ends the export leaving the target as it was.
CaptureExportResult exportCaptureToCsv(const std::string& capturePath, const std::string& csvPath,
                                       const DecodeSettings& settings, const std::atomic<bool>& stop,
                                       const CaptureExportHooks& hooks = {});

}  // namespace z540k::cli
