// Loopback helpers of the network tests: a free UDP port and a sender.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace z540k::test {

// A UDP socket bound at `address` on a port the kernel picks, which goes to
// `port`; address reuse first when asked. The caller closes the socket.
inline int boundUdpSocket(std::uint16_t& port, const char* address = "127.0.0.1", bool reuseAddress = false) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (reuseAddress) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, address, &a.sin_addr);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t length = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  port = ntohs(a.sin_port);
  return fd;
}

// A UDP port held for one test: a socket bound at 127.0.0.2 (where the
// simulated sensor lives) on a port the kernel picks, with address reuse, so
// the port stays reserved for as long as the object lives. Receivers under
// test bind the same port on the wildcard address beside it, as the program
// binds beside the simulated sensor; traffic to 127.0.0.1 reaches them.
class HeldUdpPort {
 public:
  HeldUdpPort() { fd_ = boundUdpSocket(port_, "127.0.0.2", true); }
  ~HeldUdpPort() { ::close(fd_); }
  HeldUdpPort(const HeldUdpPort&) = delete;
  HeldUdpPort& operator=(const HeldUdpPort&) = delete;

  std::uint16_t port() const { return port_; }
  operator std::uint16_t() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// A UDP port nobody uses right now (the kernel's pick for port 0). Probed and
// released: prefer HeldUdpPort, which keeps it reserved.
inline std::uint16_t freeUdpPort(const char* address = "127.0.0.1") {
  std::uint16_t port = 0;
  ::close(boundUdpSocket(port, address));
  return port;
}

// Sends datagrams to 127.0.0.1 (or another loopback address), from the
// address `from` when one is given (the simulated sensor's is 127.0.0.2).
class LoopbackSender {
 public:
  explicit LoopbackSender(const std::string& to = "127.0.0.1", const char* from = nullptr)
      : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
    if (from) {
      std::uint16_t anyPort = 0;
      ::close(fd_);
      fd_ = boundUdpSocket(anyPort, from);
    }
    ::inet_pton(AF_INET, to.c_str(), &to_.sin_addr);
    to_.sin_family = AF_INET;
  }
  ~LoopbackSender() { ::close(fd_); }
  LoopbackSender(const LoopbackSender&) = delete;
  LoopbackSender& operator=(const LoopbackSender&) = delete;

  bool send(std::uint16_t port, const std::uint8_t* data, std::size_t size) {
    to_.sin_port = htons(port);
    return ::sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_) ==
           static_cast<ssize_t>(size);
  }
  template <typename Bytes>
  bool send(std::uint16_t port, const Bytes& bytes) {
    return send(port, bytes.data(), bytes.size());
  }

 private:
  int fd_;
  sockaddr_in to_{};
};

// The largest payload of a UDP datagram over IPv4.
constexpr std::size_t kLargestUdpPayload = 65507;

// A datagram of that size that starts with a whole `packet`: a receiver that
// took a datagram cut to its buffer's size for the datagram would take this
// one for the packet.
template <typename Bytes>
std::vector<std::uint8_t> largestDatagramStartingWith(const Bytes& packet) {
  std::vector<std::uint8_t> d(kLargestUdpPayload, 0x5A);
  std::copy(packet.begin(), packet.end(), d.begin());
  return d;
}

}  // namespace z540k::test
