// Random input for the main window while the simulated sensor feeds it on
// loopback: the controls of every tab, rectangles and rotations dragged in
// the view, keys, the wheel, the auxiliary windows (with the factory buttons
// shown) opened, clicked and typed in, captures opened and played, exports
// and recordings now and then. Every action comes from one seed and is
// printed with its number before it runs, so a failure can be replayed:
//
//   window_random_input_tests [--seed N] [--seconds S] [--actions N]
//
// The environment variable Z540K_RANDOM_INPUT_SEED wins over --seed, so a
// run under ctest can be replayed. The seed fixes what is done and when in
// the sequence; how the window answers still depends on the frames that
// arrive meanwhile.
//
// What is checked: no crash (the sanitizers check the rest), the status
// line's counts after every action (never going back, never ahead of what
// the receiver and the display counted), and that the window still draws
// the sensor's frames at the end.
#include <QVTKOpenGLStereoWidget.h>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <atomic>
#include <cstdio>
#include <functional>
#include <random>

#include "ACWPSettingWidget.h"
#include "About.h"
#include "Arguments.h"
#include "CapturePlayer.h"
#include "CodeDialog.h"
#include "FileDialogs.h"
#include "Form_QLaserSelection.h"
#include "InetactionSetupWidget.h"
#include "LiveDataReceiver.h"
#include "MessageRecorder.h"
#include "PointCloudView.h"
#include "SaveDataOptions.h"
#include "SimulatorTestSupport.h"
#include "WindowTestSupport.h"
#include "manwindow.h"

using namespace z540k;
using namespace z540k::test;

namespace {

// An auxiliary window and the controls the operator can use in it.
struct AuxWindow {
  const char* name;
  QWidget* window;
  std::vector<QAbstractButton*> buttons;
  std::vector<QLineEdit*> edits;
  std::vector<QWidget*> lists;  // combo boxes and tab bars
};

// Everything an action needs. All choices come from `rng` through below(),
// whose results do not depend on the library's distributions.
struct Run {
  manwindow& w;
  QVTKOpenGLStereoWidget* screen;
  const QTemporaryDir& dir;
  std::mt19937 rng;
  QString dataPort = {}, statusPort = {};
  std::vector<AuxWindow> aux = {};
  std::vector<QString> openAnswers = {};  // what the Open dialog is answered with ("" cancels)
  int action = 0;
  std::uint32_t answer = 0;  // drawn for every action: how its boxes and dialogs are answered
  int files = 0;
  QString lastRecording = QString();

  std::uint32_t below(std::uint32_t n) { return rng() % n; }
  QPoint inScreen() { return QPoint(below(screen->width()), below(screen->height())); }
  void say(const QString& text) const {
    std::printf("#%d %s\n", action, qPrintable(text));
    std::fflush(stdout);
  }
};

using Step = std::function<void(Run&)>;
struct Action {
  const char* name;
  int weight;
  Step run;
};

// The modal window that keeps the operator from `target`, if any: an
// application-modal one blocks every other window, a window-modal one its
// parent's window.
QWidget* blockerOf(QWidget* target) {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal || modal == target->window()) return nullptr;
  if (modal->windowModality() == Qt::WindowModal &&
      (!modal->parentWidget() || modal->parentWidget()->window() != target->window()))
    return nullptr;
  return modal;
}

// Says what is done to `target` and whether it can be done now.
bool reach(const Run& r, QWidget* target, const QString& what) {
  if (QWidget* modal = blockerOf(target)) {
    r.say(what + " (blocked by \"" + modal->windowTitle() + "\")");
    return false;
  }
  if (!target->isVisible()) {
    r.say(what + " (not shown)");
    return false;
  }
  r.say(what + (target->isEnabled() ? "" : " (disabled)"));
  return true;
}

// A control of the main window: its tab is chosen first, as the operator
// would, by a click on the tab bar.
QWidget* onItsTab(manwindow& w, const char* name) {
  QWidget* control = child<QWidget>(w, name);
  auto* tabs = child<QTabWidget>(w, "tabWidget");
  for (int i = 0; i < tabs->count(); ++i)
    if (tabs->widget(i)->isAncestorOf(control) && tabs->currentIndex() != i && !blockerOf(tabs))
      QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(i).center());
  return control;
}

Step click(const char* name) {
  return [name](Run& r) {
    QWidget* button = onItsTab(r.w, name);
    if (reach(r, button, QString("click ") + name)) QTest::mouseClick(button, Qt::LeftButton);
  };
}

