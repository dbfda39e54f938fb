// The save-data options window: its form, and what OK and Cancel emit or
// refuse, driven through the widgets as the operator would.
#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "MessageRecorder.h"
#include "ProcessTestSupport.h"
#include "SaveDataOptions.h"

using z540k::MessageKind;
using z540k::test::MessageRecorder;
using z540k::test::Process;

namespace {

// The azimuths (column 6) of a CSV export's rows.
QList<double> azimuthsOf(const QString& path) {
  QFile file(path);
  QList<double> azimuths;
  if (!file.open(QIODevice::ReadOnly)) return azimuths;
  file.readLine();  // the header
  while (!file.atEnd()) azimuths << QString(file.readLine()).section(',', 5, 5).toDouble();
  return azimuths;
}

}  // namespace

class SaveDataOptionsTest : public QObject {
  Q_OBJECT

  template <typename T>
  static T* child(QWidget& window, const char* name) {
    return window.findChild<T*>(QString::fromLatin1(name));
  }

  // Shows the window, types each non-null text into its field (cleared
  // first) and clicks `button`.
  static void fillAndClick(SaveDataOptions& window, const QString& count, const QString& min, const QString& max,
                           const char* button) {
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const std::pair<const char*, QString> fields[] = {
        {"lineEdit_freamCount", count}, {"lineEdit_AngleMin", min}, {"lineEdit_AngleMax", max}};
    for (const auto& [name, text] : fields) {
      if (text.isNull()) continue;
      auto* edit = child<QLineEdit>(window, name);
      edit->clear();
      QTest::keyClicks(edit, text);
    }
    QTest::mouseClick(child<QPushButton>(window, button), Qt::LeftButton);
  }

 private slots:
  void initTestCase() {
    qRegisterMetaType<QList<int>>();
    QVERIFY(dir_.isValid());
    capture_ = dir_.filePath("room.pcap");
    QCOMPARE(
        Process({Z540K_SIM_PATH, "--quiet", "--count", "12", "--layout", "1.7", "--write-pcap", capture_.toStdString()})
            .wait(),
        0);
    // Every row of the first frame, to pick the rows of each range from.
    const QString all = dir_.filePath("all.csv");
    QCOMPARE(toolExport(all, "0", "360").wait(), 0);
    allAzimuths_ = azimuthsOf(all);
    QVERIFY(allAzimuths_.size() > 1000);
  }

