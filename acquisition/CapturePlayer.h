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

// The pace of playback: a capture plays at the pace its revolutions were
// measured (the sensor's time stamps, microseconds past the hour) times the
// speed factor, backwards too. Pure: the host's time is handed in.
//
// After each frame sent, wait() gives the pause before the next: the last
// interval between revolutions (the next is expected as far on), counted
// from where the run of frames began, so the time spent decoding is taken
// out of the pauses instead of adding up. A frame more than a second late
// (the host cannot decode as fast) starts the count anew and is counted as
// late; a gap of more than two seconds in the capture (a recording paused,
// a clock set) is played as the last interval.
class PlaybackPace {
 public:
  // Playback factors by speed index: normal, 2x, 3x, 0.5x, 0.25x.
  static double factor(int speedIndex);
  static constexpr std::int64_t kLateLimit = 1000000;  // microseconds
  static constexpr std::uint64_t kLongestGap = 2000000;

  // The frame with the sensor time `sensorTime` (0: none) went out at the
  // host time `now` (microseconds) at `factor`; the pause before the next
  // frame in microseconds, or -1 when the frame has no time stamp.
  std::int64_t wait(std::uint64_t sensorTime, std::int64_t now, double factor);
  // A pause, a seek, a turn or another speed: the next frame starts a run.
  void restart() { anchored_ = hasLast_ = false; }
  std::uint64_t lateFrames() const { return late_; }

 private:
  bool anchored_ = false, hasLast_ = false;
  std::uint64_t lastSensor_ = 0;
  std::int64_t anchorHost_ = 0;
  std::uint64_t elapsed_ = 0;   // sensor time from the anchor to the last frame
  std::uint64_t interval_ = 0;  // between the last two frames (0: unknown)
  double factor_ = 1;
  std::uint64_t late_ = 0;
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
  // The speed: normal, 2x, 3x, 0.5x, 0.25x of the pace the capture was
  // recorded at (revolutions without time stamps: a pause of 110, 80, 50,
  // 130, else 150 ms after each).
  std::atomic<int> speedIndex{0};
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
  // The host's time in microseconds for the pace (a steady clock unless a
  // test's virtual clock is set, before start()).
  void setClock(std::function<std::int64_t()> now) { clock_ = std::move(now); }
  // Frames of this run that went out more than a second later than their
  // pace (the host could not decode as fast).
  std::uint64_t lateFrames() const { return lateFrames_; }

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

  // The pause after an emitted revolution without time stamps for a speed
  // index.
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
  std::function<std::int64_t()> clock_;
  // The pause after a frame sent, by the pace (the settings it was counted
  // for, to start anew when they change).
  int pauseAfter(const LidarDataSingleLine& record, std::uint64_t closings);
  z540k::PlaybackPace pace_;
  int paceSpeed_ = -1;
  z540k::Direction paceDirection_ = z540k::Direction::Forwards;
  std::uint64_t paceClosings_ = 0;
  bool paceSeek_ = false;
  std::atomic<std::uint64_t> lateFrames_{0};
  z540k::RunCompletion runCompletion_;
};
