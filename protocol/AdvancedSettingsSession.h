// One advanced settings session: what the advanced (factory) window holds
// and decides, without its widgets. It keeps the last decoded status (its
// values and the run state Set sends), whether a capture or a send's pause
// is under way (busy), whether a Refresh got past its checks since the last
// send attempt (refreshed) and once at all (Set usable), Set's checks before
// it captures, and whether a GPS time-stamp test runs and with which logs.
//
// Pure C++, no Qt; one thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "AdvancedSettingsPacket.h"
#include "LidarRecords.h"

namespace z540k {

class AdvancedSettingsSession {
 public:
  // A decoded status arrived: its values and run state are kept.
  void takeStatus(const SettingData& status, std::vector<int> values);
  // The status values last received (empty before any status).
  const std::vector<int>& statusValues() const { return values_; }

  // A capture, or the pause after a send, is under way: Refresh, Set, save
  // and restore wait until it ends.
  bool busy() const { return busy_; }
  void setBusy(bool busy) { busy_ = busy; }
  // Set may be pressed: not busy, and a Refresh got past its checks once.
  bool setEnabled() const { return !busy_ && setUsable_; }
  // A Refresh got past its checks since the last send attempt.
  bool refreshed() const { return refreshed_; }
  // The window is shown anew: a Set needs a fresh Refresh first.
  void clearRefreshedMark() { refreshed_ = false; }

  // Refresh needs a status from the receivers first (false: refuse it).
  bool canRefresh() const { return !values_.empty(); }
  // A Refresh that was not stopped ended (with the frame or without).
  void refreshEnded() { setUsable_ = refreshed_ = true; }

  // Set's checks before it captures, on the fields as typed; the kept run
  // state goes into `input`.
  enum class SetRefusal { None, NotRefreshed, Field };
  struct SetCheck {
    SetRefusal refused = SetRefusal::None;
    std::string refusal;  // Field: the line naming it
  };
  SetCheck checkSet(AdvancedSettingsInput& input) const;
  // A send attempt that reached the capture ended: a new Refresh is needed.
  void sendEnded() { refreshed_ = false; }

  // The GPS time-stamp test.
  bool gpsTestRunning() const { return gpsTestRunning_; }
  void gpsTestStarted(std::vector<std::string> logs);
  void gpsTestStopped() { gpsTestRunning_ = false; }
  // The receiver could not write `file` and has ended its test: true when
  // that is the running test (which now counts as stopped); a report about
  // an earlier test leaves a newer one running.
  bool logWriteErrorEndsTest(const std::string& file);

 private:
  std::optional<unsigned> runState_;
  std::vector<int> values_;
  bool busy_ = false;
  bool refreshed_ = false;
  bool setUsable_ = false;
  bool gpsTestRunning_ = false;
  std::vector<std::string> gpsTestLogs_;  // the two logs of the running or last GPS test
};

}  // namespace z540k
