#include "ResourceImage.h"

#include <QFile>
#include <QLatin1String>

// Defined by the resource compiler for the icon collection.
static void initIconResources() { Q_INIT_RESOURCE(z540k_icons); }

namespace z540k {

void registerImages() {
  static const bool registered = (initIconResources(), true);
  (void)registered;
}

QString resourceImage(const QString& path) {
  static const QLatin1String prefix(":/image/Resources/images/");
  // The folders the windows name images by; anything else is not an image
  // of ours.
  static const QLatin1String folders[] = {
      QLatin1String(""),
      QLatin1String("./Resources/images/"),
      QLatin1String("Resources/images/"),
      QLatin1String("./Resources/image/"),
      QLatin1String("Resources/image/"),
      QLatin1String("./image/"),
      QLatin1String("image/"),
      QLatin1String(":/image/Resources/images/"),
  };

  registerImages();
  QString p = path;
  while (p.endsWith(QLatin1Char('.'))) p.chop(1);
  const int slash = p.lastIndexOf(QLatin1Char('/'));
  const QString folder = p.left(slash + 1);
  const QString name = p.mid(slash + 1);
  if (name.isEmpty()) return {};

  bool known = false;
  for (const QLatin1String& f : folders) known = known || folder == f;
  if (!known) return {};

  const QString resource = prefix + name;
  return QFile::exists(resource) ? resource : QString();
}

}  // namespace z540k
