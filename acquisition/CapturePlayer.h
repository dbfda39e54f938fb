// ReadLiveOffData: the worker thread that replays the data packets of a
// loaded capture as if the sensor were live, forwards or backwards, one
// record per revolution followed by a pause that sets the speed.
//
// Threads: the object lives in the GUI thread, which hands over the packets
// (setPackets, only while the player is not running), writes the playback
// settings and takes and gives back the gate; run() is the worker.
#pragma once

#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "LidarRecords.h"
#include "RunCompletion.h"

namespace z540k {

// A binary semaphore with first-come, first-served taking: a GUI thread that
// waits to take it gets it before the player, which gives it back and asks
// for it again at every packet. Giving opens it, however often it is given.
class BinaryGate {
 public:
  void take() {
    std::unique_lock<std::mutex> lock(mutex_);
    const unsigned long long ticket = nextTicket_++;
    turn_.wait(lock, [&] { return open_ && serving_ == ticket; });
    open_ = false;
    ++serving_;
    turn_.notify_all();
  }
  bool tryTake() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_ || serving_ != nextTicket_) return false;
    open_ = false;
    ++nextTicket_;
    ++serving_;
    return true;
  }
  void give() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    turn_.notify_all();
  }
  bool isOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable turn_;
  bool open_ = true;
  unsigned long long nextTicket_ = 0;
  unsigned long long serving_ = 0;
};

}  // namespace z540k

class ReadLiveOffData : public QThread {
  Q_OBJECT

 public:
  explicit ReadLiveOffData(QObject* parent = nullptr);
  ~ReadLiveOffData() override;

  // The packets to play: `count` data packets of 1206 bytes, one after the
  // other from `packets`. They must stay unchanged while the player runs;
  // while it runs a new list is refused (returns false).
  bool setPackets(const std::uint8_t* packets, std::size_t count);

  // Shared playback settings, read on every block.
  std::atomic<int> direction{1};    // +1 forwards, -1 backwards
  std::atomic<int> speedIndex{0};   // pause after each revolution: 110, 80, 50, 130, else 150 ms
  std::atomic<int> stepRequest{0};  // 1: stop at the gate after the next revolution

  // The gate: the player holds it while it decodes a packet. The GUI pauses
  // playback by taking it (waiting, if need be, for the current packet) and
  // resumes or single-steps by giving it back; either thread may give it back.
  void takeGate() { gate_.take(); }
  bool tryTakeGate() { return gate_.tryTake(); }
  void giveGate() { gate_.give(); }
  bool gateOpen() const { return gate_.isOpen(); }

  // Ends a running playback at its next packet, without signals (used when
  // the program closes); also lets a player waiting at the gate go.
  void requestStop();

  // The pause after an emitted revolution for a speed index.
  static int pauseMilliseconds(int speedIndex);

 signals:
  void SendData(LidarDataSingleLine lidardata);
  void SendBool(bool Finsh);

 protected:
  void run() override;

 private:
  z540k::BinaryGate gate_;
  const std::uint8_t* packets_ = nullptr;
  std::size_t count_ = 0;
  LidarDataSingleLine record_;
  std::atomic<bool> stopRequested_{false};
  z540k::RunCompletion runCompletion_;
};
