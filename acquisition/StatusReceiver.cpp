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
  endRun();
  socket_.close();
}

void GetSet::endRun() {
  if (isRunning()) {
    stopRequested_ = true;
    socket_.wake();
    wait();
  }
  runCompletion_.joined();
}

void GetSet::openSocket() {
  endRun();  // a stop the loop has not seen yet (see GetlidarData_1)
  stopRequested_ = false;
  ReceiverSocket::Options options;
  options.port = static_cast<std::uint16_t>(port.load());
  options.multicastGroup = multicastAddress;
  options.order = ReceiverSocket::Order::BindThenJoin;
  socket_.open(options);
}

void GetSet::closeSocket() {
  endRun();
  socket_.close();
}

QString GetSet::socketError() const { return QString::fromStdString(socket_.error()); }

void GetSet::run() {
  runCompletion_.joined();  // a restart continues where the previous run ended
  std::vector<std::uint8_t> buffer(kReceiveCapacity);
  while (running && !stopRequested_) {
    // Without a socket (set-up failed) this waits like an idle turn.
    const long n = socket_.receive(buffer.data(), buffer.size(), kPollMilliseconds);
    if (n <= 0) continue;
    // Only whole status packets: a shorter datagram would be decoded with the
    // tail of an earlier one.
    if (!isStatusPacket(buffer.data(), static_cast<std::size_t>(n))) continue;
    if (!deliverStatus(this, handOver_, buffer.data())) ++statusDropped_;
  }
  runCompletion_.markEnded();
}
