// The window's CPU per drawn revolution on its real path against the
// plainest correct PCL/VTK program drawing the same revolutions, in the same
// run. Each round starts the simulated sensor on loopback and then one
// program as a child process (window, bare, window, bare, ...):
//   - window: the main window with "Lidar" pressed, its receivers, decoder,
//     point table and view, exactly as an operator runs it;
//   - bare: a thread that receives the same datagrams on a UDP socket and
//     decodes them, and a PCL visualizer in the same widget type and size
//     that draws each revolution's points at the window's scale
//     (centimetres), coloured by intensity.
// Run under a virtual display, by hand:
//
//   xvfb-run -a -s "-screen 0 1600x1000x24" build/bench/bench_view [demo|dual|both] [ROUNDS] [SECONDS]
//       demo: 600 rpm single return (3,630 points a revolution, 10 a second);
//       dual: 1200 rpm dual return (7,200 points, 20 a second). Default both, 3 rounds of 10 s.
//       Per round and as medians: CPU per drawn revolution (user + system, all threads), the time
//       from the program's start to its first drawn frame, revolutions arrived, drawn and merged,
//       the share of the time the GUI thread waited for events, resident memory. With BENCH_VIEW_PERF
//       set (to a file name for perf's data), the last window round runs under `perf record` and
//       the shares of the top libraries are printed. With BENCH_VIEW_STEPS set, each child says on
//       stderr when its start-up steps ended and which events took its GUI thread more than 5 ms
//       in its first two seconds.
//   ... bench_view --memory SECONDS [demo|dual]
//       the window alone, fed as by its live receiver, its resident memory every 30 s
//   ... bench_view --open CAPTURE
//       opening a capture in the window (page cache warm), three rounds, against the capture
//       reader's bare scan of the same file: time, event loop turns meanwhile, memory per round
#include <QVTKOpenGLNativeWidget.h>
#include <QVTKOpenGLStereoWidget.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/visualization/pcl_visualizer.h>
#include <sys/resource.h>
#include <vtkCamera.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkRenderer.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "CaptureFile.h"
#include "DataPacketDecoder.h"
#include "FileDialogs.h"
#include "LiveDataReceiver.h"
#include "PointCloudView.h"
#include "SensorStream.h"
#include "UdpSocket.h"
#include "manwindow.h"

using namespace z540k;
using z540k::bench::median;

namespace {

struct StreamKind {
  const char* name;
  std::uint16_t rpm;
  bool dual;
  int hz() const { return rpm / 60; }
};
const StreamKind kDemo{"demo", sim::kMotorSpeed10Hz, false};
const StreamKind kDual{"dual", sim::kMotorSpeed20Hz, true};

// The loopback ports of a round: the sensor sends data and status to the
// program under test, from a port of its own.
constexpr std::uint16_t kDataPort = 42368, kStatusPort = 42369, kSensorPort = 42370;

// Since the process started (main() starts it first thing).
QElapsedTimer& sinceStart() {
  static QElapsedTimer clock;
  return clock;
}

// Revolutions of the simulated room as the live receiver hands them over:
// the simulator's datagrams through the receiver's decoder (protocol 1.7).
std::vector<LidarDataSingleLine> revolutions(const StreamKind& kind, std::size_t count) {
  sim::SensorState state;
  state.motorSpeed = kind.rpm;
  state.echoMode = kind.dual ? sim::kEchoModeDual : sim::kEchoModeSingle;
  sim::SensorStream stream(sim::StreamSettings{}, state);
  DataPacketDecoder decoder;
  decoder.setLayout(Layout::Protocol17);
  decoder.setReturnMode(kind.dual ? ReturnMode::Dual : ReturnMode::Strongest);
  std::vector<LidarDataSingleLine> out;
  decoder.setRecordSink([&](const LidarDataSingleLine& r) { out.push_back(r); });
  sim::Datagram d;
  while (out.size() < count + 1) {
    stream.next(d);
    if (d.kind == sim::SentKind::Data) decoder.decodeDataPacket(d.data(), d.size);
  }
  out.erase(out.begin());  // the first may hold part of a revolution
  return out;
}

long statusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  const std::string name = std::string(field) + ":";
  for (std::string line; std::getline(status, line);)
    if (line.rfind(name, 0) == 0) return std::stol(line.substr(name.size()));
  return -1;
}

