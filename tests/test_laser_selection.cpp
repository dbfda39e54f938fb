// The laser channel selection window: its form, the quick selections with
// their shared toggle phase, the channel flags taken on OK only, and the angle
// column per vertical layout.
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTableWidget>
#include <QtTest>

#include "Form_QLaserSelection.h"
#include "ResourceImage.h"
#include "WindowTestSupport.h"

using z540k::test::child;

namespace {

const QStringList kMode0 = {"-15", "-13", "-11", "-9", "-7", "-5", "-3", "-1",
                            "1",   "3",   "5",   "7",  "9",  "11", "13", "15"};
const QStringList kMode1 = {"-10",   "-8.665", "-7.33", "-6",    "-4.665", "-3.33", "-2",    "-0.665",
                            "0.665", "2",      "3.33",  "4.665", "6",      "7.33",  "8.665", "10"};
const QStringList kChannels = {"0", "2", "4", "6", "8", "10", "12", "14", "1", "3", "5", "7", "9", "11", "13", "15"};

QTableWidget* tableOf(Form_QLaserSelection& form) { return child<QTableWidget>(form, "tableWidget_laserselection"); }

QStringList column(Form_QLaserSelection& form, int col) {
  QStringList texts;
  QTableWidget* table = tableOf(form);
  for (int row = 0; row < table->rowCount(); ++row)
    texts << (table->item(row, col) ? table->item(row, col)->text() : "");
  return texts;
}

// The channel boxes as a row of '1' (checked) and '0'.
QString boxes(Form_QLaserSelection& form) {
  QString marks;
  QTableWidget* table = tableOf(form);
  for (int row = 0; row < table->rowCount(); ++row) {
    auto* box = qobject_cast<QCheckBox*>(table->cellWidget(row, 0));
    marks += box ? (box->isChecked() ? '1' : '0') : '?';
  }
  return marks;
}

QString flags(const Form_QLaserSelection& form) {
  QString marks;
  for (int flag : form.channelFlags()) marks += QString::number(flag);
  return marks;
}

const QString kAll = QString(16, '1');
const QString kNone = QString(16, '0');
const QString kEven = QString("10").repeated(8);
const QString kOdd = QString("01").repeated(8);

// Where a click toggles `button`: a check box's indicator (the channel boxes
// have no text), a push button's middle.
QPoint clickPoint(QAbstractButton* button) {
  if (auto* box = qobject_cast<QCheckBox*>(button)) {
    QStyleOptionButton option;
    option.initFrom(box);
    return box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box).center();
  }
  return button->rect().center();
}

QImage imageOf(const QIcon& icon) { return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32); }

}  // namespace

class LaserSelectionTest : public QObject {
  Q_OBJECT
 private slots:
  // Each control's class, place and check (the texts are in test_form_texts.cpp).
  void form_data() {
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<bool>("checked");
    QTest::newRow("checkBox") << "QCheckBox" << QRect(10, 10, 131, 16) << true;
    QTest::newRow("pushButton_toggleselection") << "QPushButton" << QRect(230, 10, 221, 23) << false;
    QTest::newRow("tableWidget_laserselection") << "QTableWidget" << QRect(0, 40, 471, 421) << false;
    QTest::newRow("checkBox_2") << "QCheckBox" << QRect(20, 469, 191, 31) << false;
    QTest::newRow("pushButton_OK") << "QPushButton" << QRect(290, 470, 75, 23) << false;
    QTest::newRow("pushButton_Cancel") << "QPushButton" << QRect(390, 470, 75, 23) << false;
  }
  void form() {
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    QFETCH(bool, checked);
    Form_QLaserSelection form;
    auto* w = child<QWidget>(form, QTest::currentDataTag());
    QCOMPARE(QString(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget(), &form);
    QCOMPARE(w->geometry(), geometry);
    if (auto* button = qobject_cast<QAbstractButton*>(w)) QCOMPARE(button->isChecked(), checked);
  }

  void window() {
    Form_QLaserSelection form;
    QCOMPARE(form.size(), QSize(471, 502));
    QCOMPARE(form.minimumSize(), QSize(471, 502));
    QCOMPARE(form.maximumSize(), QSize(471, 502));
    QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!form.testAttribute(Qt::WA_QuitOnClose));
    const QString sensor = z540k::resourceImage("image/Sensor.png");
    QVERIFY(!sensor.isEmpty());
    QCOMPARE(imageOf(form.windowIcon()), imageOf(QIcon(sensor)));

    const QMetaObject* meta = form.metaObject();
    QStringList methods;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
      QCOMPARE(meta->method(i).methodType(), QMetaMethod::Slot);
      methods << QString::fromLatin1(meta->method(i).methodSignature());
    }
    QCOMPARE(methods, (QStringList{"onCancel_Clicked()", "onOk_Clicked()", "Checkstate()", "Checkstate2()", "Parity()",
                                   "ReceiveDegreeMode(int)"}));

