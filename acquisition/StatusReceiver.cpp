#include "StatusReceiver.h"

#include "PacketFormat.h"
#include "SensorSources.h"

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
  // Worker only: the sensors whose status packets arrived since the start.
  SensorSources sources;
  SensorAddress from;
  while (keepRunning()) {
    // Without a socket (set-up failed) this waits like an idle turn.
    const ReceiveResult read = socket_.receive(buffer.data(), buffer.size(), kPollMilliseconds, &from.ip, &from.port);
    kernelDrops_ = socket_.kernelDrops();
    if (!read.datagram()) continue;
    // Only whole status packets: a shorter datagram would be decoded with the
    // tail of an earlier one, and a longer one is not stored whole.
    if (!read.fits(buffer.size()) || !isStatusPacket(buffer.data(), read.length)) {
      ++countOther_;
      continue;
    }
    // The status of the sensor drawn (its status packets come from another
    // port of its address), or of the first sensor heard.
    const std::uint32_t drawn = sensorIp;
    if (drawn != 0 && (!sources.pinned() || sources.chosen()->ip != drawn)) sources.pin({drawn, 0});
    if (!sources.note(from)) {
      ++countAnotherSensor_;
      continue;
    }
    ++countStatus_;
    if (!deliverStatus(this, handOver_, buffer.data())) ++statusDropped_;
  }
  runEnds();
}
