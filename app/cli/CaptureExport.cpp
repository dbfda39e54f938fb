#include "CaptureExport.h"

#include "CaptureFile.h"
#include "DataPacketDecoder.h"
#include "SensorTraits.h"
#include "StopSignals.h"

namespace z540k::cli {

CaptureExportResult exportCapture(const std::string& capturePath, const std::string& outPath, FrameFile& out,
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
  std::string error;
  if (!out.open(outPath, error)) {
    result.message = error;
    return result;
  }

  DataPacketDecoder decoder([&out](const LidarDataSingleLine& record) { out.writeFrame(record); });
  decoder.setLayout(settings.layout);
  // Without a mode given, the data packets decide, as they decide for the
  // window's player: status packets in a capture are not consulted.
  ReturnModeChoice mode(settings.returnMode);
  DataPacketTraits traits;

  std::uint64_t dataPackets = 0, compactPackets = 0, datagrams = 0;
  CapturedDatagram d;
  // A file that cannot be written (a full disk) ends the reading at once;
  // close() below gives the reason.
  while (!out.complete() && !out.failed() && !stop && reader.next(d)) {
    ++datagrams;
    if (isDataPacket(d.payload, d.size)) {
      // A sensor switched to the other arrangement starts its revolutions afresh.
      if (mode.dataPacket(d.payload) && mode.followsSensor()) {
        decoder.clear();
        decoder.forgetPreviousPacket();
      }
      decoder.setReturnMode(mode.mode());
      traits.addPacket(d.payload);
      decoder.decodeDataPacket(d.payload, d.size);
      ++dataPackets;
    } else if (decoder.decodeCompactScanPacket(d.payload, d.size))
      ++compactPackets;
    if ((datagrams & 0xFFF) == 0 && hooks.progress) hooks.progress(reader.bytesRead(), reader.fileSize());
  }
  result.lostOnWire = decoder.lostPackets();
  result.warning = layoutWarning(traits, settings.layout, "try --layout ");

  if (stop) {
    out.discard();
    result.message = interruptedText() + "; " + outPath + " was left unchanged";
    return result;
  }
  // A damaged capture, or one changed on disk while it was read, still gives
  // the frames of the records before that, written in place of the target,
  // but the run is not a success. With no frame before it there is nothing
  // to keep: the target stays as it was.
  const bool whole = reader.damage().empty();
  if (!whole && out.frames() == 0) {
    out.discard();
    result.message = reader.damage() + "; no frame before it, " + outPath + " was left unchanged";
    return result;
  }
  if (!out.close(error)) {
    result.message = error;
    return result;
  }
  if (!whole)
    result.message = reader.damage() + "; the " + std::to_string(out.frames()) + " frames before it were exported";
  result.summary = "read " + std::to_string(dataPackets + compactPackets) + " packets (" + std::to_string(dataPackets) +
                   " data, " + std::to_string(compactPackets) + " compact), wrote " + std::to_string(out.frames()) +
                   " frames, " + out.rowsText() + " to " + outPath + ", " + std::to_string(result.lostOnWire) +
                   " lost on the wire, " +
                   returnModeText(mode.mode(), mode.basis(),
                                  mode.dataDisagree() ? mode.dataArrangement() : ReturnArrangement::Unknown);
  result.exitCode = whole ? 0 : 1;
  return result;
}

CaptureExportResult exportCaptureToCsv(const std::string& capturePath, const std::string& csvPath,
                                       const DecodeSettings& settings, const std::atomic<bool>& stop,
                                       const CaptureExportHooks& hooks) {
  CsvFrameFile csv(settings.csv, settings.frames);
  return exportCapture(capturePath, csvPath, csv, settings, stop, hooks);
}

}  // namespace z540k::cli
