#include "StatusReceiver.h"

#include "PacketFormat.h"

using namespace z540k;

namespace {
constexpr int kPollMilliseconds = 100;
constexpr std::size_t kReceiveCapacity = 2048;
}  // namespace

GetSet::GetSet(QObject* parent) : ReceiverThread(parent) {}

GetSet::~GetSet() { finish(); }

ReceiverSocket::Options GetSet::socketOptions() const {
  ReceiverSocket::Options options;
  options.port = static_cast<std::uint16_t>(port.load());
  options.multicastGroup = multicastAddress;
  options.order = ReceiverSocket::Order::BindThenJoin;
  return options;
}

void GetSet::run() {
  runBegins();
  std::vector<std::uint8_t> buffer(kReceiveCapacity);
  while (keepRunning()) {
    // Without a socket (set-up failed) this waits like an idle turn.
    const long n = socket_.receive(buffer.data(), buffer.size(), kPollMilliseconds);
    if (n <= 0) continue;
    // Only whole status packets: a shorter datagram would be decoded with the
    // tail of an earlier one.
    if (!isStatusPacket(buffer.data(), static_cast<std::size_t>(n))) continue;
    if (!deliverStatus(this, handOver_, buffer.data())) ++statusDropped_;
  }
  runEnds();
}
