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
  socket_.close(false);
}

void GetSet::openSocket() {
  if (isRunning() && !running && wait()) runCompletion_.joined();
  ReceiverSocket::Options options;
  options.port = static_cast<std::uint16_t>(port.load());
  options.multicastGroup = multicastAddress;
  options.order = ReceiverSocket::Order::BindThenJoin;
  socket_.open(options);
}

void GetSet::closeSocket() {
  if (isRunning() && !running && wait(4 * kPollMilliseconds)) runCompletion_.joined();
  socket_.close(isRunning());
}

QString GetSet::socketError() const { return QString::fromStdString(socket_.error()); }

void GetSet::run() {
  runCompletion_.joined();  // a restart continues where the previous run ended
  std::vector<std::uint8_t> buffer(kReceiveCapacity);
  while (running) {
    const long n = socket_.socket().receive(buffer.data(), buffer.size(), kPollMilliseconds);
    if (n < 0 && !socket_.socket().isOpen()) QThread::msleep(kPollMilliseconds);
    if (n <= 0) continue;
    // Only whole status packets: a shorter datagram would be decoded with the
    // tail of an earlier one.
    if (!isStatusPacket(buffer.data(), static_cast<std::size_t>(n))) continue;
    if (!deliverStatus(this, handOver_, buffer.data())) ++statusDropped_;
  }
  socket_.loopEnded();
  runCompletion_.markEnded();
}
