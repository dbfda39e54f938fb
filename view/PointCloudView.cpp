#include "PointCloudView.h"

#include <QVTKOpenGLStereoWidget.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/visualization/pcl_visualizer.h>
#include <vtkAxesActor.h>
#include <vtkCallbackCommand.h>
#include <vtkCamera.h>
#include <vtkCommand.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkLogger.h>
#include <vtkMatrix4x4.h>
#include <vtkOpenGLRenderWindow.h>
#include <vtkOrientationMarkerWidget.h>
#include <vtkPolyData.h>
#include <vtkRenderWindow.h>
#include <vtkRenderWindowInteractor.h>
#include <vtkRenderer.h>

#include <QCoreApplication>
#include <QEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QSurfaceFormat>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace z540k {

namespace {

using Cloud = pcl::PointCloud<pcl::PointXYZRGB>;

// The grid's colour components as the visualizer is given them: above 1 they
// are drawn at full intensity, so the grid shows white, at opacity 0.2.
constexpr double kGridColour = 150;
constexpr double kGridOpacity = 0.2;
constexpr double kGridPi = 3.14159;

pcl::PointXYZ at(double x, double y) { return pcl::PointXYZ(static_cast<float>(x), static_cast<float>(y), 0.0f); }

// The text line in light yellow, legible on the black view.
constexpr double kTextRed = 1.0, kTextGreen = 1.0, kTextBlue = 0.6;

// The camera presets' direction and view-up, as position, focal point and
// view-up: front and left look slightly downwards, top straight down.
struct CameraPreset {
  double position[3], focal[3], up[3];
};
constexpr CameraPreset kPresets[] = {
    {{0, -1, 0}, {0, 0.2, -0.2}, {0, 0, 1}},  // 0 "Front"
    {{0, 0, 1}, {0, 0, 0}, {0, 1, 0}},        // 1 "Top"
    {{-1, 0, 0}, {0, 0, -0.2}, {0, 0, 1}},    // 2 "Left"
};
constexpr int kTopPreset = PointCloudView::kFirstPreset;

// What a fitted camera shows when no frame is on screen: 10 m either way.
constexpr double kDefaultExtent = 1000.0;
// A fitted frame spans at least this much either way of its middle (a
// frame of one point is still seen in its surroundings).
constexpr double kMinimumHalfExtent = 50.0;
// Room left around a fitted frame, as a share of its half extent on screen.
constexpr double kFitMargin = 1.05;

struct Vec {
  double x = 0, y = 0, z = 0;
};
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator*(double k, Vec a) { return {k * a.x, k * a.y, k * a.z}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec unit(Vec a) { return (1.0 / std::sqrt(dot(a, a))) * a; }
Vec vec(const double* v) { return {v[0], v[1], v[2]}; }

}  // namespace

// Left clicks on the view's widget: press and release at the same place.
class ClickFilter : public QObject {
 public:
  explicit ClickFilter(std::function<void()> clicked) : clicked_(std::move(clicked)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton) {
        if (event->type() == QEvent::MouseButtonPress)
          pressedAt_ = mouse->pos();
        else if (mouse->pos() == pressedAt_)
          clicked_();
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> clicked_;
  QPoint pressedAt_{-1, -1};
};

struct PointCloudView::Impl {
  QVTKOpenGLStereoWidget* screen = nullptr;
  vtkSmartPointer<vtkRenderer> renderer;
  vtkSmartPointer<vtkGenericOpenGLRenderWindow> window;
  std::shared_ptr<pcl::visualization::PCLVisualizer> viewer;
  vtkSmartPointer<vtkOrientationMarkerWidget> marker;
  Cloud::Ptr displayCloud{new Cloud};
  Cloud::Ptr selectionCloud{new Cloud};
  // The points the selection cloud shows; none known before it is first
  // drawn and after the clouds are cleared. An empty selection shown again
  // is left as it is: most frames have none.
  static constexpr std::size_t kSelectionUnknown = static_cast<std::size_t>(-1);
  std::size_t selectionShown = kSelectionUnknown;
  std::function<void(const std::string&, char)> keyHandler;
  std::function<void(const std::vector<int>&)> areaHandler;
  // The first frames with points are fitted into the view (the first record
  // of a stream may hold only part of a revolution): from the preset the
  // operator chose, or from above when none was chosen yet.
  static constexpr int kAutomaticFits = 2;
  bool cameraChosen = false;
  int automaticFits = 0;
  FrameTimes times;
  std::string text;    // the text line's content
  std::string notice;  // the notice's content
  std::function<void()> cursorHandler;
  std::function<void()> clickHandler;
  std::unique_ptr<ClickFilter> clickFilter;
  vtkSmartPointer<vtkCallbackCommand> cursorObserver, renderObserver, keyFilter;
  bool forwardingKey = false;  // the view's own key press passes the filter
  // A text changed by a cursor move is shown by one render once the pending
  // events are handled, unless the view was drawn meanwhile (turning it with
  // the mouse draws it on every move anyway).
  std::unique_ptr<QTimer> textRender;

