// The socket of a receiver thread: set up on the GUI thread before the thread
// starts, in the order the receiver needs; used by the receive loop; closed by
// the GUI thread at once, or, while the loop still runs, by the loop as it
// ends, so it is never closed under a receive in progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

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

  // Creates, sets address reuse (the simulated sensor binds its own
  // address's port on the same machine: the pair is allowed when both sockets
  // set it), joins and binds in the given order and switches to non-blocking
  // mode. The first failure is kept in error(), empty when all went well.
  void open(const Options& options);
  std::string error() const;

  UdpSocket& socket() { return socket_; }

  // From the GUI thread: closes now, or asks the running loop to close it.
  void close(bool loopRunning);
  // From the loop, as it ends.
  void loopEnded();

 private:
  UdpSocket socket_;
  std::atomic<bool> closeRequested_{false};
  mutable std::mutex errorMutex_;
  std::string error_;
};

}  // namespace z540k
