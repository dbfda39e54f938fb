// Drawing speed of the main window, against a bare VTK program of ours that
// draws the same clouds in a widget of the same size, in the same run (a
// ratio, so it means the same under a software renderer). Run under a
// virtual display, by hand:
//
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/bench_view [SECONDS] [POINTS] [HZ]
//       a HZ stream of POINTS-point revolutions (default 20 s, 100000, 20 Hz), bare VTK then the window;
//       frames drawn per second, frames coalesced, the window's time per frame by step
//   ... bench_view --memory SECONDS [POINTS] [HZ]
//       the window alone, its resident memory every 30 s
//   ... bench_view --open CAPTURE
//       opening a capture in the window (page cache warm) against the capture reader's bare scan
//       of the same file: time, how often the window's event loop turned meanwhile, memory added
//   ... bench_view --live-dual SECONDS
//       the simulated sensor at its heaviest (dual return, 1200 rpm) on loopback into the window:
//       revolutions received, drawn and dropped
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <QToolButton>
#include <QVTKOpenGLNativeWidget.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkCellArray.h>
#include <vtkFloatArray.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkRenderer.h>
#include <vtkUnsignedCharArray.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "CaptureFile.h"
#include "CapturePlayer.h"
#include "FileDialogs.h"
#include "LiveDataReceiver.h"
#include "PointCloudView.h"
#include "manwindow.h"

using namespace z540k;

