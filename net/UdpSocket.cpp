#include "UdpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace z540k {

UdpSocket::~UdpSocket() { close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept
    : fd_(other.fd_),
      kernelDrops_(other.kernelDrops_),
      lastError_(std::move(other.lastError_)),
      lastErrno_(other.lastErrno_) {
  other.fd_ = -1;
}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    kernelDrops_ = other.kernelDrops_;
    lastError_ = std::move(other.lastError_);
    lastErrno_ = other.lastErrno_;
    other.fd_ = -1;
  }
  return *this;
}

bool UdpSocket::fail(const char* what) {
  lastErrno_ = errno;
  lastError_ = std::string(what) + ": " + std::strerror(lastErrno_);
  return false;
}

bool UdpSocket::create() {
  close();
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  kernelDrops_ = 0;
  return fd_ >= 0 || fail("cannot create a UDP socket");
}

bool UdpSocket::setReuseAddress() {
  const int on = 1;
  return ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 || fail("SO_REUSEADDR");
}

int UdpSocket::setReceiveBuffer(int bytes) {
  // With the right to (root, CAP_NET_ADMIN) the size may exceed rmem_max;
  // otherwise the kernel caps it there.
  if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0 &&
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) {
    fail("SO_RCVBUF");
    return 0;
  }
  int granted = 0;
  socklen_t len = sizeof granted;
  if (::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &granted, &len) != 0) return 0;
  return granted;
}

bool UdpSocket::enableDropCounter() {
  const int on = 1;
  return ::setsockopt(fd_, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) == 0 || fail("SO_RXQ_OVFL");
}

bool UdpSocket::joinMulticast(const std::string& group) {
  ip_mreq request{};
  if (group.empty() || ::inet_pton(AF_INET, group.c_str(), &request.imr_multiaddr) != 1) {
    lastErrno_ = EINVAL;
    lastError_ = "not a multicast address: \"" + group + "\"";
    return false;
  }
  request.imr_interface.s_addr = htonl(INADDR_ANY);
  return ::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0 ||
         fail("cannot join the multicast group");
}

bool UdpSocket::setNonBlocking() {
  const int flags = ::fcntl(fd_, F_GETFL, 0);
  return (flags >= 0 && ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0) || fail("non-blocking mode");
}

bool UdpSocket::bind(std::uint16_t port, const std::string& address) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
    lastErrno_ = EINVAL;
    lastError_ = "not an IPv4 address: \"" + address + "\"";
    return false;
  }
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    lastErrno_ = errno;
    lastError_ = "cannot bind UDP port " + std::to_string(port) + ": " + std::strerror(lastErrno_);
    return false;
  }
  return true;
}

int UdpSocket::sendTo(std::uint32_t ip, std::uint16_t port, const std::uint8_t* data, std::size_t size) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(ip);
  const ssize_t sent = ::sendto(fd_, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return sent < 0 ? errno : 0;
}

ReceiveResult UdpSocket::readPending(std::uint8_t* buffer, std::size_t capacity, std::uint32_t* sourceIp,
                                     std::uint16_t* sourcePort) {
  using Outcome = ReceiveResult::Outcome;
  sockaddr_in from{};
  iovec io{buffer, capacity};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t))];
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  // MSG_TRUNC: the result is the datagram's real length, so a datagram longer
  // than the buffer is recognised instead of being read cut to size.
  const ssize_t n = ::recvmsg(fd_, &message, MSG_TRUNC | MSG_DONTWAIT);
  if (n < 0) return {(errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? Outcome::Nothing : Outcome::Failed};
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
      std::memcpy(&kernelDrops_, CMSG_DATA(c), sizeof kernelDrops_);
  }
  if (sourceIp) *sourceIp = ntohl(from.sin_addr.s_addr);
  if (sourcePort) *sourcePort = ntohs(from.sin_port);
  return {Outcome::Datagram, static_cast<std::size_t>(n)};
}

ReceiveResult UdpSocket::receive(std::uint8_t* buffer, std::size_t capacity, int timeoutMs, std::uint32_t* sourceIp,
                                 std::uint16_t* sourcePort) {
  return receiveWaiting(buffer, capacity, timeoutMs, -1, sourceIp, sourcePort);
}

ReceiveResult UdpSocket::receiveOrWake(std::uint8_t* buffer, std::size_t capacity, int timeoutMs, int wakeFd,
                                       std::uint32_t* sourceIp, std::uint16_t* sourcePort) {
  return receiveWaiting(buffer, capacity, timeoutMs, wakeFd, sourceIp, sourcePort);
}

ReceiveResult UdpSocket::receiveWaiting(std::uint8_t* buffer, std::size_t capacity, int timeoutMs, int wakeFd,
                                        std::uint32_t* sourceIp, std::uint16_t* sourcePort) {
  using Outcome = ReceiveResult::Outcome;
  if (fd_ < 0) return {Outcome::Failed};
  // Under load a datagram is nearly always waiting: one read, no wait.
  const ReceiveResult first = readPending(buffer, capacity, sourceIp, sourcePort);
  if (first.outcome != Outcome::Nothing || timeoutMs == 0) return first;
  pollfd waiting[2] = {{fd_, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  const int ready = ::poll(waiting, wakeFd >= 0 ? 2 : 1, timeoutMs);
  if (ready == 0) return {Outcome::Nothing};
  if (ready < 0) return {errno == EINTR ? Outcome::Nothing : Outcome::Failed};
  if (waiting[0].revents & (POLLERR | POLLNVAL)) return {Outcome::Failed};
  if (!(waiting[0].revents & POLLIN)) return {Outcome::Nothing};  // woken
  return readPending(buffer, capacity, sourceIp, sourcePort);
}

std::uint16_t UdpSocket::localPort() const {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len) != 0) return 0;
  return ntohs(local.sin_port);
}

void UdpSocket::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

bool parseIpv4(const std::string& text, std::uint32_t& address) {
  in_addr parsed{};
  if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  address = ntohl(parsed.s_addr);
  return true;
}

bool sendDatagram(const std::string& ipv4Text, std::uint16_t port, const std::uint8_t* data, std::size_t size,
                  std::string& error) {
  std::uint32_t address = 0;
  if (!parseIpv4(ipv4Text, address)) {
    error = "\"" + ipv4Text + "\" is not an IPv4 address";
    return false;
  }
  if (address == 0 || port == 0) {
    error = "cannot send to " + ipv4Text + ":" + std::to_string(port) + ": not a destination";
    return false;
  }
  UdpSocket socket;
  if (!socket.create()) {
    error = socket.lastError();
    return false;
  }
  const int failed = socket.sendTo(address, port, data, size);
  if (failed != 0) {
    error = "cannot send to " + ipv4Text + ":" + std::to_string(port) + ": " + std::strerror(failed);
    return false;
  }
  return true;
}

std::string formatIpv4(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace z540k
