// What playback of a capture is doing, apart from any widget: playing or
// paused, the speed steps of the two seek buttons, single steps, the
// direction, the frame on screen and the end of the capture. The main
// window forwards each click of its Offline tab here and carries out the
// answer: an order for the capture player and what its buttons show.
//
// Frames are counted as the window's counter shows them: 1 is a capture's
// first revolution, 0 means none is on screen (just loaded, or the end was
// reached).
#pragma once

#include <string>

#include "PlaybackDirection.h"

namespace z540k {

// What the player is to do after a click; the window also copies
// direction() and speedIndex() to it.
struct PlayerOrder {
  enum class Gate { Keep, Open, Close };
  bool start = false;        // begin a run (the player's thread is not running)
  Gate gate = Gate::Keep;    // open: resume or single-step; close: pause
  bool stepRequest = false;  // stop at the gate after the next frame
  bool clearStepRequest = false;
  int seekFrame = 0;  // when 1 or more: the frame to show next
};

class PlaybackControl {
 public:
  // A capture of `frameTotal` revolutions was loaded: paused, nothing shown.
  void load(int frameTotal);
  bool loaded() const { return loaded_; }

  // The clicks.
  PlayerOrder play();                                                // Play / Pause
  PlayerOrder seekForward();                                         // cycles the forward speed
  PlayerOrder seekBackward();                                        // cycles the backward speed
  PlayerOrder stepBackward() { return step(Direction::Backwards); }  // one frame back while paused
  PlayerOrder stepForward() { return step(Direction::Forwards); }    // one frame on while paused
  PlayerOrder seek(int frame);                                       // the slider or the spin box: show this frame

  // The player's answers.
  void frameShown(int frame, int frameTotal);  // frame 1..total is on screen
  void finished(bool endReached);              // its run ended
  void failed();                               // the capture cannot be read any more
  void stopped();                              // the window ended the run (another file, Lidar off)

  // The player's settings.
  Direction direction() const { return direction_; }
  int speedIndex() const { return speedIndex_; }

  // What the Offline tab shows.
  const std::string& playIcon() const { return playIcon_; }
  const std::string& seekForwardIcon() const { return seekForwardIcon_; }
  const std::string& seekBackwardIcon() const { return seekBackwardIcon_; }
  bool openEnabled() const { return openEnabled_; }
  bool stepsEnabled() const { return stepsEnabled_; }           // the two single-step buttons
  bool controlsEnabled() const { return loaded_ && !failed_; }  // play, seek, slider, spin box
  int frame() const { return frame_; }
  int frameTotal() const { return frameTotal_; }

  bool paused() const { return paused_; }
  bool endReached() const { return endReached_; }
  // A run holds the view, playing or paused: live data is read and dropped
  // until it ends.
  bool holdsView() const { return runActive_; }
  bool runActive() const { return runActive_; }

 private:
  void resetSeekButtons();
  PlayerOrder step(Direction direction);
  void runEnded();  // the player's run is over: paused, Play shown

  bool loaded_ = false;
  bool failed_ = false;
  bool paused_ = false;      // set when a capture is loaded, cleared by Play
  bool everPlayed_ = false;  // a run was started for this capture
  bool runActive_ = false;   // the player's thread runs (playing or waiting at its gate)
  bool endReached_ = false;
  bool lastSeekForward_ = false;
  int forwardSpeedStep_ = 1;   // 1..5
  int backwardSpeedStep_ = 1;  // 1..5
  Direction direction_ = Direction::Forwards;
  int speedIndex_ = 0;
  int frame_ = 0;
  int frameTotal_ = 0;
  bool openEnabled_ = true;
  bool stepsEnabled_ = true;
  std::string playIcon_ = "./Resources/images/Play.png";
  std::string seekForwardIcon_ = "./Resources/images/Seekforward.png";
  std::string seekBackwardIcon_ = "./Resources/images/Seekbackward.png";
};

}  // namespace z540k