  // Each control's class and cell (the texts are in test_form_texts.cpp).
  void form_data() {
    QTest::addColumn<QString>("className");
    QTest::addColumn<QList<int>>("cell");  // row, column, row span, column span
    const auto row = [](const char* name, const char* cls, QList<int> cell) {
      QTest::newRow(name) << QString(cls) << cell;
    };
    row("label", "QLabel", {0, 0, 1, 2});
    row("lineEdit_freamCount", "QLineEdit", {0, 2, 1, 3});
    row("label_2", "QLabel", {1, 0, 1, 2});
    row("lineEdit_AngleMin", "QLineEdit", {1, 2, 1, 1});
    row("label_3", "QLabel", {1, 3, 1, 1});
    row("lineEdit_AngleMax", "QLineEdit", {1, 4, 1, 1});
    row("pushButton_cancel", "QPushButton", {2, 2, 1, 1});
    row("pushButton_ok", "QPushButton", {2, 4, 1, 1});
  }
  void form() {
    QFETCH(QString, className);
    QFETCH(QList<int>, cell);
    SaveDataOptions window;
    auto* widget = child<QWidget>(window, QTest::currentDataTag());
    QVERIFY(widget);
    QCOMPARE(QString(widget->metaObject()->className()), className);
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      QCOMPARE(edit->alignment(), Qt::AlignCenter);
      QVERIFY(!edit->validator());
      QVERIFY(edit->inputMask().isEmpty());
    }
    auto* grid = child<QGridLayout>(window, "gridLayout");
    QVERIFY(grid);
    QCOMPARE(window.layout(), grid);
    const int index = grid->indexOf(widget);
    QVERIFY(index >= 0);
    int r, c, rs, cs;
    grid->getItemPosition(index, &r, &c, &rs, &cs);
    QCOMPARE((QList<int>{r, c, rs, cs}), cell);
  }

  void window() {
    SaveDataOptions window;
    QCOMPARE(window.objectName(), QString("SaveDataOptions"));
    QCOMPARE(window.size(), QSize(515, 207));
    auto* ok = child<QPushButton>(window, "pushButton_ok");
    QCOMPARE(ok->minimumWidth(), 90);
    QCOMPARE(ok->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(ok->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    const QMetaObject* meta = window.metaObject();
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 3);
    const char* expected[] = {"sendOptions(bool,int,float,float,QList<int>)", "onCancel_Clicked()", "onOk_Clicked()"};
    for (int i = 0; i < 3; ++i)
      QCOMPARE(meta->method(meta->methodOffset() + i).methodSignature(), QByteArray(expected[i]));
  }

  // A null text leaves the field as the form set it. An empty `message`
  // means the values are emitted; otherwise that warning is the only box.
  void ok_data() {
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("min");
    QTest::addColumn<QString>("max");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("freams");
    QTest::addColumn<float>("angleMin");
    QTest::addColumn<float>("angleMax");
    const QString none;
    const auto accept = [](const char* tag, QString c, QString lo, QString hi, int n, float a, float b) {
      QTest::newRow(tag) << c << lo << hi << QString() << n << a << b;
    };
    const auto refuse = [](const char* tag, QString c, QString lo, QString hi, const char* message) {
      QTest::newRow(tag) << c << lo << hi << QString(message) << 0 << 0.f << 0.f;
    };
    accept("form defaults", none, none, none, 1, 0.f, 360.f);
    accept("empty count becomes 1", "", "0", "360", 1, 0.f, 360.f);
    accept("count and range", "25", "12.5", "180", 25, 12.5f, 180.f);
    accept("single angle widened", "1", "10", "10", 1, 9.5f, 10.5f);
    accept("0 to 0 widened below 0", "1", "0", "0", 1, -0.5f, 0.5f);
    accept("360 to 360 widened past 360", "1", "360", "360", 1, 359.5f, 360.5f);
    accept("angle text reads as 0", "1", "abc", "90", 1, 0.f, 90.f);
    const char* badCount = "Fream count must be 1 or more";
    refuse("count 0", "0", "0", "360", badCount);
    refuse("count abc", "abc", "0", "360", badCount);
    refuse("count -5", "-5", "0", "360", badCount);
    refuse("count checked before empty angle", "0", "", "360", badCount);
    refuse("min empty", "1", "", "10", "Angle range can not be empty");
    refuse("max empty beside invalid min", "1", "400", "", "Angle range can not be empty");
    refuse("min above 360", "1", "370", "10", "Invalid angle");
    refuse("max above 360", "1", "0", "360.5", "Invalid angle");
    refuse("min below 0", "1", "-1", "10", "Invalid angle");
    refuse("max not a number (nan)", "1", "0", "nan", "Invalid angle");
    refuse("min above max", "1", "20", "10", "Angle range invalid");
  }
  void ok() {
    QFETCH(QString, count);
    QFETCH(QString, min);
    QFETCH(QString, max);
    QFETCH(QString, message);
    MessageRecorder boxes;
    SaveDataOptions window;
    QSignalSpy spy(&window, &SaveDataOptions::sendOptions);
    fillAndClick(window, count, min, max, "pushButton_ok");
    if (QTest::currentTestFailed()) return;

    if (!message.isEmpty()) {
      QCOMPARE(boxes.messages.size(), size_t(1));
      QCOMPARE(boxes.last().kind, MessageKind::Warning);
      QCOMPARE(boxes.last().title, QString("Warning"));
      QCOMPARE(boxes.last().text, message);
      QCOMPARE(spy.count(), 0);
      QVERIFY(window.isVisible());
      QCOMPARE(child<QLineEdit>(window, "lineEdit_freamCount")->text(), count);  // nothing cleared
      QCOMPARE(child<QLineEdit>(window, "lineEdit_AngleMin")->text(), min);
      QCOMPARE(child<QLineEdit>(window, "lineEdit_AngleMax")->text(), max);
      // The tool refuses the same range with the same words.
      if (toolTakes(count, min, max)) {
        Process tool = toolExport(dir_.filePath("refused.csv"), min, max);
        QCOMPARE(tool.wait(), 2);
        QVERIFY2(QString::fromStdString(tool.err()).contains(": " + message + " ("), tool.err().c_str());
      }
      return;
    }
    QFETCH(int, freams);
    QFETCH(float, angleMin);
    QFETCH(float, angleMax);
    QVERIFY(boxes.messages.empty());
    QCOMPARE(spy.count(), 1);
    const QList<QVariant> args = spy.takeFirst();
    QCOMPARE(args.at(0).toBool(), true);
    QCOMPARE(args.at(1).toInt(), freams);
    QCOMPARE(args.at(2).value<float>(), angleMin);
    QCOMPARE(args.at(3).value<float>(), angleMax);
    QCOMPARE(args.at(4).value<QList<int>>(), QList<int>{0});
    QVERIFY(!window.isVisible());
    if (count.isEmpty()) QCOMPARE(child<QLineEdit>(window, "lineEdit_freamCount")->text(), QString("1"));
    // The tool writes the rows of the range the dialog hands on.
    if (toolTakes(count, min, max)) {
      const QString csv = dir_.filePath("range.csv");
      QCOMPARE(toolExport(csv, min.isNull() ? "0" : min, max.isNull() ? "360" : max).wait(), 0);
      QList<double> expected;
      for (const double a : allAzimuths_)
        if (a >= angleMin && a <= angleMax) expected << a;
      QCOMPARE(azimuthsOf(csv), expected);
    }
  }

  // Cancel hands on the neutral values whatever the fields hold, checks
  // nothing and leaves the fields as typed.
  void cancel() {
    MessageRecorder boxes;
    SaveDataOptions window;
    QSignalSpy spy(&window, &SaveDataOptions::sendOptions);
    fillAndClick(window, "-5", "", "abc", "pushButton_cancel");
    if (QTest::currentTestFailed()) return;
    QVERIFY(boxes.messages.empty());
    QCOMPARE(spy.count(), 1);
    const QList<QVariant> args = spy.takeFirst();
    QCOMPARE(args.at(0).toBool(), false);
    QCOMPARE(args.at(1).toInt(), 1);
    QCOMPARE(args.at(2).value<float>(), 0.f);
    QCOMPARE(args.at(3).value<float>(), 360.f);
    QVERIFY(args.at(4).value<QList<int>>().isEmpty());
    QVERIFY(!window.isVisible());
    QCOMPARE(child<QLineEdit>(window, "lineEdit_freamCount")->text(), QString("-5"));
    QCOMPARE(child<QLineEdit>(window, "lineEdit_AngleMax")->text(), QString("abc"));
  }

 private:
  // export-csv of the capture's first frame within an angle range.
  Process toolExport(const QString& csv, const QString& min, const QString& max) {
    return Process({Z540K_TOOL_PATH, "export-csv", capture_.toStdString(), csv.toStdString(), "--layout", "1.7",
                    "--frames", "1", "--angle-min", min.toStdString(), "--angle-max", max.toStdString()});
  }
  // The rows the tool can be given: angles as numbers (the dialog reads any
  // other text as 0, the tool refuses it) and a count the dialog takes.
  static bool toolTakes(const QString& count, const QString& min, const QString& max) {
    bool numbers = true;
    for (const QString& angle : {min, max})
      if (!angle.isNull()) {
        bool ok = false;
        angle.toDouble(&ok);
        numbers = numbers && ok && angle != "nan";
      }
    return numbers && (count.isNull() || count.isEmpty() || count.toInt() >= 1);
  }

  QTemporaryDir dir_;
  QString capture_;
  QList<double> allAzimuths_;
};

QTEST_MAIN(SaveDataOptionsTest)
#include "test_save_data_options.moc"
