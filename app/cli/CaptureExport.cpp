#include "CaptureExport.h"

#include "CaptureFile.h"
#include "CsvFrameFile.h"
#include "DataPacketDecoder.h"

namespace z540k::cli {

CaptureExportResult exportCaptureToCsv(const std::string& capturePath, const std::string& csvPath,
                                       const DecodeSettings& settings, const std::atomic<bool>& stop,
                                       const CaptureExportHooks& hooks) {
  CaptureExportResult result;
  result.exitCode = 1;
  CaptureReader reader;
  reader.setRefillObserver(hooks.afterRefill);
  if (!reader.open(capturePath)) {
    result.message = reader.error();
    return result;
  }
  CsvFrameFile csv(settings.csv, settings.frames);
  std::string error;
  if (!csv.open(csvPath, error)) {
    result.message = error;
    return result;
  }

  DataPacketDecoder decoder([&csv](const LidarDataSingleLine& record) { csv.writeFrame(record); });
  decoder.setLayout(settings.layout);
  decoder.setReturnMode(settings.returnMode);

  std::uint64_t dataPackets = 0, compactPackets = 0, datagrams = 0;
  CapturedDatagram d;
  while (!csv.complete() && !stop && reader.next(d)) {
    ++datagrams;
    if (decoder.decodeDataPacket(d.payload, d.size))
      ++dataPackets;
    else if (decoder.decodeCompactScanPacket(d.payload, d.size))
      ++compactPackets;
    if ((datagrams & 0xFFF) == 0 && hooks.progress) hooks.progress(reader.bytesRead(), reader.fileSize());
  }

  if (stop) {
    csv.discard();
    result.message = "interrupted; " + csvPath + " was left unchanged";
    return result;
  }
  // A damaged capture, or one changed on disk while it was read, still gives
  // the frames of the records before that, written in place of the target,
  // but the run is not a success. With no frame before it there is nothing
  // to keep: the target stays as it was.
  const bool whole = reader.damage().empty();
  if (!whole && csv.frames() == 0) {
    csv.discard();
    result.message = reader.damage() + "; no frame before it, " + csvPath + " was left unchanged";
    return result;
  }
  if (!csv.close(error)) {
    result.message = error;
    return result;
  }
  if (!whole)
    result.message = reader.damage() + "; the " + std::to_string(csv.frames()) + " frames before it were exported";
  result.summary = "read " + std::to_string(dataPackets + compactPackets) + " packets (" + std::to_string(dataPackets) +
                   " data, " + std::to_string(compactPackets) + " compact), wrote " + std::to_string(csv.frames()) +
                   " frames, " + std::to_string(csv.lines()) + " lines to " + csvPath;
  result.exitCode = whole ? 0 : 1;
  return result;
}

}  // namespace z540k::cli