  // The bounds of every point shown (both clouds); false when none is.
  bool shownBounds(double bounds[6]) const {
    bool any = false;
    for (const auto& entry : *viewer->getCloudActorMap()) {
      vtkActor* actor = entry.second.actor;
      vtkMapper* mapper = actor ? actor->GetMapper() : nullptr;
      vtkDataSet* data = mapper ? mapper->GetInput() : nullptr;
      if (!data || data->GetNumberOfPoints() == 0) continue;
      double b[6];
      data->GetBounds(b);
      for (int i = 0; i < 6; i += 2) {
        bounds[i] = any ? std::min(bounds[i], b[i]) : b[i];
        bounds[i + 1] = any ? std::max(bounds[i + 1], b[i + 1]) : b[i + 1];
      }
      any = true;
    }
    return any;
  }

  // Keeps the camera's direction and view-up and moves it so that the shown
  // points (or the default extent when there are none) fill the view with a
  // small margin; the coordinate system and the grid are left out of the fit.
  void fitCamera() {
    double b[6] = {-kDefaultExtent, kDefaultExtent, -kDefaultExtent, kDefaultExtent, 0, 0};
    shownBounds(b);
    for (int i = 0; i < 4; i += 2) {
      const double middle = (b[i] + b[i + 1]) / 2;
      b[i] = std::min(b[i], middle - kMinimumHalfExtent);
      b[i + 1] = std::max(b[i + 1], middle + kMinimumHalfExtent);
    }
    vtkCamera* camera = renderer->GetActiveCamera();
    const Vec direction = unit(vec(camera->GetFocalPoint()) - vec(camera->GetPosition()));
    const Vec upIn = vec(camera->GetViewUp());
    const Vec up = unit(upIn - dot(upIn, direction) * direction);
    const Vec right = cross(direction, up);
    double aspect = renderer->GetTiledAspectRatio();
    if (!(aspect > 0) || !std::isfinite(aspect)) aspect = 1.0;
    const double tanVertical = std::tan(camera->GetViewAngle() * M_PI / 360.0);
    const double tanHorizontal = tanVertical * aspect;

    Vec corners[8];
    for (int i = 0; i < 8; ++i) corners[i] = {b[i & 1], b[2 + ((i >> 1) & 1)], b[4 + ((i >> 2) & 1)]};
    // The camera looks at the middle of the box.
    const Vec centre{(b[0] + b[1]) / 2, (b[2] + b[3]) / 2, (b[4] + b[5]) / 2};
    // The camera stands back along the direction until every corner lies
    // inside the view: a corner at depth e behind the focal point and a, b
    // across it is inside when |a| <= tan(h/2) (D + e) and |b| <= tan(v/2) (D + e).
    double distance = 0, nearest = 0;
    for (const Vec& c : corners) {
      const Vec q = c - centre;
      const double depth = dot(q, direction);
      const double needed = std::max(std::fabs(dot(q, right)) * kFitMargin / tanHorizontal,
                                     std::fabs(dot(q, up)) * kFitMargin / tanVertical) -
                            depth;
      distance = std::max(distance, needed);
      nearest = std::max(nearest, -depth);
    }
    distance = std::max(distance, nearest + kMinimumHalfExtent);
    const Vec position = centre - distance * direction;
    camera->SetFocalPoint(centre.x, centre.y, centre.z);
    camera->SetPosition(position.x, position.y, position.z);
    camera->SetViewUp(up.x, up.y, up.z);
    // The clipping range takes in the fitted box (seen even before anything
    // is drawn there) and everything shown.
    double shown[6];
    renderer->ComputeVisiblePropBounds(shown);
    if (shown[0] <= shown[1]) {
      for (int i = 0; i < 6; i += 2) {
        b[i] = std::min(b[i], shown[i]);
        b[i + 1] = std::max(b[i + 1], shown[i + 1]);
      }
    }
    renderer->ResetCameraClippingRange(b);
  }

