// Helpers of the window tests: a widget of a window by its object name, a
// receiver started as "Lidar" starts it, and an export started as the
// operator starts it.
#pragma once

#include <QLineEdit>
#include <QObject>
#include <QProcess>
#include <QPushButton>
#include <QToolButton>
#include <QWidget>
#include <QtGlobal>
#include <QtTest>
#include <cstdint>
#include <utility>

namespace z540k::test {

// Debian's Python run with `args`, without the sanitizers' runtime that
// sanitized builds preload into the tests that draw.
inline void startPython(QProcess& python, const QStringList& args) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove("LD_PRELOAD");
  python.setProcessEnvironment(environment);
  python.start("/usr/bin/python3", args);
}

// The child of `window` named `name` (the form's object names); a missing
// one ends the test at once with its name.
template <typename W = QWidget>
W* child(QObject& window, const char* name) {
  W* w = window.findChild<W*>(name);
  if (!w) qFatal("no widget %s", name);
  return w;
}

// Each "FIELD=TEXT" of `edits` typed into lineEdit_FIELD as a person types
// (everything selected and deleted, then key by key), no keystroke dropped;
// the tool's option for FIELD (`options`) and TEXT appended to `args`.
template <typename Options, typename Args>
void typeFieldEdits(QWidget& window, const QStringList& edits, const Options& options, Args& args) {
  for (const QString& edit : edits) {
    const QString field = edit.section('=', 0, 0), typed = edit.section('=', 1);
    auto* line = child<QLineEdit>(window, qPrintable("lineEdit_" + field));
    QTest::keyClick(line, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(line, Qt::Key_Backspace);
    QTest::keyClicks(line, typed);
    QCOMPARE(line->text(), typed);
    args.insert(args.end(), {options.value(field), typed.toStdString()});
  }
}

// A receiver thread started on `port` as "Lidar" starts it (a socket that
// does not open ends the test).
template <typename Receiver>
void startReceiver(Receiver& receiver, std::uint16_t port) {
  QVERIFY2(receiver.start({port, {}}), qPrintable(receiver.socketError()));
}

// "SaveData" pressed in the main window `window`, then the save-data options
// typed and confirmed; the file dialog's answer is the test's own.
template <typename MainWindow>
void startExport(MainWindow& window, const QString& frames, const QString& angleMin, const QString& angleMax) {
  child<QToolButton>(window, "Btn_SaveCSV")->click();
  QWidget& options = window.saveDataOptions();
  QVERIFY(options.isVisible());
  for (auto [name, text] : {std::pair<const char*, QString>{"lineEdit_freamCount", frames},
                            {"lineEdit_AngleMin", angleMin},
                            {"lineEdit_AngleMax", angleMax}}) {
    auto* edit = child<QLineEdit>(options, name);
    edit->clear();
    QTest::keyClicks(edit, text);
  }
  QTest::mouseClick(child<QPushButton>(options, "pushButton_ok"), Qt::LeftButton);
}

}  // namespace z540k::test
