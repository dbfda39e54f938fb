#include "manwindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDebug>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaObject>
#include <QPainter>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdlib>

#include "ACWPSettingWidget.h"
#include "About.h"
#include "CapturePlayer.h"
#include "CaptureRecorder.h"
#include "CodeDialog.h"
#include "CsvFrameFile.h"
#include "DataPacketList.h"
#include "Form_QLaserSelection.h"
#include "InetactionSetupWidget.h"
#include "LiveDataReceiver.h"
#include "PointCloudView.h"
#include "RecordMetaTypes.h"
#include "ResourceImage.h"
#include "SaveDataOptions.h"
#include "SensorTraits.h"
#include "StatusLine.h"
#include "StatusPacket.h"
#include "StatusReceiver.h"
#include "SteadyClock.h"

using namespace z540k;

namespace {

constexpr int kMaxPointSize = 10;

constexpr int kStatusLineMilliseconds = 1000;

// The program's colours: light grey windows, dark grey buttons.
void setProgramPalette() {
  QPalette palette;
  palette.setColor(QPalette::Window, QColor(230, 230, 230));
  palette.setColor(QPalette::WindowText, Qt::black);
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::AlternateBase, QColor(105, 105, 105));
  palette.setColor(QPalette::ToolTipBase, Qt::black);
  palette.setColor(QPalette::ToolTipText, Qt::black);
  palette.setColor(QPalette::Text, Qt::black);
  palette.setColor(QPalette::Button, QColor(105, 105, 105));
  palette.setColor(QPalette::ButtonText, Qt::black);
  palette.setColor(QPalette::BrightText, Qt::red);
  palette.setColor(QPalette::Highlight, QColor(142, 45, 197).lighter(150));
  palette.setColor(QPalette::HighlightedText, Qt::black);
  // Disabled controls look disabled: pale text on a paler ground.
  palette.setColor(QPalette::Disabled, QPalette::Button, QColor(175, 175, 175));
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 120));
  palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(135, 135, 135));
  palette.setColor(QPalette::Disabled, QPalette::Text, QColor(135, 135, 135));
  QApplication::setPalette(palette);
}

// Shown maximised. Without a window manager nothing maximises the window, and
// the form's own size is wider than most screens: it takes the screen's free
// area itself, as a maximised window would.
// The point table's dock is 480 pixels wide where the screen has room for
// it beside the tool bar, narrower (its columns scroll) where not.
void showMaximizedOnScreen(QMainWindow& window, QDockWidget& tableDock) {
  if (const QScreen* screen = window.screen()) window.setGeometry(screen->availableGeometry());
  window.showMaximized();
  window.resizeDocks({&tableDock}, {480}, Qt::Horizontal);
}

// The point table's cells: plain text drawn straight with the painter. The
// style's own cell drawing lays every text out twice (to size and to draw
// it), which made the table's repaints cost a sixth of drawing a frame.
class PlainTextCells : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) painter->fillRect(option.rect, option.palette.highlight());
    painter->setPen(selected ? option.palette.color(QPalette::HighlightedText) : option.palette.color(QPalette::Text));
    const QRect room = option.rect.adjusted(kCellMargin, 0, -kCellMargin, 0);
    QString text = index.data(Qt::DisplayRole).toString();
    if (option.fontMetrics.horizontalAdvance(text) > room.width())
      text = option.fontMetrics.elidedText(text, Qt::ElideRight, room.width());
    painter->drawText(room, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
  }

 private:
  static constexpr int kCellMargin = 3;
};

}  // namespace

// The status line: one line, never wider than the room the bar gives it.
// What does not fit is elided; the whole text is in the tooltip, which
// wraps, on a light ground (the program's palette makes tooltips black on
// black).
class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setStyleSheet(
        "QLabel { color: white; background-color: rgb(60, 60, 60); padding: 2px 8px; }"
        "QToolTip { color: black; background-color: rgb(255, 255, 225); border: 1px solid gray; padding: 2px; }");
    // However long the line grows (a failure names a file), it never widens
    // the window.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  void setFullText(const QString& text) {
    if (text == full_) return;
    full_ = text;
    setToolTip("<p>" + text.toHtmlEscaped() + "</p>");
    elide();
  }
  const QString& fullText() const { return full_; }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    elide();
  }

 private:
  void elide() { setText(fontMetrics().elidedText(full_, Qt::ElideRight, std::max(0, contentsRect().width()))); }
  QString full_;
};