double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// Runs the event loop for `seconds`.
void runFor(double seconds) {
  QTimer::singleShot(static_cast<int>(seconds * 1000), qApp, &QCoreApplication::quit);
  QApplication::exec();
}

// Hands revolutions to the GUI thread at the sensor's pace from a thread of
// its own, each a queued copy, as the live receiver does.
class Feeder {
 public:
  Feeder(QObject* target, const std::vector<LidarDataSingleLine>& records, int hz,
         std::function<void(const LidarDataSingleLine&)> deliver)
      : thread_([=] {
          const auto period = std::chrono::microseconds(1000000 / hz);
          auto next = std::chrono::steady_clock::now();
          for (std::size_t i = 0; !stop_; ++i) {
            next += period;
            std::this_thread::sleep_until(next);
            const LidarDataSingleLine& r = records[i % records.size()];
            ++arrived_;
            QMetaObject::invokeMethod(
                target, [deliver, r] { deliver(r); }, Qt::QueuedConnection);
          }
        }) {}
  ~Feeder() {
    stop_ = true;
    thread_.join();
  }
  unsigned long long arrived() const { return arrived_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<unsigned long long> arrived_{0};
  std::thread thread_;
};

// The time the GUI thread spends handling events (every event, timer and
// queued call passes through notify()); the rest of the time it waits.
class BenchApplication : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override {
    if (depth_++ > 0) {
      const bool handled = QApplication::notify(receiver, event);
      --depth_;
      return handled;
    }
    QElapsedTimer clock;
    clock.start();
    const bool handled = QApplication::notify(receiver, event);
    busySeconds_ += clock.nsecsElapsed() * 1e-9;
    if (logSlow_ && (clock.nsecsElapsed() > 5000000 || event->type() == QEvent::Resize) &&
        sinceStart().elapsed() < 2000)
      std::fprintf(stderr, "  slow event at %.0f ms: %.0f ms, %s (%s), type %d\n", sinceStart().nsecsElapsed() * 1e-6,
                   clock.nsecsElapsed() * 1e-6, receiver->metaObject()->className(),
                   receiver->objectName().toLocal8Bit().constData(), int(event->type()));
    --depth_;
    return handled;
  }
  double busySeconds() const { return busySeconds_; }

 private:
  int depth_ = 0;
  double busySeconds_ = 0;
  const bool logSlow_ = qEnvironmentVariableIsSet("BENCH_VIEW_STEPS");
};

double busySeconds() { return static_cast<BenchApplication*>(qApp)->busySeconds(); }

// What one program did in the measured seconds.
struct Sample {
  double cpu = 0, wall = 0, guiCpu = 0, idle = 0, firstFrameMs = 0;
  unsigned long long arrived = 0, drawn = 0, merged = 0;
  long rssKb = 0, hwmKb = 0;
  int width = 0, height = 0;
};

