#include "ReceiverThread.h"

namespace z540k {

void ReceiverThread::endRun() {
  if (isRunning()) {
    stopRequested_ = true;
    socket_.wake();
    wait();
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

QString ReceiverThread::socketError() const { return QString::fromStdString(socket_.error()); }

void ReceiverThread::finish() {
  running = false;
  endRun();
  socket_.close();
}

}  // namespace z540k
