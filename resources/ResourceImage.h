#pragma once
// The program's images and icons, compiled into the program as Qt resources.
//
// Every image is held under ":/image/Resources/images/", e.g.
// QIcon(":/image/Resources/images/Play.png"). The windows also name images by
// paths relative to the program ("./Resources/images/Play.png",
// "./Resources/image/tavrel.png", "image/Sensor.png"); resourceImage() turns
// those into the resource path, so nothing depends on the working directory
// or on a folder beside the program.
//
// Including this header keeps the images linked in and registered before
// main(), also for code that only uses the ":/..." paths directly.
#include <QString>

namespace z540k {

// The resource path of the image named by `path`, or an empty string when
// there is no such image. Accepted: a bare file name ("Play.png"), the
// relative folders "./Resources/images/", "./Resources/image/", "image/"
// (with or without the leading "./"), and the resource path itself. Trailing
// points after the file name ("Seekforward_0.25x.png.") are ignored.
QString resourceImage(const QString& path);

// Registers the images with Qt's resource system; idempotent. Called before
// main() through this header.
void registerImages();

namespace detail {
struct ImageRegistration {
  ImageRegistration() { registerImages(); }
};
// One per translation unit that includes this header; all are cheap.
static const ImageRegistration imageRegistration;
}  // namespace detail

}  // namespace z540k
