#include "AdvancedSettingsSession.h"

#include <algorithm>
#include <utility>

namespace z540k {

void AdvancedSettingsSession::takeStatus(const SettingData& status, std::vector<int> values) {
  // A member of the packed record is read as such, unaligned or not.
  runState_ = static_cast<unsigned>(status.runState);
  values_ = std::move(values);
}

AdvancedSettingsSession::SetCheck AdvancedSettingsSession::checkSet(AdvancedSettingsInput& input) const {
  if (!refreshed_) return {SetRefusal::NotRefreshed, {}};
  if (!values_.empty()) input.runState = runState_;
  // A value its field cannot hold is said before any capture: the sensor
  // never gets a value the operator did not type, and nobody waits for a
  // status frame to learn it. The refreshed mark stays.
  if (const auto refusal = advancedSettingsRefusal(input)) return {SetRefusal::Field, *refusal};
  return {};
}

void AdvancedSettingsSession::gpsTestStarted(std::vector<std::string> logs) {
  gpsTestLogs_ = std::move(logs);
  gpsTestRunning_ = true;
}

bool AdvancedSettingsSession::logWriteErrorEndsTest(const std::string& file) {
  if (!gpsTestRunning_ || std::find(gpsTestLogs_.begin(), gpsTestLogs_.end(), file) == gpsTestLogs_.end()) return false;
  gpsTestRunning_ = false;
  return true;
}

}  // namespace z540k