manwindow::manwindow(const StartupOptions& options, QWidget* parent) : QMainWindow(parent) {
  // The member defaults are set where they are declared.
  registerImages();  // the form's icons live in the program's resources
  ui.setupUi(this);
  registerRecordMetaTypes();

  setProgramPalette();

  for (QWidget* w : {static_cast<QWidget*>(ui.toolButton_Play), static_cast<QWidget*>(ui.toolButton_GoToEnd),
                     static_cast<QWidget*>(ui.toolButton_GoToStart), static_cast<QWidget*>(ui.toolButton_SeekBackward),
                     static_cast<QWidget*>(ui.toolButton_SeekForward)})
    w->setEnabled(false);

  // The auxiliary windows and threads, in their order of creation.
  saveDataOptions_ = new SaveDataOptions;
  saveDataOptions_->setWindowModality(Qt::ApplicationModal);
  networkSettings_ = new InetactionSetupWidget;
  laserSelection_ = new Form_QLaserSelection;
  codeDialog_ = new CodeDialog;
  advancedSettings_ = new ACWPSettingWidget;
  player_ = new ReadLiveOffData;
  liveReceiver_ = new GetlidarData_1;
  statusReceiver_ = new GetSet;
  about_ = new About;

  setUpView();
  // The view list names the preset in use from the first frame, and is wide
  // enough for its captions.
  ui.comboBox_View->setCurrentIndex(PointCloudView::kFirstPreset);
  // The room comes from the multicast field, which needs less than it asks
  // for and still widens where the screen has room: the row fits a screen
  // 1280 pixels wide beside the point table.
  ui.comboBox_View->setIconSize(QSize(16, 16));
  ui.comboBox_View->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  ui.comboBox_View->setMinimumWidth(ui.comboBox_View->sizeHint().width());
  ui.lineEdit_2->setMinimumWidth(ui.lineEdit_2->fontMetrics().horizontalAdvance("224.1.1.1") + 12);
  addStopButton();

  for (QWidget* w : {static_cast<QWidget*>(ui.showAngle_lineEdit), static_cast<QWidget*>(ui.label_3),
                     static_cast<QWidget*>(ui.Btn_ACWPSetting), static_cast<QWidget*>(ui.CBox_Echo),
                     static_cast<QWidget*>(ui.toolButton_User), static_cast<QWidget*>(ui.toolButton_Develop),
                     static_cast<QWidget*>(ui.Btn_Channel), static_cast<QWidget*>(ui.setVerticalPushButton)})
    w->hide();
  // A service technician reaches the factory windows with --factory.
  if (options.factory) {
    ui.Btn_ACWPSetting->show();
    ui.Btn_Channel->show();
  }

  makeConnections();
  addShortcuts();
  addRulerButton();
  addTrailsBox();
  setAcceptDrops(true);
  applyStartupOptions(options);
  // Shown once whole: a window laid out again after its view first drew
  // makes the view draw everything a second time at its new size.
  showMaximizedOnScreen(*this, *ui.LidraDataDock);
}

// Start-up options: the form's initial values, then the actions.
void manwindow::applyStartupOptions(const StartupOptions& options) {
  if (options.dataPort) ui.lineEdit_portNumber->setText(QString::number(*options.dataPort));
  if (options.telemetryPort) ui.lineEdit->setText(QString::number(*options.telemetryPort));
  if (options.multicast) ui.lineEdit_2->setText(QString::fromStdString(*options.multicast));
  if (options.layout) ui.comboBox_agree->setCurrentIndex(*options.layout);
  if (options.returnMode) {
    // Fixed by the operator from the start (also the list's own index 0).
    ui.CBox_Echo->setCurrentIndex(*options.returnMode);
    Return_Mode();
  }
  sensorPin_ = options.sensor;
  // The recorder's adapter: named on the command line, else in the
  // environment.
  captureDevice_ = options.captureDevice.empty() ? namedCaptureDevice(0, nullptr) : options.captureDevice;
  // Pressed before the window first shows: the receivers gather the first
  // revolution while the view draws its first picture.
  if (options.start) ui.toolButton_Lidar->click();
}

