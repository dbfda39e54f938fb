// z540k-host: the Z540-K host program.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "Arguments.h"
#include "PointCloudView.h"
#include "StartupOptions.h"
#include "Version.h"
#include "manwindow.h"

int main(int argc, char** argv) {
  if (z540k::versionAsked(std::vector<std::string>(argv + 1, argv + argc))) {
    std::printf("z540k-host %s\n", Z540K_VERSION);
    return 0;
  }
  z540k::StartupOptions options;
  std::string error;
  if (!z540k::parseStartupOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "z540k-host: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(z540k::startupHelp().c_str(), stdout);
    return 0;
  }
  z540k::PointCloudView::prepareSurfaceFormat();
  QApplication app(argc, argv);
  auto* window = new manwindow(options);
  window->show();
  window->setAttribute(Qt::WA_QuitOnClose);
  window->endOnExitSignals();
  if (options.quitAfterSeconds > 0) {
    const QString screenshot = QString::fromStdString(options.screenshot);
    QTimer::singleShot(static_cast<int>(options.quitAfterSeconds * 1000), window, [window, screenshot] {
      int code = 0;
      if (!screenshot.isEmpty() && !window->cloudView().windowPicture(*window).save(screenshot, "PNG")) {
        std::fprintf(stderr, "z540k-host: cannot write the screenshot %s\n", screenshot.toLocal8Bit().constData());
        code = 1;
      }
      QApplication::exit(code);
    });
  }
  const int result = app.exec();
  delete window;
  return result;
}
