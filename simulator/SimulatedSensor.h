// The simulated sensor on the network: one UDP socket bound to the sensor's
// address and port, from which it sends its stream to the host and on which
// it takes configuration packets, as a sensor does.
//
// The pace is a clock-based schedule: each datagram is due at its stream time
// (or, with a fixed rate, at its index / rate); whatever is due is made,
// gathered and sent in a batch (one sendmmsg() for many datagrams), then the
// loop waits for the next due time or a configuration packet.
// The clock is the steady clock unless another is given (a test's virtual
// one).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GarbageDatagrams.h"
#include "SensorState.h"
#include "SensorStream.h"
#include "SimulatorOptions.h"
#include "UdpSocket.h"

namespace z540k::sim {

class StreamAhead;

// One line of the simulator's log, without a line end.
using SimulatorLog = std::function<void(const std::string&)>;

// The clock the sensor and the capture replay pace their sending by.
class PaceClock {
 public:
  virtual ~PaceClock() = default;
  // Microseconds since a fixed point of this clock.
  virtual std::int64_t nowUs() = 0;
  // Waits until nowUs() reaches `untilUs` or the socket `fd` (-1: none) has
  // a datagram to read, whichever comes first; a signal may end it sooner.
  // 1 when the socket is readable, 0 otherwise, -1 (errno set) on failure.
  virtual int waitUntil(std::int64_t untilUs, int fd) = 0;
};

// The steady clock, waiting with ppoll().
class SteadyPaceClock : public PaceClock {
 public:
  std::int64_t nowUs() override;
  int waitUntil(std::int64_t untilUs, int fd) override;
};

struct RunSummary {
  std::uint64_t data = 0;  // data and compact scan datagrams sent
  std::uint64_t status = 0;
  std::uint64_t garbage = 0;
  std::uint64_t leftOut = 0;  // data datagrams left out on purpose (--drop)
  std::uint64_t dropped = 0;  // sends the socket could not take (buffer full)
  std::uint64_t sendFailures = 0;
  std::uint64_t configurationsApplied = 0;
  std::uint64_t configurationsRefused = 0;
  double seconds = 0.0;  // on the pace clock
};

// The state a sensor started with these options has: its addresses, ports,
// motor speed and echo mode.
SensorState initialSensorState(const SimulatorOptions& options);
StreamSettings streamSettingsFor(const SimulatorOptions& options, std::int64_t clockStartUs);
// The UTC clock now, microseconds since 1970.
std::int64_t utcNowMicroseconds();
// "protocol 1.7, single return, 600 rpm: 10 packets per revolution, 100 per second"
std::string describeStream(const SensorStream& stream);
// What --drop and --drop-seed ask for.
DatagramDrop datagramDropFor(const SimulatorOptions& options);

// The sensor's own socket: bound to its address and port, sending to the
// host, reading the configuration packets sent to it.
class SensorSocket {
 public:
  // Binds with SO_REUSEADDR, so that receivers on the wildcard address may
  // share the port; another socket bound to this very address and port is
  // refused as "in use". Non-blocking.
  bool bind(const Ipv4Address& address, std::uint16_t port, std::string& error);
  int fd() const { return socket_.fd(); }
  // 0, or the errno of the failed send.
  int sendTo(const Ipv4Address& address, std::uint16_t port, const std::uint8_t* data, std::size_t size);
  // A datagram of a batch: where it goes and its bytes.
  struct Outgoing {
    Ipv4Address address{};
    std::uint16_t port = 0;
    Datagram datagram;
  };
  // Sends the batch in order, in as few calls as the kernel allows; `failed`
  // is called with the index and errno of each datagram that could not be
  // sent (the others went out).
  void sendAll(const std::vector<Outgoing>& batch, std::size_t count,
               const std::function<void(std::size_t, int)>& failed);
  // The next pending datagram: its full length (which may exceed `capacity`;
  // the bytes beyond are lost), or -1 when nothing is pending.
  long receive(std::uint8_t* buffer, std::size_t capacity, Ipv4Address& from, std::uint16_t& fromPort);
  void close() { socket_.close(); }

 private:
  z540k::UdpSocket socket_;
};

class SimulatedSensor {
 public:
  SimulatedSensor(const SimulatorOptions& options, SimulatorLog log, std::int64_t clockStartUs = utcNowMicroseconds());
  ~SimulatedSensor();

  // Binds the sensor's address and port. False with a one-line reason.
  bool open(std::string& error);
  // Paces run() by `clock` instead of the steady clock; it must outlive the
  // run.
  void setPaceClock(PaceClock& clock) { clock_ = &clock; }
  // Sends until `stop` is set or the options' --seconds or --count limit is
  // reached. Configuration packets are applied as they come. False, with a
  // one-line reason, only for a failure that ends the run.
  bool run(const std::atomic<bool>& stop, std::string& error);

  const RunSummary& summary() const { return summary_; }
  // The sensor's state; read it when run() has returned.
  const SensorState& state() const { return state_; }
  const SensorStream& stream() const { return stream_; }

 private:
  void send(const Datagram& d);
  // Gathers the datagram into the batch, which goes out when full and at the
  // end of each turn of the loop (flush()).
  void sendTo(std::uint16_t port, const Datagram& d);
  void flush();
  void countFailure(std::uint16_t port, int error);
  void takeConfigurationPackets(std::uint64_t streamNowUs);
  void applyConfiguration(const std::uint8_t* data, std::size_t size, const std::string& from,
                          std::uint64_t streamNowUs);
  std::string moveTo(SensorState& next);
  void note(const std::string& line);

  SimulatorOptions options_;
  SimulatorLog log_;
  SensorState state_;
  SensorStream stream_;
  GarbageDatagrams garbage_;
  DatagramDrop drop_;
  SensorSocket socket_;
  Ipv4Address boundAddress_{};
  RunSummary summary_;
  std::vector<std::uint8_t> receiveBuffer_;
  std::vector<SensorSocket::Outgoing> outbox_;
  std::size_t outgoing_ = 0;
  std::vector<int> reportedErrors_;
  std::uint64_t measurementSlots_ = 0;
  std::unique_ptr<StreamAhead> ahead_;  // while run() runs at a fixed rate
  SteadyPaceClock steadyClock_;
  PaceClock* clock_ = &steadyClock_;
};

}  // namespace z540k::sim