manwindow::~manwindow() {
  // The workers end before the window's members go (a recording, ended
  // with its session, keeps what it captured); an unfinished CSV export
  // leaves an existing file as it was.
  csvExport_.abandon();
  player_->stop();
  liveReceiver_->stop();
  statusReceiver_->stop();
  view_.reset();
  delete player_;
  delete liveReceiver_;
  delete statusReceiver_;
  delete saveDataOptions_;
  delete networkSettings_;
  delete laserSelection_;
  delete codeDialog_;
  delete advancedSettings_;
  delete about_;
}

void manwindow::setUpView() {
  view_ = std::make_unique<PointCloudView>(ui.screen);
  view_->onKeyDown([this](const std::string& keySym, char key) { onViewKey(keySym, key); });
  view_->onAreaPicked([this](const std::vector<int>& indices) { onAreaPicked(indices); });
  // The readout follows the cursor, also while no frame is drawn (paused).
  view_->onCursorMoved([this] {
    if (!picking_.selecting()) refreshReadout();
  });

  statusLabel_ = new ElidedLabel(this);
  statusLabel_->setObjectName("statusLine");
  ui.statusBar->addPermanentWidget(statusLabel_, 1);
  // The whole last error, to read and copy: the line shows only its start.
  lastErrorButton_ = new QToolButton(this);
  lastErrorButton_->setObjectName("toolButton_LastError");
  lastErrorButton_->setText("Last error");
  lastErrorButton_->setToolTip("The whole last error, to read and copy");
  lastErrorButton_->setEnabled(false);
  ui.statusBar->addPermanentWidget(lastErrorButton_);
  connect(lastErrorButton_, &QToolButton::clicked, this, &manwindow::showLastError);
  statusTimer_ = new QTimer(this);
  connect(statusTimer_, &QTimer::timeout, this, &manwindow::onStatusTick);
  statusTimer_->start(kStatusLineMilliseconds);
  hostClock_.start();
  tableTimer_ = new QTimer(this);
  tableTimer_->setSingleShot(true);
  connect(tableTimer_, &QTimer::timeout, this, &manwindow::writeWaitingTableRows);
  // Rows that waited while the table was hidden come when it shows.
  connect(ui.LidraDataDock, &QDockWidget::visibilityChanged, this, [this](bool shown) {
    if (shown) QTimer::singleShot(0, this, &manwindow::writeWaitingTableRows);
  });
  recorderWatch_ = new QTimer(this);
  recorderWatch_->setInterval(250);
  connect(recorderWatch_, &QTimer::timeout, this, &manwindow::checkRecorder);
  updateStatusLine();
}

