// A small POSIX UDP socket layer for the receivers: create, multicast join,
// non-blocking mode, bind, bounded-wait receive, close. The callers decide the
// order of the set-up steps (the data receiver joins before it binds, the
// status receiver after).
//
// A socket is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace z540k {

// What one read of a socket found. An empty datagram is a datagram like any
// other (length 0), never taken for "nothing arrived".
struct ReceiveResult {
  enum class Outcome { Nothing, Datagram, Failed };
  Outcome outcome = Outcome::Nothing;
  // The datagram's full length. It exceeds the buffer's capacity when the
  // datagram did not fit: then only the capacity was stored, and the
  // datagram cannot be used (its prefix is not the datagram).
  std::size_t length = 0;

  bool datagram() const { return outcome == Outcome::Datagram; }
  bool failed() const { return outcome == Outcome::Failed; }
  // A datagram stored whole in a buffer of `capacity` bytes.
  bool fits(std::size_t capacity) const { return datagram() && length <= capacity; }
};

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;

  // Each step returns false on failure and keeps the reason in lastError().
  bool create();
  // Lets several sockets bind the same port (the simulated sensor binds its
  // own address's port 2368 on the same machine).
  bool setReuseAddress();
  // Asks for a receive buffer of `bytes` (without the right to exceed it the
  // kernel caps it at rmem_max; it doubles what it grants); returns the size
  // granted, or 0 on failure.
  int setReceiveBuffer(int bytes);
  // Asks the kernel to report how many datagrams it dropped for this socket
  // (SO_RXQ_OVFL); receive() then keeps kernelDrops() up to date.
  bool enableDropCounter();
  // Joins an IPv4 multicast group on any interface. An empty or unparsable
  // group fails (the socket still receives unicast and broadcast).
  bool joinMulticast(const std::string& group);
  bool setNonBlocking();
  // Binds to `address` (empty: any local address) and `port`.
  bool bind(std::uint16_t port, const std::string& address = std::string());

  // Waits at most `timeoutMs` for a datagram and reads it into `buffer`:
  // a datagram (see ReceiveResult), nothing in time, or a failure (also when
  // the socket is closed).
  ReceiveResult receive(std::uint8_t* buffer, std::size_t capacity, int timeoutMs, std::uint32_t* sourceIp = nullptr,
                        std::uint16_t* sourcePort = nullptr);
  // As receive(), but the wait also ends, with nothing, as soon as `wakeFd`
  // is readable (it is not read here).
  ReceiveResult receiveOrWake(std::uint8_t* buffer, std::size_t capacity, int timeoutMs, int wakeFd,
                              std::uint32_t* sourceIp = nullptr, std::uint16_t* sourcePort = nullptr);

  // Sends one datagram; 0, or the errno of the failed send.
  int sendTo(std::uint32_t ip, std::uint16_t port, const std::uint8_t* data, std::size_t size);

  // Total datagrams the kernel dropped for this socket since it was created
  // (needs enableDropCounter()).
  std::uint32_t kernelDrops() const { return kernelDrops_; }

  // The port actually bound (useful after binding port 0).
  std::uint16_t localPort() const;
  bool isOpen() const { return fd_ >= 0; }
  void close();
  const std::string& lastError() const { return lastError_; }
  // The errno of the last failed step.
  int lastErrno() const { return lastErrno_; }
  int fd() const { return fd_; }

 private:
  bool fail(const char* what);
  ReceiveResult receiveWaiting(std::uint8_t* buffer, std::size_t capacity, int timeoutMs, int wakeFd,
                               std::uint32_t* sourceIp, std::uint16_t* sourcePort);
  // Reads a datagram that is already waiting; nothing when none is.
  ReceiveResult readPending(std::uint8_t* buffer, std::size_t capacity, std::uint32_t* sourceIp,
                            std::uint16_t* sourcePort);

  int fd_ = -1;
  std::uint32_t kernelDrops_ = 0;
  std::string lastError_;
  int lastErrno_ = 0;
};

// Sends one datagram to `ipv4Text`:`port` from a socket of its own, opened
// and closed here. False, with a one-line reason in `error`, when the text is
// not a dotted IPv4 address, names no host (0.0.0.0) or the port is 0, when no
// socket can be opened, or when the send fails.
// Broadcast addresses fail: the socket does not ask for broadcast.
bool sendDatagram(const std::string& ipv4Text, std::uint16_t port, const std::uint8_t* data, std::size_t size,
                  std::string& error);

// Parses dotted IPv4 text into host byte order; false if it is not one.
bool parseIpv4(const std::string& text, std::uint32_t& address);
std::string formatIpv4(std::uint32_t address);

}  // namespace z540k
