// The main window's generated form: every control the window's code reaches by
// object name, with its class, place, texts, lists and defaults.
#include <QVTKOpenGLStereoWidget.h>

#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
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
#ifdef Z540K_HAVE_RESOURCES
#include "ResourceImage.h"
#endif

namespace {

const QString kImages = QStringLiteral(":/image/Resources/images/");

struct Form {
  Form() { ui.setupUi(&window); }
  QMainWindow window;
  Ui::manwindowClass ui;
};

// The icon of a button, or of item `item` of a combo box.
QIcon iconOf(QWidget* widget, int item) {
  if (auto* combo = qobject_cast<QComboBox*>(widget)) return combo->itemIcon(item);
  return qobject_cast<QAbstractButton*>(widget)->icon();
}

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

  void texts_data() {
    QTest::addColumn<QString>("text");
    const QList<QPair<const char*, QString>> rows = {
        {"toolButton_Lidar", "Lidar"},
        {"tolbtn_LidarDataList", "LidarData"},
        {"toolButton_MeaGrid", "MeaGrid"},
        {"toolButton_Coor", "Coordinate"},
        {"tolbtn_offdata", "Pause"},
        {"toolButton_selectCloud", "Select"},
        {"toolButton_clear", "Clear"},
        // The colons after the port labels are full-width, the multicast one is not.
        {"label_portNumber", QString::fromUtf8("Port Number：")},
        {"lineEdit_portNumber", "2368"},
        {"label", QString::fromUtf8("  Telemetry Port：")},
        {"lineEdit", "2369"},
        {"label_2", " Multicast IP:"},
        {"lineEdit_2", "224.1.1.1"},
        {"toolButton_Open", "Open"},
        {"toolButton_GoToStart", ""},
        {"toolButton_SeekBackward", ""},
        {"toolButton_Play", ""},
        {"toolButton_SeekForward", ""},
        {"toolButton_GoToEnd", ""},
        {"toolButton_SavePcapData", "Record"},
        {"Btn_Setting", "Parameter"},
        {"Btn_ACWPSetting", "ACWPSettin"},
        {"Btn_Channel", "Channel"},
        {"Btn_SaveCSV", "SaveData"},
        {"setVerticalPushButton", QString::fromUtf8("俯仰角度信息")},
        {"label_3", QString::fromUtf8("显示角度：±")},
        {"showAngle_lineEdit", "180.0"},
        {"toolButton_About", "About"},
        {"toolButton_User", "UserGuide"},
        {"toolButton_Develop", "Develop"},
    };
    for (const auto& r : rows) QTest::newRow(r.first) << r.second;
  }
  void texts() {
    QFETCH(QString, text);
    auto* widget = form_->window.findChild<QWidget*>(QTest::currentDataTag());
    QVERIFY(widget);
    QCOMPARE(widget->property("text").toString(), text);
    // A tool button with a text shows it, one without shows its icon.
    if (auto* button = qobject_cast<QToolButton*>(widget))
      QCOMPARE(button->toolButtonStyle() == Qt::ToolButtonIconOnly, text.isEmpty());
  }

