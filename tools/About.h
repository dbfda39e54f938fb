// The About window: the product line, and on two tabs the version texts the
// network settings window decodes from the sensor's status (sSetVersion).
//
// Version list entries and the labels they fill:
//   0 FPGA 2nd board (Hardware)      1 FPGA 3rd board (Software and Hardware)
//   2 Lidar ID                       3..7 hardware 2nd / 3rd board, emission,
//                                         receive board, structure (hidden)
// A list shorter than eight entries fills the labels it has entries for and
// leaves the others as they are; an empty list carries no versions and is
// ignored (the last list received is kept).
//
// The data-seen flag, set by the main window once measurements arrive,
// decides what showing the window does: without it nothing changes; with it
// the labels are filled again from the last list, or, when no list has
// arrived yet, the software tab shows the default FPGA 3rd board version.
//
// Closing the window never ends the application. GUI thread only.
#pragma once

#include <QStringList>
#include <QWidget>
#include <memory>

namespace Ui {
class About;
}

class About : public QWidget {
  Q_OBJECT

 public:
  explicit About(QWidget* parent = nullptr);
  ~About() override;

  void setDataSeen(bool seen);
  bool dataSeen() const { return dataSeen_; }

 public slots:
  void sSetVersion(QStringList Versions);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void showVersions();

  std::unique_ptr<Ui::About> ui;
  QStringList versions_;
  bool dataSeen_ = false;
};
