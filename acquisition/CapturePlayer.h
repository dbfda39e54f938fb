// ReadLiveOffData: the worker thread that replays the data packets of a
// loaded capture as if the sensor were live, forwards or backwards, one
// record per revolution followed by a pause that sets the speed.
//
// Threads: the object lives in the GUI thread, which hands over the packets
// (setPackets, only while the player is not running), writes the playback
// settings, closes and opens the gate and stops the player; run() is the
// worker. No call of the GUI thread waits longer than the decoding of one
// packet.
#pragma once

#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "DataPacketList.h"
#include "LidarRecords.h"
#include "PacketFormat.h"
#include "PlaybackDirection.h"
#include "RunCompletion.h"

namespace z540k {

// The gate between the GUI thread and the player. The GUI closes it to pause
// playback and opens it to resume or single-step; the player passes it before
// every packet and, after the revolution of a single step, closes it itself
// and waits. Closing waits only while the player is decoding a packet, never
// while it waits at the gate or sleeps between revolutions, so no sequence of
// pause, resume, step and stop can leave the GUI thread waiting on the player.
class PlaybackGate {
 public:
  // GUI thread: close the gate; returns once the player is not decoding (it
  // waits at the gate, or its run has ended).
  void close();
  // GUI thread: open the gate (however often it is opened, once is enough).
  void open();
  bool isOpen() const;

  // GUI thread: ask a run to end at its next packet or wait; clearStop()
  // once that run has ended.
  void requestStop();
  void clearStop();

  // Player thread. passAt(): wait until the gate is open, then mark the
  // player decoding; false when a stop was asked for. closeBehindStep(): the
  // single step's end, closing the gate and waiting like passAt(); unless
  // the gate was opened again since openings() was read (a play or another
  // step asked for while the step's frame went out), which it keeps. sleep():
  // the pause between revolutions, cut short by a stop, a closed gate, or a
  // closing since closings() was read.
  // idle(): the player is not decoding (a packet done, or the run ends).
  bool passAt();
  bool closeBehindStep(std::uint64_t openingsBefore);
  std::uint64_t openings() const;
  std::uint64_t closings() const;
  void sleep(int milliseconds, std::uint64_t closingsBefore);
  void idle();
  bool stopRequested() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = true;
  bool decoding_ = false;
  bool stop_ = false;
  std::uint64_t closings_ = 0;
  std::uint64_t openings_ = 0;
};

}  // namespace z540k

class ReadLiveOffData : public QThread {
  Q_OBJECT

 public:
  explicit ReadLiveOffData(QObject* parent = nullptr);
  ~ReadLiveOffData() override;

  // The packets to play (sensor data packets of 1206 bytes, in capture
  // order, with the index of their revolutions). The player shares the list,
  // so it stays valid while the player can use it whatever the window does
  // with its own reference. Refused (false) while the player runs, paused or
  // not: stop() it first.
  bool setPackets(std::shared_ptr<const z540k::DataPacketList> packets);

  // Shared playback settings, read before every packet and frame.
  std::atomic<z540k::Direction> direction{z540k::Direction::Forwards};
  std::atomic<int> speedIndex{0};   // pause after each revolution: 110, 80, 50, 130, else 150 ms
  std::atomic<int> stepRequest{0};  // 1: stop at the gate after the next revolution
  // The data packet layout chosen in the window, as the live receiver reads
  // it: it applies from the next revolution on.
  std::atomic<z540k::Layout> layout{z540k::Layout::Protocol17};
  // The return mode chosen in the window, as the live receiver reads it.
  std::atomic<z540k::ReturnMode> returnMode{z540k::ReturnMode::Strongest};
  // When 0 or more, replaces the speed pause (milliseconds): tests and
  // benchmarks play as fast as the records are decoded.
  std::atomic<int> pauseOverrideMs{-1};
  // Waits out the pause after a revolution (milliseconds) on the player's
  // thread instead of the gate's sleep: a test's virtual clock. Set it
  // before start().
  void setPauseWait(std::function<void(int milliseconds)> wait) { pauseWait_ = std::move(wait); }

  // The frame to show next (1 = the capture's first revolution), whichever
  // way playback goes; play goes on from there. A run starts at the first
  // frame unless one was asked for before it started.
  void seekTo(int frame) { seekRequest_ = frame; }

  // The gate: the GUI pauses playback by taking it (waiting, if need be, for
  // the packet being decoded) and resumes or single-steps by giving it back.
  void takeGate() { gate_.close(); }
  void giveGate() { gate_.open(); }
  bool gateOpen() const { return gate_.isOpen(); }

  // Ends a running or paused playback without signals and waits for it: at
  // most the decoding of one packet (used before another capture is loaded
  // and when the program closes). The gate stays as it was.
  void stop();

  // The pause after an emitted revolution for a speed index.
  static int pauseMilliseconds(int speedIndex);

 signals:
  void SendData(LidarDataSingleLine lidardata);
  void SendBool(bool Finsh);
  // After each SendData: which frame it was (1 = the first revolution) of how
  // many the capture holds.
  void SendFrame(int frame, int frameTotal);
  // The capture cannot be read any more (it changed on disk): the run ends
  // with SendBool(false) after this.
  void SendError(QString message);

 protected:
  void run() override;

 private:
  // Sends the decoded frame `target` of `total` (from 0) and waits out the
  // pause after it; false when the run ends with it (a stop, a single step
  // not gone on from, or the end of the capture in the direction of play,
  // which sets `ended`).
  bool sendFrame(const LidarDataSingleLine& record, long long target, long long total, bool& ended);
  // The run's last signals: a failure, or the end of the capture reached.
  void signalRunEnd(const QString& failure, bool ended);

  z540k::PlaybackGate gate_;
  std::shared_ptr<const z540k::DataPacketList> packets_;
  std::atomic<int> seekRequest_{0};
  std::function<void(int)> pauseWait_;
  z540k::RunCompletion runCompletion_;
};
