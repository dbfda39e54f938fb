// Collects what worker threads emit, in the test's own thread: connected with
// automatic connections, the signals arrive queued as they do in the program
// (a QSignalSpy would be written from the worker thread).
#pragma once

#include <QObject>
#include <QString>
#include <vector>

#include "RecordMetaTypes.h"

class SignalCollector : public QObject {
  Q_OBJECT
 public:
  std::vector<LidarDataSingleLine> records;
  std::vector<bool> bools;
  std::vector<int> ints;
  std::vector<QString> texts;

  int recordCount() const { return static_cast<int>(records.size()); }
  int boolCount() const { return static_cast<int>(bools.size()); }
  int intCount() const { return static_cast<int>(ints.size()); }
  int textCount() const { return static_cast<int>(texts.size()); }

 public slots:
  void onRecord(LidarDataSingleLine record) { records.push_back(std::move(record)); }
  void onBool(bool value) { bools.push_back(value); }
  void onInt(int value) { ints.push_back(value); }
  void onText(QString text) { texts.push_back(text); }
};
