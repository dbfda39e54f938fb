// The main window's 3-D view: a PCL visualizer ("viewer") rendering into the
// window's QVTKOpenGLStereoWidget `screen`, with the two clouds of a frame
// ("realTime_points" in their own colours, "clicked_points" in green), the
// camera presets, the coordinate system, the measuring grid, the cursor
// readout's text and the orientation marker.
//
// The only place that includes PCL's visualisation and VTK's heavy headers:
// the window talks to the view through this interface. GUI thread only.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PointComputation.h"

class QImage;
class QVTKOpenGLStereoWidget;
class QWidget;

namespace z540k {

class PointCloudView {
 public:
  // Ids of the view's items.
  static constexpr const char* kDisplayCloudId = "realTime_points";
  static constexpr const char* kSelectionCloudId = "clicked_points";
  static constexpr const char* kAxesId = "coordinate";
  static constexpr const char* kTextId = "0";
  static constexpr const char* kNoticeId = "notice";
  // The camera preset the view takes until one is chosen (from above).
  static constexpr int kFirstPreset = 1;
  static constexpr int kSelectionPointSize = 5;

  // Creates the visualizer without an interactor of its own, hands its render
  // window to `screen`, sets up the interaction on the widget's interactor
  // and adds the orientation marker.
  explicit PointCloudView(QVTKOpenGLStereoWidget* screen);
  // Before the application object: the widget's surface format, without
  // multisampling (several times the drawing time for points under a
  // software renderer, and nothing gained for one-pixel points).
  static void prepareSurfaceFormat();
  ~PointCloudView();
  PointCloudView(const PointCloudView&) = delete;
  PointCloudView& operator=(const PointCloudView&) = delete;

  // Replaces both clouds with a frame's points and repaints: the display
  // cloud with its colours at `pointSize`, the selection cloud in green at 5.
  void showFrame(const FramePoints& frame, int pointSize);
  // The same with the display cloud's points given apart (the trails).
  void showFrame(const std::vector<ColouredPoint>& shown, const std::vector<RegionMeasurement>& selected,
                 int pointSize);
  // The same for points already picked out of a cloud (the marked region).
  void showSelection(const std::vector<ScenePoint>& points);

  // Camera presets: 0 front, 1 top, 2 left. Each keeps its direction and
  // view-up and stands back until the points shown fill the view with a
  // small margin (10 m either way when no frame is shown), the coordinate
  // system and the grid left out. The first two frames with points are
  // fitted the same way, from above unless a preset was chosen.
  void setCameraPreset(int preset);
  void resetCamera();

  // The coordinate system of scale 50 at the origin.
  void setAxesShown(bool shown);
  // The measuring grid in the ground plane: lines every 2 m out to 50 m,
  // rings every 2 m, labels every 4 m. With a frame shown the view stays as
  // it is; without one it takes in the whole grid. Hiding it removes every
  // shape (the texts of the readout and the statistics too).
  void showGrid();
  void removeAllShapes();
  // Removes every cloud and every shape.
  void clear();

  // The position in the scan plane (z = 0, where every point lies) under
  // the cursor's latest position; false when the plane is not seen there.
  bool pickAtCursor(double& x, double& y, double& z);
  // Called on every cursor move over the view (drawn frames or not); a text
  // line it changes is shown without waiting for the next frame.
  void onCursorMoved(std::function<void()> handler);
  // Called on a left click in the view (pressed and released without the
  // cursor moving); the cursor's position is then where it was clicked.
  void onClick(std::function<void()> handler);
  // The ruler: a line between its two ends (or a mark at its one end) and
  // its text under the text line; no ends removes it. Shown with the next
  // repaint.
  static constexpr const char* kRulerLineId = "ruler_line";
  static constexpr const char* kRulerTextId = "ruler_text";
  void setRuler(const std::vector<ScenePoint>& ends, const std::string& text);
  // The text line (the readout or the region statistics): id "0" at (150, 0)
  // pixels, size 20, light yellow.
  void setTextLine(const std::string& text);
  // The text line as last set (empty when it was removed with the shapes).
  std::string textLine() const;
  // A notice in the middle of the view, such as the progress of an export
  // while nothing is drawn: size 24, white; empty removes it. Shown with the
  // next repaint; true when it changed.
  bool setNotice(const std::string& text);
  std::string notice() const;

  // Key-down events in the view (the key symbol, such as "plus" or "minus",
  // and the character). No key does anything in the view but through this
  // handler.
  void onKeyDown(std::function<void(const std::string& keySym, char key)> handler);
  // The points of the display cloud inside a rectangle the operator dragged
  // in the area-selection mode.
  void onAreaPicked(std::function<void(const std::vector<int>& indices)> handler);
  // Switches the viewer's area-selection mode on or off, as its "x" key does.
  void toggleAreaSelection();
  // Hands the view a key press and release, as the keyboard would (to the
  // key-down handler only).
  void pressKey(char key, const std::string& keySym);

  void repaint();

  // The view as drawn now (null when it is not on screen).
  QImage picture() const;
  // A picture of `window` (a window holding the view) with the view's
  // rendering in its place: the view draws into a window of its own, which
  // a widget's own grab() leaves out.
  QImage windowPicture(QWidget& window) const;

  // Time spent in showFrame() since the view was made: filling and replacing
  // the clouds, and rendering (the benchmarks report the split).
  struct FrameTimes {
    double updateSeconds = 0;
    double renderSeconds = 0;
    unsigned long long frames = 0;
  };
  FrameTimes frameTimes() const;

  // For tests and the status line: what the view holds.
  bool contains(const std::string& id) const;
  std::size_t cloudSize(const std::string& id) const;
  std::vector<std::string> shapeIds() const;
  std::size_t cloudCount() const;
  std::array<double, 9> camera() const;  // position, focal point, view-up
  // The display cloud's points and colours as drawn (tests).
  std::vector<ColouredPoint> displayedPoints() const;
  // Where a scene position lands in the widget, in pixels from its top left
  // (tests: what a screenshot shows there).
  bool sceneToWidget(double x, double y, double z, double& px, double& py) const;
  // The share of `points` inside the camera's view (within the window and
  // the clipping range); 0 for none.
  double fractionInView(const std::vector<ScenePoint>& points) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace z540k