const Qt::Key kListKeys[] = {Qt::Key_Down, Qt::Key_Up, Qt::Key_Home, Qt::Key_End};

void keyInList(Run& r, QWidget* list, const QString& label) {
  const Qt::Key key = kListKeys[r.below(4)];
  if (reach(r, list, QString("key %1 in %2").arg(QKeySequence(key).toString(), label))) QTest::keyClick(list, key);
}

// What is typed into the auxiliary windows: numbers in and out of range,
// addresses good and bad, and text that is neither.
// clang-format off
const char* const kTexts[] = {
    "", "0", "1", "7", "-1", "2.5", "360", "1000", "65535", "65536", "127.0.0.2", "255.255.255.0", "255.0.255.0",
    "0.0.0.0", "300.1.1.1", "10.0.0.01", "abc", "1e9", "ff:ee", " ", "12345678901234567890", ".", "-", "+5", "99.999"};
// clang-format on

// Types into a line edit: replacing its text or adding to it, then Return,
// Tab or nothing. `shown` names the text in the log where it differs from run to run.
void typeInto(Run& r, QLineEdit* edit, const QString& text, const QString& label, const QString& shown = {}) {
  const bool replace = r.below(3) != 0;
  const int after = r.below(3);
  if (!reach(r, edit,
             QString("type %1 %2 %3%4")
                 .arg(shown.isEmpty() ? '"' + text + '"' : shown, replace ? "over" : "after", label,
                      after == 1   ? ", Return"
                      : after == 2 ? ", Tab"
                                   : "")))
    return;
  edit->setFocus();
  if (replace) QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(edit, text);
  if (after == 1) QTest::keyClick(edit, Qt::Key_Return);
  if (after == 2) QTest::keyClick(edit, Qt::Key_Tab);
}

QString xy(QPoint p) { return QString("(%1,%2)").arg(p.x()).arg(p.y()); }

// Mouse events in the view's own window, where VTK reads them.
void mouseInView(Run& r, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
                 Qt::KeyboardModifiers modifiers = {}) {
  QMouseEvent e(type, at, r.screen->mapToGlobal(at), button, held, modifiers);
  QApplication::sendEvent(r.screen->embeddedOpenGLWindow(), &e);
}

void dragInView(Run& r, QPoint from, QPoint to, Qt::MouseButton button, Qt::KeyboardModifiers modifiers) {
  mouseInView(r, QEvent::MouseButtonPress, from, button, button, modifiers);
  for (int i = 1; i <= 3; ++i)
    mouseInView(r, QEvent::MouseMove, from + (to - from) * i / 3, Qt::NoButton, button, modifiers);
  mouseInView(r, QEvent::MouseButtonRelease, to, button, Qt::NoButton, modifiers);
}

const Qt::MouseButton kDragButtons[] = {Qt::LeftButton, Qt::LeftButton, Qt::MiddleButton, Qt::RightButton};
const Qt::KeyboardModifiers kDragModifiers[] = {Qt::NoModifier, Qt::NoModifier, Qt::ShiftModifier, Qt::ControlModifier};
// The view's own keys ("+", "-", "x") among those VTK and PCL would act on.
const Qt::Key kViewKeys[] = {Qt::Key_Plus, Qt::Key_Plus, Qt::Key_Minus,  Qt::Key_Minus, Qt::Key_X,
                             Qt::Key_Q,    Qt::Key_E,    Qt::Key_J,      Qt::Key_R,     Qt::Key_F,
                             Qt::Key_S,    Qt::Key_W,    Qt::Key_P,      Qt::Key_U,     Qt::Key_G,
                             Qt::Key_O,    Qt::Key_3,    Qt::Key_Escape, Qt::Key_Space, Qt::Key_Return};
const Qt::Key kWindowKeys[] = {Qt::Key_F4,     Qt::Key_F5,    Qt::Key_F6, Qt::Key_Escape,
                               Qt::Key_Return, Qt::Key_Space, Qt::Key_A};

// The auxiliary window an action goes to: the modal one while it is shown,
// as it is the only one the operator can use.
AuxWindow& auxWindow(Run& r) {
  AuxWindow& drawn = r.aux[r.below(r.aux.size())];
  for (AuxWindow& a : r.aux)
    if (a.window == QApplication::activeModalWidget()) return a;
  return drawn;
}

