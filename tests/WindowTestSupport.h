// Helpers of the window tests: a widget of a window by its object name.
#pragma once

#include <QObject>
#include <QWidget>
#include <QtGlobal>

namespace z540k::test {

// The child of `window` named `name` (the form's object names); a missing
// one ends the test at once with its name.
template <typename W = QWidget>
W* child(QObject& window, const char* name) {
  W* w = window.findChild<W*>(name);
  if (!w) qFatal("no widget %s", name);
  return w;
}

}  // namespace z540k::test
