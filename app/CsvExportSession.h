// The main window's export of frames: the choices of the save options window
// (frames, angle range, lines), and while an export of arriving frames runs,
// its file and the frames written so far. The window asks for the file
// name, says what happened, and keeps every revolution coming meanwhile.
// Plain state of the GUI thread.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CsvFrameFile.h"

namespace z540k {

class CsvExportSession {
 public:
  // As the save options window last sent them.
  struct Choices {
    int frames = 1;
    float angleMin = 0.0f;
    float angleMax = 360.0f;
    std::vector<int> lines;
  };
  const Choices& choices() const { return choices_; }
  // An export under way keeps the count it started with.
  void choose(Choices choices) { choices_ = std::move(choices); }

  // Writes `frame` (the frame frozen on screen) into `file`, opened at
  // `path`, and puts it in place: false with a reason.
  static bool exportFrozen(FrameFile& file, const std::string& path, const LidarDataSingleLine& frame,
                           std::string& error);

  // Starts an export of the chosen number of arriving frames into `file`,
  // opened at `path`: false with a reason (nothing then runs).
  bool begin(std::unique_ptr<FrameFile> file, const std::string& path, std::string& error);
  bool active() const { return file_ != nullptr; }
  // One arriving revolution into the file: true when it completes the
  // export, or when the file could not be written (the window then finishes
  // it, and finish() gives the reason).
  bool add(const LidarDataSingleLine& record);
  // Ends the export, keeping the frames written: false with a reason.
  bool finish(std::string& error);
  // Drops the export under way: the target stays as it was.
  void abandon() {
    file_.reset();
    paused_ = false;
  }

  // While the operator is asked whether to stop, the export holds still, so
  // the count asked is the count kept: frames arriving meanwhile are not
  // written, only counted (for the one that finished last too).
  void pause() { paused_ = active(); }
  void resume() { paused_ = false; }
  bool paused() const { return paused_; }
  int framesNotWritten() const { return notWritten_; }
  int framesNotWrittenLast() const { return notWrittenLast_; }

  // Frames written by the export under way, of the frames it writes...
  int framesWritten() const { return frames_; }
  int framesWanted() const { return wanted_; }
  // ...and by the one that finished last, which may have been stopped early.
  int framesWrittenLast() const { return framesLast_; }
  // The file of the export under way, or of the one that finished last.
  const std::string& path() const { return path_; }

  // Revolutions dropped on their way to the window between two frames of the
  // export under way (those before its first frame are not its own): they
  // are missing from the file. Counted while active, for the one that
  // finished last too.
  void missed(unsigned long long revolutions) {
    if (active() && frames_ > 0) missed_ += revolutions;
  }
  unsigned long long missedLast() const { return missedLast_; }
  // Measurements the export that finished last left out as no points.
  std::uint64_t leftOutLast() const { return leftOutLast_; }

 private:
  Choices choices_;
  std::unique_ptr<FrameFile> file_;
  int frames_ = 0;
  int wanted_ = 0;
  int framesLast_ = 0;
  bool paused_ = false;
  int notWritten_ = 0, notWrittenLast_ = 0;
  unsigned long long missed_ = 0, missedLast_ = 0;
  std::uint64_t leftOutLast_ = 0;
  std::string path_;
};

}  // namespace z540k
