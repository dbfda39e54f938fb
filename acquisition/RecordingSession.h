// A recording of the data port's traffic as the window's Record and the
// tool's record command run it: the adapter chosen, the recorder started on
// the port's filter, stopped within a bound, and how it ended told in one
// line.
//
// Threads: every call is for the thread that owns the session (the GUI
// thread, or the tool's main thread); the capture runs on the recorder's.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "CaptureRecorder.h"

namespace z540k {

class RecordingSession {
 public:
  // `countRevolutions`: the revolutions written are counted as they are
  // written (revolutionsWritten, waitForRevolutions), which copies and reads
  // each packet again on the recorder's thread; the window does not need it.
  explicit RecordingSession(bool countRevolutions = false);
  ~RecordingSession();

  // The filter that records the data port `port`.
  static std::string portFilter(int port);

  // Starts recording `port` into `path` on the adapter named (empty: the
  // first suitable one, see chooseCaptureAdapter). False with a reason when
  // no adapter suits or the previous recording is still ending.
  bool start(const std::string& path, int port, const std::string& namedDevice, std::string& reason);
  bool recording() const { return recording_; }
  // The file of the present (or last) recording.
  const std::string& path() const { return path_; }
  // The adapter it records on.
  const std::string& device() const { return device_; }
  // Ends the recording; everything captured until now is in the file. False
  // when it did not end within `timeoutMs` (a write that hangs): it ends
  // when that write returns, and endedByItself() then says so.
  bool stop(int timeoutMs);
  // True once, when a recording ended without stop() (a file that cannot be
  // written, an adapter that went away, a stop that took longer than its
  // bound): error() says why.
  bool endedByItself();

  std::string error() const;
  std::uint64_t packetsWritten() const;
  std::uint64_t packetsDropped() const;
  // The whole revolutions of the sensor's data packets known to be in the
  // file of the present (or last) recording, counted as they are written,
  // by the rule export-csv counts a capture's revolutions with (0 when the
  // session does not count them).
  std::size_t revolutionsWritten() const;
  // Waits until `count` revolutions are in the file (0: none awaited), the
  // recording ended, or `until` came; true when they are in the file.
  bool waitForRevolutions(std::size_t count, std::chrono::steady_clock::time_point until) const;
  // The recorder of the present (or last) recording; null before the first.
  const CaptureRecorder* recorder() const { return recorder_.get(); }
  // "the recording PATH kept N packets, M dropped by the capture", or
  // "the recording PATH failed: REASON".
  std::string summary() const;
  // True when the recording ended without error and nothing was dropped.
  bool whole() const;

 private:
  // What the recorder's thread has written, counted (kept beyond the
  // recorder, which tells it until its thread ends).
  struct Written;
  std::unique_ptr<Written> written_;
  bool countRevolutions_;
  std::unique_ptr<CaptureRecorder> recorder_;
  std::string path_;
  std::string device_;
  bool recording_ = false;
};

}  // namespace z540k