  void applyPreset(int preset) {
    const CameraPreset& p = kPresets[preset];
    viewer->setCameraPosition(p.position[0], p.position[1], p.position[2], p.focal[0], p.focal[1], p.focal[2], p.up[0],
                              p.up[1], p.up[2]);
  }

  // Replaces the cloud `id` with `cloud` in its own colours, or in one
  // colour when `single` is set: the points of the cloud shown are replaced
  // (its actor stays), or the cloud is added.
  //
  // The visualizer replaces the points and vertices of the cloud's data set
  // in place, but not the data set's map of its cells, which an area pick
  // builds (and shares with the copies it extracts from): left in place,
  // the next pick reads the cells of an earlier cloud of another size, past
  // the end of the new ones. The map is dropped here and built afresh by
  // whoever needs it next.
  void replaceCloud(const Cloud::Ptr& cloud, const char* id, int pointSize, bool single) {
    if (single) {
      pcl::visualization::PointCloudColorHandlerCustom<pcl::PointXYZRGB> green(cloud, 0, 255, 0);
      if (!viewer->updatePointCloud<pcl::PointXYZRGB>(cloud, green, id))
        viewer->addPointCloud<pcl::PointXYZRGB>(cloud, green, id);
    } else {
      pcl::visualization::PointCloudColorHandlerRGBField<pcl::PointXYZRGB> colours(cloud);
      if (!viewer->updatePointCloud<pcl::PointXYZRGB>(cloud, colours, id))
        viewer->addPointCloud<pcl::PointXYZRGB>(cloud, colours, id);
    }
    viewer->setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE, pointSize, id);
    if (vtkPolyData* data = cloudData(id)) data->DeleteCells();
  }

  // The data set drawn for the cloud `id`, or null.
  vtkPolyData* cloudData(const std::string& id) const {
    const auto actors = viewer->getCloudActorMap();
    const auto it = actors->find(id);
    if (it == actors->end() || !it->second.actor) return nullptr;
    vtkMapper* mapper = it->second.actor->GetMapper();
    return mapper ? vtkPolyData::SafeDownCast(mapper->GetInput()) : nullptr;
  }
};

void PointCloudView::prepareSurfaceFormat() {
  // The visualizer's shaders use calls VTK announces as deprecated on every
  // new cloud: only errors reach the console.
  vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_ERROR);
  vtkOpenGLRenderWindow::SetGlobalMaximumNumberOfMultiSamples(0);
  QSurfaceFormat format = QVTKOpenGLStereoWidget::defaultFormat();
  format.setSamples(0);
  QSurfaceFormat::setDefaultFormat(format);
}