void manwindow::makeConnections() {
  connect(ui.showAngle_lineEdit, &QLineEdit::returnPressed, this, &manwindow::showAngleLinedit_pressed);
  connect(saveDataOptions_, &SaveDataOptions::sendOptions, this, &manwindow::receiveSaveDataOption);
  connect(ui.setVerticalPushButton, &QPushButton::clicked, this, &manwindow::showVerticalSetting);
  connect(ui.toolButton_clear, &QToolButton::clicked, this, &manwindow::clearView);
  connect(ui.comboBox_View, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &manwindow::view);
  connect(ui.toolButton_Coor, &QToolButton::clicked, this, &manwindow::toggleAxes);
  connect(ui.toolButton_selectCloud, &QToolButton::clicked, this, &manwindow::SelectPoints);
  connect(ui.toolButton_Lidar, &QToolButton::clicked, this, &manwindow::onLidarClicked);
  connect(ui.toolButton_MeaGrid, &QToolButton::clicked, this, &manwindow::toggleGrid);
  connect(ui.tolbtn_LidarDataList, &QToolButton::clicked, this,
          [this] { ui.LidraDataDock->setVisible(ui.LidraDataDock->isHidden()); });
  connect(ui.toolButton_SavePcapData, &QToolButton::clicked, this, &manwindow::onRecordClicked);
  connect(ui.toolButton_Open, &QToolButton::clicked, this, &manwindow::onOpenClicked);
  connect(ui.toolButton_Play, &QToolButton::clicked, this, &manwindow::onPlayClicked);
  connect(ui.toolButton_GoToStart, &QToolButton::clicked, this, &manwindow::onGoToStartClicked);
  connect(ui.toolButton_SeekForward, &QToolButton::clicked, this, &manwindow::onSeekForwardClicked);
  connect(ui.toolButton_SeekBackward, &QToolButton::clicked, this, &manwindow::onSeekBackwardClicked);
  connect(ui.toolButton_GoToEnd, &QToolButton::clicked, this, &manwindow::onGoToEndClicked);
  // Moving the slider or the spin box moves playback to that frame; a typed
  // number counts once it is complete.
  ui.Spbox_Frame->setKeyboardTracking(false);
  connect(ui.Slider_Frame, &QSlider::valueChanged, ui.Spbox_Frame, &QSpinBox::setValue);
  connect(ui.Spbox_Frame, QOverload<int>::of(&QSpinBox::valueChanged), ui.Slider_Frame, &QSlider::setValue);
  connect(ui.Spbox_Frame, QOverload<int>::of(&QSpinBox::valueChanged), this, &manwindow::onFrameChosen);
  connect(ui.Btn_SaveCSV, &QToolButton::clicked, this, &manwindow::onSaveCsvClicked);
  connect(this, &manwindow::Sig_SaveCSV, this, &manwindow::On_SaveCSV, Qt::DirectConnection);
  connect(ui.tolbtn_offdata, &QToolButton::clicked, this, &manwindow::onDisplayPauseClicked);
  connect(ui.Btn_Setting, &QToolButton::clicked, this, [this] {
    networkSettings_->show();
    networkSettings_->onCleanUCWPControl();
  });
  connect(ui.Btn_Channel, &QToolButton::clicked, laserSelection_, &QWidget::show);
  connect(ui.Btn_ACWPSetting, &QToolButton::clicked, this, [this] {
    advancedSettings_->setCaptureDevice(QString::fromStdString(captureDevice_));
    advancedSettings_->setStatusPort(ui.lineEdit->text().toInt());
    advancedSettings_->onCleanACWPControl();
    advancedSettings_->show();
    advancedSettings_->clearRefreshedMark();
  });
  connect(codeDialog_, &CodeDialog::sendCode, this, &manwindow::onCodeData);
  connect(ui.CBox_Echo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &manwindow::Return_Mode);
  connect(ui.comboBox_degree, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &manwindow::Return_Degree);
  connect(ui.toolButton_About, &QToolButton::clicked, about_, &QWidget::show);
  connect(ui.comboBox_agree, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &manwindow::OnAgreeIndexChange);
  connectWorkers();
}

