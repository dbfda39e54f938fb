// The window in which the operator states what a CSV export writes: how many
// frames, and which horizontal angle range in degrees. Its only output is
// sendOptions, emitted once when the operator confirms valid values (isSave
// true) or cancels (isSave false); either hides the window. Refused input
// shows a warning and leaves the window open with its fields as typed.
//
// GUI thread only.
#pragma once

#include <QList>
#include <QWidget>
#include <memory>

namespace Ui {
class SaveDataOptions;
}

class SaveDataOptions : public QWidget {
  Q_OBJECT

 public:
  explicit SaveDataOptions(QWidget* parent = nullptr);
  ~SaveDataOptions() override;

 signals:
  void sendOptions(bool isSave, int freams, float angleMin, float angleMax, QList<int> lines);

 public slots:
  void onCancel_Clicked();
  void onOk_Clicked();

 private:
  std::unique_ptr<Ui::SaveDataOptions> ui;
};
