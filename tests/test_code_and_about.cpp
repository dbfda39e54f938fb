// The code entry dialog and the About window: their forms, the code handed
// on by OK and never by any other way of closing, and which version texts
// About shows before and after measurements arrived.
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

#include "About.h"
#include "CodeDialog.h"
#include "ResourceImage.h"
#include "WindowTestSupport.h"

using z540k::test::child;

namespace {

// About's value labels, and the version list entry each one shows.
const std::pair<const char*, int> kValueLabels[] = {
    {"label_3ndFPGAShftware", 1}, {"label_LidarNumber", 2},  {"label_2ndFPGA", 0},
    {"label_3ndFPGA", 1},         {"label_2ndHardware", 3},  {"label_3ndHardware", 4},
    {"label_emisionBoard", 5},    {"label_receiveBoard", 6}, {"label_structVer", 7},
};

const QStringList kFull = {"V1.2.3", "2024.3.9-V.1.2.3", "LD0042", "V1.1", "V2.2", "V3.3", "V4.4", "V5.5"};

// What each value label shows, in the order of kValueLabels.
QStringList valueTexts(About& about) {
  QStringList texts;
  for (const auto& [name, entry] : kValueLabels) texts << child<QLabel>(about, name)->text();
  return texts;
}

// The texts the labels show after `list` filled them over `before`.
QStringList filled(const QStringList& before, const QStringList& list) {
  QStringList texts = before;
  int i = 0;
  for (const auto& [name, entry] : kValueLabels) {
    if (entry < list.size()) texts[i] = list.at(entry);
    ++i;
  }
  return texts;
}

QStringList blank(const QString& text) {
  QStringList texts;
  for (size_t i = 0; i < std::size(kValueLabels); ++i) texts << text;
  return texts;
}

QStringList methodsOf(const QObject& object) {
  const QMetaObject* meta = object.metaObject();
  QStringList names;
  for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
    names << QString::fromLatin1(meta->method(i).methodSignature());
  return names;
}

// Types `text` key by key; a character without a key of its own (wide forms,
// Chinese) arrives as the text of a key event, as an input method gives it.
void typeInto(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    if (c.unicode() < 0x80)
      QTest::keyClick(widget, c.toLatin1());
    else
      QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }
}

QImage imageOf(const QIcon& icon) { return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32); }

}  // namespace

class CodeAndAboutTest : public QObject {
  Q_OBJECT
 private slots:
  // Each control's class and place, the code label's look (the texts are in
  // test_form_texts.cpp).
  void codeDialogForm_data() {
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");  // empty: placed by the layout of `widget`
    QTest::newRow("widget") << "QWidget" << QRect(20, 40, 261, 26);
    QTest::newRow("codelabel") << "QLabel" << QRect();
    QTest::newRow("lineEdit") << "QLineEdit" << QRect();
    QTest::newRow("pushButton_ok") << "QPushButton" << QRect(60, 100, 75, 23);
    QTest::newRow("pushButton_cancel") << "QPushButton" << QRect(180, 100, 75, 23);
  }
  void codeDialogForm() {
    QFETCH(QString, className);
    QFETCH(QRect, geometry);
    CodeDialog dialog;
    auto* w = child<QWidget>(dialog, QTest::currentDataTag());
    QCOMPARE(QString(w->metaObject()->className()), className);
    if (geometry.isValid()) {
      QCOMPARE(w->parentWidget(), &dialog);
      QCOMPARE(w->geometry(), geometry);
    } else {
      QCOMPARE(w->parentWidget()->objectName(), QString("widget"));
      QCOMPARE(w->parentWidget()->layout()->objectName(), QString("horizontalLayout"));
      QVERIFY(w->parentWidget()->layout()->indexOf(w) >= 0);
    }
    if (auto* label = qobject_cast<QLabel*>(w)) {
      QCOMPARE(label->textFormat(), Qt::RichText);
      QTextDocument doc;
      doc.setHtml(label->text());
      const QTextCharFormat format = doc.begin().begin().fragment().charFormat();
      QCOMPARE(format.fontPointSize(), 16.0);
      QVERIFY(format.fontWeight() > QFont::Normal);
      QCOMPARE(format.foreground().color(), QColor("#000000"));
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) QCOMPARE(edit->echoMode(), QLineEdit::Password);
  }