// The threads and the auxiliary windows, to the window and to each other.
void manwindow::connectWorkers() {
  const auto unique = static_cast<Qt::ConnectionType>(Qt::AutoConnection | Qt::UniqueConnection);
  connect(liveReceiver_, &GetlidarData_1::SendData, this, &manwindow::CalculateCoordinates, unique);
  connect(player_, &ReadLiveOffData::SendData, this, &manwindow::CalculateCoordinates, unique);
  connect(player_, &ReadLiveOffData::SendBool, this, &manwindow::FinshorStart, unique);
  connect(player_, &ReadLiveOffData::SendFrame, this, &manwindow::onPlayerFrame, unique);
  connect(player_, &ReadLiveOffData::SendError, this, &manwindow::onPlayerError, unique);
  connect(this, &manwindow::SendModel, liveReceiver_, &GetlidarData_1::Receive, unique);
  connect(statusReceiver_, &GetSet::SendDataDifo, networkSettings_, &InetactionSetupWidget::OnLidarDifoData, unique);
  connect(liveReceiver_, &GetlidarData_1::SendDataDifo, networkSettings_, &InetactionSetupWidget::OnLidarDifoData,
          unique);
  connect(statusReceiver_, &GetSet::SendLidarStatusToSettingUI, networkSettings_,
          &InetactionSetupWidget::OnLidarStatusReceiving, unique);
  // The echo mode the sensor states on its status port decides the live
  // return mode unless the operator fixed one.
  connect(statusReceiver_, &GetSet::SendLidarStatusToSettingUI, this,
          [this](SettingData* record, const std::vector<int>& values) {
            if (const auto echo = statusEchoMode(*record, values)) liveReceiver_->sensorEchoMode = *echo;
          });
  connect(liveReceiver_, &GetlidarData_1::SendLidarStatusToSettingUI, networkSettings_,
          &InetactionSetupWidget::OnLidarStatusReceiving, unique);
  connect(networkSettings_, &InetactionSetupWidget::sVersionsToHelp, about_, &About::sSetVersion, unique);
  connect(this, &manwindow::SendDegreeMode, laserSelection_, &Form_QLaserSelection::ReceiveDegreeMode, unique);
  connect(statusReceiver_, &GetSet::SendLidarStatusToSettingUI, advancedSettings_,
          &ACWPSettingWidget::onLidarStatusReceiving, unique);
  connect(liveReceiver_, &GetlidarData_1::SendLidarStatusToSettingUI, advancedSettings_,
          &ACWPSettingWidget::onLidarStatusReceiving, unique);
  connect(advancedSettings_, &ACWPSettingWidget::sendTestFileName, liveReceiver_, &GetlidarData_1::createTestFile,
          unique);
  connect(advancedSettings_, &ACWPSettingWidget::sendStopTest, liveReceiver_, &GetlidarData_1::stopCheckGPSTime,
          unique);
  connect(liveReceiver_, &GetlidarData_1::sendErrorCount, advancedSettings_, &ACWPSettingWidget::recvErrorCount,
          unique);
  connect(liveReceiver_, &GetlidarData_1::sendTimeStamp, advancedSettings_, &ACWPSettingWidget::recvTimeStamp, unique);
  connect(liveReceiver_, &GetlidarData_1::sendLogWriteError, advancedSettings_, &ACWPSettingWidget::recvLogWriteError,
          unique);
}

// ---- Live start and stop ---------------------------------------------------

void manwindow::onLidarClicked() {
  if (liveRunning) {
    liveReceiver_->stop();
    statusReceiver_->stop();
    // A capture that plays (or waits, paused) would never end by itself:
    // stop it rather than wait for its end.
    if (player_->isRunning()) {
      qDebug() << "whit。。。";
      stopPlayback();
    }
    qDebug() << "SetLidar。。。";
    liveRunning = false;
    setupError_.clear();
    updateStatusLine();
    return;
  }
  ensurePointTable();
  liveRunning = true;
  liveStartedOnce = true;
  liveReceiver_->pendingLayout = chosenLayout();
  // One sensor drawn, and the settings window shows its status.
  liveReceiver_->chooseSensor(sensorPin_);
  statusReceiver_->sensorIp = sensorPin_ ? sensorPin_->ip : 0;
  const std::string group = ui.lineEdit_2->text().toStdString();
  liveReceiver_->start(ReceiverSettings{ui.lineEdit_portNumber->text().toInt(), group});
  statusReceiver_->start(ReceiverSettings{ui.lineEdit->text().toInt(), group});
  const QString dataError = liveReceiver_->socketError();
  const QString statusError = statusReceiver_->socketError();
  setupError_ = !dataError.isEmpty() ? "data port: " + dataError
                                     : (!statusError.isEmpty() ? "status port: " + statusError : QString());
  updateStatusLine();
}

// ---- Small slots -------------------------------------------------------------

void manwindow::Return_Mode() {
  returnModeFixed_ = true;
  emit SendModel(chosenReturnMode());
  // A capture plays in the return mode chosen, as the live view decodes.
  player_->returnMode = chosenReturnMode();
  if (playback_.loaded() && playerPackets) {
    const int total = framesIn(*playerPackets);
    playback_.frameShown(std::min(playback_.frame(), total), total);
    showFrameCounter();
  }
}

void manwindow::Return_Degree() {
  degreeModeIndex = ui.comboBox_degree->currentIndex();
  emit SendDegreeMode(degreeModeIndex);
}

void manwindow::showVerticalSetting() {
  degreeModeIndex = ui.comboBox_degree->currentIndex();
  emit SendDegreeMode(degreeModeIndex);
}

void manwindow::showAngleLinedit_pressed() { angleLimit = ui.showAngle_lineEdit->text().toFloat(); }

