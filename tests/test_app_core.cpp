// The program's command line and its status line.
#include <gtest/gtest.h>

#include "PlaybackControl.h"
#include "StartupOptions.h"
#include "StatusLine.h"

using namespace z540k;

TEST(StartupOptionsTest, ValuesAndRefusals) {
  StartupOptions o;
  std::string error;
  ASSERT_TRUE(parseStartupOptions(
      {"--port", "2400", "--telemetry-port=2401", "--multicast", "", "--layout", "1.7", "--start", "--capture-device",
       "lo", "--screenshot", "a.png", "--quit-after", "2.5", "--factory", "-platform", "offscreen"},
      o, error))
      << error;
  EXPECT_EQ(o.dataPort, 2400);
  EXPECT_EQ(o.telemetryPort, 2401);
  EXPECT_EQ(o.multicast, "");
  EXPECT_EQ(o.layout, 1);
  EXPECT_TRUE(o.start);
  EXPECT_EQ(o.captureDevice, "lo");
  EXPECT_EQ(o.screenshot, "a.png");
  EXPECT_EQ(o.quitAfterSeconds, 2.5);
  EXPECT_TRUE(o.factory);
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--port", "0"},
                                              {"--port", "65536"},
                                              {"--port", "12x"},
                                              {"--port"},
                                              {"--multicast", "224.1.1"},
                                              {"--layout", "1.8"},
                                              {"--quit-after", "-1"},
                                              {"--quit-after", "nan"},
                                              {"--screenshot", "a.png"},
                                              {"--start=yes"},
                                              {"--factory=1"},
                                              {"--unknown"}}) {
    StartupOptions refused;
    error.clear();
    EXPECT_FALSE(parseStartupOptions(bad, refused, error)) << bad[0];
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

// The line tells at a glance whether data flows, and why not.
TEST(StatusLineTest, StatesAndFigures) {
  ReceptionFigures f;
  f.dataPort = 2368;
  EXPECT_EQ(statusLineText(f).rfind("Not receiving (press Lidar)", 0), 0u);
  f.lidarOn = true;
  EXPECT_EQ(statusLineText(f).rfind("No data on port 2368", 0), 0u);
  f.datagramsLastSecond = 100;
  f.revolutionsPerSecond = 10;
  f.framesDrawnPerSecond = 4.5;
  f.pointsPerRevolution = 3630;
  f.datagrams = 1234;
  f.unrecognised = 5;
  f.kernelDrops = 6;
  f.lostOnWire = 12;
  f.handOverDrops = 8;
  f.displayMerged = 7;
  f.statusDatagrams = 9;
  f.statusUnrecognised = 3;
  f.statusKernelDrops = 2;
  f.lastError = "The recording ended: disk full";
  const std::string line = statusLineText(f);
  EXPECT_EQ(line.rfind("Receiving on port 2368", 0), 0u);
  for (const char* part :
       {"10.0 rev/s, 4.5 drawn/s", "3630 points/rev", "1234 datagrams", "5 unrecognised",
        "6 dropped by the kernel, 12 lost on the wire", "8 dropped at the hand-over", "7 frames merged for display",
        "status port: 9 datagrams, 3 unrecognised, 2 dropped by the kernel",
        "last error: The recording ended: disk full"})
    EXPECT_NE(line.find(part), std::string::npos) << part;
  f.displayMerged = 1;
  EXPECT_NE(statusLineText(f).find(" 1 frame merged"), std::string::npos);
  EXPECT_EQ(line.find("to screen"), std::string::npos);  // nothing drawn: no delay
  // The longest delay of a second shows through the next second.
  ReceptionCounters counters;
  for (double ms : {12.4, 47.6, 20.0}) counters.drawnAfter(ms);
  counters.tick(3, 0, 1.0);
  counters.drawnAfter(5);
  counters.fill(f);
  EXPECT_NE(statusLineText(f).find("3.0 drawn/s, up to 48 ms to screen   |"), std::string::npos);
  counters.tick(4, 0, 1.0);
  counters.tick(4, 0, 1.0);
  counters.fill(f);
  EXPECT_EQ(statusLineText(f).find("to screen"), std::string::npos);
  f.setupError = "port 2368 is already in use by another program";
  EXPECT_EQ(statusLineText(f).rfind("Not receiving: port 2368 is already in use by another program", 0), 0u);
  f.playing = f.paused = true;
  f.frame = 3;
  f.frameTotal = 40;
  EXPECT_EQ(statusLineText(f).rfind("Paused at frame 3 of 40", 0), 0u);
  f.paused = false;
  f.playbackLate = 2;
  EXPECT_EQ(statusLineText(f).rfind("Playing a capture, 2 frames behind the capture's pace", 0), 0u);
}

// The sensor's rate from its own clock: whatever the host does, a sensor
// turning 10 times a second in microseconds reads 10, across the hourly wrap
// of its clock and with revolutions lost on the way to the window; a clock
// that jumps starts the count over.
TEST(RevolutionRateTest, FromTheSensorsClock) {
  RevolutionRate rate;
  EXPECT_EQ(rate.perSecond(), 0);
  std::uint64_t t = RevolutionRate::kClockWrap - 1'000'000;  // a second before the wrap
  for (int i = 0; i < 40; ++i) {
    const bool lost = i % 7 == 3;  // this one never reached the window
    t = (t + 100'000) % RevolutionRate::kClockWrap;
    if (!lost) rate.add(t, i % 7 == 4 ? 1 : 0);
    if (i >= 2) {
      EXPECT_NEAR(rate.perSecond(), 10.0, 1e-9) << i;
    }
  }
  rate.add((t + RevolutionRate::kClockWrap / 2 + 5) % RevolutionRate::kClockWrap);
  EXPECT_EQ(rate.perSecond(), 0);
  rate.clear();
  EXPECT_EQ(rate.perSecond(), 0);
}

// The status line's counters: rates per tick, the hand-over's drops counted
// into the sensor's rate, a silent tick forgetting the rate.
TEST(ReceptionCountersTest, RatesPerTick) {
  ReceptionCounters counters;
  for (int i = 0; i < 10; ++i) counters.revolution(100'000u * i, i < 5 ? 0 : 5, 700 + i);  // 5 dropped after the 5th
  counters.tick(4, 1200, 0.5);
  ReceptionFigures f;
  counters.fill(f);
  EXPECT_NEAR(f.revolutionsPerSecond, 14 / 0.9, 1e-9);  // 9 intervals and 5 dropped in 0.9 s of the sensor's clock
  EXPECT_EQ(f.framesDrawnPerSecond, 8);
  EXPECT_EQ(f.datagramsLastSecond, 1200u);
  EXPECT_EQ(f.pointsPerRevolution, 709u);
  EXPECT_EQ(counters.revolutions(), 10u);
  counters.tick(4, 1500, 1.0);  // nothing arrived: the rate is unknown
  counters.fill(f);
  EXPECT_EQ(f.revolutionsPerSecond, 0);
  EXPECT_EQ(f.framesDrawnPerSecond, 0);
  EXPECT_EQ(f.datagramsLastSecond, 300u);
}

// Playback of a capture as the Offline tab's clicks drive it: what the player
// is told and what the buttons show.
using Gate = PlayerOrder::Gate;

TEST(PlaybackControlTest, PlayPauseStepsAndTheEnd) {
  PlaybackControl c;
  EXPECT_FALSE(c.controlsEnabled());
  EXPECT_FALSE(c.play().start);  // nothing loaded
  c.load(9);
  EXPECT_TRUE(c.paused() && c.controlsEnabled() && c.openEnabled());
  EXPECT_EQ(c.frameTotal(), 9);
  EXPECT_EQ(c.stepForward().gate, Gate::Keep);  // never played: no frame to step from

  PlayerOrder o = c.play();
  EXPECT_TRUE(o.start && o.gate == Gate::Open && o.clearStepRequest);
  EXPECT_EQ(c.playIcon(), "./Resources/images/Pause.png");
  EXPECT_FALSE(c.openEnabled() || c.stepsEnabled() || c.paused());
  EXPECT_TRUE(c.holdsView());
  c.frameShown(3, 9);

  o = c.play();  // pause
  EXPECT_TRUE(!o.start && o.gate == Gate::Close);
  EXPECT_TRUE(c.paused() && c.stepsEnabled() && c.holdsView());
  o = c.stepBackward();
  EXPECT_TRUE(o.stepRequest && o.gate == Gate::Open);
  EXPECT_EQ(c.direction(), Direction::Backwards);
  o = c.stepForward();
  EXPECT_TRUE(o.stepRequest && o.gate == Gate::Open);
  EXPECT_EQ(c.direction(), Direction::Forwards);

  o = c.play();  // resume: the run goes on
  EXPECT_TRUE(!o.start && o.gate == Gate::Open);
  c.finished(true);
  EXPECT_TRUE(c.endReached() && c.paused() && c.openEnabled() && c.stepsEnabled() && !c.holdsView());
  EXPECT_EQ(c.frame(), 0);
  EXPECT_EQ(c.playIcon(), "./Resources/images/Play.png");
  EXPECT_EQ(c.stepForward().gate, Gate::Keep);  // ended: nothing to step
  o = c.play();                                 // plays again from the first frame
  EXPECT_TRUE(o.start && o.gate == Gate::Open);
  EXPECT_FALSE(c.endReached());

  c.stopped();  // another file, or "Lidar" off
  EXPECT_TRUE(c.paused() && c.openEnabled());
  EXPECT_TRUE(c.play().start);

  c.failed();  // the capture changed on disk
  EXPECT_FALSE(c.controlsEnabled());
  EXPECT_TRUE(c.openEnabled());
  EXPECT_FALSE(c.play().start || c.seek(2).start);
}

TEST(PlaybackControlTest, SeekSpeedsCycleWithTheirIcons) {
  PlaybackControl c;
  c.load(9);
  c.play();
  c.frameShown(3, 9);
  const struct {
    bool forward;
    const char* icon;
    int speed;
  } presses[] = {
      {true, "Seekforward_2x.png", 1},      {true, "Seekforward_3x.png", 2},   {true, "Seekforward_0.5x.png", 3},
      {true, "Seekforward_0.25x.png.", 4},  {true, "Seekforward.png", 0},      {false, "Seekbackward.png", 0},
      {false, "Seekbackward_2x.png", 1},    {false, "Seekbackward_3x.png", 2}, {false, "Seekbackward_0.5x.png", 3},
      {false, "Seekbackward_0.25x.png", 4}, {false, "Seekbackward.png", 0},    {true, "Seekforward.png", 0}};
  for (const auto& p : presses) {
    p.forward ? c.seekForward() : c.seekBackward();
    EXPECT_EQ(p.forward ? c.seekForwardIcon() : c.seekBackwardIcon(), std::string("./Resources/images/") + p.icon);
    EXPECT_EQ(c.speedIndex(), p.speed) << p.icon;
    EXPECT_EQ(c.direction(), p.forward ? Direction::Forwards : Direction::Backwards) << p.icon;
  }
  c.finished(true);
  EXPECT_EQ(c.speedIndex(), 0);
  EXPECT_EQ(c.direction(), Direction::Forwards);
  EXPECT_EQ(c.seekForwardIcon(), "./Resources/images/Seekforward.png");
}

TEST(PlaybackControlTest, AChosenFrameIsShownAndPlayGoesOnFromIt) {
  PlaybackControl c;
  c.load(9);
  PlayerOrder o = c.seek(5);  // never played: a run starts, shows frame 5 and waits
  EXPECT_TRUE(o.start && o.stepRequest && o.gate == Gate::Open);
  EXPECT_EQ(o.seekFrame, 5);
  EXPECT_EQ(c.frame(), 5);
  EXPECT_TRUE(c.paused());
  EXPECT_EQ(c.seek(0).seekFrame, 0);   // no frame 0
  EXPECT_EQ(c.seek(10).seekFrame, 0);  // past the total
  o = c.play();
  EXPECT_TRUE(!o.start && o.gate == Gate::Open);
  o = c.seek(2);  // while playing: play goes on from there
  EXPECT_TRUE(o.seekFrame == 2 && !o.stepRequest && !o.start && o.gate == Gate::Keep);
  c.finished(true);
  o = c.seek(7);  // after the end: a new run
  EXPECT_TRUE(o.start && o.stepRequest);
  EXPECT_FALSE(c.endReached());
}