PointCloudView::PointCloudView(QVTKOpenGLStereoWidget* screen) : impl_(new Impl) {
  Impl& v = *impl_;
  v.screen = screen;
  v.renderer = vtkSmartPointer<vtkRenderer>::New();
  v.window = vtkSmartPointer<vtkGenericOpenGLRenderWindow>::New();
  v.window->AddRenderer(v.renderer);
  v.window->SetMultiSamples(0);
  v.viewer.reset(new pcl::visualization::PCLVisualizer(v.renderer, v.window, "viewer", false));
  screen->setRenderWindow(v.viewer->getRenderWindow());
  v.viewer->setupInteractor(screen->interactor(), screen->renderWindow());
  v.viewer->setShowFPS(false);

  // The keyboard reaches the window's handler and nothing else: the
  // interaction's own keys (screenshots into the working folder, the
  // representation, the camera, leaving the event loop, area selection behind
  // the window's back) would change the view unseen by the window. Only the
  // view's own toggle of area selection passes through.
  v.keyFilter = vtkSmartPointer<vtkCallbackCommand>::New();
  v.keyFilter->SetClientData(this);
  v.keyFilter->SetCallback([](vtkObject* caller, unsigned long event, void* self, void*) {
    PointCloudView& view = *static_cast<PointCloudView*>(self);
    if (view.impl_->forwardingKey) return;
    view.impl_->keyFilter->SetAbortFlag(1);
    auto* interactor = static_cast<vtkRenderWindowInteractor*>(caller);
    if (event == vtkCommand::KeyPressEvent && view.impl_->keyHandler) {
      const char* sym = interactor->GetKeySym();
      view.impl_->keyHandler(sym ? sym : "", interactor->GetKeyCode());
    }
  });
  for (const unsigned long event : {vtkCommand::KeyPressEvent, vtkCommand::KeyReleaseEvent, vtkCommand::CharEvent})
    screen->interactor()->AddObserver(event, v.keyFilter, 10.0f);
  v.viewer->registerAreaPickingCallback([this](const pcl::visualization::AreaPickingEvent& e) {
    pcl::Indices picked = e.getPointsIndices(kDisplayCloudId);
    if (picked.empty() || !impl_->areaHandler) return;
    impl_->areaHandler(std::vector<int>(picked.begin(), picked.end()));
  });

  auto axes = vtkSmartPointer<vtkAxesActor>::New();
  v.marker = vtkSmartPointer<vtkOrientationMarkerWidget>::New();
  v.marker->SetOrientationMarker(axes);
  v.marker->SetInteractor(screen->interactor());
  v.marker->SetViewport(0.0, 0.0, 0.2, 0.2);
  v.marker->SetEnabled(1);
  v.marker->InteractiveOff();

  v.textRender = std::make_unique<QTimer>();
  v.textRender->setSingleShot(true);
  v.textRender->setInterval(0);
  QObject::connect(v.textRender.get(), &QTimer::timeout, [this] { repaint(); });
  v.cursorObserver = vtkSmartPointer<vtkCallbackCommand>::New();
  v.cursorObserver->SetClientData(this);
  v.cursorObserver->SetCallback([](vtkObject*, unsigned long, void* self, void*) {
    PointCloudView& view = *static_cast<PointCloudView*>(self);
    if (!view.impl_->cursorHandler) return;
    const std::string before = view.textLine();
    view.impl_->cursorHandler();
    if (view.textLine() != before) view.impl_->textRender->start();
  });
  // Before the interaction's own handling, which may draw the view.
  screen->interactor()->AddObserver(vtkCommand::MouseMoveEvent, v.cursorObserver, 1.0f);
  // A click is a press and a release of the left button at the same pixel
  // (a drag turns the view); the widget goes on to handle both as before.
  v.clickFilter = std::make_unique<ClickFilter>([this] {
    if (impl_->clickHandler) impl_->clickHandler();
  });
  screen->installEventFilter(v.clickFilter.get());
  v.renderObserver = vtkSmartPointer<vtkCallbackCommand>::New();
  v.renderObserver->SetClientData(v.textRender.get());
  v.renderObserver->SetCallback(
      [](vtkObject*, unsigned long, void* timer, void*) { static_cast<QTimer*>(timer)->stop(); });
  v.window->AddObserver(vtkCommand::EndEvent, v.renderObserver);
  repaint();
}

