// The laser channel selection window: the sensor's 16 channels, one table row
// each, with a check box, the vertical angle and the channel number. Rows go
// from the lowest angle to the highest: the even channels 0..14 fill the
// lower half (rows 0..7), the odd channels 1..15 the upper half (rows 8..15).
//
// Quick selections: "All/All no choice" (Checkstate) and "Switch selection"
// (Parity) share one toggle phase, so each one's next effect depends on the
// other's clicks:
//   Checkstate  phase false: uncheck all    phase true: check all
//   Parity      phase false: even rows      phase true: odd rows
// and both invert the phase. The "All/All no choice" tick follows the clicks
// only, not the channel boxes.
//
// OK copies the boxes into the channel flags (1 checked, 0 not; index = row)
// and leaves the window open; Cancel closes it. The flags change on OK only.
// ReceiveDegreeMode switches the angle column between the two vertical
// layouts (0: -15..15 in steps of 2, 1: -10..10); other modes are stored and
// change nothing shown.
//
// Closing the window never ends the application. GUI thread only.
#pragma once

#include <QCheckBox>
#include <QStringList>
#include <QWidget>
#include <array>
#include <memory>

namespace Ui {
class Form_QLaserSelection;
}

class Form_QLaserSelection : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kChannels = 16;

  explicit Form_QLaserSelection(QWidget* parent = nullptr);
  ~Form_QLaserSelection() override;

  // The flags as of the last OK (all 1 before the first).
  const std::array<int, kChannels>& channelFlags() const { return channelFlags_; }
  // The mode last received through ReceiveDegreeMode (0 at first).
  int degreeMode() const { return degreeMode_; }

 public slots:
  void onCancel_Clicked();
  void onOk_Clicked();
  void Checkstate();
  void Checkstate2();
  void Parity();
  void ReceiveDegreeMode(int ReturnModel);

 private:
  // Writes the angle and channel columns of `mode` (0 or 1).
  void fillTable(int mode);

  std::unique_ptr<Ui::Form_QLaserSelection> ui;
  int degreeMode_ = 0;
  std::array<int, kChannels> channelFlags_;
  std::array<QCheckBox*, kChannels> channelBoxes_{};
  bool togglePhase_ = false;
  QStringList headerLabels_;
};
