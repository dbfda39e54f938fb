// manwindow's aids for the operator: the keyboard, and a capture file dropped
// onto the window.
#include <QBoxLayout>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QShortcut>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QUrl>

#include "PointCloudView.h"
#include "manwindow.h"

using namespace z540k;

namespace {
// The one local file a drag carries, or nothing.
QString droppedFile(const QMimeData* mime) {
  if (mime == nullptr || !mime->hasUrls() || mime->urls().size() != 1) return {};
  const QUrl url = mime->urls().front();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}
}  // namespace

// Each key does what its button does, through the button, so a disabled
// button's key does nothing either. The plain keys give way to a field being
// typed in: a line edit or spin box with the focus takes them itself.
void manwindow::addShortcuts() {
  auto add = [this](const QKeySequence& keys, QAbstractButton* button, auto action) {
    auto* shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, this, action);
    if (button != nullptr)
      button->setToolTip((button->toolTip().isEmpty() ? button->text() : button->toolTip()) + " (" +
                         keys.toString(QKeySequence::NativeText) + ")");
  };
  // Space: Play/Pause of a capture loaded, else the live view's Pause.
  add(QKeySequence(Qt::Key_Space), ui.toolButton_Play, [this] {
    if (playback_.loaded())
      ui.toolButton_Play->click();
    else
      ui.tolbtn_offdata->click();
  });
  ui.tolbtn_offdata->setToolTip(ui.tolbtn_offdata->text().trimmed() + " (Space)");
  add(QKeySequence(Qt::Key_Left), ui.toolButton_GoToStart, [this] { ui.toolButton_GoToStart->click(); });
  add(QKeySequence(Qt::Key_Right), ui.toolButton_GoToEnd, [this] { ui.toolButton_GoToEnd->click(); });
  add(QKeySequence(Qt::Key_Home), nullptr, [this] { showFirstOrLastFrame(false); });
  add(QKeySequence(Qt::Key_End), nullptr, [this] { showFirstOrLastFrame(true); });
  ui.Spbox_Frame->setToolTip("Frame (Home: first, End: last)");
  add(QKeySequence::Open, ui.toolButton_Open, [this] { ui.toolButton_Open->click(); });
  add(QKeySequence::Save, ui.Btn_SaveCSV, [this] { ui.Btn_SaveCSV->click(); });
  add(QKeySequence(Qt::Key_F), nullptr, [this] { view(); });
  ui.comboBox_View->setToolTip("Camera preset (F: this preset again)");
}

void manwindow::showFirstOrLastFrame(bool last) {
  if (!playback_.loaded() || !ui.Spbox_Frame->isEnabled()) return;
  ui.Spbox_Frame->setValue(last ? ui.Spbox_Frame->maximum() : 1);
}

void manwindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!droppedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

// A capture file dropped onto the window opens as Open opens it; while Open
// is not available the drop is refused with a word in the status line.
void manwindow::dropEvent(QDropEvent* event) {
  const QString path = droppedFile(event->mimeData());
  if (path.isEmpty()) return;
  event->acceptProposedAction();
  openDroppedFile(path);
}

void manwindow::openDroppedFile(const QString& path) {
  if (captureLoad_ || !ui.toolButton_Open->isEnabled()) {
    lastError_ = "Cannot open " + QFileInfo(path).fileName() + " now: stop the playback or recording first.";
    updateStatusLine();
    return;
  }
  startCaptureLoad(path);
}

// The Ruler button on the Z540-K tab, with the colours: while it is down, clicks in the view pick
// the ruler's ends (a drag still turns the view); Clear removes the ruler.
void manwindow::addRulerButton() {
  // The Lidar tab's row has no room left on a screen 1280 pixels wide.
  rulerButton_ = new QToolButton(ui.Btn_SaveCSV->parentWidget());
  rulerButton_->setObjectName("toolButton_Ruler");
  rulerButton_->setText("Ruler");
  rulerButton_->setCheckable(true);
  rulerButton_->setIcon(style()->standardIcon(QStyle::SP_ArrowRight));
  rulerButton_->setIconSize(ui.Btn_SaveCSV->iconSize());
  rulerButton_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  rulerButton_->setAutoRaise(true);
  rulerButton_->setToolTip("Ruler: click two points for the distance between them and from the sensor");
  if (auto* row = qobject_cast<QBoxLayout*>(ui.Btn_SaveCSV->parentWidget()->layout()))
    row->insertWidget(row->indexOf(ui.Btn_SaveCSV) + 1, rulerButton_);
  view_->onClick([this] {
    double x = 0, y = 0, z = 0;
    if (rulerButton_->isChecked() && view_->pickAtCursor(x, y, z)) onRulerClick(x, y);
  });
}

// Within this many centimetres of a drawn point a click takes that point.
constexpr float kRulerReachCm = 30.0f;

void manwindow::onRulerClick(double x, double y) {
  const auto point = nearestPoint(framePoints_.display, float(x), float(y), kRulerReachCm);
  rulerMissed_ = !point;
  if (point) ruler_.click(*point);
  showRuler();
}

void manwindow::showRuler() {
  view_->setRuler(ruler_.ends(), rulerText().toStdString());
  view_->repaint();
  updateStatusLine();
}

QString manwindow::rulerText() const {
  QString text = QString::fromStdString(ruler_.text());
  if (rulerMissed_)
    text += (text.isEmpty() ? "" : " ") + QString("(no point within %1 cm of the click)").arg(kRulerReachCm);
  return text;
}

// The Trails box beside the Ruler: the revolutions kept on screen, the
// older ones fading; 1 is the plain view.
void manwindow::addTrailsBox() {
  auto* box = new QSpinBox(ui.Btn_SaveCSV->parentWidget());
  box->setObjectName("spinBox_Trails");
  box->setRange(Trails::kMinLength, Trails::kMaxLength);
  box->setPrefix("Trails ");
  box->setToolTip("Revolutions kept on screen, the older fading (1: the newest only)");
  if (auto* row = qobject_cast<QBoxLayout*>(ui.Btn_SaveCSV->parentWidget()->layout()))
    row->insertWidget(row->indexOf(rulerButton_) + 1, box);
  connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this,
          [this](int revolutions) { trails_.setLength(revolutions); });
}

const std::vector<ColouredPoint>& manwindow::shownPoints() const {
  return trails_.length() == 1 ? framePoints_.display : trails_.points();
}
