#include "CaptureExport.h"

#include "CaptureFile.h"
#include "DataPacketDecoder.h"
#include "PacketFormat.h"
#include "SensorTraits.h"
#include "StopSignals.h"

namespace z540k::cli {

const char* const kSourceOptionHelp =
    "  --source IP[:PORT]     decode only the datagrams of the sensor sending from this address (and\n"
    "                         port); all: every sensor's together. Without it the first sensor's are\n"
    "                         decoded and a second sensor is refused\n";

SourceChoice sourceChoice(const CommandLine& line) {
  SourceChoice choice;
  if (!line.has("--source")) return choice;
  const std::string text = line.text("--source", "");
  if (text == "all") {
    choice.all = true;
    return choice;
  }
  SensorAddress address;
  std::string error;
  if (!parseSensorAddress(text, address, error)) throw UsageError("--source: " + error + ", or all");
  choice.sensor = address;
  return choice;
}

namespace {

// What became of the output of an export that did not finish: a file stays
// as it was; standard output ("-") may hold a part already written.
std::string leftAsItWas(const std::string& outPath) {
  return outPath == "-" ? std::string("what standard output received is incomplete") : outPath + " was left unchanged";
}

// The sources to decode as `choice` asks.
SensorSources sourcesFor(const SourceChoice& choice) {
  SensorSources sources;
  if (choice.all) sources.acceptAll();
  if (choice.sensor) sources.pin(*choice.sensor);
  return sources;
}

}  // namespace

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

  // Frames before settings.firstFrame are decoded (they carry the state the
  // next ones start from) and passed over.
  long long decoded = 0;
  DataPacketDecoder decoder([&](const LidarDataSingleLine& record) {
    if (++decoded < settings.firstFrame) return;
    if (hooks.beforeFrame) hooks.beforeFrame(decoder.lastGpsDateTime());
    out.writeFrame(record);
  });
  decoder.setLayout(settings.layout);
  decoder.setGpsReadingsEnabled(static_cast<bool>(hooks.beforeFrame));
  // Without a mode given, the data packets decide, as they decide for the
  // window's player: status packets in a capture are not consulted.
  DataPacketFeed feed(decoder);
  feed.mode().fix(settings.returnMode);
  const ReturnModeChoice& mode = feed.mode();

  // Each sensor on its own: the data and compact scan packets of the chosen
  // one are decoded. A second sensor without --source mixes nothing: the
  // output goes at once, and the rest of the capture is only counted so
  // that the refusal can list every sensor.
  SensorSources sources = sourcesFor(settings.source);
  bool mixed = false;
  std::uint64_t dataPackets = 0, compactPackets = 0, datagrams = 0;
  CapturedDatagram d;
  // A file that cannot be written (a full disk) ends the reading at once;
  // close() below gives the reason.
  while ((mixed || (!out.complete() && !out.failed())) && !stop && reader.next(d)) {
    ++datagrams;
    if ((datagrams & 0xFFF) == 0) {
      if (hooks.progress) hooks.progress(reader.bytesRead(), reader.fileSize());
      out.shareRead(reader.bytesRead(), reader.fileSize());
    }
    const DatagramKind kind = classifyDatagram(d.payload, d.size);
    if (kind != DatagramKind::DataPacket && kind != DatagramKind::CompactScanPacket) continue;
    const bool chosen = sources.note({d.sourceIp, d.sourcePort});
    if (!chosen && !sources.pinned() && !mixed) {
      mixed = true;
      out.discard();
    }
    if (!chosen || mixed) continue;
    if (hooks.arrival) hooks.arrival(d.seconds, d.microseconds);
    if (kind == DatagramKind::DataPacket) {
      feed.decode(d.payload, d.size);
      ++dataPackets;
    } else {
      decoder.decodeCompactScanPacket(d.payload, d.size);
      ++compactPackets;
    }
  }
  result.lostOnWire = decoder.lostPackets();
  result.warning = layoutWarning(feed.traits(), settings.layout, "try --layout ");

  if (stop) {
    if (!mixed) out.discard();
    result.message = interruptedText() + "; " + leftAsItWas(outPath);
    return result;
  }
  if (mixed) {
    result.message = capturePath + " holds the packets of " + std::to_string(sources.sources().size()) +
                     " sensors: " + sourceListText(sources.sources(), "packets") +
                     "; choose one with --source IP[:PORT], or --source all to decode them together; " +
                     leftAsItWas(outPath);
    if (!reader.damage().empty()) result.message += " (" + reader.damage() + ")";
    return result;
  }
  if (sources.pinned() && dataPackets + compactPackets == 0) {
    out.discard();
    result.message = capturePath + " holds no packets of the sensor " + sensorAddressText(*sources.chosen()) +
                     (sources.sources().empty() ? std::string(" (nor of any other)")
                                                : "; its sensors: " + sourceListText(sources.sources(), "packets")) +
                     "; " + leftAsItWas(outPath);
    return result;
  }
  // A damaged capture, or one changed on disk while it was read, still gives
  // the frames of the records before that, written in place of the target,
  // but the run is not a success. With no frame before it there is nothing
  // to keep: the target stays as it was.
  const bool whole = reader.damage().empty();
  if (!whole && out.frames() == 0) {
    out.discard();
    result.message = reader.damage() + "; no frame before it, " + leftAsItWas(outPath);
    return result;
  }
  if (whole && settings.firstFrame > decoded) {
    out.discard();
    result.message = capturePath + " holds " + std::to_string(decoded) + " frames, none from frame " +
                     std::to_string(settings.firstFrame) + " on; " + outPath + " was left unchanged";
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
                   " lost on the wire, " + returnModeText(mode);
  if (sources.others() > 0)
    result.summary += ", " + std::to_string(sources.others()) + " packets of other sensors passed over as asked";
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
