#include "ReceiverSocket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace z540k {

namespace {

// The machine's own IPv4 addresses outside the loopback range, in host order.
std::vector<std::uint32_t> nonLoopbackAddresses() {
  std::vector<std::uint32_t> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (const ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
    const std::uint32_t a = ntohl(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
    if ((a >> 24) != 127) out.push_back(a);
  }
  ::freeifaddrs(list);
  return out;
}

// The kernel prints an address as the hexadecimal values of its 32-bit
// words as they lie in memory; reading them back the same way restores the
// bytes in network order.
bool parseProcAddress(const std::string& hex, std::uint8_t* bytes, std::size_t size) {
  if (hex.size() != 2 * size) return false;
  for (std::size_t word = 0; word < size / 4; ++word) {
    std::uint32_t value = 0;
    for (std::size_t k = 0; k < 8; ++k) {
      const char c = hex[8 * word + k];
      const int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
      if (digit < 0) return false;
      value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    std::memcpy(bytes + 4 * word, &value, 4);
  }
  return true;
}

// Whether a socket bound to `bytes` (4 or 16 of them, network order) takes
// IPv4 unicast datagrams addressed to the machine.
bool takesUnicast(const std::uint8_t* bytes, std::size_t size, const std::vector<std::uint32_t>& ownAddresses) {
  const std::uint8_t* v4 = bytes;
  if (size == 16) {
    static const std::uint8_t kUnspecified[16] = {};
    static const std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(bytes, kUnspecified, 16) == 0) return true;    // :: (dual-stack)
    if (std::memcmp(bytes, kMappedPrefix, 12) != 0) return false;  // IPv6 only
    v4 = bytes + 12;                                               // ::ffff:a.b.c.d
  }
  const std::uint32_t a = std::uint32_t{v4[0]} << 24 | std::uint32_t{v4[1]} << 16 | std::uint32_t{v4[2]} << 8 | v4[3];
  return a == 0 || std::find(ownAddresses.begin(), ownAddresses.end(), a) != ownAddresses.end();
}

void collectBindings(const char* path, std::size_t addressSize, std::vector<UdpBinding>& out) {
  std::ifstream table(path);
  std::string line;
  std::getline(table, line);  // the column titles
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
    UdpBinding b;
    if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> b.inode))
      continue;
    const std::size_t colon = local.find(':');
    if (colon == std::string::npos) continue;
    b.port = static_cast<std::uint16_t>(std::strtoul(local.c_str() + colon + 1, nullptr, 16));
    b.addressSize = addressSize;
    if (!parseProcAddress(local.substr(0, colon), b.address.data(), addressSize)) continue;
    out.push_back(b);
  }
}

}  // namespace

std::string portInUseText(std::uint16_t port) {
  return "port " + std::to_string(port) + " is already in use by another program";
}

std::vector<UdpBinding> udpBindings() {
  std::vector<UdpBinding> out;
  collectBindings("/proc/net/udp", 4, out);
  collectBindings("/proc/net/udp6", 16, out);
  return out;
}

std::vector<unsigned long> udpReceiversOnPort(std::uint16_t port) {
  const std::vector<std::uint32_t> ownAddresses = nonLoopbackAddresses();
  std::vector<unsigned long> out;
  for (const UdpBinding& b : udpBindings())
    if (b.port == port && takesUnicast(b.address.data(), b.addressSize, ownAddresses)) out.push_back(b.inode);
  return out;
}

ReceiverSocket::ReceiverSocket() : wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

ReceiverSocket::~ReceiverSocket() {
  socket_.close();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void ReceiverSocket::open(const Options& options) {
  socket_.close();  // the previous socket never counts as another receiver
  clearWake();
  std::string error;
  auto note = [&](bool ok) {
    if (ok || !error.empty()) return;
    error = socket_.lastErrno() == EADDRINUSE ? portInUseText(options.port) : socket_.lastError();
  };
  auto join = [&] {
    if (!options.multicastGroup.empty()) note(socket_.joinMulticast(options.multicastGroup));
  };
  note(socket_.create());
  if (socket_.isOpen()) {
    note(socket_.setReuseAddress());
    if (options.receiveBufferBytes > 0) socket_.setReceiveBuffer(options.receiveBufferBytes);
    if (options.countDrops) socket_.enableDropCounter();
    bool bound = false;
    if (options.order == Order::JoinThenBind) {
      join();
      note(socket_.setNonBlocking());
      note(bound = socket_.bind(options.port));
    } else {
      note(bound = socket_.bind(options.port));
      join();
      note(socket_.setNonBlocking());
    }
    // Looked at once bound, so that of two receivers opened at the same
    // moment neither misses the other.
    struct stat own {};
    if (bound && ::fstat(socket_.fd(), &own) == 0) {
      const std::uint16_t port = socket_.localPort();
      for (unsigned long inode : udpReceiversOnPort(port)) {
        if (inode == own.st_ino) continue;
        error = portInUseText(port);
        bound = false;
        break;
      }
    }
    // An unbound socket would receive nothing: the loop waits without one.
    if (!bound) socket_.close();
  }
  std::lock_guard<std::mutex> lock(errorMutex_);
  error_ = error;
}

std::string ReceiverSocket::error() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return error_;
}

ReceiveResult ReceiverSocket::receive(std::uint8_t* buffer, std::size_t capacity, int timeoutMs,
                                      std::uint32_t* sourceIp, std::uint16_t* sourcePort) {
  if (socket_.isOpen()) return socket_.receiveOrWake(buffer, capacity, timeoutMs, wakeFd_, sourceIp, sourcePort);
  pollfd waiting{wakeFd_, POLLIN, 0};
  ::poll(&waiting, 1, timeoutMs);
  return {ReceiveResult::Outcome::Failed};
}

void ReceiverSocket::wake() {
  const std::uint64_t one = 1;
  if (wakeFd_ >= 0) (void)!::write(wakeFd_, &one, sizeof one);
}

void ReceiverSocket::clearWake() {
  std::uint64_t count = 0;
  if (wakeFd_ >= 0) (void)!::read(wakeFd_, &count, sizeof count);
}

void ReceiverSocket::close() {
  socket_.close();
  clearWake();
}

}  // namespace z540k
