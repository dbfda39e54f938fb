#include "SimulatedSensor.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "ConfigurationPackets.h"
#include "PacketFormat.h"
#include "ReceiverSocket.h"
#include "StreamAhead.h"

namespace z540k::sim {

namespace {

// Room for any UDP datagram, so that an oversized one is seen whole in
// length and refused as such.
constexpr std::size_t kReceiveBufferSize = 65536;
// Datagrams sent in one go before the loop looks at its socket and stop flag
// again.
constexpr int kMaxBatch = 256;
// Datagrams gathered for one sendmmsg() (status and garbage make a batch
// longer than kMaxBatch; the kernel takes at most 1024 at a time).
constexpr std::size_t kOutboxSize = 256;
// Datagrams made ahead at a fixed rate: some 10 ms of them at 100,000 a
// second, 4 MB.
constexpr std::size_t kMadeAhead = 1024;
// Configuration datagrams read in one go.
constexpr int kMaxConfigurationBatch = 64;
// The longest wait between two looks at the stop flag.
constexpr std::int64_t kMaxWaitUs = 50000;
// A schedule further behind than this is not made up: the sender was held up
// (a stopped process, an overloaded machine) and starts afresh from now.
constexpr std::int64_t kMaxLagUs = 1000000;

// Whether another socket of this machine is bound to exactly this address
// and port. SO_REUSEADDR lets two UDP sockets share one, which would leave a
// second simulator silently stealing the first one's configuration packets.
bool exactBindingExists(const Ipv4Address& address, std::uint16_t port) {
  for (const z540k::UdpBinding& b : z540k::udpBindings())
    if (b.addressSize == 4 && b.port == port && std::equal(address.begin(), address.end(), b.address.begin()))
      return true;
  return false;
}

bool isTransientSendError(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS || error == EINTR || error == ECONNREFUSED;
}

std::string endpointText(const Ipv4Address& address, std::uint16_t port) {
  return formatIpv4(address) + ":" + std::to_string(port);
}

}  // namespace

SensorState initialSensorState(const SimulatorOptions& o) {
  SensorState s;
  parseIpv4(o.bindAddress, s.sensorIp);
  parseIpv4(o.target, s.destIp);
  s.dataPort = o.dataPort;
  s.statusPort = o.statusPort;
  s.motorSpeed = o.rpm;
  s.echoMode = o.dualReturn ? kEchoModeDual : kEchoModeSingle;
  return s;
}

StreamSettings streamSettingsFor(const SimulatorOptions& o, std::int64_t clockStartUs) {
  StreamSettings s;
  s.layout = o.layout;
  s.compactScan = o.compactScan;
  s.statusLayout = o.shortStatus ? StatusLayout::Short : StatusLayout::Long;
  s.clockStartUs = clockStartUs;
  s.gpsJumpAtSeconds = o.gpsJumpAt;
  return s;
}

std::int64_t utcNowMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

DatagramDrop datagramDropFor(const SimulatorOptions& o) {
  return DatagramDrop(o.drop, o.dropSeed.value_or(DatagramDrop::kDefaultSeed));
}

std::string describeStream(const SensorStream& stream) {
  const StreamSettings& settings = stream.settings();
  const SensorState& state = stream.state();
  std::ostringstream text;
  text << "protocol " << (settings.layout == Layout::Protocol17 ? "1.7" : "1.6");
  if (settings.compactScan)
    text << ", compact scan packets";
  else
    text << (state.dualReturn() ? ", dual return" : ", single return");
  text << ", " << state.motorSpeed << " rpm: " << stream.packetsPerRevolution() << " packets per revolution, "
       << (kMicrosecondsPerSecond / stream.packetPeriodUs()) << " per second";
  if (!state.scanning()) text << " (not scanning)";
  return text.str();
}

// ---- SteadyPaceClock -----------------------------------------------------------

std::int64_t SteadyPaceClock::nowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int SteadyPaceClock::waitUntil(std::int64_t untilUs, int fd) {
  const std::int64_t waitUs = std::max<std::int64_t>(0, untilUs - nowUs());
  pollfd p{fd, POLLIN, 0};  // a negative fd is ignored: a plain wait
  const timespec timeout{static_cast<time_t>(waitUs / 1000000), static_cast<long>(waitUs % 1000000) * 1000};
  const int ready = ::ppoll(&p, 1, &timeout, nullptr);
  if (ready < 0) return -1;
  return ready > 0 && (p.revents & POLLIN) ? 1 : 0;
}

// ---- SensorSocket --------------------------------------------------------------

namespace {

std::uint32_t hostOrder(const Ipv4Address& a) { return loadBE32(a.data()); }

}  // namespace

bool SensorSocket::bind(const Ipv4Address& address, std::uint16_t port, std::string& error) {
  const std::string where = endpointText(address, port);
  if (port != 0 && exactBindingExists(address, port)) {
    error = where + " is in use by another program";
    return false;
  }
  z540k::UdpSocket s;
  if (!(s.create() && s.setReuseAddress() && s.setNonBlocking())) {
    error = "cannot open a UDP socket: " + s.lastError();
    return false;
  }
  if (!s.bind(port, formatIpv4(address))) {
    const int e = s.lastErrno();
    if (e == EADDRINUSE)
      error = where + " is in use by another program";
    else if (e == EADDRNOTAVAIL)
      error = "cannot bind " + where + ": " + formatIpv4(address) + " is not an address of this machine";
    else if (e == EACCES)
      error = "cannot bind " + where + ": the port needs privileges";
    else
      error = "cannot bind " + where + ": " + std::strerror(e);
    return false;
  }
  socket_ = std::move(s);
  return true;
}

int SensorSocket::sendTo(const Ipv4Address& address, std::uint16_t port, const std::uint8_t* data, std::size_t size) {
  return socket_.sendTo(hostOrder(address), port, data, size);
}

void SensorSocket::sendAll(const std::vector<Outgoing>& batch, std::size_t count,
                           const std::function<void(std::size_t, int)>& failed) {
  std::vector<sockaddr_in> to(count);
  std::vector<iovec> io(count);
  std::vector<mmsghdr> messages(count);
  for (std::size_t i = 0; i < count; ++i) {
    const Outgoing& o = batch[i];
    to[i].sin_family = AF_INET;
    to[i].sin_port = htons(o.port);
    to[i].sin_addr.s_addr = htonl(hostOrder(o.address));
    io[i] = {const_cast<std::uint8_t*>(o.datagram.data()), o.datagram.size};
    messages[i] = {};
    messages[i].msg_hdr.msg_name = &to[i];
    messages[i].msg_hdr.msg_namelen = sizeof to[i];
    messages[i].msg_hdr.msg_iov = &io[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  // A call that fails part-way returns the datagrams sent before; the next
  // call starts at the one that failed and reports it.
  std::size_t done = 0;
  while (done < count) {
    const int sent = ::sendmmsg(socket_.fd(), messages.data() + done, static_cast<unsigned>(count - done), 0);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else {
      failed(done, sent < 0 ? errno : EIO);
      ++done;
    }
  }
}

long SensorSocket::receive(std::uint8_t* buffer, std::size_t capacity, Ipv4Address& from, std::uint16_t& fromPort) {
  std::uint32_t ip = 0;
  const ReceiveResult read = socket_.receive(buffer, capacity, 0, &ip, &fromPort);
  if (!read.datagram()) return -1;
  from = {static_cast<std::uint8_t>(ip >> 24), static_cast<std::uint8_t>(ip >> 16), static_cast<std::uint8_t>(ip >> 8),
          static_cast<std::uint8_t>(ip)};
  return static_cast<long>(read.length);
}

// ---- SimulatedSensor -----------------------------------------------------------

SimulatedSensor::SimulatedSensor(const SimulatorOptions& options, SimulatorLog log, std::int64_t clockStartUs)
    : options_(options),
      log_(std::move(log)),
      state_(initialSensorState(options)),
      stream_(streamSettingsFor(options, clockStartUs), state_),
      garbage_(options.garbage, kGarbageSeed),
      drop_(datagramDropFor(options)),
      receiveBuffer_(kReceiveBufferSize),
      outbox_(kOutboxSize) {}

SimulatedSensor::~SimulatedSensor() = default;

void SimulatedSensor::note(const std::string& line) {
  if (log_) log_(line);
}

bool SimulatedSensor::open(std::string& error) {
  if (!parseIpv4(options_.bindAddress, boundAddress_)) {
    error = "bad address " + options_.bindAddress;
    return false;
  }
  return socket_.bind(boundAddress_, options_.sensorPort, error);
}

void SimulatedSensor::sendTo(std::uint16_t port, const Datagram& d) {
  SensorSocket::Outgoing& o = outbox_[outgoing_++];
  o.address = state_.destIp;
  o.port = port;
  o.datagram.kind = d.kind;
  o.datagram.timeUs = d.timeUs;
  o.datagram.size = d.size;
  std::memcpy(o.datagram.bytes.data(), d.data(), d.size);
  if (outgoing_ == outbox_.size()) flush();
}

void SimulatedSensor::flush() {
  if (outgoing_ == 0) return;
  socket_.sendAll(outbox_, outgoing_, [this](std::size_t i, int e) { countFailure(outbox_[i].port, e); });
  outgoing_ = 0;
}

void SimulatedSensor::countFailure(std::uint16_t port, int e) {
  if (isTransientSendError(e)) {
    ++summary_.dropped;
    return;
  }
  ++summary_.sendFailures;
  // One line per kind of failure, not one per datagram.
  if (std::find(reportedErrors_.begin(), reportedErrors_.end(), e) == reportedErrors_.end()) {
    reportedErrors_.push_back(e);
    note("cannot send to " + endpointText(state_.destIp, port) + ": " + std::strerror(e));
  }
}

void SimulatedSensor::send(const Datagram& d) {
  if (d.kind == SentKind::Status) {
    sendTo(state_.statusPort, d);
    if (options_.statusToDataPort) sendTo(state_.dataPort, d);
    ++summary_.status;
    return;
  }
  ++measurementSlots_;
  Datagram junk;
  for (int n = garbage_.countBeforeNext(); n > 0; --n) {
    garbage_.make(d, junk);
    sendTo(state_.dataPort, junk);
    ++summary_.garbage;
  }
  if (garbage_.replacesEverything()) return;
  if (drop_.leaveOut()) {
    ++summary_.leftOut;
    return;
  }
  sendTo(state_.dataPort, d);
  ++summary_.data;
}

// A new sensor address means a new socket; a destination must be reachable
// from the address the sensor is at. What cannot be done is kept as it was,
// and the status reports what the sensor really does.
std::string SimulatedSensor::moveTo(SensorState& next) {
  std::string notes;
  if (next.sensorIp != boundAddress_) {
    SensorSocket moved;
    std::string error;
    if (moved.bind(next.sensorIp, options_.sensorPort, error)) {
      socket_ = std::move(moved);
      boundAddress_ = next.sensorIp;
      notes += "; now at " + endpointText(boundAddress_, options_.sensorPort);
    } else {
      notes += "; stays at " + formatIpv4(boundAddress_) + " (" + error + ")";
      next.sensorIp = boundAddress_;
    }
  }
  if (isLoopback(boundAddress_) && !isLoopback(next.destIp)) {
    notes += "; keeps sending to " + formatIpv4(state_.destIp) + " (" + formatIpv4(next.destIp) +
             " cannot be reached from a loopback address)";
    next.destIp = state_.destIp;
  }
  if (next.destIp == boundAddress_) {
    notes += "; keeps sending to " + formatIpv4(state_.destIp) + " (the sensor would send to itself)";
    next.destIp = state_.destIp;
  }
  return notes;
}

void SimulatedSensor::applyConfiguration(const std::uint8_t* data, std::size_t size, const std::string& from,
                                         std::uint64_t streamNowUs) {
  const ParsedConfiguration parsed = parseConfigurationPacket(data, size);
  if (!parsed.ok) {
    ++summary_.configurationsRefused;
    note("refused a datagram from " + from + " (" + std::to_string(size) + " bytes): " + parsed.error);
    return;
  }
  SensorState next = state_;
  const std::string changes = sim::applyConfiguration(parsed.request, next);
  const std::string notes = moveTo(next);
  state_ = next;
  if (ahead_)
    ahead_->setState(state_);
  else
    stream_.setState(state_, streamNowUs);
  ++summary_.configurationsApplied;
  note(std::string("applied ") + describe(parsed.request.kind) + " from " + from + ": " + changes + notes);
}

void SimulatedSensor::takeConfigurationPackets(std::uint64_t streamNowUs) {
  for (int i = 0; i < kMaxConfigurationBatch; ++i) {
    Ipv4Address from{};
    std::uint16_t fromPort = 0;
    const long n = socket_.receive(receiveBuffer_.data(), receiveBuffer_.size(), from, fromPort);
    if (n < 0) return;
    const std::size_t size = static_cast<std::size_t>(n);
    applyConfiguration(receiveBuffer_.data(), std::min(size, receiveBuffer_.size()), endpointText(from, fromPort),
                       streamNowUs);
  }
}

bool SimulatedSensor::run(const std::atomic<bool>& stop, std::string& error) {
  if (socket_.fd() < 0) {
    error = "the sensor's socket is not open";
    return false;
  }
  PaceClock& clock = *clock_;
  const std::int64_t start = clock.nowUs();
  const auto wallUs = [&] { return clock.nowUs() - start; };
  const double limitUs = options_.seconds ? *options_.seconds * 1e6 : std::numeric_limits<double>::infinity();
  const bool fixedRate = options_.rate.has_value();
  const double rateStepUs = fixedRate ? 1e6 / *options_.rate : 0.0;
  std::uint64_t produced = 0;  // datagrams taken from the stream
  std::int64_t slipUs = 0;     // time the schedule was moved on after falling behind
  bool slipReported = false;

  // The time (since start) at which the next datagram is due.
  const auto due = [&]() -> std::int64_t {
    if (fixedRate) return slipUs + static_cast<std::int64_t>(std::llround(static_cast<double>(produced) * rateStepUs));
    return slipUs + static_cast<std::int64_t>(stream_.nextTimeUs());
  };
  // The sensor's clock now, for configuration changes (at a fixed rate the
  // stream made ahead takes them from its next datagram).
  const auto streamNow = [&](std::int64_t now) -> std::uint64_t {
    if (fixedRate) return 0;
    return static_cast<std::uint64_t>(std::max<std::int64_t>(0, now - slipUs));
  };
  const auto countReached = [&] { return options_.count && measurementSlots_ >= *options_.count; };
  // At a fixed rate the datagrams are made on a thread of their own, ahead.
  struct Ahead {
    std::unique_ptr<StreamAhead>& made;
    ~Ahead() { made.reset(); }
  } aheadEnds{ahead_};
  if (fixedRate) ahead_ = std::make_unique<StreamAhead>(stream_, kMadeAhead);

  Datagram d;
  while (!stop.load() && !countReached()) {
    std::int64_t now = wallUs();
    if (static_cast<double>(now) >= limitUs) break;

    int batch = 0;
    for (; batch < kMaxBatch && !countReached(); ++batch) {
      const std::int64_t dueUs = due();
      if (dueUs > now) break;
      if (now - dueUs > kMaxLagUs) {
        slipUs += now - dueUs;
        if (!slipReported && !options_.quiet)
          note("fell behind the schedule by " + std::to_string((now - dueUs) / 1000) + " ms: going on from now");
        slipReported = true;
      }
      if (ahead_) {
        send(ahead_->take());
        ahead_->pop();
      } else {
        stream_.next(d);
        send(d);
      }
      ++produced;
    }

    flush();
    now = wallUs();
    std::int64_t waitUs = batch == kMaxBatch ? 0 : std::clamp<std::int64_t>(due() - now, 0, kMaxWaitUs);
    if (std::isfinite(limitUs))
      waitUs = std::min<std::int64_t>(waitUs, std::max<std::int64_t>(0, static_cast<std::int64_t>(limitUs) - now));
    const int ready = clock.waitUntil(start + now + waitUs, socket_.fd());
    if (ready < 0 && errno != EINTR) {
      error = std::string("waiting on the sensor's socket failed: ") + std::strerror(errno);
      return false;
    }
    if (ready > 0) takeConfigurationPackets(streamNow(wallUs()));
  }
  summary_.seconds = static_cast<double>(wallUs()) / 1e6;
  return true;
}

}  // namespace z540k::sim
