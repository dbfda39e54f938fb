#include "PlaybackControl.h"

#include <algorithm>

namespace z540k {

namespace {

const char* const kPlay = "./Resources/images/Play.png";
const char* const kPause = "./Resources/images/Pause.png";
const char* const kSeekForward = "./Resources/images/Seekforward.png";
const char* const kSeekBackward = "./Resources/images/Seekbackward.png";

// Each press of a seek button while playing goes to the next speed.
struct SpeedStep {
  const char* icon;
  int speedIndex;
  int next;
};
// Normal, then 2x, 3x, 0.5x, 0.25x, and back to normal. (The 0.25x forward
// icon's name ends in a point after "png".)
const SpeedStep kForwardSteps[] = {{"./Resources/images/Seekforward_2x.png", 1, 2},
                                   {"./Resources/images/Seekforward_3x.png", 2, 3},
                                   {"./Resources/images/Seekforward_0.5x.png", 3, 4},
                                   {"./Resources/images/Seekforward_0.25x.png.", 4, 5},
                                   {kSeekForward, 0, 1}};
const SpeedStep kBackwardSteps[] = {{kSeekBackward, 0, 2},
                                    {"./Resources/images/Seekbackward_2x.png", 1, 3},
                                    {"./Resources/images/Seekbackward_3x.png", 2, 4},
                                    {"./Resources/images/Seekbackward_0.5x.png", 3, 5},
                                    {"./Resources/images/Seekbackward_0.25x.png", 4, 1}};

const SpeedStep& stepOf(const SpeedStep (&steps)[5], int step) { return steps[std::clamp(step, 1, 5) - 1]; }

}  // namespace

void PlaybackControl::load(int frameTotal) {
  *this = PlaybackControl();
  loaded_ = true;
  paused_ = true;
  frameTotal_ = frameTotal;
}

void PlaybackControl::resetSeekButtons() {
  seekForwardIcon_ = kSeekForward;
  forwardSpeedStep_ = 1;
  speedIndex_ = 0;
  seekBackwardIcon_ = kSeekBackward;
  backwardSpeedStep_ = 1;
}

PlayerOrder PlaybackControl::play() {
  PlayerOrder order;
  if (!controlsEnabled()) return order;
  resetSeekButtons();
  openEnabled_ = false;
  if (paused_) {
    playIcon_ = kPause;
    paused_ = false;
    direction_ = Direction::Forwards;
    order.clearStepRequest = true;
    // Playing forwards at normal speed: the next Seek forward goes to 2x.
    lastSeekForward_ = true;
    order.gate = PlayerOrder::Gate::Open;
    if (!runActive_ || endReached_) {
      // A new run plays from the first frame.
      order.start = true;
      runActive_ = true;
      if (endReached_) frame_ = 0;
      endReached_ = false;
    }
    everPlayed_ = true;
    stepsEnabled_ = false;
  } else {
    playIcon_ = kPlay;
    paused_ = true;
    if (everPlayed_) {
      if (endReached_) {
        frame_ = 0;
        endReached_ = false;
      } else {
        order.gate = PlayerOrder::Gate::Close;
      }
    }
    stepsEnabled_ = true;
  }
  return order;
}

PlayerOrder PlaybackControl::seekForward() {
  if (!controlsEnabled()) return {};
  if (!lastSeekForward_) {
    seekBackwardIcon_ = kSeekBackward;
    forwardSpeedStep_ = 5;
  }
  lastSeekForward_ = true;
  if (endReached_) {
    seekForwardIcon_ = kSeekForward;
    forwardSpeedStep_ = 1;
    speedIndex_ = 0;
  } else if (paused_) {
    seekForwardIcon_ = kSeekForward;
    forwardSpeedStep_ = 1;
    direction_ = Direction::Forwards;
    speedIndex_ = 0;
  } else {
    const SpeedStep& step = stepOf(kForwardSteps, forwardSpeedStep_);
    direction_ = Direction::Forwards;
    seekForwardIcon_ = step.icon;
    speedIndex_ = step.speedIndex;
    forwardSpeedStep_ = step.next;
  }
  return {};
}

PlayerOrder PlaybackControl::seekBackward() {
  if (!controlsEnabled()) return {};
  if (lastSeekForward_) {
    seekForwardIcon_ = kSeekForward;
    backwardSpeedStep_ = 1;
    direction_ = Direction::Backwards;
  }
  lastSeekForward_ = false;
  if (frame_ < 2 || endReached_) {
    seekBackwardIcon_ = kSeekBackward;
    backwardSpeedStep_ = 1;
    speedIndex_ = 0;
  }
  if (paused_) {
    seekBackwardIcon_ = kSeekBackward;
    backwardSpeedStep_ = 2;
    direction_ = Direction::Backwards;
    speedIndex_ = 0;
  } else {
    const SpeedStep& step = stepOf(kBackwardSteps, backwardSpeedStep_);
    direction_ = Direction::Backwards;
    seekBackwardIcon_ = step.icon;
    speedIndex_ = step.speedIndex;
    backwardSpeedStep_ = step.next;
  }
  return {};
}

// One frame on in `direction` while paused; while playing, a step asked for
// is taken back.
PlayerOrder PlaybackControl::step(Direction direction) {
  PlayerOrder order;
  if (!controlsEnabled() || frame_ == 0 || endReached_ || !runActive_) return order;
  if (paused_) {
    if (direction == Direction::Backwards) {
      seekBackwardIcon_ = kSeekBackward;
      backwardSpeedStep_ = 1;
    } else {
      seekForwardIcon_ = kSeekForward;
      forwardSpeedStep_ = 1;
    }
    direction_ = direction;
    order.stepRequest = true;
    order.gate = PlayerOrder::Gate::Open;
  } else {
    order.clearStepRequest = true;
  }
  return order;
}

PlayerOrder PlaybackControl::seek(int frame) {
  PlayerOrder order;
  if (!controlsEnabled() || frame < 1 || frame > frameTotal_ || frame == frame_) return order;
  order.seekFrame = frame;
  frame_ = frame;
  if (!runActive_ || endReached_) {
    order.start = true;
    runActive_ = true;
    endReached_ = false;
    everPlayed_ = true;
  }
  if (paused_) {
    // Paused, the chosen frame is shown and playback waits there.
    order.stepRequest = true;
    order.gate = PlayerOrder::Gate::Open;
  }
  return order;
}

void PlaybackControl::frameShown(int frame, int frameTotal) {
  frame_ = frame;
  frameTotal_ = frameTotal;
}

void PlaybackControl::finished(bool endReached) {
  if (endReached) {
    endReached_ = true;
    frame_ = 0;
    openEnabled_ = true;
    resetSeekButtons();
    direction_ = Direction::Forwards;  // the player turns forwards at the start of the capture
  }
  runEnded();
}

void PlaybackControl::failed() {
  failed_ = true;
  runEnded();
  openEnabled_ = true;
  stepsEnabled_ = false;
}

void PlaybackControl::stopped() {
  if (!runActive_) return;
  runEnded();
  endReached_ = true;  // the next Play starts from the first frame
  openEnabled_ = true;
}

void PlaybackControl::runEnded() {
  runActive_ = false;
  paused_ = true;
  playIcon_ = kPlay;
  stepsEnabled_ = true;
}

}  // namespace z540k
