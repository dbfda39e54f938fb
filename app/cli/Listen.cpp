// listen: live data port reception with the program's decoding; one line per
// revolution and the counts of datagrams by kind at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <set>

#include <QCoreApplication>
#include <QTimer>

#include "Commands.h"
#include "CsvFrameFile.h"
#include "LiveDataReceiver.h"
#include "RecordMetaTypes.h"

namespace z540k::cli {

namespace {

const char* const kHelp =
    "usage: z540k-tool listen [options]\n"
    "\n"
    "Receives the sensor's datagrams on the data port, decodes them and prints one line per revolution\n"
    "(points, azimuth span, first and last time stamp); at the end the datagrams by kind.\n"
    "\n"
    "options:\n"
    "  --port P               UDP port to receive on (default 2368)\n"
    "  --multicast GROUP      join this IPv4 multicast group (default: none)\n"
    "  --frames N             stop after N revolutions (default: until Ctrl+C)\n"
    "  --seconds S            stop after S seconds (default: until Ctrl+C)\n"
    "  --csv OUT.csv          also write the revolutions as export-csv writes them\n";

void printRevolution(unsigned long long number, const LidarDataSingleLine& r) {
  const std::size_t n = r.pairedSize();
  double lo = 0, hi = 0;
  unsigned long long first = 0, last = 0;
  bool any = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (r.isPlaceholder(i)) continue;
    if (!any) {
      lo = hi = r.azimuth[i];
      first = r.timestamp[i];
      any = true;
    }
    lo = std::min(lo, r.azimuth[i]);
    hi = std::max(hi, r.azimuth[i]);
    last = r.timestamp[i];
  }
  std::printf("revolution %llu: %zu points, azimuth %.2f..%.2f, time %llu..%llu\n", number, n, lo, hi, first, last);
  std::fflush(stdout);
}

}  // namespace

int listenCommand(const std::vector<std::string>& args) {
  std::set<std::string> valueOptions(std::begin(kDecodeOptionNames), std::end(kDecodeOptionNames));
  valueOptions.insert({"--port", "--multicast", "--seconds", "--csv"});
  const CommandLine line(args, valueOptions, {"--help"});
  if (line.has("--help")) {
    std::printf("%s%s", kHelp, kDecodeOptionsHelp);
    return 0;
  }
  if (!line.positional().empty()) throw UsageError("unexpected argument \"" + line.positional()[0] + "\"");
  const DecodeSettings settings = decodeSettings(line);
  const auto port = static_cast<int>(line.integer("--port", 2368, 1, 65535));
  const std::string group = line.text("--multicast", "");
  const double seconds = line.number("--seconds", 0.0);
  if (seconds < 0) throw UsageError("--seconds must not be negative");

  std::unique_ptr<CsvFrameFile> csv;
  std::string error;
  if (line.has("--csv")) {
    csv = std::make_unique<CsvFrameFile>(settings.csv, 0);
    if (!csv->open(line.text("--csv", ""), error)) {
      std::fprintf(stderr, "z540k-tool listen: %s\n", error.c_str());
      return 1;
    }
  }

  // The program's own live receiver, with its event loop.
  int argc = 1;
  char name[] = "z540k-tool";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  registerRecordMetaTypes();
  GetlidarData_1 receiver;
  receiver.port = port;
  receiver.multicastAddress = group;
  receiver.running = true;
  receiver.returnMode = settings.returnMode;
  // The chosen layout is active from the first packet.
  receiver.pendingLayout = settings.layout;
  receiver.layout = settings.layout;
  receiver.openSocket();
  if (!receiver.socketError().isEmpty()) {
    std::fprintf(stderr, "z540k-tool listen: %s\n", receiver.socketError().toLocal8Bit().constData());
    return 1;
  }

  unsigned long long revolutions = 0;
  auto enough = [&] { return settings.frames > 0 && revolutions >= static_cast<unsigned long long>(settings.frames); };
  QObject::connect(&receiver, &GetlidarData_1::SendData, &app, [&](const LidarDataSingleLine& record) {
    if (enough()) return;
    ++revolutions;
    printRevolution(revolutions, record);
    if (csv) csv->writeFrame(record);
    if (enough()) app.quit();
  });
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &app, [&] {
    if (stopRequested) app.quit();
  });
  watch.start(50);
  if (seconds > 0) QTimer::singleShot(static_cast<int>(seconds * 1000), &app, [&] { app.quit(); });
  receiver.start();
  app.exec();

  receiver.running = false;
  receiver.closeSocket();
  receiver.wait();

  bool written = true;
  if (csv && !(written = csv->close(error))) std::fprintf(stderr, "z540k-tool listen: %s\n", error.c_str());
  const auto counts = receiver.datagramCounts();
  std::printf("datagrams: %llu data, %llu status, %llu compact, %llu other; %llu revolutions; %u dropped by the kernel\n",
              static_cast<unsigned long long>(counts.data), static_cast<unsigned long long>(counts.status),
              static_cast<unsigned long long>(counts.compact), static_cast<unsigned long long>(counts.other),
              revolutions, receiver.kernelDrops());
  return written ? 0 : 1;
}

}  // namespace z540k::cli
