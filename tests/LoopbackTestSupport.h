// Loopback helpers of the network tests: a free UDP port and a sender.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace z540k::test {

// A UDP port nobody uses right now (the kernel's pick for port 0).
inline std::uint16_t freeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

// Sends datagrams to 127.0.0.1 (or another loopback address).
class LoopbackSender {
 public:
  explicit LoopbackSender(const std::string& to = "127.0.0.1") : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
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

}  // namespace z540k::test