namespace {

// Revolutions of a room-like scene: walls at 5 to 15 m with some noise.
std::vector<LidarDataSingleLine> revolutions(std::size_t points, int count) {
  std::mt19937 random(11);
  std::normal_distribution<double> noise(0, 8);
  std::vector<LidarDataSingleLine> out(count);
  for (int c = 0; c < count; ++c) {
    LidarDataSingleLine& r = out[c];
    for (std::size_t i = 0; i < points; ++i) {
      const double az = static_cast<double>(i) * 360.0 / static_cast<double>(points);
      const double wall = 2500 + 1250 * std::fabs(std::sin(az * 3.14159 / 90));  // protocol 1.7 counts: 4 per mm
      r.azimuth.push_back(az);
      r.distance.push_back(std::max(1.0, wall + noise(random)));
      r.intensity.push_back(static_cast<int>(i % 256));
      r.timestamp.push_back(1000000 + i);
    }
  }
  return out;
}

long residentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Runs the event loop for `seconds`.
void runFor(double seconds) {
  QTimer::singleShot(static_cast<int>(seconds * 1000), qApp, &QCoreApplication::quit);
  QApplication::exec();
}

// A bare VTK program: one poly data of points and colours, replaced and
// rendered at each tick of the stream. Returns frames drawn per second.
double bareVtk(const std::vector<FramePoints>& frames, QSize size, double seconds, int hz) {
  QVTKOpenGLNativeWidget widget;
  widget.resize(size);
  auto window = vtkSmartPointer<vtkGenericOpenGLRenderWindow>::New();
  window->SetMultiSamples(0);
  auto renderer = vtkSmartPointer<vtkRenderer>::New();
  window->AddRenderer(renderer);
  widget.setRenderWindow(window);
  widget.show();
  auto data = vtkSmartPointer<vtkPolyData>::New();
  auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
  mapper->SetInputData(data);
  auto actor = vtkSmartPointer<vtkActor>::New();
  actor->SetMapper(mapper);
  renderer->AddActor(actor);

  std::size_t next = 0;
  unsigned long long drawn = 0;
  const auto draw = [&] {
    const FramePoints& f = frames[next++ % frames.size()];
    const vtkIdType n = static_cast<vtkIdType>(f.display.size());
    auto points = vtkSmartPointer<vtkPoints>::New();
    points->SetDataTypeToFloat();
    points->SetNumberOfPoints(n);
    auto colours = vtkSmartPointer<vtkUnsignedCharArray>::New();
    colours->SetNumberOfComponents(3);
    colours->SetNumberOfTuples(n);
    auto cells = vtkSmartPointer<vtkCellArray>::New();
    for (vtkIdType i = 0; i < n; ++i) {
      const ColouredPoint& c = f.display[i];
      points->SetPoint(i, c.p.x, c.p.y, c.p.z);
      const unsigned char rgb[3] = {c.colour.r, c.colour.g, c.colour.b};
      colours->SetTypedTuple(i, rgb);
      cells->InsertNextCell(1, &i);
    }
    data->SetPoints(points);
    data->SetVerts(cells);
    data->GetPointData()->SetScalars(colours);
    if (drawn == 0) {
      renderer->GetActiveCamera()->SetPosition(0, 0, 1);
      renderer->GetActiveCamera()->SetFocalPoint(0, 0, 0);
      renderer->GetActiveCamera()->SetViewUp(0, 1, 0);
      renderer->ResetCamera();
    }
    window->Render();
    widget.update();
    ++drawn;
  };
  QTimer stream;
  QObject::connect(&stream, &QTimer::timeout, draw);
  stream.start(1000 / hz);
  QElapsedTimer clock;
  clock.start();
  runFor(seconds);
  return static_cast<double>(drawn) / (clock.nsecsElapsed() * 1e-9);
}

struct WindowRun {
  double fps = 0;
  quint64 arrived = 0, drawn = 0, coalesced = 0;
  double computeMs = 0, updateMs = 0, renderMs = 0;
};

// The main window fed a revolution at each tick of the stream.
WindowRun windowRun(manwindow& window, const std::vector<LidarDataSingleLine>& records, double seconds, int hz,
                    double memorySampleSeconds = 0) {
  std::size_t next = 0;
  quint64 arrived = 0;
  QTimer stream;
  QObject::connect(&stream, &QTimer::timeout, [&] {
    window.CalculateCoordinates(records[next++ % records.size()]);
    ++arrived;
  });
  QTimer memory;
  QElapsedTimer clock;
  if (memorySampleSeconds > 0) {
    QObject::connect(&memory, &QTimer::timeout, [&] {
      std::printf("  %5.0f s: %ld kB resident, %llu drawn, %llu coalesced\n", clock.nsecsElapsed() * 1e-9,
                  residentKb(), static_cast<unsigned long long>(window.framesDrawn()),
                  static_cast<unsigned long long>(window.framesDroppedForDisplay()));
      std::fflush(stdout);
    });
    memory.start(static_cast<int>(memorySampleSeconds * 1000));
  }
  const quint64 drawnBefore = window.framesDrawn();
  const quint64 coalescedBefore = window.framesDroppedForDisplay();
  const auto timesBefore = window.cloudView().frameTimes();
  const double computeBefore = window.computeSeconds();
  stream.start(1000 / hz);
  clock.start();
  runFor(seconds);
  WindowRun run;
  run.arrived = arrived;
  run.drawn = window.framesDrawn() - drawnBefore;
  run.coalesced = window.framesDroppedForDisplay() - coalescedBefore;
  run.fps = static_cast<double>(run.drawn) / (clock.nsecsElapsed() * 1e-9);
  const auto times = window.cloudView().frameTimes();
  const double frames = static_cast<double>(times.frames - timesBefore.frames);
  run.computeMs = (window.computeSeconds() - computeBefore) * 1000 / std::max(1.0, frames);
  run.updateMs = (times.updateSeconds - timesBefore.updateSeconds) * 1000 / std::max(1.0, frames);
  run.renderMs = (times.renderSeconds - timesBefore.renderSeconds) * 1000 / std::max(1.0, frames);
  return run;
}

// A UDP port nobody else uses, held at the simulated sensor's address (the
// window's ports) or at the wildcard address (the sensor's own port, which
// the simulator binds at its address beside it).
struct HeldPort {
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  int port = 0;
  explicit HeldPort(const char* address = "127.0.0.2") {
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &a.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  ~HeldPort() { ::close(fd); }
};

long statusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  const std::string name = std::string(field) + ":";
  for (std::string line; std::getline(status, line);)
    if (line.rfind(name, 0) == 0) return std::stol(line.substr(name.size()));
  return -1;
}

int openCapture(const QString& path) {
  // The page cache warm, and the reader's bare scan as the yardstick.
  double scanMs = 1e9;
  std::uint64_t datagrams = 0;
  for (int round = 0; round < 3; ++round) {
    QElapsedTimer clock;
    clock.start();
    CaptureReader reader;
    if (!reader.open(path.toStdString())) {
      std::fprintf(stderr, "bench_view: %s\n", reader.error().c_str());
      return 1;
    }
    CapturedDatagram d;
    datagrams = 0;
    while (reader.next(d)) ++datagrams;
    scanMs = std::min(scanMs, clock.nsecsElapsed() * 1e-6);
  }
  manwindow window;
  window.show();
  runFor(0.5);
  setFileDialogResponder([&](FileDialogKind, const QString&, const QString&, const QString&) { return path; });
  double openMs = 1e9;
  long ticks = 0;
  long anonBefore = 0, anonAfter = 0;
  for (int round = 0; round < 3; ++round) {
    long turns = 0;
    QTimer turn;
    QObject::connect(&turn, &QTimer::timeout, [&] { ++turns; });
    turn.start(10);
    anonBefore = statusKb("RssAnon");
    QElapsedTimer clock;
    clock.start();
    window.findChild<QToolButton*>("toolButton_Open")->click();
    const double ms = clock.nsecsElapsed() * 1e-6;
    anonAfter = statusKb("RssAnon");
    if (ms < openMs) {
      openMs = ms;
      ticks = turns;
    }
  }
  const double packets = static_cast<double>(window.loadedPacketCount());
  std::printf("%s: %.0f datagrams, %.0f data packets\n", path.toLocal8Bit().constData(), double(datagrams), packets);
  std::printf("  capture reader's scan: %.1f ms; opening in the window: %.1f ms (%.2f x the scan); the event loop "
              "turned %ld times meanwhile (10 ms timer); anonymous memory %+.1f bytes per packet\n",
              scanMs, openMs, openMs / scanMs, ticks, (anonAfter - anonBefore) * 1024.0 / std::max(1.0, packets));
  return 0;
}

int liveDual(double seconds) {
  HeldPort data, status, sensor("0.0.0.0");
  StartupOptions options;
  options.dataPort = data.port;
  options.telemetryPort = status.port;
  options.multicast = "";
  options.layout = 1;
  manwindow window(options);
  window.show();
  window.findChild<QComboBox*>("CBox_Echo")->setCurrentIndex(1);  // first and second return
  window.findChild<QToolButton*>("toolButton_Lidar")->click();
  QProcess sim;
  sim.start(QCoreApplication::applicationDirPath() + "/../simulator/z540k-sim",
            {"--quiet", "--dual-return", "--rpm", "1200", "--layout", "1.7", "--seconds",
             QString::number(seconds + 2), "--data-port", QString::number(data.port), "--status-port",
             QString::number(status.port), "--sensor-port", QString::number(sensor.port)});
  if (!sim.waitForStarted()) {
    std::fprintf(stderr, "bench_view: the simulator did not start\n");
    return 1;
  }
  runFor(1);  // the first revolutions
  const quint64 drawn = window.framesDrawn(), coalesced = window.framesDroppedForDisplay();
  const quint64 receiverDrops = window.liveReceiver().recordsDropped();
  runFor(seconds);
  std::printf("dual return, 1200 rpm, %.0f s: %llu revolutions drawn (%.1f per second, %zu points each), "
              "%llu coalesced, %llu dropped at the hand-over, %u dropped by the kernel\n",
              seconds, static_cast<unsigned long long>(window.framesDrawn() - drawn),
              (window.framesDrawn() - drawn) / seconds, window.latestFrame().pairedSize(),
              static_cast<unsigned long long>(window.framesDroppedForDisplay() - coalesced),
              static_cast<unsigned long long>(window.liveReceiver().recordsDropped() - receiverDrops),
              window.liveReceiver().kernelDrops());
  sim.kill();
  sim.waitForFinished();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  PointCloudView::prepareSurfaceFormat();
  QApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (!args.isEmpty() && args[0] == "--live-dual") return liveDual(args.value(1, "20").toDouble());
  if (!args.isEmpty() && args[0] == "--open") return openCapture(args.value(1, "/tmp/z540k-bench-1g.pcap"));
  const bool memory = !args.isEmpty() && args[0] == "--memory";
  const QStringList rest = memory ? args.mid(1) : QStringList(args);
  const double seconds = rest.value(0, memory ? "300" : "20").toDouble();
  const std::size_t points = rest.value(1, "100000").toULong();
  const int hz = rest.value(2, "20").toInt();

  const auto records = revolutions(points, 4);
  StartupOptions options;
  options.layout = 1;
  manwindow window(options);
  window.show();
  runFor(0.5);

  if (memory) {
    std::printf("the window, %zu points at %d Hz for %.0f s: %ld kB resident at the start\n", points, hz, seconds,
                residentKb());
    const WindowRun run = windowRun(window, records, seconds, hz, 30);
    std::printf("%ld kB resident at the end; %.1f frames drawn per second, %llu coalesced\n", residentKb(), run.fps,
                static_cast<unsigned long long>(run.coalesced));
    return 0;
  }

  // The same clouds for both.
  std::vector<FramePoints> frames(records.size());
  FrameSettings s;
  s.layout = 1;
  for (std::size_t i = 0; i < records.size(); ++i) computeFramePoints(records[i], s, frames[i]);
  const QSize size = window.findChild<QVTKOpenGLNativeWidget*>("screen")->size();

  const WindowRun run = windowRun(window, records, seconds, hz);
  window.hide();
  const double bare = bareVtk(frames, size, seconds, hz);
  std::printf("%zu points per revolution at %d Hz, view %dx%d, %.0f s each:\n", points, hz, size.width(),
              size.height(), seconds);
  std::printf("  bare VTK:   %6.2f frames per second\n", bare);
  std::printf("  the window: %6.2f frames per second (%.0f%% of bare VTK); %llu revolutions arrived, %llu drawn, "
              "%llu coalesced\n",
              run.fps, 100 * run.fps / bare, static_cast<unsigned long long>(run.arrived),
              static_cast<unsigned long long>(run.drawn), static_cast<unsigned long long>(run.coalesced));
  std::printf("  the window's time per frame: %.2f ms computing points, %.2f ms replacing the clouds, %.2f ms "
              "rendering\n",
              run.computeMs, run.updateMs, run.renderMs);
  return 0;
}