  void comboLists_data() {
    QTest::addColumn<QStringList>("items");
    QTest::newRow("comboBox_View") << QStringList{"Front", "Top", "Left"};
    QTest::newRow("CBox_Echo") << QStringList{"StrongEcho", "DualEcho", "DualEcho_first", "DualEcho_second"};
    QTest::newRow("comboBox_4") << QStringList{"Intensity", "Solid", "Elevation", "Azimuth", "LaserID"};
    QTest::newRow("comboBox_degree") << QStringList{"View Mode 1", "View Mode 2"};
    QTest::newRow("comboBox_agree") << QStringList{QString::fromUtf8("协议1.6"), QString::fromUtf8("协议1.7")};
  }
  void comboLists() {
    QFETCH(QStringList, items);
    auto* combo = form_->window.findChild<QComboBox*>(QTest::currentDataTag());
    QVERIFY(combo);
    QStringList actual;
    for (int i = 0; i < combo->count(); ++i) actual << combo->itemText(i);
    QCOMPARE(actual, items);
    QCOMPARE(combo->currentIndex(), 0);
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

  void icons_data() {
    if (!QFile::exists(kImages + "Play.png")) QSKIP("the image resources are not linked into this test");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("image");
    const QList<QPair<const char*, const char*>> buttons = {
        {"toolButton_Lidar", "Lidar"},
        {"tolbtn_LidarDataList", "DataList"},
        {"toolButton_MeaGrid", "Grid"},
        {"toolButton_Coor", "Coordinate"},
        {"tolbtn_offdata", "Red"},
        {"toolButton_selectCloud", "select"},
        {"toolButton_clear", "clear"},
        {"toolButton_Open", "OpenCaptureFile"},
        {"toolButton_GoToStart", "Gotostart"},
        {"toolButton_SeekBackward", "Seekbackward"},
        {"toolButton_Play", "Play"},
        {"toolButton_SeekForward", "Seekforward"},
        {"toolButton_GoToEnd", "Gotostop"},
        {"toolButton_SavePcapData", "Record"},
        {"Btn_Setting", "InteractionSetUp"},
        {"Btn_ACWPSetting", "AdvancedSetting"},
        {"Btn_Channel", "Chanel"},
        {"Btn_SaveCSV", "Csv"},
        {"toolButton_About", "About"},
        {"toolButton_User", "User"},
        {"toolButton_Develop", "Develop"},
    };
    for (const auto& b : buttons) QTest::newRow(b.first) << QString(b.first) << -1 << kImages + b.second + ".png";
    const char* views[] = {"zhengshi", "fushi", "zuoshi"};
    for (int i = 0; i < 3; ++i)
      QTest::addRow("comboBox_View#%d", i) << QString("comboBox_View") << i << kImages + views[i] + ".png";
  }
  void icons() {
    QFETCH(QString, widget);
    QFETCH(int, item);
    QFETCH(QString, image);
    const QImage expected = QImage(image).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!expected.isNull());
    auto* w = form_->window.findChild<QWidget*>(widget);
    QVERIFY(w);
    const QIcon icon = iconOf(w, item);
    QVERIFY(!icon.isNull());
    QCOMPARE(icon.pixmap(expected.size()).toImage().convertToFormat(QImage::Format_ARGB32), expected);
  }

  void windowFrame() {
    QMainWindow& window = form_->window;
    const Ui::manwindowClass& ui = form_->ui;
    QCOMPARE(window.objectName(), QString("manwindowClass"));
    QCOMPARE(window.windowTitle(), QString("QK-Z540-K"));
    QCOMPARE(window.size(), QSize(2089, 710));

    auto* column = qobject_cast<QVBoxLayout*>(window.centralWidget()->layout());
    QVERIFY(column);
    QCOMPARE(column->spacing(), 6);
    QCOMPARE(column->contentsMargins(), QMargins(11, 11, 11, 11));
    QCOMPARE(column->count(), 2);
    QCOMPARE(column->itemAt(0)->widget(), static_cast<QWidget*>(ui.tabWidget));
    QVERIFY(qobject_cast<QSplitter*>(column->itemAt(1)->widget()));

    QCOMPARE(ui.tabWidget->currentIndex(), 0);
    QStringList tabs;
    for (int i = 0; i < ui.tabWidget->count(); ++i) tabs << ui.tabWidget->tabText(i);
    QCOMPARE(tabs, (QStringList{"Lidar", "Offline", "Z540-K", "Help"}));

    auto* splitter = qobject_cast<QSplitter*>(column->itemAt(1)->widget());
    QCOMPARE(splitter->orientation(), Qt::Horizontal);
    auto* screen = window.findChild<QVTKOpenGLStereoWidget*>("screen");
    QVERIFY(screen);
    QCOMPARE(splitter->indexOf(screen), 0);

    auto* dock = window.findChild<QDockWidget*>("LidraDataDock");
    QVERIFY(dock);
    QCOMPARE(dock->windowTitle(), QString("LidarData"));
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
