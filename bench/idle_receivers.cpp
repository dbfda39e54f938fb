// CPU use of the two receiver threads while no datagram arrives: starts
// GetlidarData_1 and GetSet on free loopback ports, lets them wait for the
// given number of seconds (default 30) and reports the process's CPU time as
// a share of one core. Run by hand: build/bench/idle_receivers [seconds]
#include <sys/resource.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "LiveDataReceiver.h"
#include "RecordMetaTypes.h"
#include "StatusReceiver.h"

namespace {

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  registerRecordMetaTypes();
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;

  GetlidarData_1 data;
  GetSet status;
  data.port = 0;  // any free port: nothing is sent to it
  status.port = 0;
  data.openSocket();
  status.openSocket();
  data.start();
  status.start();

  const double cpuBefore = cpuSeconds();
  const auto wallBefore = std::chrono::steady_clock::now();
  QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
  app.exec();
  const double cpu = cpuSeconds() - cpuBefore;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();

  data.running = false;
  status.running = false;
  data.closeSocket();
  status.closeSocket();
  std::printf("both receivers idle for %.1f s: %.3f s CPU, %.3f%% of one core\n", wall, cpu, 100.0 * cpu / wall);
  return 0;
}