  void codeDialogWindow() {
    CodeDialog dialog;
    QCOMPARE(dialog.size(), QSize(300, 180));
    QCOMPARE(dialog.minimumSize(), QSize(300, 180));
    QCOMPARE(dialog.maximumSize(), QSize(300, 180));
    const QString sensor = z540k::resourceImage("image/Sensor.png");
    QVERIFY(!sensor.isEmpty());
    QCOMPARE(imageOf(dialog.windowIcon()), imageOf(QIcon(sensor)));
    QCOMPARE(methodsOf(dialog), (QStringList{"sendCode(QString)", "onOKClick()", "onCancelClick()"}));
  }

  // The operator types `typed` (masked), then ends the dialog by `action`;
  // only OK and Return hand the text on. The field is empty afterwards
  // whichever way the dialog closed.
  void codeDialogInput_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("sent");
    QTest::newRow("ok") << "1234abc"
                        << "pushButton_ok" << true;
    QTest::newRow("ok, wide characters") << "码Ａ9"
                                         << "pushButton_ok" << true;
    QTest::newRow("ok, empty field") << ""
                                     << "pushButton_ok" << true;
    QTest::newRow("return key") << "4321"
                                << "return" << true;
    QTest::newRow("cancel") << "1234"
                            << "pushButton_cancel" << false;
    QTest::newRow("cancel, empty field") << ""
                                         << "pushButton_cancel" << false;
    QTest::newRow("escape key") << "1234"
                                << "escape" << false;
    QTest::newRow("window closed") << "1234"
                                   << "close" << false;
  }
  void codeDialogInput() {
    QFETCH(QString, typed);
    QFETCH(QString, action);
    QFETCH(bool, sent);
    CodeDialog dialog;
    QSignalSpy spy(&dialog, &CodeDialog::sendCode);
    auto* edit = child<QLineEdit>(dialog, "lineEdit");
    for (int round = 0; round < 2; ++round) {  // the second opening starts afresh
      dialog.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dialog));
      QCOMPARE(edit->text(), QString());
      typeInto(edit, typed);
      QCOMPARE(edit->text(), typed);
      QVERIFY(typed.isEmpty() || !edit->displayText().contains(typed.at(0)));
      if (action == "return")
        QTest::keyClick(edit, Qt::Key_Return);
      else if (action == "escape")
        QTest::keyClick(edit, Qt::Key_Escape);
      else if (action == "close")
        dialog.close();
      else
        QTest::mouseClick(child<QPushButton>(dialog, action.toLatin1().constData()), Qt::LeftButton);
      QVERIFY(!dialog.isVisible());
      QCOMPARE(edit->text(), QString());
      QCOMPARE(spy.count(), sent ? 1 : 0);
      if (sent) QCOMPARE(spy.takeFirst().at(0).toString(), typed);
    }
  }

  // Each label's tab and whether it is hidden (the texts are in
  // test_form_texts.cpp).
  void aboutForm_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<bool>("hidden");
    const auto row = [](const char* name, int tab, bool hidden) { QTest::newRow(name) << tab << hidden; };
    row("label", 0, false);
    row("label_6", 0, false);
    for (const char* name : {"label_5", "label_7", "label_4"}) row(name, 1, false);
    for (const char* name : {"label_9", "label_11", "label_13", "label_15", "label_17"}) row(name, 1, true);
    for (const auto& [name, entry] : kValueLabels)  // entries 3..7 are the hidden rows
      row(name, name == kValueLabels[0].first ? 0 : 1, entry >= 3);
  }
  void aboutForm() {
    QFETCH(int, tab);
    QFETCH(bool, hidden);
    About about;
    auto* label = child<QLabel>(about, QTest::currentDataTag());
    QVERIFY(child<QTabWidget>(about, "tabWidget")->widget(tab)->isAncestorOf(label));
    QCOMPARE(label->isHidden(), hidden);
  }

  void aboutWindow() {
    About about;
    QCOMPARE(about.size(), QSize(553, 300));
    QVERIFY(!about.testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(!about.dataSeen());
    QCOMPARE(methodsOf(about), QStringList{"sSetVersion(QStringList)"});
  }

  // Version lists handed to sSetVersion in turn, with the window closed.
  void aboutVersions_data() {
    QTest::addColumn<QList<QStringList>>("lists");
    QTest::addColumn<QStringList>("expected");
    const QStringList shortList = {"V9.9", "2025.1.2-V.3.4.5", "LD0099"};
    QTest::newRow("none") << QList<QStringList>{} << blank("");
    QTest::newRow("full") << QList<QStringList>{kFull} << filled(blank(""), kFull);
    QTest::newRow("more than eight") << QList<QStringList>{kFull + QStringList{"extra"}} << filled(blank(""), kFull);
    QTest::newRow("short alone") << QList<QStringList>{shortList} << filled(blank(""), shortList);
    QTest::newRow("short after full") << QList<QStringList>{kFull, shortList}
                                      << filled(filled(blank(""), kFull), shortList);
    QTest::newRow("one entry after full")
        << QList<QStringList>{kFull, {"V7.7"}} << filled(filled(blank(""), kFull), {"V7.7"});
    QTest::newRow("empty alone") << QList<QStringList>{QStringList()} << blank("");
    QTest::newRow("empty after full") << QList<QStringList>{kFull, QStringList()} << filled(blank(""), kFull);
  }
  void aboutVersions() {
    QFETCH(QList<QStringList>, lists);
    QFETCH(QStringList, expected);
    About about;
    for (const QStringList& list : lists) about.sSetVersion(list);
    QCOMPARE(valueTexts(about), expected);
  }

  // Showing the window, twice: the labels are overwritten before each showing
  // to tell a refill from no change. Before measurements nothing changes;
  // after them the labels are filled from the last list that carried
  // versions, or, with none yet, only the software tab's FPGA version gets
  // its default text.
  void aboutShown_data() {
    QTest::addColumn<bool>("dataSeen");
    QTest::addColumn<QList<QStringList>>("lists");
    QTest::addColumn<QStringList>("expected");
    const QStringList shortList = {"V9.9", "2025.1.2-V.3.4.5"};
    QStringList fallback = blank("old");
    fallback[0] = "200.2.5-V3.0";
    QTest::newRow("no data, no list") << false << QList<QStringList>{} << blank("old");
    QTest::newRow("no data, full list") << false << QList<QStringList>{kFull} << blank("old");
    QTest::newRow("data, no list") << true << QList<QStringList>{} << fallback;
    QTest::newRow("data, empty list") << true << QList<QStringList>{QStringList()} << fallback;
    QTest::newRow("data, full") << true << QList<QStringList>{kFull} << filled(blank("old"), kFull);
    QTest::newRow("data, short after full")
        << true << QList<QStringList>{kFull, shortList} << filled(blank("old"), shortList);
    QTest::newRow("data, empty after full")
        << true << QList<QStringList>{kFull, QStringList()} << filled(blank("old"), kFull);
  }
  void aboutShown() {
    QFETCH(bool, dataSeen);
    QFETCH(QList<QStringList>, lists);
    QFETCH(QStringList, expected);
    About about;
    for (const QStringList& list : lists) about.sSetVersion(list);
    about.setDataSeen(dataSeen);
    QCOMPARE(about.dataSeen(), dataSeen);
    for (int round = 0; round < 2; ++round) {
      for (const auto& [name, entry] : kValueLabels) child<QLabel>(about, name)->setText("old");
      about.show();
      QCOMPARE(valueTexts(about), expected);
      about.close();
    }
  }
};

QTEST_MAIN(CodeAndAboutTest)
#include "test_code_and_about.moc"