// The widget `screen` outlives the view (it goes with its window, after the
// view), and with it its interactor and the render window: everything the
// view hung on them comes off here, or it stays alive with them. The
// visualizer's interactor style holds the render window and the renderers
// (strong references VTK's garbage collector does not see) and the
// interactor holds the style: left in place, that cycle keeps the render
// window, the renderers and every actor drawn alive after the window is gone.
PointCloudView::~PointCloudView() {
  Impl& v = *impl_;
  v.textRender->stop();
  if (v.marker) {
    v.marker->SetEnabled(1);
    v.marker->SetInteractor(nullptr);
  }
  if (vtkRenderWindowInteractor* interactor = v.screen->interactor()) {
    interactor->RemoveObserver(v.cursorObserver);
    interactor->RemoveObserver(v.keyFilter);
    interactor->SetInteractorStyle(nullptr);
  }
  v.window->RemoveObserver(v.renderObserver);
}

void PointCloudView::showFrame(const FramePoints& frame, int pointSize) {
  showFrame(frame.display, frame.selection, pointSize);
}

void PointCloudView::showFrame(const std::vector<ColouredPoint>& shown, const std::vector<RegionMeasurement>& selected,
                               int pointSize) {
  Impl& v = *impl_;
  const auto start = std::chrono::steady_clock::now();
  Cloud& display = *v.displayCloud;
  display.resize(shown.size());
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const ColouredPoint& c = shown[i];
    pcl::PointXYZRGB& p = display.points[i];
    p.x = c.p.x;
    p.y = c.p.y;
    p.z = c.p.z;
    p.r = c.colour.r;
    p.g = c.colour.g;
    p.b = c.colour.b;
  }
  Cloud& selection = *v.selectionCloud;
  selection.resize(selected.size());
  for (std::size_t i = 0; i < selected.size(); ++i) {
    pcl::PointXYZRGB& p = selection.points[i];
    p.x = selected[i].p.x;
    p.y = selected[i].p.y;
    p.z = selected[i].p.z;
    p.r = 0;
    p.g = 255;
    p.b = 0;
  }
  if (!(selection.empty() && v.selectionShown == 0))
    v.replaceCloud(v.selectionCloud, kSelectionCloudId, kSelectionPointSize, true);
  v.selectionShown = selection.size();
  v.replaceCloud(v.displayCloud, kDisplayCloudId, pointSize, false);
  if (v.automaticFits < Impl::kAutomaticFits && !(display.empty() && selection.empty())) {
    ++v.automaticFits;
    if (!v.cameraChosen) v.applyPreset(kTopPreset);
    v.fitCamera();
  }
  const auto updated = std::chrono::steady_clock::now();
  repaint();
  const auto rendered = std::chrono::steady_clock::now();
  v.times.updateSeconds += std::chrono::duration<double>(updated - start).count();
  v.times.renderSeconds += std::chrono::duration<double>(rendered - updated).count();
  ++v.times.frames;
}

PointCloudView::FrameTimes PointCloudView::frameTimes() const { return impl_->times; }

void PointCloudView::showSelection(const std::vector<ScenePoint>& points) {
  Impl& v = *impl_;
  Cloud::Ptr picked(new Cloud);
  picked->resize(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    picked->points[i].x = points[i].x;
    picked->points[i].y = points[i].y;
    picked->points[i].z = points[i].z;
  }
  v.replaceCloud(picked, kSelectionCloudId, kSelectionPointSize, true);
  v.selectionShown = picked->size();
  repaint();
}

void PointCloudView::setCameraPreset(int preset) {
  Impl& v = *impl_;
  if (preset < 0 || preset >= static_cast<int>(std::size(kPresets))) return;
  // The preset's direction and view-up, with the camera standing back far
  // enough to see the frame (the scene spans metres, in centimetres).
  v.applyPreset(preset);
  v.cameraChosen = true;
  double bounds[6];
  if (v.shownBounds(bounds)) v.automaticFits = Impl::kAutomaticFits;  // the operator's view from now on
  v.fitCamera();
  repaint();
}