// Measures `seconds` after a second of warming up; `drawn` and `merged`
// read the program's own counts.
Sample measure(const std::function<unsigned long long()>& arrived, double seconds,
               const std::function<unsigned long long()>& drawn, const std::function<unsigned long long()>& merged) {
  // The first frame, then a second of warming up.
  Sample s;
  while (drawn() == 0 && sinceStart().elapsed() < 20000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  s.firstFrameMs = sinceStart().nsecsElapsed() * 1e-6;
  runFor(1.0);
  const double cpu0 = processCpuSeconds(), gui0 = threadCpuSeconds(), busy0 = busySeconds();
  const unsigned long long arrived0 = arrived(), drawn0 = drawn(), merged0 = merged();
  QElapsedTimer clock;
  clock.start();
  runFor(seconds);
  s.wall = clock.nsecsElapsed() * 1e-9;
  s.cpu = processCpuSeconds() - cpu0;
  s.guiCpu = threadCpuSeconds() - gui0;
  s.idle = s.wall - (busySeconds() - busy0);
  s.arrived = arrived() - arrived0;
  s.drawn = drawn() - drawn0;
  s.merged = merged() - merged0;
  s.rssKb = statusKb("VmRSS");
  s.hwmKb = statusKb("VmHWM");
  return s;
}

void printSample(const Sample& s) {
  std::printf("sample %.6f %.6f %.6f %.6f %llu %llu %llu %ld %ld %d %d %.3f\n", s.cpu, s.wall, s.guiCpu, s.idle,
              s.arrived, s.drawn, s.merged, s.rssKb, s.hwmKb, s.width, s.height, s.firstFrameMs);
  std::fflush(stdout);
}

bool parseSample(const QByteArray& output, Sample& s) {
  for (const QByteArray& line : output.split('\n'))
    if (line.startsWith("sample ") &&
        std::sscanf(line.constData(), "sample %lf %lf %lf %lf %llu %llu %llu %ld %ld %d %d %lf", &s.cpu, &s.wall,
                    &s.guiCpu, &s.idle, &s.arrived, &s.drawn, &s.merged, &s.rssKb, &s.hwmKb, &s.width, &s.height,
                    &s.firstFrameMs) == 12)
      return true;
  return false;
}

// The main window on screen, fed as by its live receiver.
struct FedWindow {
  explicit FedWindow(const StreamKind& kind)
      : records(revolutions(kind, 2 * kind.hz())),
        window(options()),
        feeder(&window, records, kind.hz(), [this](const LidarDataSingleLine& r) { window.CalculateCoordinates(r); }) {
    window.show();
  }
  static StartupOptions options() {
    StartupOptions o;
    o.layout = 1;
    return o;
  }
  std::vector<LidarDataSingleLine> records;
  manwindow window;
  Feeder feeder;
};

// The window as the operator runs it: "Lidar" pressed at start, the
// simulated sensor's datagrams on loopback.
int windowChild(double seconds) {
  StartupOptions o;
  o.layout = 1;
  o.dataPort = kDataPort;
  o.telemetryPort = kStatusPort;
  o.multicast = "";
  o.start = true;
  const double beforeWindow = sinceStart().nsecsElapsed() * 1e-6;
  manwindow window(o);
  const double built = sinceStart().nsecsElapsed() * 1e-6;
  window.show();
  if (qEnvironmentVariableIsSet("BENCH_VIEW_STEPS"))
    std::fprintf(stderr, "window: application %.0f ms, window built %.0f ms, shown %.0f ms\n", beforeWindow, built,
                 sinceStart().nsecsElapsed() * 1e-6);
  const FrameDisplay& display = window.frameDisplay();
  if (qEnvironmentVariableIsSet("BENCH_VIEW_STEPS")) {
    auto firstRecord = std::make_shared<bool>(true);
    QObject::connect(&window.liveReceiver(), &GetlidarData_1::SendData, &window, [firstRecord] {
      if (*firstRecord)
        std::fprintf(stderr, "window: first revolution arrived %.0f ms\n", sinceStart().nsecsElapsed() * 1e-6);
      *firstRecord = false;
    });
    auto firstEmit = std::make_shared<std::atomic<bool>>(true);
    QObject::connect(
        &window.liveReceiver(), &GetlidarData_1::SendData, &window.liveReceiver(),
        [firstEmit] {
          if (firstEmit->exchange(false))
            std::fprintf(stderr, "window: first revolution emitted %.0f ms\n", sinceStart().nsecsElapsed() * 1e-6);
        },
        Qt::DirectConnection);
    QTimer::singleShot(
        0, &window, [] { std::fprintf(stderr, "window: event loop %.0f ms\n", sinceStart().nsecsElapsed() * 1e-6); });
    auto* poll = new QTimer(&window);
    QObject::connect(poll, &QTimer::timeout, &window, [&window, poll] {
      if (window.frameDisplay().framesDrawn() == 0) return;
      const auto t = window.cloudView().frameTimes();
      std::fprintf(stderr, "window: first frame drawn %.0f ms (update %.0f ms, render %.0f ms)\n",
                   sinceStart().nsecsElapsed() * 1e-6, t.updateSeconds * 1e3, t.renderSeconds * 1e3);
      poll->stop();
    });
    poll->start(1);
  }
  Sample s = measure([&] { return display.framesDrawn() + display.framesMerged(); }, seconds,
                     [&] { return display.framesDrawn(); }, [&] { return display.framesMerged(); });
  const QSize size = window.findChild<QWidget*>("screen")->size();
  s.width = size.width();
  s.height = size.height();
  printSample(s);
  return 0;
}

// The plainest correct PCL/VTK program: a visualizer in the same widget
// type and size; each revolution that arrives becomes the cloud, coloured
// by intensity, and is rendered.
template <typename Widget>
int bareChild(const StreamKind& kind, double seconds, int width, int height) {
  Widget widget;
  widget.resize(width, height);
  auto renderWindow = vtkSmartPointer<vtkGenericOpenGLRenderWindow>::New();
  auto renderer = vtkSmartPointer<vtkRenderer>::New();
  renderWindow->AddRenderer(renderer);
  pcl::visualization::PCLVisualizer viewer(renderer, renderWindow, "bare", false);
  widget.setRenderWindow(viewer.getRenderWindow());
  viewer.setShowFPS(false);
  viewer.setupInteractor(widget.interactor(), widget.renderWindow());
  widget.show();
  if (qEnvironmentVariableIsSet("BENCH_VIEW_STEPS"))
    std::fprintf(stderr, "bare: shown %.0f ms\n", sinceStart().nsecsElapsed() * 1e-6);
  pcl::PointCloud<pcl::PointXYZRGB>::Ptr cloud(new pcl::PointCloud<pcl::PointXYZRGB>);
  unsigned long long drawn = 0;
  const auto draw = [&](const LidarDataSingleLine& r) {
    cloud->resize(r.distance.size());
    for (std::size_t i = 0; i < r.distance.size(); ++i) {
      // Protocol 1.7: 4 mm a count, in centimetres as the window draws.
      const double a = r.azimuth[i] * M_PI / 180, d = r.distance[i] * 0.4;
      pcl::PointXYZRGB& p = (*cloud)[i];
      p.x = static_cast<float>(d * std::sin(a));
      p.y = static_cast<float>(d * std::cos(a));
      p.z = 0;
      p.r = p.g = p.b = static_cast<std::uint8_t>(r.intensity[i]);
    }
    pcl::visualization::PointCloudColorHandlerRGBField<pcl::PointXYZRGB> colours(cloud);
    if (!viewer.updatePointCloud<pcl::PointXYZRGB>(cloud, colours, "cloud")) {
      viewer.addPointCloud<pcl::PointXYZRGB>(cloud, colours, "cloud");
      viewer.setCameraPosition(0, 0, 1, 0, 0, 0, 0, 1, 0);
      viewer.resetCamera();
    }
    widget.renderWindow()->Render();
    ++drawn;
  };
  // The plainest correct receiver: a socket read in a thread of its own,
  // the decoder, each revolution queued to the GUI thread.
  UdpSocket socket;
  if (!(socket.create() && socket.setReuseAddress() && socket.bind(kDataPort))) {
    std::fprintf(stderr, "bench_view: bare: %s\n", socket.lastError().c_str());
    return 1;
  }
  socket.setReceiveBuffer(24 << 20);
  std::atomic<bool> stop{false};
  std::atomic<unsigned long long> arrived{0};
  std::thread receiver([&] {
    DataPacketDecoder decoder([&](const LidarDataSingleLine& r) {
      if (arrived == 0 && qEnvironmentVariableIsSet("BENCH_VIEW_STEPS"))
        std::fprintf(stderr, "bare: first revolution %.0f ms, %zu points\n", sinceStart().nsecsElapsed() * 1e-6,
                     r.distance.size());
      ++arrived;
      QMetaObject::invokeMethod(
          &widget, [&draw, r] { draw(r); }, Qt::QueuedConnection);
    });
    decoder.setLayout(Layout::Protocol17);
    if (qEnvironmentVariableIsSet("BENCH_VIEW_STEPS"))
      std::fprintf(stderr, "bare: receiving %.0f ms\n", sinceStart().nsecsElapsed() * 1e-6);
    decoder.setReturnMode(kind.dual ? ReturnMode::Dual : ReturnMode::Strongest);
    std::vector<std::uint8_t> buffer(2048);
    while (!stop) {
      const ReceiveResult read = socket.receive(buffer.data(), buffer.size(), 100);
      if (read.fits(buffer.size())) decoder.decodeDataPacket(buffer.data(), read.length);
    }
  });
  Sample s = measure([&] { return arrived.load(); }, seconds, [&] { return drawn; }, [] { return 0ull; });
  stop = true;
  receiver.join();
  s.width = width;
  s.height = height;
  printSample(s);
  return 0;
}

// Runs one program as a child process and reads its sample.
bool runChild(const StreamKind& kind, const QStringList& args, Sample& s, double seconds) {
  // The sensor for this round, sending until well after the child ends.
  QProcess sensor;
  QStringList sensorArgs = {"--quiet",
                            "--seconds",
                            QString::number(seconds + 30),
                            "--layout",
                            "1.7",
                            "--data-port",
                            QString::number(kDataPort),
                            "--status-port",
                            QString::number(kStatusPort),
                            "--sensor-port",
                            QString::number(kSensorPort),
                            "--rpm",
                            QString::number(kind.rpm)};
  if (kind.dual) sensorArgs << "--dual-return";
  sensor.start(Z540K_SIM_PATH, sensorArgs);
  if (!sensor.waitForStarted()) {
    std::fprintf(stderr, "bench_view: the simulator did not start\n");
    return false;
  }
  const struct EndSensor {
    QProcess& p;
    ~EndSensor() {
      p.terminate();
      p.waitForFinished();
    }
  } endSensor{sensor};
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  child.start(QCoreApplication::applicationFilePath(), args);
  // With BENCH_VIEW_PERF set, the window's round runs under perf.
  QProcess perf;
  const QString perfData = qEnvironmentVariable("BENCH_VIEW_PERF");
  if (!perfData.isEmpty() && args.value(1) == "window" && child.waitForStarted())
    perf.start("perf", {"record", "-q", "-o", perfData, "-p", QString::number(child.processId())});
  if (!child.waitForFinished(-1) || child.exitCode() != 0 || !parseSample(child.readAllStandardOutput(), s)) {
    std::fprintf(stderr, "bench_view: %s failed\n", args.join(' ').toLocal8Bit().constData());
    return false;
  }
  if (perf.state() != QProcess::NotRunning) perf.waitForFinished();
  return true;
}

// The libraries that took the window's CPU under perf, the top ten.
void printPerfShares(const QString& perfData) {
  QProcess report;
  report.start("perf", {"report", "-q", "-i", perfData, "--sort", "dso", "--stdio"});
  report.waitForFinished(-1);
  const QList<QByteArray> lines = report.readAllStandardOutput().split('\n');
  std::printf("  perf, the window's last round by library:\n");
  int shown = 0;
  for (const QByteArray& line : lines)
    if (!line.trimmed().isEmpty() && shown++ < 10) std::printf("    %s\n", line.trimmed().constData());
}

double perRevolutionMs(const Sample& s) { return s.cpu * 1000 / std::max(1ull, s.drawn); }

void printRow(int round, const char* program, const Sample& s) {
  std::printf("  %5d  %-7s %8.2f  %6.1f%%  %7llu %7llu %7llu  %7.1f%%  %7.1f  %7.1f  %7.0f\n", round, program,
              perRevolutionMs(s), 100 * s.cpu / s.wall, s.arrived, s.drawn, s.merged, 100 * s.idle / s.wall,
              s.rssKb / 1024.0, s.hwmKb / 1024.0, s.firstFrameMs);
}

int compare(const StreamKind& kind, int rounds, double seconds) {
  const auto records = revolutions(kind, 1);
  std::printf("%s: %zu points a revolution, %d revolutions a second, %d rounds of %.0f s; load average %s\n", kind.name,
              records[0].distance.size(), kind.hz(), rounds, seconds, bench::loadAverage().c_str());
  std::printf("  round  program  CPU/rev ms  CPU      arrived   drawn  merged  GUI idle  RSS MB  peak MB  first ms\n");
  std::vector<double> window, bare, ratio, idle, firstWindow, firstBare;
  const QString perfData = qEnvironmentVariable("BENCH_VIEW_PERF");
  for (int round = 1; round <= rounds; ++round) {
    Sample w, b;
    // perf only in the last round, which then is not counted.
    if (round < rounds || perfData.isEmpty())
      qunsetenv("BENCH_VIEW_PERF");
    else
      qputenv("BENCH_VIEW_PERF", perfData.toLocal8Bit());
    if (!runChild(kind, {"--child", "window", kind.name, QString::number(seconds)}, w, seconds)) return 1;
    printRow(round, "window", w);
    if (round == rounds && !perfData.isEmpty()) {
      printPerfShares(perfData);
      break;
    }
    if (!runChild(kind,
                  {"--child", "bare", kind.name, QString::number(seconds), QString::number(w.width),
                   QString::number(w.height)},
                  b, seconds))
      return 1;
    printRow(round, "bare", b);
    // For reference, the same program in VTK's other Qt widget, which Qt
    // composes with the whole window.
    if (qEnvironmentVariableIsSet("BENCH_VIEW_NATIVE")) {
      Sample st;
      if (runChild(kind,
                   {"--child", "bare-native", kind.name, QString::number(seconds), QString::number(w.width),
                    QString::number(w.height)},
                   st, seconds))
        printRow(round, "native", st);
    }
    window.push_back(perRevolutionMs(w));
    bare.push_back(perRevolutionMs(b));
    ratio.push_back(perRevolutionMs(w) / perRevolutionMs(b));
    idle.push_back(100 * w.idle / w.wall);
    firstWindow.push_back(w.firstFrameMs);
    firstBare.push_back(b.firstFrameMs);
    std::fflush(stdout);
  }
  if (window.empty()) return 0;
  std::printf(
      "  medians: window %.2f ms, bare %.2f ms a drawn revolution: %.2f x (median of the rounds' ratios "
      "%.2f x); the window's GUI thread idle %.1f%% of the time; first frame %.0f against %.0f ms (%.2f x); "
      "load average %s\n",
      median(window), median(bare), median(window) / median(bare), median(ratio), median(idle), median(firstWindow),
      median(firstBare), median(firstWindow) / median(firstBare), bench::loadAverage().c_str());
  return 0;
}

// The window alone for a long time: its memory every 30 s.
int memoryRun(const StreamKind& kind, double seconds) {
  FedWindow fed(kind);
  manwindow& window = fed.window;
  QElapsedTimer clock;
  clock.start();
  QTimer memory;
  QObject::connect(&memory, &QTimer::timeout, [&] {
    std::printf("  %5.0f s: %ld kB resident, %llu drawn, %llu merged\n", clock.nsecsElapsed() * 1e-9, statusKb("VmRSS"),
                static_cast<unsigned long long>(window.frameDisplay().framesDrawn()),
                static_cast<unsigned long long>(window.frameDisplay().framesMerged()));
    std::fflush(stdout);
  });
  memory.start(30000);
  std::printf("the window, %s stream for %.0f s: %ld kB resident at the start\n", kind.name, seconds,
              statusKb("VmRSS"));
  runFor(seconds);
  return 0;
}

// Opening a capture in a fresh window, three rounds, against the capture
// reader's bare scan of the same file.
int openCapture(const QString& path) {
  setFileDialogResponder([&](FileDialogKind, const QString&, const QString&, const QString&) { return path; });
  std::printf("%s; load average %s\n", path.toLocal8Bit().constData(), bench::loadAverage().c_str());
  std::vector<double> scans, opens;
  for (int round = 1; round <= 3; ++round) {
    QElapsedTimer scanClock;
    scanClock.start();
    CaptureReader reader;
    if (!reader.open(path.toStdString())) {
      std::fprintf(stderr, "bench_view: %s\n", reader.error().c_str());
      return 1;
    }
    CapturedDatagram d;
    std::uint64_t datagrams = 0;
    while (reader.next(d)) ++datagrams;
    scans.push_back(scanClock.nsecsElapsed() * 1e-6);

    manwindow window;
    window.show();
    runFor(0.2);
    long turns = 0;
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, [&] { ++turns; });
    turn.start(10);
    const long anonBefore = statusKb("RssAnon");
    QElapsedTimer clock;
    clock.start();
    window.findChild<QToolButton*>("toolButton_Open")->click();
    // The load may finish on a worker thread: wait for its packets.
    while (window.loadedPacketCount() == 0) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    opens.push_back(clock.nsecsElapsed() * 1e-6);
    const double packets = static_cast<double>(window.loadedPacketCount());
    std::printf(
        "  round %d: scan %.1f ms (%llu datagrams); opening %.1f ms (%.2f x), %.0f data packets, event "
        "loop turned %ld times (10 ms timer), anonymous memory %+.1f bytes per packet\n",
        round, scans.back(), static_cast<unsigned long long>(datagrams), opens.back(), opens.back() / scans.back(),
        packets, turns, (statusKb("RssAnon") - anonBefore) * 1024.0 / std::max(1.0, packets));
  }
  std::printf("  medians: scan %.1f ms, opening %.1f ms (%.2f x)\n", median(scans), median(opens),
              median(opens) / median(scans));
  return 0;
}

