// manwindow: the program's main window. It owns the 3-D view, the point
// table, the auxiliary windows and the worker threads, starts and stops live
// reception, and turns every record that arrives into the picture.
//
// GUI thread only. Records arrive queued from the live receiver and the
// capture player; when they come faster than the window draws, the newest
// wins and the others are counted as dropped for display.
#pragma once

#include <QMainWindow>
#include <QList>
#include <QString>
#include <memory>

#include "LidarRecords.h"
#include "PointComputation.h"
#include "StartupOptions.h"
#include "ui_manwindow.h"

class QLabel;
class QStandardItemModel;
class QTimer;
class GetlidarData_1;
class GetSet;
class ReadLiveOffData;

namespace z540k {
class PointCloudView;
}

class manwindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit manwindow(const z540k::StartupOptions& options = {}, QWidget* parent = nullptr);
  ~manwindow() override;

  // What tests and the status line look at.
  z540k::PointCloudView& cloudView() { return *view_; }
  GetlidarData_1& liveReceiver() { return *liveReceiver_; }
  GetSet& statusReceiver() { return *statusReceiver_; }
  ReadLiveOffData& player() { return *player_; }
  bool isLiveRunning() const { return liveRunning; }
  bool isDisplayRunning() const { return displayRunning; }
  int currentPointSize() const { return pointSize; }
  const LidarDataSingleLine& latestFrame() const { return lastFrame; }
  quint64 framesDrawn() const { return framesDrawn_; }
  quint64 framesDroppedForDisplay() const { return framesCoalesced_; }
  QStandardItemModel* pointTableModel() const { return pointTable; }
  QString statusLine() const;
  // Time the window spent computing the points of the frames it drew.
  double computeSeconds() const { return computeSeconds_; }

 signals:
  void SendModel(int ReturnMode);
  void SendDegreeMode(int degreeMode);
  void SendCount(int K);
  void sendAngleMistake(int channel);
  void Sig_SaveCSV();

 public slots:
  void view();
  void SelectPoints();
  void CalculateCoordinates(LidarDataSingleLine lidardata);
  void onCodeData(QString code);
  void FinshorStart(bool Finshone);
  void Return_Mode();
  void Return_Degree();
  void showVerticalSetting();
  void showAngleLinedit_pressed();
  void receiveSaveDataOption(bool isSave, int freams, float angleMin, float angleMax, QList<int> lines);
  void OnAgreeIndexChange(int);
  void On_SaveCSV();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void setUpView();
  void makeConnections();
  void onLidarClicked();
  void onDisplayPauseClicked();
  void toggleAxes();
  void toggleGrid();
  void clearView();
  void resetPointTable();
  void ensurePointTable();
  void drawLatestFrame();
  void refreshReadout();
  void updateStatusLine();
  void onStatusTick();
  void onViewKey(const std::string& keySym, char key);

  Ui::manwindowClass ui;

  // Auxiliary windows and threads, created once and kept for the window's life.
  ReadLiveOffData* player_ = nullptr;
  GetlidarData_1* liveReceiver_ = nullptr;
  GetSet* statusReceiver_ = nullptr;
  std::unique_ptr<z540k::PointCloudView> view_;

  // Flags.
  bool liveRunning = false;
  bool liveStartedOnce = false;
  bool displayRunning = true;
  bool axesShown = false;
  bool gridHidden = true;
  bool selectionMode = false;
  bool areaPicked = false;
  bool mouseReadout = true;
  bool csvActive = false;
  bool recording = false;
  bool playPaused = false;
  bool stepMode = false;
  bool stepForward = true;
  bool stepBackward = false;

  // Numbers.
  int pointSize = 1;
  int pickedCount = 0;
  z540k::SelectionBox selectionBox;
  int tableRows = 0;
  int packetsPerFrame = 30;
  int playCount = 1;
  int csvFrames = 1;
  float csvAngleMin = 0.0f;
  float csvAngleMax = 360.0f;
  int returnModeIndex = 0;
  int degreeModeIndex = 0;
  int frameIndex = 0;
  int frameTotal = 0;
  float angleLimit = 180.0f;

  // Data.
  LidarDataSingleLine lastFrame;
  z540k::FramePoints framePoints_;
  QStandardItemModel* pointTable = nullptr;

  // Keeping up: a draw is queued behind the records already waiting; the
  // records that arrive before it runs replace each other.
  bool drawQueued_ = false;
  quint64 framesDrawn_ = 0;
  quint64 framesCoalesced_ = 0;
  quint64 framesArrived_ = 0;
  double computeSeconds_ = 0;

  // The status line.
  QLabel* statusLabel_ = nullptr;
  QTimer* statusTimer_ = nullptr;
  quint64 framesAtLastTick_ = 0;
  quint64 datagramsAtLastTick_ = 0;
  double revolutionsPerSecond_ = 0;
  quint64 datagramsLastSecond_ = 0;
  QString setupError_;
};
