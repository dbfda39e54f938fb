// One network settings session: what the settings window and
// `z540k-tool configure` hold of the sensor and do with it. It keeps the live
// status (the last decoded status and the last raw status packet, short or
// long layout), says what may be refreshed or sent, what a Refresh fills, and
// runs Set: its refusals in their order, the packet for the sensor's format,
// the address it goes to and the fields the packet leaves as the sensor has
// them. The caller sends the packet and reports it with sent().
//
// Pure C++, no Qt, no sockets; one thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LidarRecords.h"
#include "NetworkSettingsPacket.h"
#include "NetworkSettingsRules.h"

namespace z540k {

class NetworkSettingsSession {
 public:
  NetworkSettingsSession() = default;

  // A session over one status packet as the tool has it: the format read
  // from the packet itself, and the packet fresh for a Refresh (with its
  // speed and state choices) and a Set.
  static NetworkSettingsSession fromSnapshot(const StatusSnapshot& snapshot);

  // A raw status packet arrived (its 1206 bytes are copied).
  void takeRawStatus(const std::uint8_t* packet);
  // A decoded status arrived: what the window shows of it. The status's
  // short-layout flag decides the packet format of the next Set.
  NetworkStatusDisplay takeDecodedStatus(const SettingData& status, const std::vector<int>& values);

  // The last raw status packet (zeros until one arrived).
  const StatusSnapshot& snapshot() const { return snapshot_; }
  // The last decoded status, motor speed 100 rpm or less as 0.
  const SettingData& status() const { return status_; }
  // True while the last decoded status announced the short format.
  bool shortFormat() const { return shortFormat_; }
  // A raw status packet arrived since the last Refresh / the last send; a
  // decoded status arrived since the last Refresh that read it.
  bool canRefresh() const { return refreshReady_; }
  bool canSend() const { return sendReady_; }
  bool decodedStatusReady() const { return decodedStatusReady_; }

  // What a Refresh fills; `withStatus` when a decoded status arrived since
  // the last one that read it (then the speed, interval and state choices
  // are filled too, and the completion is said). Nothing when no raw status
  // packet arrived since the last Refresh.
  struct Refresh {
    NetworkSettingsRefresh fields;
    bool withStatus = false;
  };
  std::optional<Refresh> refresh();

  // Set on the fields as typed. A refusal sends nothing and leaves the
  // status fresh; otherwise `packet` goes to `destination` on the
  // configuration port.
  enum class SetRefusal {
    None,
    SameAddress,  // the sensor and destination addresses are the same (kSameAddressMessage)
    NoStatus,     // no raw status packet since the last send
    Field,        // a field that cannot be sent; `refusal` names it
  };
  struct SetPlan {
    SetRefusal refused = SetRefusal::None;
    std::string refusal;
    std::vector<std::uint8_t> packet;
    std::string destination;
    // The fields for which the packet keeps the sensor's value, as one line
    // (empty when none).
    std::string kept;
  };
  SetPlan set(const NetworkSettingsInput& input, const LocalDateTime& now);
  // The packet went out: the next Set waits for the sensor's next status
  // packet, which gives it time to take the settings.
  void sent() { sendReady_ = false; }

 private:
  SettingData status_{};
  StatusSnapshot snapshot_{};
  bool shortFormat_ = false;
  bool sendReady_ = false;
  bool refreshReady_ = false;
  bool decodedStatusReady_ = false;
};

}  // namespace z540k
