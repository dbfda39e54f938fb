// The socket of a receiver thread: set up on the GUI thread before the thread
// starts, in the order the receiver needs; read by the receive loop while it
// runs; closed or replaced only when no loop runs on it. The owner ends the
// loop first (wake() cuts the loop's wait short), then closes or reopens.
//
// A port that another program already receives on is refused: with address
// reuse both sockets would bind, and the kernel would hand each unicast
// datagram to one of them only.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "UdpSocket.h"

namespace z540k {

class ReceiverSocket {
 public:
  enum class Order {
    JoinThenBind,  // the data receiver joins its group before it binds
    BindThenJoin,  // the status receiver binds first
  };
  struct Options {
    std::uint16_t port = 0;
    std::string multicastGroup;  // empty: no group is joined
    Order order = Order::JoinThenBind;
    int receiveBufferBytes = 0;  // 0: the system's default
    bool countDrops = false;     // report the kernel's drops for this socket
  };

  ReceiverSocket();
  ~ReceiverSocket();
  ReceiverSocket(const ReceiverSocket&) = delete;
  ReceiverSocket& operator=(const ReceiverSocket&) = delete;

  // No loop may run on the socket. Closes the previous socket, then creates,
  // sets address reuse (the simulated sensor binds its own address's port on
  // the same machine: the pair is allowed when both sockets set it), joins and
  // binds in the given order and switches to non-blocking mode. If another
  // socket receives on the port (see udpReceiversOnPort) the new socket is
  // closed again and error() reads "port N is already in use by another
  // program". The first failure is kept in error(), empty when all went well.
  void open(const Options& options);
  std::string error() const;
  bool isOpen() const { return socket_.isOpen(); }

  // The loop's read: like UdpSocket::receive, but returns with nothing at
  // once after wake(). Without a socket it waits the same way and fails.
  // The sender's address and port (host byte order) go where asked.
  ReceiveResult receive(std::uint8_t* buffer, std::size_t capacity, int timeoutMs, std::uint32_t* sourceIp = nullptr,
                        std::uint16_t* sourcePort = nullptr);
  std::uint32_t kernelDrops() const { return socket_.kernelDrops(); }

  // From any thread: ends the loop's current and every later wait at once,
  // until the next open() or close().
  void wake();
  // No loop may run on the socket.
  void close();

 private:
  void clearWake();

  UdpSocket socket_;
  int wakeFd_ = -1;
  mutable std::mutex errorMutex_;
  std::string error_;
};

// The text a receiver reports for a port another program receives on.
std::string portInUseText(std::uint16_t port);

// A UDP socket of this machine's network namespace as the kernel lists it
// (/proc/net/udp and /proc/net/udp6): the local address in network order (4
// or 16 bytes), the port and the socket's inode.
struct UdpBinding {
  std::array<std::uint8_t, 16> address{};
  std::size_t addressSize = 4;
  std::uint16_t port = 0;
  unsigned long inode = 0;
};
// Every bound UDP socket; empty where /proc cannot be read.
std::vector<UdpBinding> udpBindings();

// The sockets (by inode) of this machine's network namespace that take the
// unicast datagrams sent to `port` on one of the machine's addresses, read
// from /proc/net/udp and /proc/net/udp6: those bound to the port on the
// wildcard address (0.0.0.0, or :: which also receives IPv4 unless
// IPV6_V6ONLY is set), or on a specific address of one of the machine's
// interfaces that is not a loopback address. A socket bound to one loopback
// address (the simulated sensor at 127.0.0.2) only receives what is sent to
// that address, and is not one. Empty where /proc cannot be read.
std::vector<unsigned long> udpReceiversOnPort(std::uint16_t port);

}  // namespace z540k
