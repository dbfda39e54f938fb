#include "PointCloudView.h"

#include <QVTKOpenGLNativeWidget.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/visualization/pcl_visualizer.h>
#include <vtkAxesActor.h>
#include <vtkCamera.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkLogger.h>
#include <vtkOpenGLRenderWindow.h>
#include <vtkOrientationMarkerWidget.h>
#include <vtkRenderWindow.h>
#include <vtkRenderWindowInteractor.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkWorldPointPicker.h>

#include <QSurfaceFormat>
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

}  // namespace

struct PointCloudView::Impl {
  QVTKOpenGLNativeWidget* screen = nullptr;
  vtkSmartPointer<vtkRenderer> renderer;
  vtkSmartPointer<vtkGenericOpenGLRenderWindow> window;
  std::shared_ptr<pcl::visualization::PCLVisualizer> viewer;
  vtkSmartPointer<vtkOrientationMarkerWidget> marker;
  Cloud::Ptr displayCloud{new Cloud};
  Cloud::Ptr selectionCloud{new Cloud};
  std::function<void(const std::string&, char)> keyHandler;
  std::function<void(const std::vector<int>&)> areaHandler;
  // Until the operator chooses a view, the first frame with points is shown
  // from above, fitted to the window.
  bool cameraChosen = false;
  FrameTimes times;
  std::string text;  // the text line's content

  // Replaces the cloud `id` with `cloud` in its own colours, or in one
  // colour when `single` is set.
  void replaceCloud(const Cloud::Ptr& cloud, const char* id, int pointSize, bool single) {
    viewer->removePointCloud(id);
    if (single) {
      pcl::visualization::PointCloudColorHandlerCustom<pcl::PointXYZRGB> green(cloud, 0, 255, 0);
      viewer->addPointCloud<pcl::PointXYZRGB>(cloud, green, id);
    } else {
      pcl::visualization::PointCloudColorHandlerRGBField<pcl::PointXYZRGB> colours(cloud);
      viewer->addPointCloud<pcl::PointXYZRGB>(cloud, colours, id);
    }
    viewer->setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE, pointSize, id);
  }
};

void PointCloudView::prepareSurfaceFormat() {
  // The visualizer's shaders use calls VTK announces as deprecated on every
  // new cloud: only errors reach the console.
  vtkLogger::SetStderrVerbosity(vtkLogger::VERBOSITY_ERROR);
  vtkOpenGLRenderWindow::SetGlobalMaximumNumberOfMultiSamples(0);
  QSurfaceFormat format = QVTKOpenGLNativeWidget::defaultFormat();
  format.setSamples(0);
  QSurfaceFormat::setDefaultFormat(format);
}

PointCloudView::PointCloudView(QVTKOpenGLNativeWidget* screen) : impl_(new Impl) {
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

  v.viewer->registerKeyboardCallback([this](const pcl::visualization::KeyboardEvent& e) {
    if (e.keyDown() && impl_->keyHandler) impl_->keyHandler(e.getKeySym(), e.getKeyCode());
  });
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
  repaint();
}

PointCloudView::~PointCloudView() {
  if (impl_->marker) impl_->marker->SetEnabled(0);
}

