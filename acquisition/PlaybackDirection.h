// The direction a capture plays in: shared by the capture player and the
// main window's playback control, which sets it.
#pragma once

namespace z540k {

enum class Direction { Forwards, Backwards };

// The step from one frame to the next in a direction: +1 or -1.
constexpr int frameStep(Direction direction) { return direction == Direction::Backwards ? -1 : 1; }

}  // namespace z540k