void PointCloudView::resetCamera() { impl_->viewer->resetCamera(); }

void PointCloudView::setAxesShown(bool shown) {
  if (shown)
    impl_->viewer->addCoordinateSystem(50.0, kAxesId);
  else
    impl_->viewer->removeCoordinateSystem(kAxesId);
  impl_->renderer->ResetCameraClippingRange();
  repaint();
}

void PointCloudView::showGrid() {
  auto& viewer = *impl_->viewer;
  const auto line = [&](const pcl::PointXYZ& a, const pcl::PointXYZ& b, const std::string& id) {
    viewer.addLine(a, b, kGridColour, kGridColour, kGridColour, id);
    viewer.setShapeRenderingProperties(pcl::visualization::PCL_VISUALIZER_OPACITY, kGridOpacity, id);
  };
  // Straight lines every 2 m, out to 50 m either way.
  for (int r = -5000; r < 5100; r += 200) {
    line(at(r, -5000), at(r, 5000), "Line" + std::to_string(r));
    line(at(-5000, r), at(5000, r), "Line" + std::to_string(r + 41));
  }
  // Rings every 2 m, each a 36-sided polygon.
  for (int s = 200; s <= 5000; s += 200) {
    for (int p = 0; p <= 350; p += 10) {
      const double a = p * kGridPi / 180.0, b = (p + 10) * kGridPi / 180.0;
      line(at(s * std::cos(a), s * std::sin(a)), at(s * std::cos(b), s * std::sin(b)),
           "Circle" + std::to_string(s) + std::to_string(p));
    }
  }
  // Labels every 4 m along +y.
  for (int s = 200; s <= 5000; s += 400) {
    const double a = 90 * kGridPi / 180.0;
    viewer.addText3D(std::to_string(s / 100) + "m", at(s * std::cos(a), s * std::sin(a)), 10.0, kGridColour,
                     kGridColour, kGridColour, "Circle" + std::to_string(s / 100));
  }
  // With a frame on screen the view stays where it is (the grid reaches 50 m);
  // only the clipping range grows to take the grid in.
  double bounds[6];
  if (impl_->shownBounds(bounds))
    impl_->renderer->ResetCameraClippingRange();
  else
    viewer.resetCamera();
  repaint();
}

void PointCloudView::removeAllShapes() {
  impl_->viewer->removeAllShapes();
  impl_->viewer->resetCamera();
  repaint();
}

void PointCloudView::clear() {
  impl_->viewer->removeAllPointClouds();
  impl_->selectionShown = Impl::kSelectionUnknown;
  impl_->viewer->removeAllShapes();
  impl_->viewer->resetCamera();
  repaint();
}

// The sensor's points all lie in the scan plane z = 0: the scene position
// under the cursor is where the line of sight through the cursor's pixel
// meets that plane (exact for every point drawn, and defined between them,
// whatever the camera's direction).
bool PointCloudView::pickAtCursor(double& x, double& y, double& z) {
  vtkRenderWindowInteractor* interactor = impl_->screen->interactor();
  if (!interactor) return false;
  int position[2];
  interactor->GetEventPosition(position);  // the newest, not the one before it
  vtkRenderer* r = impl_->renderer;
  const auto world = [r, &position](double depth) {
    r->SetDisplayPoint(position[0], position[1], depth);
    r->DisplayToWorld();
    double w[4];
    r->GetWorldPoint(w);
    return w[3] != 0 ? Vec{w[0] / w[3], w[1] / w[3], w[2] / w[3]} : Vec{w[0], w[1], w[2]};
  };
  const Vec nearPoint = world(0.0), farPoint = world(1.0);
  const Vec sight = farPoint - nearPoint;
  if (std::fabs(sight.z) < 1e-9 * std::sqrt(dot(sight, sight))) return false;  // along the plane
  const Vec hit = nearPoint + (-nearPoint.z / sight.z) * sight;
  vtkCamera* camera = r->GetActiveCamera();
  // Behind the camera the plane is not seen.
  if (dot(hit - vec(camera->GetPosition()), vec(camera->GetDirectionOfProjection())) <= 0) return false;
  x = hit.x;
  y = hit.y;
  z = 0.0;
  return true;
}