void manwindow::OnAgreeIndexChange(int) {
  if (liveRunning) liveReceiver_->pendingLayout = chosenLayout();
  player_->layout = chosenLayout();
}

void manwindow::onCodeData(QString) {}

void manwindow::onDisplayPauseClicked() {
  if (display_.running()) {
    ui.tolbtn_offdata->setText("Paly ");
    ui.tolbtn_offdata->setIcon(QIcon(":/image/Resources/images/Green.png"));
  } else {
    ui.tolbtn_offdata->setText("Pause");
    ui.tolbtn_offdata->setIcon(QIcon(":/image/Resources/images/Red.png"));
  }
  display_.toggleRunning();
  // Paused: the table shows the frame on screen.
  if (!display_.running()) writeWaitingTableRows();
}

void manwindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_F4:
    case Qt::Key_F5:
    case Qt::Key_F6:
      return;
    default:
      QMainWindow::keyPressEvent(event);
  }
}

// ---- Frames ----------------------------------------------------------------

void manwindow::CalculateCoordinates(LidarDataSingleLine lidardata) {
  noteRevolution(lidardata);
  if (!display_.running()) return;
  // The delay to the screen counts from the revolution's last datagram (live),
  // or from its arrival here (captures).
  arrivedAtNs_ = lidardata.receivedAtNs > 0 ? lidardata.receivedAtNs : steadyNowNs();
  const LidarDataSingleLine& frame = display_.keep(std::move(lidardata));
  about_->setDataSeen(true);
  ui.comboBox_4->setEnabled(true);
  // A frame for the CSV file is written, not drawn: the view shows empty
  // clouds for it.
  const bool exported = csvExport_.active();
  if (exported && csvExport_.add(frame)) finishCsvExport();
  // The marked region is measured in every frame, drawn or not.
  if (picking_.picked() && !exported) {
    computeRegionMeasurements(frame, currentFrameSettings(), picking_.frameMeasurements());
    measureRegion(picking_.frameMeasurements());
  }
  // The frame is drawn once the records already waiting have been taken:
  // when several wait, only the newest is drawn.
  if (display_.wantDraw(exported))
    QMetaObject::invokeMethod(
        this, [this] { drawLatestFrame(); }, Qt::QueuedConnection);
}

// The count and the sensor's rate see every revolution that arrives, also
// while the display is paused.
void manwindow::noteRevolution(const LidarDataSingleLine& record) {
  std::uint64_t time = newestTimestamp(record.timestamp);
  if (time == 0) time = static_cast<std::uint64_t>(hostClock_.nsecsElapsed() / 1000) % RevolutionRate::kClockWrap;
  counters_.revolution(time, liveReceiver_->recordsDropped(), record.pairedSize());
  // The first figures come with the first frames, not a second later.
  if (counters_.revolutions() <= 2) updateStatusLine();
}

FrameSettings manwindow::currentFrameSettings() const {
  FrameSettings s;
  s.layout = chosenLayout();
  s.viewMode = chosenViewMode();
  s.colourMode = chosenColourMode();
  s.angleLimit = angleLimit;
  s.areaPicked = picking_.picked();
  s.box = picking_.box();
  return s;
}

// The lists' indices as modes: the protocol list holds 1.6 and 1.7, the view
// list View Mode 1 and 2; the return-mode and colour lists are numbered as
// their modes (an index outside them is a mode the decoder ignores or that
// colours black).
Layout manwindow::chosenLayout() const {
  return ui.comboBox_agree->currentIndex() == 0 ? Layout::Protocol16 : Layout::Protocol17;
}

ReturnMode manwindow::chosenReturnMode() const { return static_cast<ReturnMode>(ui.CBox_Echo->currentIndex()); }

ViewMode manwindow::chosenViewMode() const {
  return ui.comboBox_degree->currentIndex() == 0 ? ViewMode::WholeCentimetres : ViewMode::FractionsKept;
}

ColourMode manwindow::chosenColourMode() const { return static_cast<ColourMode>(ui.comboBox_4->currentIndex()); }

