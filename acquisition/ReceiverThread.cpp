#include "ReceiverThread.h"

namespace z540k {

void ReceiverThread::endRun() {
  if (isRunning()) {
    stopRequested_ = true;
    socket_.wake();
    waitForRunEnd(*this, "a receiver");
  }
  runCompletion_.joined();
}

void ReceiverThread::openSocket() {
  endRun();
  stopRequested_ = false;
  socket_.open(socketOptions());
}

void ReceiverThread::closeSocket() {
  endRun();
  socket_.close();
}

bool ReceiverThread::start(const ReceiverSettings& settings) {
  endRun();
  port = settings.port;
  multicastAddress = settings.multicastAddress;
  running = true;
  openSocket();
  start(QThread::InheritPriority);
  return socket_.error().empty();
}

void ReceiverThread::stop() {
  running = false;
  closeSocket();
}

QString ReceiverThread::socketError() const { return QString::fromStdString(socket_.error()); }

void ReceiverThread::finish() {
  running = false;
  endRun();
  socket_.close();
}

}  // namespace z540k