std::string PointCloudView::textLine() const { return impl_->viewer->contains(kTextId) ? impl_->text : std::string(); }

void PointCloudView::setTextLine(const std::string& text) {
  auto& viewer = *impl_->viewer;
  // The same text again costs nothing (the readout is set every frame).
  const bool shown = viewer.contains(kTextId);
  if (shown && text == impl_->text) return;
  impl_->text = text;
  if (!shown) viewer.addText(text, 150, 0, 20, kTextRed, kTextGreen, kTextBlue, kTextId);
  viewer.updateText(text, 150, 0, 20, kTextRed, kTextGreen, kTextBlue, kTextId);
}

bool PointCloudView::setNotice(const std::string& text) {
  auto& viewer = *impl_->viewer;
  const bool shown = viewer.contains(kNoticeId);
  if (shown ? text == impl_->notice : text.empty()) return false;
  impl_->notice = text;
  if (text.empty()) {
    viewer.removeShape(kNoticeId);
  } else {
    // Near the middle of the view, whatever its size.
    int* size = impl_->renderer->GetSize();
    const int x = std::max(10, size[0] / 2 - 180), y = std::max(10, size[1] / 2);
    if (!shown) viewer.addText(text, x, y, 24, 1.0, 1.0, 1.0, kNoticeId);
    viewer.updateText(text, x, y, 24, 1.0, 1.0, 1.0, kNoticeId);
  }
  return true;
}

std::string PointCloudView::notice() const {
  return impl_->viewer->contains(kNoticeId) ? impl_->notice : std::string();
}

void PointCloudView::onCursorMoved(std::function<void()> handler) { impl_->cursorHandler = std::move(handler); }

void PointCloudView::onClick(std::function<void()> handler) { impl_->clickHandler = std::move(handler); }

void PointCloudView::setRuler(const std::vector<ScenePoint>& ends, const std::string& text) {
  auto& viewer = *impl_->viewer;
  viewer.removeShape(kRulerLineId);
  viewer.removeShape(kRulerTextId);
  if (ends.empty()) return;
  const ScenePoint& a = ends.front();
  const ScenePoint& b = ends.back();
  // One end alone shows as a short upright mark.
  const pcl::PointXYZ from(a.x, a.y, a.z), to(b.x, b.y, ends.size() == 1 ? b.z + 30.0f : b.z);
  viewer.addLine(from, to, 0.0, 1.0, 1.0, kRulerLineId);
  viewer.setShapeRenderingProperties(pcl::visualization::PCL_VISUALIZER_LINE_WIDTH, 2, kRulerLineId);
  viewer.addText(text, 150, 26, 18, 0.0, 1.0, 1.0, kRulerTextId);
}

double PointCloudView::fractionInView(const std::vector<ScenePoint>& points) const {
  if (points.empty()) return 0.0;
  vtkRenderer* r = impl_->renderer;
  double aspect = r->GetTiledAspectRatio();
  if (!(aspect > 0) || !std::isfinite(aspect)) aspect = 1.0;
  vtkMatrix4x4* m = r->GetActiveCamera()->GetCompositeProjectionTransformMatrix(aspect, -1, 1);
  std::size_t inside = 0;
  for (const ScenePoint& p : points) {
    const double in[4] = {p.x, p.y, p.z, 1.0};
    double out[4];
    m->MultiplyPoint(in, out);
    if (out[3] <= 0) continue;  // behind the camera
    inside += std::fabs(out[0]) <= out[3] && std::fabs(out[1]) <= out[3] && std::fabs(out[2]) <= out[3];
  }
  return static_cast<double>(inside) / points.size();
}