// One of `items`, or null (said) when the window has none.
template <typename T>
T* drawnOf(Run& r, const std::vector<T*>& items, const AuxWindow& a, const char* what) {
  const std::uint32_t i = r.below(1000);
  if (items.empty()) r.say(QString("%1 in %2 (it has none)").arg(what, a.name));
  return items.empty() ? nullptr : items[i % items.size()];
}

QString nameOf(const QWidget* w) {
  return w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName();
}

// The whole table: what the operator can do, and how often. The main
// window's close (the title bar's, the only way to quit) is left out: the
// window must stay for the next action. Typing into the multicast field is
// left out too: joining a group from the machine's own network namespace
// would send membership reports out of it.
std::vector<Action> actionTable() {
  // The buttons of the four tabs (Lidar, Offline, Z540-K, Help) and their
  // weights.
  // clang-format off
  const std::pair<const char*, int> buttons[] = {
      {"toolButton_Lidar", 3}, {"tolbtn_LidarDataList", 1}, {"toolButton_MeaGrid", 2}, {"toolButton_Coor", 2},
      {"tolbtn_offdata", 3}, {"toolButton_selectCloud", 3}, {"toolButton_clear", 2}, {"toolButton_Open", 2},
      {"toolButton_Play", 5}, {"toolButton_SeekForward", 3}, {"toolButton_SeekBackward", 3},
      {"toolButton_GoToStart", 3}, {"toolButton_GoToEnd", 3}, {"toolButton_SavePcapData", 1}, {"Btn_Setting", 2},
      {"Btn_ACWPSetting", 2}, {"Btn_Channel", 1}, {"Btn_SaveCSV", 2}, {"toolButton_About", 1}};
  // clang-format on
  std::vector<Action> actions;
  for (const auto& [name, weight] : buttons) actions.push_back({name, weight, click(name)});
  const Action others[] = {
      {"list", 4,
       [](Run& r) {
         const char* names[] = {"comboBox_View", "comboBox_4", "comboBox_degree", "comboBox_agree"};
         const char* name = names[r.below(4)];
         keyInList(r, onItsTab(r.w, name), name);
       }},
      {"port field", 1,
       [](Run& r) {
         // The sensor's ports mostly; never a port some other program may use.
         const char* name = r.below(2) ? "lineEdit_portNumber" : "lineEdit";
         const std::pair<QString, QString> texts[] = {{r.dataPort, "the data port"},
                                                      {r.dataPort, "the data port"},
                                                      {r.statusPort, "the status port"},
                                                      {"0", {}},
                                                      {"", {}},
                                                      {"x1", {}},
                                                      {"99999", {}}};
         const auto& [text, shown] = texts[r.below(7)];
         typeInto(r, qobject_cast<QLineEdit*>(onItsTab(r.w, name)), text, name, shown);
       }},
      {"slider", 3,
       [](Run& r) {
         const Qt::Key keys[] = {Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home,
                                 Qt::Key_End,    Qt::Key_Left,     Qt::Key_Right};
         const Qt::Key key = keys[r.below(6)];
         QWidget* slider = onItsTab(r.w, "Slider_Frame");
         if (reach(r, slider, "key " + QKeySequence(key).toString() + " in Slider_Frame")) QTest::keyClick(slider, key);
       }},
      {"frame counter", 1,
       [](Run& r) {
         auto* spin = qobject_cast<QSpinBox*>(onItsTab(r.w, "Spbox_Frame"));
         const QString frame = QString::number(r.below(60));
         if (!reach(r, spin, "type " + frame + " in Spbox_Frame")) return;
         QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
         QTest::keyClicks(spin, frame);
         QTest::keyClick(spin, Qt::Key_Return);
       }},
      {"pick area", 6,
       [](Run& r) {
         // A rectangle around one of the points drawn (the room's walls;
         // the middle of the view when none is drawn), in selection mode.
         const std::uint32_t which = r.below(1000);
         const QPoint half(3 + r.below(100), 3 + r.below(100));
         const bool fromTopLeft = r.below(2);
         const std::vector<ColouredPoint> drawn = r.w.cloudView().displayedPoints();
         double x = r.screen->width() / 2.0, y = r.screen->height() / 2.0;
         if (!drawn.empty()) {
           const ScenePoint& p = drawn[which * drawn.size() / 1000].p;
           r.w.cloudView().sceneToWidget(p.x, p.y, p.z, x, y);
         }
         const QPoint centre = QPointF(x, y).toPoint(), from = fromTopLeft ? centre - half : centre + half;
         QWidget* select = onItsTab(r.w, "toolButton_selectCloud");
         if (!reach(r, select, "area pick " + xy(from) + "-" + xy(2 * centre - from) + " in the view")) return;
         if (!r.w.regionPicking().selecting()) QTest::mouseClick(select, Qt::LeftButton);
         dragInView(r, from, 2 * centre - from, Qt::LeftButton, Qt::NoModifier);
       }},
      {"drag", 3,
       [](Run& r) {
         const QPoint from = r.inScreen(), to = r.inScreen();
         const Qt::MouseButton button = kDragButtons[r.below(4)];
         const Qt::KeyboardModifiers modifiers = kDragModifiers[r.below(4)];
         if (reach(r, r.screen,
                   QString("drag %1-%2 with button %3, modifiers %4 in the view")
                       .arg(xy(from), xy(to))
                       .arg(int(button))
                       .arg(int(modifiers))))
           dragInView(r, from, to, button, modifiers);
       }},
      {"hover", 2,
       [](Run& r) {
         const QPoint at = r.inScreen();
         if (reach(r, r.screen, "move to " + xy(at) + " in the view"))
           mouseInView(r, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
       }},
      {"wheel", 2,
       [](Run& r) {
         const QPoint at = r.inScreen();
         const int delta = (static_cast<int>(r.below(7)) - 3) * 120;
         if (!reach(r, r.screen, QString("wheel %1 at %2 in the view").arg(delta).arg(xy(at)))) return;
         QWheelEvent e(at, r.screen->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
         QApplication::sendEvent(r.screen->embeddedOpenGLWindow(), &e);
       }},
      {"view key", 3,
       [](Run& r) {
         const Qt::Key key = kViewKeys[r.below(std::size(kViewKeys))];
         if (reach(r, r.screen, "key " + QKeySequence(key).toString() + " in the view"))
           QTest::keyClick(r.screen->embeddedOpenGLWindow(), key);
       }},
      {"window key", 1,
       [](Run& r) {
         const Qt::Key key = kWindowKeys[r.below(std::size(kWindowKeys))];
         if (reach(r, &r.w, "key " + QKeySequence(key).toString() + " in the main window")) QTest::keyClick(&r.w, key);
       }},
      {"point table", 1,
       [](Run& r) {
         auto* table = child<QTableView>(r.w, "tableView");
         const int scroll = r.below(40);
         const QPoint at(r.below(table->viewport()->width()), r.below(table->viewport()->height()));
         if (!reach(r, table, QString("scroll the point table to %1, click at %2").arg(scroll).arg(xy(at)))) return;
         table->verticalScrollBar()->setValue(scroll);
         QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, at);
       }},
      {"code entry", 1,
       [](Run& r) {
         // No control of the main window opens it.
         r.say("show the code entry");
         r.w.codeDialog().show();
       }},
      {"aux click", 8,
       [](Run& r) {
         AuxWindow& a = auxWindow(r);
         if (QAbstractButton* b = drawnOf(r, a.buttons, a, "click"))
           if (reach(r, b, QString("click %1 in %2").arg(nameOf(b), a.name))) QTest::mouseClick(b, Qt::LeftButton);
       }},
      {"aux type", 6,
       [](Run& r) {
         AuxWindow& a = auxWindow(r);
         QLineEdit* edit = drawnOf(r, a.edits, a, "type");
         const char* text = kTexts[r.below(std::size(kTexts))];
         if (edit) typeInto(r, edit, text, QString("%1 in %2").arg(nameOf(edit), a.name));
       }},
      {"aux list", 3,
       [](Run& r) {
         AuxWindow& a = auxWindow(r);
         if (QWidget* list = drawnOf(r, a.lists, a, "key in a list"))
           keyInList(r, list, QString("%1 in %2").arg(nameOf(list), a.name));
       }},
      {"aux close", 3,
       [](Run& r) {
         AuxWindow& a = auxWindow(r);
         if (reach(r, a.window, QString("close %1").arg(a.name))) a.window->close();
       }},
      {"progress box", 1,
       [](Run& r) {
         // A progress box shown: its Cancel button if it has one, else Escape.
         auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
         if (!progress) {
           r.say("cancel a progress box (none shown)");
           return;
         }
         r.say("cancel the progress box \"" + progress->windowTitle() + "\"");
         if (auto* cancel = progress->findChild<QPushButton*>())
           QTest::mouseClick(cancel, Qt::LeftButton);
         else
           QTest::keyClick(progress, Qt::Key_Escape);
       }},
      {"idle", 2,
       [](Run& r) {
         const int ms = 50 + r.below(950);
         r.say(QString("idle %1 ms").arg(ms));
         QTest::qWait(ms);
       }},
  };
  actions.insert(actions.end(), std::begin(others), std::end(others));
  return actions;
}

// The controls of an auxiliary window, in the order of its children: not
// the parts of another control (a spin box's or list's own edit, a tab
// bar's arrows), nor those left out by name.
AuxWindow controlsOf(const char* name, QWidget* window, const QStringList& leftOut = {}) {
  AuxWindow a{name, window, {}, {}, {}};
  auto own = [&](QWidget* c) {
    if (leftOut.contains(c->objectName())) return false;
    for (QWidget* p = c->parentWidget(); p && p != window; p = p->parentWidget())
      if (qobject_cast<QAbstractSpinBox*>(p) || qobject_cast<QComboBox*>(p) || qobject_cast<QTabBar*>(p)) return false;
    return true;
  };
  for (auto* b : window->findChildren<QAbstractButton*>())
    if (own(b)) a.buttons.push_back(b);
  for (auto* e : window->findChildren<QLineEdit*>())
    if (own(e)) a.edits.push_back(e);
  for (auto* c : window->findChildren<QComboBox*>())
    if (own(c)) a.lists.push_back(c);
  for (auto* t : window->findChildren<QTabBar*>()) a.lists.push_back(t);
  return a;
}

// The counts of the status line, in its order: datagrams, unrecognised,
// dropped by the kernel, lost on the wire, dropped at the hand-over, merged
// for display.
bool statusCounts(const QString& line, std::array<quint64, 6>& counts) {
  static const QRegularExpression pattern(
      "(\\d+) datagrams, (\\d+) unrecognised, (\\d+) dropped by the kernel, (\\d+) lost on the wire, (\\d+) dropped "
      "at the hand-over .*?(\\d+) frames? merged for display");
  const QRegularExpressionMatch m = pattern.match(line);
  if (!m.hasMatch()) return false;
  for (int i = 0; i < 6; ++i) counts[i] = m.captured(i + 1).toULongLong();
  return true;
}

// What is wrong with the status line's counts, if anything: they only
// grow, and none is ahead of where it is counted. `before` holds the counts
// of the last look; the display draws or merges only revolutions sent to it.
QString countsFault(manwindow& w, quint64 sent, std::array<quint64, 6>& before) {
  std::array<quint64, 6> now{};
  if (!statusCounts(w.statusLine(), now)) return "the status line has lost its counts: " + w.statusLine();
  const auto d = w.liveReceiver().datagramCounts();
  const std::array<quint64, 6> counted = {d.data + d.status + d.compact + d.other + d.anotherSensor,
                                          d.other,
                                          w.liveReceiver().kernelDrops(),
                                          w.liveReceiver().lostOnWire(),
                                          w.liveReceiver().recordsDropped(),
                                          w.frameDisplay().framesMerged()};
  for (int i = 0; i < 6; ++i)
    if (now[i] < before[i] || now[i] > counted[i])
      return QString("count %1 of the status line is %2, was %3, counted %4: ")
                 .arg(i)
                 .arg(now[i])
                 .arg(before[i])
                 .arg(counted[i]) +
             w.statusLine();
  if (now[1] > now[0]) return "more datagrams unrecognised than read: " + w.statusLine();
  const std::uint64_t drawn = w.frameDisplay().framesDrawn(), merged = w.frameDisplay().framesMerged();
  if (drawn + merged > sent)
    return QString("%1 frames drawn and %2 merged of %3 sent").arg(drawn).arg(merged).arg(sent);
  before = now;
  return {};
}

QString writeCapture(const QTemporaryDir& dir, const char* name, std::vector<std::string> options) {
  const QString path = dir.filePath(name);
  std::vector<std::string> args = {Z540K_SIM_PATH, "--quiet", "--layout", "1.7", "--write-pcap", path.toStdString()};
  args.insert(args.end(), options.begin(), options.end());
  if (Process(args).wait() != 0) qFatal("the simulator could not write %s", qPrintable(path));
  return path;
}

long long envOr(const char* name, long long fallback) {
  const QByteArray value = qgetenv(name);
  return value.isEmpty() ? fallback : value.toLongLong();
}

}  // namespace