    QTableWidget* table = tableOf(form);
    QCOMPARE(table->rowCount(), 16);
    QCOMPARE(table->columnCount(), 3);
    QVERIFY(table->verticalHeader()->isHidden());
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectItems);
    QCOMPARE(table->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(column(form, 1), kMode0);
    QCOMPARE(column(form, 2), kChannels);
    QCOMPARE(boxes(form), kAll);
    QCOMPARE(flags(form), kAll);
    QCOMPARE(form.degreeMode(), 0);
  }

  // Clicks in turn: "all" (All/All no choice), "switch", "future"
  // (Applicable to future dialogs), "rowN" (row N's channel box), "ok",
  // "cancel" (which closes; the window is shown again before the next click).
  void selections_data() {
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QString>("expectedBoxes");
    QTest::addColumn<QString>("expectedFlags");
    QTest::addColumn<bool>("allTicked");
    QTest::newRow("new, ok") << QStringList{"ok"} << kAll << kAll << true;
    QTest::newRow("all, ok") << QStringList{"all", "ok"} << kNone << kNone << false;
    QTest::newRow("all twice") << QStringList{"all", "all", "ok"} << kAll << kAll << true;
    QTest::newRow("switch") << QStringList{"switch", "ok"} << kEven << kEven << true;
    QTest::newRow("switch twice") << QStringList{"switch", "switch", "ok"} << kOdd << kOdd << true;
    // One phase for both: after a switch, the all box selects every row
    // although its own tick goes off.
    QTest::newRow("switch, all") << QStringList{"switch", "all", "ok"} << kAll << kAll << false;
    QTest::newRow("all, switch") << QStringList{"all", "switch", "ok"} << kOdd << kOdd << false;
    QTest::newRow("by hand") << QStringList{"row3", "row15", "row3", "row8", "ok"} << "1111111101111110"
                             << "1111111101111110" << true;
    QTest::newRow("future box") << QStringList{"row0", "future", "future", "ok"} << "0" + kAll.mid(1)
                                << "0" + kAll.mid(1) << true;
    QTest::newRow("cancel keeps last ok") << QStringList{"switch", "ok", "all", "cancel"} << kAll << kEven << false;
    QTest::newRow("cancel before any ok") << QStringList{"all", "cancel", "ok"} << kNone << kNone << false;
    QTest::newRow("ok twice") << QStringList{"all", "ok", "row5", "ok"} << "0000010000000000"
                              << "0000010000000000" << false;
  }
  void selections() {
    QFETCH(QStringList, clicks);
    QFETCH(QString, expectedBoxes);
    QFETCH(QString, expectedFlags);
    QFETCH(bool, allTicked);
    Form_QLaserSelection form;
    QTableWidget* table = tableOf(form);
    for (const QString& click : clicks) {
      if (!form.isVisible()) {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
      }
      QAbstractButton* target = nullptr;
      if (click == "all")
        target = child<QCheckBox>(form, "checkBox");
      else if (click == "switch")
        target = child<QPushButton>(form, "pushButton_toggleselection");
      else if (click == "future")
        target = child<QCheckBox>(form, "checkBox_2");
      else if (click == "ok")
        target = child<QPushButton>(form, "pushButton_OK");
      else if (click == "cancel")
        target = child<QPushButton>(form, "pushButton_Cancel");
      else
        target = qobject_cast<QCheckBox*>(table->cellWidget(click.mid(3).toInt(), 0));
      QVERIFY2(target, qPrintable(click));
      if (click.startsWith("row")) table->scrollTo(table->model()->index(click.mid(3).toInt(), 0));
      QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, clickPoint(target));
      QCOMPARE(form.isVisible(), click != "cancel");  // OK leaves the window open
    }
    QCOMPARE(boxes(form), expectedBoxes);
    QCOMPARE(flags(form), expectedFlags);
    QCOMPARE(child<QCheckBox>(form, "checkBox")->isChecked(), allTicked);
    // Shown again, the window keeps its boxes.
    form.close();
    form.show();
    QCOMPARE(boxes(form), expectedBoxes);
  }

  // Modes received in turn: the angle column each leaves, with the boxes and
  // channel numbers untouched.
  void degreeModes_data() {
    QTest::addColumn<QList<int>>("modes");
    QTest::addColumn<QStringList>("angles");
    QTest::newRow("1") << QList<int>{1} << kMode1;
    QTest::newRow("1, 0") << QList<int>{1, 0} << kMode0;
    QTest::newRow("2") << QList<int>{2} << kMode0;
    QTest::newRow("1, 2") << QList<int>{1, 2} << kMode1;
    QTest::newRow("1, -1") << QList<int>{1, -1} << kMode1;
  }
  void degreeModes() {
    QFETCH(QList<int>, modes);
    QFETCH(QStringList, angles);
    Form_QLaserSelection form;
    form.Parity();  // boxes that are not the initial ones
    for (int mode : modes) form.ReceiveDegreeMode(mode);
    QCOMPARE(form.degreeMode(), modes.last());
    QCOMPARE(column(form, 1), angles);
    QCOMPARE(column(form, 2), kChannels);
    QCOMPARE(boxes(form), kEven);
    QCOMPARE(flags(form), kAll);
  }

  // The angle and channel cells show the sensor's layout: typing over them
  // changes nothing.
  void cellsNotEditable_data() {
    QTest::addColumn<int>("col");
    QTest::newRow("angle") << 1;
    QTest::newRow("channel") << 2;
  }
  void cellsNotEditable() {
    QFETCH(int, col);
    Form_QLaserSelection form;
    form.ReceiveDegreeMode(1);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTableWidget* table = tableOf(form);
    // Types into the editor, had one opened, and commits with Return; the
    // delegate commits later from the event loop, so wait for the editor to go.
    const auto typeAndCommit = [table](const QString& text) {
      QPointer<QLineEdit> editor = table->findChild<QLineEdit*>();
      if (!editor) return true;
      QTest::keyClicks(editor, text);
      QTest::keyClick(editor, Qt::Key_Return);
      return QTest::qWaitFor([&] { return editor.isNull(); });
    };
    table->setCurrentCell(4, col);
    QTest::keyClick(table, Qt::Key_9);  // starts editing an editable cell
    QVERIFY(typeAndCommit("9"));
    QCOMPARE(column(form, 1), kMode1);
    QCOMPARE(column(form, 2), kChannels);
  }
};

QTEST_MAIN(LaserSelectionTest)
#include "test_laser_selection.moc"
