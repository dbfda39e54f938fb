#include "ReceiverSocket.h"

namespace z540k {

void ReceiverSocket::open(const Options& options) {
  closeRequested_ = false;
  std::string error;
  auto note = [&](bool ok) {
    if (!ok && error.empty()) error = socket_.lastError();
  };
  auto join = [&] {
    if (!options.multicastGroup.empty()) note(socket_.joinMulticast(options.multicastGroup));
  };
  note(socket_.create());
  if (socket_.isOpen()) {
    note(socket_.setReuseAddress());
    if (options.receiveBufferBytes > 0) socket_.setReceiveBuffer(options.receiveBufferBytes);
    if (options.countDrops) socket_.enableDropCounter();
    if (options.order == Order::JoinThenBind) {
      join();
      note(socket_.setNonBlocking());
      note(socket_.bind(options.port));
    } else {
      note(socket_.bind(options.port));
      join();
      note(socket_.setNonBlocking());
    }
  }
  std::lock_guard<std::mutex> lock(errorMutex_);
  error_ = error;
}

std::string ReceiverSocket::error() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return error_;
}

void ReceiverSocket::close(bool loopRunning) {
  if (loopRunning)
    closeRequested_ = true;
  else
    socket_.close();
}

void ReceiverSocket::loopEnded() {
  if (closeRequested_.exchange(false)) socket_.close();
}

}  // namespace z540k