const StreamKind* streamNamed(const QString& name) {
  if (name == "demo") return &kDemo;
  if (name == "dual") return &kDual;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  sinceStart().start();
  PointCloudView::prepareSurfaceFormat();
  BenchApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  const QString first = args.value(0);
  if (first == "--child" && streamNamed(args.value(2))) {
    const StreamKind& kind = *streamNamed(args.value(2));
    const double seconds = args.value(3, "10").toDouble();
    if (args.value(1) == "window") return windowChild(seconds);
    if (args.value(1) == "bare-native")
      return bareChild<QVTKOpenGLNativeWidget>(kind, seconds, args.value(4).toInt(), args.value(5).toInt());
    return bareChild<QVTKOpenGLStereoWidget>(kind, seconds, args.value(4).toInt(), args.value(5).toInt());
  }
  if (first == "--memory")
    return memoryRun(streamNamed(args.value(2)) ? *streamNamed(args.value(2)) : kDemo, args.value(1, "300").toDouble());
  if (first == "--open") return openCapture(args.value(1, "/tmp/z540k-bench-1g.pcap"));
  const int rounds = std::max(1, args.value(1, "3").toInt());
  const double seconds = args.value(2, "10").toDouble();
  int failed = 0;
  if (first != "dual") failed |= compare(kDemo, rounds, seconds);
  if (first != "demo") failed |= compare(kDual, rounds, seconds);
  return failed;
}
