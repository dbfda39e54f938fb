#include "StatusReceiver.h"

#include "PacketFormat.h"

using namespace z540k;

namespace {
constexpr int kPollMilliseconds = 100;
constexpr std::size_t kReceiveCapacity = 2048;
}  // namespace

GetSet::GetSet(QObject* parent) : QThread(parent) {}

GetSet::~GetSet() {
  running = false;
  wait();
  runCompletion_.joined();
  socket_.close();
}

void GetSet::openSocket() {
  if (isRunning() && !running && wait()) runCompletion_.joined();
  closeRequested_ = false;
  QString error;
  auto note = [&](bool ok) {
    if (!ok && error.isEmpty()) error = QString::fromStdString(socket_.lastError());
  };
  note(socket_.create());
  if (socket_.isOpen()) {
    note(socket_.setReuseAddress());
    note(socket_.bind(static_cast<std::uint16_t>(port.load())));
    if (!multicastAddress.empty()) note(socket_.joinMulticast(multicastAddress));
    note(socket_.setNonBlocking());
  }
  std::lock_guard<std::mutex> lock(errorMutex_);
  socketError_ = error;
}

void GetSet::closeSocket() {
  if (isRunning() && !running && wait(4 * kPollMilliseconds)) runCompletion_.joined();
  if (isRunning())
    closeRequested_ = true;
  else
    socket_.close();
}

QString GetSet::socketError() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return socketError_;
}

void GetSet::run() {
  runCompletion_.joined();  // a restart continues where the previous run ended
  std::vector<std::uint8_t> buffer(kReceiveCapacity);
  while (running) {
    const long n = socket_.receive(buffer.data(), buffer.size(), kPollMilliseconds);
    if (n < 0 && !socket_.isOpen()) QThread::msleep(kPollMilliseconds);
    if (n <= 0) continue;
    // Only whole status packets: a shorter datagram would be decoded with the
    // tail of an earlier one.
    if (!isStatusPacket(buffer.data(), static_cast<std::size_t>(n))) continue;
    if (!deliverStatus(this, handOver_, buffer.data())) ++statusDropped_;
  }
  if (closeRequested_.exchange(false)) socket_.close();
  runCompletion_.markEnded();
}
