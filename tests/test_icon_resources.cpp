// The images by the names the windows ask for: every one loads through its
// resource path and through resourceImage(), whatever the working directory.
#include <QCryptographicHash>
#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

#include "ResourceImage.h"

namespace {

// Names as the windows write them, and the image each must give.
const struct {
  const char* asked;
  const char* image;
} kNames[] = {
    {"DataList.png", "DataList.png"},
    {"Grid.png", "Grid.png"},
    {"Coordinate.png", "Coordinate.png"},
    {"Red.png", "Red.png"},
    {"Green.png", "Green.png"},
    {"select.png", "select.png"},
    {"clear.png", "clear.png"},
    {"OpenCaptureFile.png", "OpenCaptureFile.png"},
    {"Gotostart.png", "Gotostart.png"},
    {"Gotostop.png", "Gotostop.png"},
    {"Record.png", "Record.png"},
    {"InteractionSetUp.png", "InteractionSetUp.png"},
    {"AdvancedSetting.png", "AdvancedSetting.png"},
    {"Chanel.png", "Chanel.png"},
    {"Csv.png", "Csv.png"},
    {"About.png", "About.png"},
    {"User.png", "User.png"},
    {"Develop.png", "Develop.png"},
    {"Lidar.png", "Lidar.png"},
    {"zhengshi.png", "zhengshi.png"},
    {"fushi.png", "fushi.png"},
    {"zuoshi.png", "zuoshi.png"},
    {"Seekforward_2x.png", "Seekforward_2x.png"},
    {"Seekforward_3x.png", "Seekforward_3x.png"},
    {"Seekforward_0.5x.png", "Seekforward_0.5x.png"},
    {"Seekforward_0.25x.png.", "Seekforward_0.25x.png"},
    {"Seekbackward.png", "Seekbackward.png"},
    {"Seekbackward_2x.png", "Seekbackward_2x.png"},
    {"Seekbackward_3x.png", "Seekbackward_3x.png"},
    {"Seekbackward_0.5x.png", "Seekbackward_0.5x.png"},
    {"Seekbackward_0.25x.png", "Seekbackward_0.25x.png"},
    {"./Resources/images/Play.png", "Play.png"},
    {"./Resources/images/Pause.png", "Pause.png"},
    {"./Resources/images/Seekforward.png", "Seekforward.png"},
    {"./Resources/images/Seekbackward.png", "Seekbackward.png"},
    {"./Resources/images/YES.png", "YES.png"},
    {"./Resources/images/NO.png", "NO.png"},
    {"./Resources/images/5.png", "5.png"},
    {"./Resources/images/10.png", "10.png"},
    {"./Resources/images/20.png", "20.png"},
    {"./Resources/images/Run.png", "Run.png"},
    {"./Resources/images/Stop.png", "Stop.png"},
    {"./Resources/image/tavrel.png", "tavrel.png"},
    {"image/Sensor.png", "Sensor.png"},
    {"image/InteractionSetUp.png", "InteractionSetUp.png"},
    {"image/AdvancedSetting.png", "AdvancedSetting.png"},
    {":/image/Resources/images/Play.png", "Play.png"},
};

const QString kPrefix = QStringLiteral(":/image/Resources/images/");

QByteArray pixelHash(const QImage& image) {
  const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
  return QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(argb.constBits()), int(argb.sizeInBytes())),
                                  QCryptographicHash::Sha1);
}

}  // namespace

class IconResourceTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Resources must not depend on the working directory.
    QVERIFY(tmp.isValid());
    QVERIFY(QDir::setCurrent(tmp.path()));
  }

  void everyNameLoads_data() {
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("image");
    for (const auto& n : kNames) QTest::newRow(n.asked) << QString::fromUtf8(n.asked) << QString::fromUtf8(n.image);
  }

  void everyNameLoads() {
    QFETCH(QString, asked);
    QFETCH(QString, image);
    QCOMPARE(z540k::resourceImage(asked), kPrefix + image);

    const QImage direct(kPrefix + image);
    QVERIFY2(!direct.isNull(), qPrintable(kPrefix + image));
    QCOMPARE(direct.width(), direct.height());
    QVERIFY(direct.width() >= 32 && direct.width() <= 256);
    QVERIFY(direct.hasAlphaChannel());

    // A drawing, not an empty or a filled square: some pixels are
    // covered, and the corners stay clear.
    const QImage argb = direct.convertToFormat(QImage::Format_ARGB32);
    int covered = 0;
    for (int y = 0; y < argb.height(); ++y)
      for (int x = 0; x < argb.width(); ++x) covered += qAlpha(argb.pixel(x, y)) > 128;
    const int total = argb.width() * argb.height();
    QVERIFY2(covered > total / 20 && covered < total * 9 / 10, qPrintable(QString::number(covered)));
    QCOMPARE(qAlpha(argb.pixel(0, 0)), 0);

    QCOMPARE(pixelHash(QImage(z540k::resourceImage(asked))), pixelHash(direct));
    QVERIFY(!QIcon(kPrefix + image).pixmap(24, 24).isNull());
  }

  // A drawing copied by mistake shows the same picture under two names.
  void imagesAreDistinct() {
    QHash<QByteArray, QString> seen;
    const QStringList files = QDir(kPrefix).entryList(QDir::Files);
    QVERIFY(files.size() >= 40);
    for (const QString& f : files) {
      if (f.endsWith(QLatin1String(".png."))) continue;
      const QByteArray h = pixelHash(QImage(kPrefix + f));
      QVERIFY2(!seen.contains(h), qPrintable(f + QStringLiteral(" looks like ") + seen.value(h)));
      seen.insert(h, f);
    }
  }

  void unknownNamesGiveNothing() {
    for (const char* bad : {"", ".", "..", "Nothing.png", "./Resources/images/", "Play", "play.png",
                            "./Resources/images/../images/Play.png", "/Play.png", "../Play.png", "other/Play.png",
                            "Play.png/", ":/image/Resources/images/Nothing.png"})
      QVERIFY2(z540k::resourceImage(QString::fromUtf8(bad)).isEmpty(), bad);
    QVERIFY(QImage(z540k::resourceImage(QStringLiteral("Nothing.png"))).isNull());
    QVERIFY(QIcon(z540k::resourceImage(QStringLiteral("Nothing.png"))).isNull());
  }

 private:
  QTemporaryDir tmp;
};

int main(int argc, char** argv) {
  // Pixmaps need a GUI application; no display is needed.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  IconResourceTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_icon_resources.moc"
