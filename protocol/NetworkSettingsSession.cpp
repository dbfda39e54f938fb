#include "NetworkSettingsSession.h"

#include <cstring>

#include "SettingsFieldValues.h"

namespace z540k {

NetworkSettingsSession NetworkSettingsSession::fromSnapshot(const StatusSnapshot& snapshot) {
  NetworkSettingsSession session;
  session.takeRawStatus(snapshot.data());
  session.shortFormat_ = isShortStatusFormat(snapshot);
  session.decodedStatusReady_ = true;
  return session;
}

void NetworkSettingsSession::takeRawStatus(const std::uint8_t* packet) {
  if (!packet) return;
  std::memcpy(snapshot_.data(), packet, snapshot_.size());
  sendReady_ = true;
  refreshReady_ = true;
}

NetworkStatusDisplay NetworkSettingsSession::takeDecodedStatus(const SettingData& status,
                                                               const std::vector<int>& values) {
  // The record's 32-bit fields are unaligned: copy the bytes before anything
  // else reads them.
  std::memcpy(&status_, &status, sizeof status_);
  decodedStatusReady_ = true;
  const NetworkStatusDisplay display = networkStatusDisplay(status_, values);
  shortFormat_ = display.shortFormat;
  status_.motorSpeed = display.motorSpeed;
  return display;
}

std::optional<NetworkSettingsSession::Refresh> NetworkSettingsSession::refresh() {
  if (!refreshReady_) return std::nullopt;
  refreshReady_ = false;
  Refresh r{refreshedSettings(snapshot_, shortFormat_), decodedStatusReady_};
  decodedStatusReady_ = false;
  return r;
}

NetworkSettingsSession::SetPlan NetworkSettingsSession::set(const NetworkSettingsInput& input,
                                                            const LocalDateTime& now) {
  SetPlan plan;
  // Equal texts, or the same address written two ways (10.0.0.1, 10.0.0.01).
  if (sameSensorAndDestination(input, snapshot_, shortFormat_)) {
    plan.refused = SetRefusal::SameAddress;
    plan.refusal = kSameAddressMessage;
    return plan;
  }
  if (!sendReady_) {
    plan.refused = SetRefusal::NoStatus;
    return plan;
  }
  // A half-typed address, a MAC that is not hexadecimal, a number its field
  // cannot hold: said, and nothing sent (never a value the operator did not
  // mean).
  if (const auto refusal = networkSettingsRefusal(input, shortFormat_)) {
    plan.refused = SetRefusal::Field;
    plan.refusal = *refusal;
    return plan;
  }
  if (shortFormat_) {
    const auto p = buildShortNetworkSettingsPacket(input, snapshot_);
    plan.packet.assign(p.begin(), p.end());
  } else {
    // The build may replace an unset sensor IP in the snapshot, which the
    // destination then follows.
    const auto p = buildLongNetworkSettingsPacket(input, snapshot_, now);
    plan.packet.assign(p.begin(), p.end());
  }
  plan.destination = networkSettingsDestination(snapshot_, shortFormat_);
  // What the packet leaves as the sensor has it (an empty field, a port of
  // 1024 or below) is said, so that nothing changes or stays unseen.
  plan.kept = keptValuesText(keptSensorValues(input, shortFormat_));
  return plan;
}

}  // namespace z540k