int main(int argc, char** argv) {
  // The GPS test's logs go below the home folder: a folder of the run's own.
  QTemporaryDir home;
  qputenv("HOME", home.path().toLocal8Bit());
  PointCloudView::prepareSurfaceFormat();
  QApplication app(argc, argv);
  std::vector<std::string> args;
  for (const QString& a : app.arguments().mid(1)) args.push_back(a.toStdString());
  unsigned seed = 0;
  int seconds = 0, maxActions = 0;
  try {
    const Arguments options(args, {{"--seed", "N", "the random sequence (default 1)"},
                                   {"--seconds", "S", "how long to run (default 20)"},
                                   {"--actions", "N", "stop after N actions (default: no limit)"}});
    options.refusePositional();
    seed = static_cast<unsigned>(envOr("Z540K_RANDOM_INPUT_SEED", options.integer("--seed", 1, 0, 0xffffffffLL)));
    seconds = static_cast<int>(options.integer("--seconds", 20, 1, 86400));
    maxActions = static_cast<int>(options.integer("--actions", 0, 0, 100000000));
  } catch (const OptionError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  std::printf("seed %u, %d s (replay: window_random_input_tests --seed %u --seconds %d)\n", seed, seconds, seed,
              seconds);

  QTemporaryDir dir;
  const QString notACapture = dir.filePath("notes.pcap");
  QFile notes(notACapture);
  notes.open(QIODevice::WriteOnly);
  notes.write("not a capture\n");
  notes.close();

  SimulatedSensorFeed sensor(seconds + 120);
  HeldUdpPort restoreSink;  // where the advanced window's Restore sends
  MessageRecorder messages;
  StartupOptions startup = sensor.options();
  startup.factory = true;
  startup.captureDevice = "lo";
  manwindow w(startup);
  w.show();
  if (!QTest::qWaitForWindowExposed(&w)) qFatal("the window is not shown");
  std::atomic<quint64> emitted{0};  // revolutions handed to the window, counted as they are sent
  const auto count = [&emitted](const LidarDataSingleLine&) { ++emitted; };
  QObject::connect(&w.liveReceiver(), &GetlidarData_1::SendData, &w, count, Qt::DirectConnection);
  QObject::connect(&w.player(), &ReadLiveOffData::SendData, &w, count, Qt::DirectConnection);

  Run r{w, child<QVTKOpenGLStereoWidget>(w, "screen"), dir, std::mt19937(seed)};
  r.dataPort = QString::number(sensor.data.port());
  r.statusPort = QString::number(sensor.status.port());
  // Restore sends to the address typed in its window: the simulated sensor's
  // address and a port held for it, never typed over.
  auto* restoreIp = child<QLineEdit>(w.advancedSettings(), "lineEdit_DestIP");
  auto* restorePort = child<QLineEdit>(w.advancedSettings(), "lineEdit_DestPort");
  restoreIp->selectAll();
  QTest::keyClicks(restoreIp, "127.0.0.2");
  restorePort->selectAll();
  QTest::keyClicks(restorePort, QString::number(restoreSink.port()));
  r.aux = {controlsOf("the save-data options", &w.saveDataOptions()),
           controlsOf("the network settings", &w.networkSettings()),
           controlsOf("the channel selection", &w.laserSelection()),
           controlsOf("the code entry", &w.codeDialog()),
           controlsOf("the advanced window", &w.advancedSettings(), {"lineEdit_DestIP", "lineEdit_DestPort"}),
           controlsOf("About", &w.about())};
  const QString capture = writeCapture(dir, "room.pcap", {"--count", "400"});
  r.openAnswers = {capture,
                   capture,
                   writeCapture(dir, "dual.pcap", {"--count", "400", "--dual-return"}),
                   writeCapture(dir, "short.pcap", {"--count", "5"}),
                   "recording",  // the newest recording, perhaps still being written
                   notACapture,
                   dir.filePath("missing.pcap"),
                   ""};
  setFileDialogResponder([&r, capture](FileDialogKind kind, const QString& caption, const QString&, const QString&) {
    const std::uint32_t a = r.answer >> 2;
    QString path;
    if (kind == FileDialogKind::Open) {
      path = r.openAnswers[a % r.openAnswers.size()];
      if (path == "recording") path = r.lastRecording.isEmpty() ? capture : r.lastRecording;
    } else if (a % 6 != 0) {
      const char* const kinds[] = {".csv", ".csv", ".pcd", ".ply"};
      const QString ext = caption == "Save PCAP" ? ".pcap" : caption == "Save CSV" ? kinds[a / 6 % 4] : ".ini";
      path = r.dir.filePath(QString(a / 24 % 8 ? "file-%1%2" : "no-such-folder/file-%1%2").arg(++r.files).arg(ext));
      if (ext == ".pcap") r.lastRecording = path;
    }
    std::printf("   dialog \"%s\": %s\n", qPrintable(caption), path.isEmpty() ? "cancelled" : qPrintable(path));
    return path;
  });

  const std::vector<Action> table = actionTable();
  int totalWeight = 0;
  for (const Action& a : table) totalWeight += a.weight;
  const QMessageBox::StandardButton answers[] = {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No,
                                                 QMessageBox::Cancel};
  std::array<quint64, 6> counts{};
  std::size_t boxesShown = 0;
  QString failure;
  QElapsedTimer clock;
  clock.start();
  while (failure.isEmpty() && clock.elapsed() < seconds * 1000LL && (maxActions == 0 || r.action < maxActions)) {
    ++r.action;
    r.answer = r.rng();
    messages.answerWith(answers[r.answer % 4]);
    int drawn = static_cast<int>(r.below(totalWeight));
    const Action* chosen = &table.front();
    for (const Action& a : table)
      if ((drawn -= a.weight) < 0) {
        chosen = &a;
        break;
      }
    chosen->run(r);
    QTest::qWait(static_cast<int>(5 + r.below(40)));  // the operator's pace: frames arrive meanwhile
    for (; boxesShown < messages.messages.size(); ++boxesShown)
      std::printf("   box \"%s\": %s\n", qPrintable(messages.messages[boxesShown].title),
                  qPrintable(messages.messages[boxesShown].text.simplified()));

    failure = countsFault(w, emitted, counts);
  }

  // The window still draws: everything put back as the operator would, and
  // the sensor's frames drawn again.
  if (failure.isEmpty()) {
    r.say("end: windows closed, export and selection ended, display running, Lidar restarted");
    messages.answerWith(QMessageBox::Yes);
    for (AuxWindow& a : r.aux) a.window->close();
    if (!QTest::qWaitFor([&] { return !w.isLoadingCapture(); }, 30000)) failure = "a capture is still loading";
    if (w.csvExport().active()) child<QToolButton>(w, "Btn_SaveCSV")->click();
    if (w.regionPicking().selecting()) child<QToolButton>(w, "toolButton_selectCloud")->click();
    if (!w.frameDisplay().running()) child<QToolButton>(w, "tolbtn_offdata")->click();
    for (auto [name, port] : {std::pair{"lineEdit_portNumber", r.dataPort}, std::pair{"lineEdit", r.statusPort}}) {
      auto* edit = child<QLineEdit>(w, name);
      edit->selectAll();
      QTest::keyClicks(edit, port);
    }
    // Stopped and started again: the stop also ends a playback.
    if (!w.isLiveRunning()) child<QToolButton>(w, "toolButton_Lidar")->click();
    child<QToolButton>(w, "toolButton_Lidar")->click();
    child<QToolButton>(w, "toolButton_Lidar")->click();
    const std::uint64_t drawn = w.frameDisplay().framesDrawn();
    if (!QTest::qWaitFor([&] { return w.frameDisplay().framesDrawn() >= drawn + 3; }, 30000))
      failure = "no frame drawn after the end: " + w.statusLine();
    else if (!QTest::qWaitFor([&] { return w.statusLine().startsWith("Receiving on port " + r.dataPort); }, 30000))
      failure = "the status line does not say the data arrives: " + w.statusLine();
  }
  if (!failure.isEmpty()) {
    std::printf("FAILED after action #%d (seed %u): %s\n", r.action, seed, qPrintable(failure));
    return 1;
  }
  std::printf("passed: %d actions, %llu frames drawn, %zu message boxes (seed %u)\n", r.action,
              static_cast<unsigned long long>(w.frameDisplay().framesDrawn()), messages.messages.size(), seed);
  return 0;
}
