// Build-time tool: renders the icon drawings (SVG) to PNG files, and on
// request draws a contact sheet of rendered icons for a visual check.
//
//   z540k-render-icons --size N --out DIR FILE.svg...   one DIR/FILE.png each
//   z540k-render-icons --sheet OUT.png FILE.png...      all icons on one page
//
// Exits non-zero, naming the file, when a drawing cannot be read or a PNG
// cannot be written, so a broken drawing stops the build.
#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QSvgRenderer>
#include <QTextStream>
#include <cstdio>

namespace {

int fail(const QString& message) {
  std::fprintf(stderr, "z540k-render-icons: %s\n", qPrintable(message));
  return 1;
}

int renderAll(int size, const QString& outDir, const QStringList& svgFiles) {
  if (!QDir().mkpath(outDir)) return fail(QStringLiteral("cannot create %1").arg(outDir));
  for (const QString& svg : svgFiles) {
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) return fail(QStringLiteral("%1 is not a readable SVG drawing").arg(svg));
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      renderer.render(&painter);
    }
    const QString png = QDir(outDir).filePath(QFileInfo(svg).completeBaseName() + QStringLiteral(".png"));
    if (!image.convertToFormat(QImage::Format_ARGB32).save(png, "PNG"))
      return fail(QStringLiteral("cannot write %1").arg(png));
  }
  return 0;
}

// Each icon at full size, at 32 and 24 pixels (as tool buttons and combo boxes
// show them) on a light and a dark ground, with its name.
int contactSheet(const QString& out, const QStringList& pngFiles) {
  const int cellW = 280, cellH = 96, columns = 4;
  const int rows = (pngFiles.size() + columns - 1) / columns;
  QImage sheet(columns * cellW, qMax(1, rows) * cellH, QImage::Format_ARGB32);
  sheet.fill(QColor(0xF4, 0xF4, 0xF4));
  QPainter painter(&sheet);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  for (int i = 0; i < pngFiles.size(); ++i) {
    const QImage icon(pngFiles[i]);
    if (icon.isNull()) return fail(QStringLiteral("cannot read %1").arg(pngFiles[i]));
    const int x = (i % columns) * cellW, y = (i / columns) * cellH;
    painter.drawImage(QRect(x + 6, y + 6, 64, 64), icon);
    painter.drawImage(QRect(x + 78, y + 6, 32, 32), icon);
    painter.drawImage(QRect(x + 118, y + 10, 24, 24), icon);
    painter.fillRect(QRect(x + 150, y + 2, 92, 40), QColor(0x30, 0x30, 0x30));
    painter.drawImage(QRect(x + 156, y + 6, 32, 32), icon);
    painter.drawImage(QRect(x + 200, y + 10, 24, 24), icon);
    painter.setPen(Qt::black);
    painter.drawText(QRect(x + 78, y + 44, cellW - 84, 40), Qt::AlignLeft | Qt::AlignVCenter,
                     QFileInfo(pngFiles[i]).fileName());
  }
  painter.end();
  if (!sheet.save(out, "PNG")) return fail(QStringLiteral("cannot write %1").arg(out));
  return 0;
}

int usage() { return fail(QStringLiteral("usage: --size N --out DIR FILE.svg... | --sheet OUT.png FILE.png...")); }

}  // namespace

int main(int argc, char** argv) {
  // Nothing is shown: the off-screen platform needs no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);

  if (args.size() >= 2 && args[0] == QLatin1String("--sheet")) {
    const QString out = args[1];
    return contactSheet(out, args.mid(2));
  }
  if (args.size() >= 4 && args[0] == QLatin1String("--size") && args[2] == QLatin1String("--out")) {
    bool ok = false;
    const int size = args[1].toInt(&ok);
    if (!ok || size < 8 || size > 1024) return usage();
    return renderAll(size, args[3], args.mid(4));
  }
  return usage();
}
