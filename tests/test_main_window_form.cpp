// The main window's generated form: every control the window's code reaches by
// object name, with its class and place (their texts and icons are in
// test_form_texts.cpp).
#include <QVTKOpenGLStereoWidget.h>

#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QMainWindow>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QSurfaceFormat>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtTest>

#include "ui_manwindow.h"

namespace {

struct Form {
  Form() { ui.setupUi(&window); }
  QMainWindow window;
  Ui::manwindowClass ui;
};

}  // namespace

class MainWindowFormTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { form_.reset(new Form); }

  void controls_data() {
    QTest::addColumn<QString>("className");
    QTest::addColumn<int>("tab");
    const auto row = [](const char* name, const char* cls, int tab) { QTest::newRow(name) << QString(cls) << tab; };
    for (const char* n : {"toolButton_Lidar", "tolbtn_LidarDataList", "toolButton_MeaGrid", "toolButton_Coor",
                          "tolbtn_offdata", "toolButton_selectCloud", "toolButton_clear"})
      row(n, "QToolButton", 0);
    row("comboBox_View", "QComboBox", 0);
    for (const char* n : {"label_portNumber", "label", "label_2"}) row(n, "QLabel", 0);
    for (const char* n : {"lineEdit_portNumber", "lineEdit", "lineEdit_2"}) row(n, "QLineEdit", 0);
    for (const char* n : {"toolButton_Open", "toolButton_GoToStart", "toolButton_SeekBackward", "toolButton_Play",
                          "toolButton_SeekForward", "toolButton_GoToEnd", "toolButton_SavePcapData"})
      row(n, "QToolButton", 1);
    row("Slider_Frame", "QSlider", 1);
    row("Spbox_Frame", "QSpinBox", 1);
    for (const char* n : {"Btn_Setting", "Btn_ACWPSetting", "Btn_Channel", "Btn_SaveCSV"}) row(n, "QToolButton", 2);
    for (const char* n : {"CBox_Echo", "comboBox_4", "comboBox_degree", "comboBox_agree"}) row(n, "QComboBox", 2);
    row("setVerticalPushButton", "QPushButton", 2);
    row("label_3", "QLabel", 2);
    row("showAngle_lineEdit", "QLineEdit", 2);
    for (const char* n : {"toolButton_About", "toolButton_User", "toolButton_Develop"}) row(n, "QToolButton", 3);
  }
  void controls() {
    QFETCH(QString, className);
    QFETCH(int, tab);
    auto* widget = form_->window.findChild<QWidget*>(QTest::currentDataTag());
    QVERIFY2(widget, QTest::currentDataTag());
    QCOMPARE(QString(widget->metaObject()->className()), className);
    QVERIFY(form_->ui.tabWidget->widget(tab)->isAncestorOf(widget));
  }

  // The tool bar has exactly 21 tool buttons, the five playback ones without text.
  void toolButtonCount() {
    int count = 0;
    for (int tab = 0; tab < form_->ui.tabWidget->count(); ++tab)
      count += form_->ui.tabWidget->widget(tab)->findChildren<QToolButton*>().size();
    QCOMPARE(count, 21);
  }

  // Only the live, grid and record switches stay down when pressed.
  void checkableButtons() {
    QStringList checkable;
    for (auto* button : form_->ui.tabWidget->findChildren<QAbstractButton*>())
      if (button->isCheckable()) checkable << button->objectName();
    checkable.sort();
    QCOMPARE(checkable, (QStringList{"toolButton_Lidar", "toolButton_MeaGrid", "toolButton_SavePcapData"}));
  }

  // The colour list is enabled by the first frame, the frame slider and box
  // by loading a capture.
  void disabledUntilNeeded() {
    QVERIFY(!form_->ui.comboBox_4->isEnabled());
    QVERIFY(!form_->ui.Slider_Frame->isEnabled());
    QVERIFY(!form_->ui.Spbox_Frame->isEnabled());
    QCOMPARE(form_->ui.Slider_Frame->orientation(), Qt::Horizontal);
  }

  void windowFrame() {
    QMainWindow& window = form_->window;
    const Ui::manwindowClass& ui = form_->ui;
    QCOMPARE(window.objectName(), QString("manwindowClass"));
    QCOMPARE(window.size(), QSize(2089, 710));

    auto* column = qobject_cast<QVBoxLayout*>(window.centralWidget()->layout());
    QVERIFY(column);
    QCOMPARE(column->spacing(), 6);
    QCOMPARE(column->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(column->count(), 2);
    QCOMPARE(column->itemAt(0)->widget(), static_cast<QWidget*>(ui.tabWidget));
    QVERIFY(qobject_cast<QSplitter*>(column->itemAt(1)->widget()));

    auto* splitter = qobject_cast<QSplitter*>(column->itemAt(1)->widget());
    QCOMPARE(splitter->orientation(), Qt::Horizontal);
    auto* screen = window.findChild<QVTKOpenGLStereoWidget*>("screen");
    QVERIFY(screen);
    QCOMPARE(splitter->indexOf(screen), 0);

    auto* dock = window.findChild<QDockWidget*>("LidraDataDock");
    QVERIFY(dock);
    QVERIFY(!dock->isFloating());
    QVERIFY(window.dockWidgetArea(dock) != Qt::NoDockWidgetArea);
    auto* table = window.findChild<QTableView*>("tableView");
    QVERIFY(table);
    QVERIFY(dock->widget()->isAncestorOf(table));

    // Asked before QMainWindow::statusBar(), which would make one.
    auto* status = window.findChild<QStatusBar*>();
    QVERIFY(status);
    QCOMPARE(status->parentWidget(), static_cast<QWidget*>(&window));
  }

  // Shown, the window keeps its size (every tab's row fits beside the dock)
  // and the 3-D view takes most of the room.
  void layoutOnScreen() {
    Form form;
    form.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form.window));
    QCOMPARE(form.window.size(), QSize(2089, 710));
    QVERIFY(form.ui.screen->height() > 2 * form.ui.tabWidget->height());
    QVERIFY(form.ui.screen->width() > form.window.centralWidget()->width() / 2);
  }

 private:
  QScopedPointer<Form> form_;
};

int main(int argc, char** argv) {
  // The render widget needs its surface format before the application exists.
  QSurfaceFormat::setDefaultFormat(QVTKOpenGLStereoWidget::defaultFormat());
  QApplication app(argc, argv);
  MainWindowFormTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_main_window_form.moc"