void PointCloudView::showFrame(const FramePoints& frame, int pointSize) {
  Impl& v = *impl_;
  const auto start = std::chrono::steady_clock::now();
  Cloud& display = *v.displayCloud;
  display.resize(frame.display.size());
  for (std::size_t i = 0; i < frame.display.size(); ++i) {
    const ColouredPoint& c = frame.display[i];
    pcl::PointXYZRGB& p = display.points[i];
    p.x = c.p.x;
    p.y = c.p.y;
    p.z = c.p.z;
    p.r = c.colour.r;
    p.g = c.colour.g;
    p.b = c.colour.b;
  }
  Cloud& selection = *v.selectionCloud;
  selection.resize(frame.selection.size());
  for (std::size_t i = 0; i < frame.selection.size(); ++i) {
    pcl::PointXYZRGB& p = selection.points[i];
    p.x = frame.selection[i].p.x;
    p.y = frame.selection[i].p.y;
    p.z = frame.selection[i].p.z;
    p.r = 0;
    p.g = 255;
    p.b = 0;
  }
  v.replaceCloud(v.selectionCloud, kSelectionCloudId, kSelectionPointSize, true);
  v.replaceCloud(v.displayCloud, kDisplayCloudId, pointSize, false);
  if (!v.cameraChosen && !display.empty()) {
    v.cameraChosen = true;
    v.viewer->setCameraPosition(0, 0, 1, 0, 0, 0, 0, 1, 0);
    v.viewer->resetCamera();
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
  repaint();
}

void PointCloudView::setCameraPreset(int preset) {
  auto& viewer = *impl_->viewer;
  switch (preset) {
    case 0: viewer.setCameraPosition(0, -1, 0, 0, 0.2, -0.2, 0, 0, 1); break;
    case 1: viewer.setCameraPosition(0, 0, 1, 0, 0, 0, 0, 1, 0); break;
    case 2: viewer.setCameraPosition(-1, 0, 0, 0, 0, -0.2, 0, 0, 1); break;
    default: break;
  }
  impl_->cameraChosen = true;
  // The presets stand one unit from the origin; the scene spans metres.
  impl_->renderer->ResetCameraClippingRange();
  repaint();
}

void PointCloudView::resetCamera() { impl_->viewer->resetCamera(); }

void PointCloudView::setAxesShown(bool shown) {
  if (shown)
    impl_->viewer->addCoordinateSystem(50.0, kAxesId);
  else
    impl_->viewer->removeCoordinateSystem(kAxesId);
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
  impl_->viewer->removeAllShapes();
  impl_->viewer->resetCamera();
  repaint();
}

bool PointCloudView::pickAtCursor(double& x, double& y, double& z) {
  vtkRenderWindowInteractor* interactor = impl_->screen->interactor();
  vtkRenderer* first = impl_->viewer->getRenderWindow()->GetRenderers()->GetFirstRenderer();
  if (!interactor || !first) return false;
  int position[2];
  interactor->GetLastEventPosition(position);
  auto picker = vtkSmartPointer<vtkWorldPointPicker>::New();
  picker->Pick(position[0], position[1], 0, first);
  double world[3];
  picker->GetPickPosition(world);
  x = world[0];
  y = world[1];
  z = world[2];
  return true;
}

std::string PointCloudView::textLine() const {
  return impl_->viewer->contains(kTextId) ? impl_->text : std::string();
}

void PointCloudView::setTextLine(const std::string& text) {
  impl_->text = text;
  auto& viewer = *impl_->viewer;
  if (!viewer.contains(kTextId)) viewer.addText(text, 150, 0, 20, 0, 0, 1, kTextId);
  viewer.updateText(text, 150, 0, 20, 0, 0, 1, kTextId);
}

void PointCloudView::onKeyDown(std::function<void(const std::string&, char)> handler) {
  impl_->keyHandler = std::move(handler);
}

void PointCloudView::onAreaPicked(std::function<void(const std::vector<int>&)> handler) {
  impl_->areaHandler = std::move(handler);
}

// The viewer's interactor style switches its area-selection mode on the "x"
// key: it is handed that key press directly, with no keyboard involved.
void PointCloudView::toggleAreaSelection() { pressKey('x', "x"); }

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

void PointCloudView::repaint() {
  impl_->screen->renderWindow()->Render();
  impl_->screen->update();
}

bool PointCloudView::contains(const std::string& id) const { return impl_->viewer->contains(id); }

std::size_t PointCloudView::cloudSize(const std::string& id) const {
  const auto actors = impl_->viewer->getCloudActorMap();
  const auto it = actors->find(id);
  if (it == actors->end() || !it->second.actor) return 0;
  vtkMapper* mapper = it->second.actor->GetMapper();
  vtkDataSet* data = mapper ? mapper->GetInput() : nullptr;
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
