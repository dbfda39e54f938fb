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
  options.countDrops = true;
  return options;
}

void GetSet::run() {
  runBegins();
  std::vector<std::uint8_t> buffer(kReceiveCapacity);
  while (keepRunning()) {
    // Without a socket (set-up failed) this waits like an idle turn.
    const ReceiveResult read = socket_.receive(buffer.data(), buffer.size(), kPollMilliseconds);
    kernelDrops_ = socket_.kernelDrops();
    if (!read.datagram()) continue;
    // Only whole status packets: a shorter datagram would be decoded with the
    // tail of an earlier one, and a longer one is not stored whole.
    if (!read.fits(buffer.size()) || !isStatusPacket(buffer.data(), read.length)) {
      ++countOther_;
      continue;
    }
    ++countStatus_;
    if (!deliverStatus(this, handOver_, buffer.data())) ++statusDropped_;
  }
  runEnds();
}
