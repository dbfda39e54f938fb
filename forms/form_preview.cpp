// Shows the main window's bare form (no behaviour behind it) at its own size
// and writes pictures of it: z540k_form_preview out.png
#include <QVTKOpenGLStereoWidget.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QMainWindow>
#include <QSurfaceFormat>
#include <QWindow>
#include <cstdio>

#include "ui_manwindow.h"
#ifdef Z540K_HAVE_RESOURCES
#include "ResourceImage.h"
#endif

int main(int argc, char** argv) {
  QSurfaceFormat::setDefaultFormat(QVTKOpenGLStereoWidget::defaultFormat());
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s out.png\n", argv[0]);
    return 2;
  }
  QMainWindow window;
  Ui::manwindowClass ui;
  ui.setupUi(&window);
  window.show();

  QDeadlineTimer deadline(10000);
  while (!(window.windowHandle() && window.windowHandle()->isExposed()) && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  if (!window.windowHandle() || !window.windowHandle()->isExposed()) {
    std::fprintf(stderr, "the window was not shown\n");
    return 1;
  }
  // The whole window on the first tab, then the tab strip on each other tab
  // (out-tab1.png, ...).
  const QString out = QString::fromLocal8Bit(argv[1]);
  QCoreApplication::processEvents();
  bool saved = window.grab().save(out);
  for (int tab = 1; tab < ui.tabWidget->count(); ++tab) {
    ui.tabWidget->setCurrentIndex(tab);
    QCoreApplication::processEvents();
    QString name = out;
    name.insert(name.endsWith(".png") ? name.size() - 4 : name.size(), QString("-tab%1").arg(tab));
    saved = ui.tabWidget->grab().save(name) && saved;
  }
  if (!saved) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