void manwindow::drawLatestFrame() {
  const LidarDataSingleLine* frame = display_.startDraw();
  computeFramePoints(frame ? *frame : LidarDataSingleLine{}, currentFrameSettings(), framePoints_);

  tableRows = static_cast<int>(framePoints_.tableRows.size());
  // The table follows at a reader's pace; a paused display's frame at once.
  if (tableRefresh_.offer(framePoints_.tableRows, hostClock_.elapsed()) || !display_.running())
    writeWaitingTableRows();
  else if (!tableTimer_->isActive())
    tableTimer_->start(static_cast<int>(tableRefresh_.dueInMs(hostClock_.elapsed())));
  view_->setNotice(exportNotice());
  if (trails_.length() == 1)
    view_->showFrame(framePoints_, pointSize);
  else
    // A frame drawn again (the display paused) is not a new revolution.
    view_->showFrame(
        arrivedAtNs_ >= 0 || trails_.revolutions() == 0 ? trails_.add(framePoints_.display) : trails_.points(),
        framePoints_.selection, pointSize);
  if (arrivedAtNs_ >= 0) counters_.drawnAfter((steadyNowNs() - arrivedAtNs_) / 1e6);
  arrivedAtNs_ = -1;
  if (!picking_.selecting()) refreshReadout();
  display_.drawn();
}

// The view is empty while an export writes its frames: it says why.
std::string manwindow::exportNotice() const {
  if (!csvExport_.active()) return {};
  const int n = csvExport_.framesWritten();
  return "Exporting: " + std::to_string(n) + (n == 1 ? " frame" : " frames") + " written";
}

void manwindow::refreshReadout() {
  if (picking_.picked()) return;
  double x = 0, y = 0, z = 0;
  if (!view_->pickAtCursor(x, y, z)) return;
  view_->setTextLine(readoutText(x, y, z));
}

// ---- View aids -------------------------------------------------------------

void manwindow::view() { view_->setCameraPreset(ui.comboBox_View->currentIndex()); }

void manwindow::toggleAxes() {
  view_->setAxesShown(!axesShown);
  axesShown = !axesShown;
}

void manwindow::toggleGrid() {
  if (gridHidden) {
    gridHidden = false;
    view_->showGrid();
  } else {
    view_->removeAllShapes();
    gridHidden = true;
  }
}

void manwindow::clearView() {
  picking_.clear();
  ruler_.clear();
  rulerMissed_ = false;
  trails_.clear();
  updateStatusLine();
  resetPointTable();
  view_->clear();
}

// The view's keys: "+" and "-" the point size, "x" area selection as
// "Select" does (so the window knows the view is selecting); no other key
// does anything there.
void manwindow::onViewKey(const std::string& keySym, char key) {
  if (key == 'x' || key == 'X')
    SelectPoints();
  else if (key == '+' || keySym == "plus" || keySym == "KP_Add")
    pointSize = std::min(pointSize + 1, kMaxPointSize);
  else if (key == '-' || keySym == "minus" || keySym == "KP_Subtract")
    pointSize = std::max(pointSize - 1, 1);
}

// ---- Point table -------------------------------------------------------------

void manwindow::ensurePointTable() {
  if (pointTable) return;
  pointTable = new QStandardItemModel(this);
  ui.tableView->setModel(pointTable);
  ui.tableView->setItemDelegate(new PlainTextCells(ui.tableView));
  resetPointTable();
}

void manwindow::resetPointTable() {
  tableRefresh_.drop();
  tableColumnsFitted_ = false;
  if (!pointTable) return;
  pointTable->clear();
  pointTable->setColumnCount(kPointTableColumns);
  QStringList header;
  for (const char* h : kPointTableHeader) header << h;
  pointTable->setHorizontalHeaderLabels(header);
  // Shown axes are added again (the table reset leaves them as they were).
  toggleAxes();
  toggleAxes();
}

// ---- Status line -------------------------------------------------------------

std::string manwindow::sensorNote() const {
  const std::string advice = "choose \u534f\u8bae";  // the protocol list's entry, "协议1.7"
  if (player_->isRunning() && playerPackets) {
    const std::string note = returnModeText(captureModeChoice(*playerPackets));
    const std::string layout = layoutWarning(playerPackets->revolutions().traits(), chosenLayout(), advice);
    return layout.empty() ? note : note + "; " + layout;
  }
  if (!liveRunning) return {};
  const GetlidarData_1::SensorView sensor = liveReceiver_->sensorView();
  std::string note = returnModeText(sensor.mode, sensor.basis, sensor.disagreeing);
  const std::string layout = layoutWarning(sensor.layoutLook, chosenLayout(), advice);
  return layout.empty() ? note : note + "; " + layout;
}