void PointCloudView::onKeyDown(std::function<void(const std::string&, char)> handler) {
  impl_->keyHandler = std::move(handler);
}

void PointCloudView::onAreaPicked(std::function<void(const std::vector<int>&)> handler) {
  impl_->areaHandler = std::move(handler);
}

// The viewer's interactor style switches its area-selection mode on the "x"
// key: it is handed that key press directly, with no keyboard involved.
void PointCloudView::toggleAreaSelection() {
  impl_->forwardingKey = true;
  pressKey('x', "x");
  impl_->forwardingKey = false;
}

void PointCloudView::pressKey(char key, const std::string& keySym) {
  vtkRenderWindowInteractor* interactor = impl_->screen->interactor();
  if (!interactor || !interactor->GetInteractorStyle()) return;
  interactor->SetKeyEventInformation(0, 0, key, 1, keySym.c_str());
  interactor->InvokeEvent(vtkCommand::KeyPressEvent, nullptr);
  interactor->InvokeEvent(vtkCommand::CharEvent, nullptr);
  interactor->InvokeEvent(vtkCommand::KeyReleaseEvent, nullptr);
}

bool PointCloudView::sceneToWidget(double x, double y, double z, double& px, double& py) const {
  vtkRenderer* r = impl_->renderer;
  r->SetWorldPoint(x, y, z, 1.0);
  r->WorldToDisplay();
  double d[3];
  r->GetDisplayPoint(d);
  // Display coordinates count device pixels from the bottom left.
  const double ratio = impl_->screen->devicePixelRatioF();
  px = d[0] / ratio;
  py = impl_->screen->height() - d[1] / ratio;
  return px >= 0 && py >= 0 && px < impl_->screen->width() && py < impl_->screen->height();
}

// The render window shows what it rendered in the view's own window (the
// render asks for the paint that puts it on screen).
void PointCloudView::repaint() { impl_->screen->renderWindow()->Render(); }

// The view draws when its window paints (a render asked for in between is
// drawn by the next paint): the pending paint is done first, then the
// picture read.
QImage PointCloudView::picture() const {
  QWindow* window = impl_->screen->embeddedOpenGLWindow();
  if (!window || !window->isExposed()) return QImage();
  QEvent paint(QEvent::UpdateRequest);
  QCoreApplication::sendEvent(window, &paint);
  return impl_->screen->grabFramebuffer();
}

QImage PointCloudView::windowPicture(QWidget& window) const {
  QImage picture = window.grab().toImage();
  QPainter painter(&picture);
  const QPoint at = impl_->screen->mapTo(&window, QPoint(0, 0));
  painter.drawImage(QRect(at, impl_->screen->size()), this->picture());
  return picture;
}

bool PointCloudView::contains(const std::string& id) const { return impl_->viewer->contains(id); }

std::size_t PointCloudView::cloudSize(const std::string& id) const {
  vtkPolyData* data = impl_->cloudData(id);
  return data ? static_cast<std::size_t>(data->GetNumberOfPoints()) : 0;
}

std::vector<std::string> PointCloudView::shapeIds() const {
  std::vector<std::string> ids;
  for (const auto& entry : *impl_->viewer->getShapeActorMap()) ids.push_back(entry.first);
  return ids;
}

std::size_t PointCloudView::cloudCount() const { return impl_->viewer->getCloudActorMap()->size(); }

std::array<double, 9> PointCloudView::camera() const {
  vtkCamera* c = impl_->renderer->GetActiveCamera();
  std::array<double, 9> out{};
  c->GetPosition(out.data());
  c->GetFocalPoint(out.data() + 3);
  c->GetViewUp(out.data() + 6);
  return out;
}

std::vector<ColouredPoint> PointCloudView::displayedPoints() const {
  std::vector<ColouredPoint> out;
  for (const auto& p : impl_->displayCloud->points) out.push_back(ColouredPoint{{p.x, p.y, p.z}, Rgb{p.r, p.g, p.b}});
  return out;
}

}  // namespace z540k
