#include "ExitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdio>

namespace z540k {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
int pipeEnds[2] = {-1, -1};  // read, write

void onExitSignal(int number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  // A full pipe already holds enough to end the program.
  [[maybe_unused]] const ssize_t n = ::write(pipeEnds[1], &byte, 1);
  errno = saved;
}

}  // namespace

ExitSignals::ExitSignals(QObject* parent) : QObject(parent) {
  if (pipeEnds[0] >= 0) qFatal("ExitSignals: one instance at a time");
  if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("z540k-host: cannot watch for exit signals");
    pipeEnds[0] = pipeEnds[1] = -1;
    return;
  }
  notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &ExitSignals::readPipe);
  struct sigaction action {};
  action.sa_handler = onExitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // the GUI's own waits carry on; the pipe wakes the event loop
  for (const int number : kSignals) sigaction(number, &action, nullptr);
  // A reader of the program's output that went away (stderr into a closed
  // pipe) is no reason to end it: the write fails instead.
  std::signal(SIGPIPE, SIG_IGN);
}

ExitSignals::~ExitSignals() {
  if (pipeEnds[0] < 0) return;
  for (const int number : kSignals) std::signal(number, SIG_DFL);
  delete notifier_;
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  pipeEnds[0] = pipeEnds[1] = -1;
}

void ExitSignals::readPipe() {
  unsigned char numbers[16];
  ssize_t n;
  while ((n = ::read(pipeEnds[0], numbers, sizeof numbers)) > 0) {
    if (caught_) continue;
    caught_ = true;
    emit caught(numbers[0]);
  }
}

}  // namespace z540k