QString manwindow::statusLine() const { return statusLabel_ ? statusLabel_->fullText() : QString(); }

QString manwindow::statusLineShown() const { return statusLabel_ ? statusLabel_->text() : QString(); }

QString manwindow::lastErrorText() const {
  QStringList errors;
  if (!setupError_.isEmpty()) errors << "Not receiving: " + setupError_;
  if (!lastError_.isEmpty()) errors << lastError_;
  return errors.join("\n\n");
}

// A box of its own, not modal: the window goes on while the operator reads.
void manwindow::showLastError() {
  if (!lastErrorBox_) {
    lastErrorBox_ = new QDialog(this);
    lastErrorBox_->setObjectName("lastErrorBox");
    lastErrorBox_->setWindowTitle("Last error");
    lastErrorView_ = new QPlainTextEdit(lastErrorBox_);
    lastErrorView_->setReadOnly(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, lastErrorBox_);
    QPushButton* copy = buttons->addButton("Copy", QDialogButtonBox::ActionRole);
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(lastErrorView_->toPlainText()); });
    connect(buttons, &QDialogButtonBox::rejected, lastErrorBox_, &QDialog::hide);
    auto* layout = new QVBoxLayout(lastErrorBox_);
    layout->addWidget(lastErrorView_);
    layout->addWidget(buttons);
    lastErrorBox_->resize(560, 200);
  }
  lastErrorView_->setPlainText(lastErrorText());
  lastErrorBox_->show();
  lastErrorBox_->raise();
}

// Once a second: the rates of the last second, then the line.
void manwindow::onStatusTick() {
  const auto counts = liveReceiver_->datagramCounts();
  const quint64 datagrams = counts.data + counts.status + counts.compact + counts.other + counts.anotherSensor;
  counters_.tick(display_.framesDrawn(), datagrams, kStatusLineMilliseconds / 1000.0);
  // The settings window shows the status of the sensor drawn.
  if (!sensorPin_)
    if (const auto drawn = liveReceiver_->sensors().chosen) statusReceiver_->sensorIp = drawn->ip;
  updateStatusLine();
}

void manwindow::updateStatusLine() {
  const auto counts = liveReceiver_->datagramCounts();
  ReceptionFigures f;
  f.lidarOn = liveRunning;
  f.playing = player_->isRunning();
  f.paused = playback_.paused();
  f.frame = playback_.frame();
  f.frameTotal = playback_.frameTotal();
  f.playbackLate = player_->lateFrames();
  f.dataPort = liveReceiver_->port;
  counters_.fill(f);
  f.datagrams = counts.data + counts.status + counts.compact + counts.other + counts.anotherSensor;
  f.unrecognised = counts.other;
  f.kernelDrops = liveReceiver_->kernelDrops();
  f.lostOnWire = liveReceiver_->lostOnWire();
  f.handOverDrops = liveReceiver_->recordsDropped();
  const auto statusCounts = statusReceiver_->datagramCounts();
  f.statusDatagrams = statusCounts.status + statusCounts.other;
  f.statusUnrecognised = statusCounts.other;
  f.statusKernelDrops = statusReceiver_->kernelDrops();
  f.displayMerged = display_.framesMerged();
  const GetlidarData_1::Sensors sensors = liveReceiver_->sensors();
  f.sensors = sensorsText(sensors.sources, sensors.chosen, sensorPin_.has_value(),
                          counts.anotherSensor + statusCounts.anotherSensor);
  f.setupError = setupError_.toStdString();
  f.lastError = lastError_.toStdString();
  f.sensorNote = sensorNote();
  f.ruler = rulerText().toStdString();
  statusLabel_->setFullText(QString::fromStdString(statusLineText(f)));
  if (view_->setNotice(exportNotice())) view_->repaint();
  const QString error = lastErrorText();
  lastErrorButton_->setEnabled(!error.isEmpty());
  if (lastErrorBox_ && lastErrorView_->toPlainText() != error) lastErrorView_->setPlainText(error);
}
