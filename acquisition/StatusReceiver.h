// GetSet: the worker thread that receives the sensor's status packets on the
// status port and hands each decoded one to the settings windows.
//
// Threads and the socket's stop-and-restart as for every receiver
// (ReceiverThread); run() is the worker.
#pragma once

#include <sys/types.h>  // u_char

#include <QString>
#include <QThread>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "LidarRecords.h"
#include "ReceiverThread.h"
#include "RecordMetaTypes.h"
#include "StatusHandOver.h"

class GetSet : public z540k::ReceiverThread {
  Q_OBJECT

 public:
  explicit GetSet(QObject* parent = nullptr);
  ~GetSet() override;

  quint64 statusDropped() const { return statusDropped_.load(); }
  // Datagrams read since construction: status packets, and every other one
  // (empty, over-long and foreign datagrams included); `anotherSensor`: the
  // status packets of a sensor other than the one drawn, in neither.
  struct DatagramCounts {
    quint64 status = 0, other = 0, anotherSensor = 0;
  };
  DatagramCounts datagramCounts() const {
    return {countStatus_.load(), countOther_.load(), countAnotherSensor_.load()};
  }

  // The address of the sensor whose status is passed on (host byte order),
  // from any thread: the one drawn. 0: the first sensor whose status packets
  // arrive after the start. The others' status packets are counted only.
  std::atomic<quint32> sensorIp{0};
  // Datagrams the kernel dropped for the socket (receive buffer full).
  quint32 kernelDrops() const { return kernelDrops_.load(); }

 signals:
  void SendLidarStatusToSettingUI(SettingData* data, std::vector<int> Mac);
  void SendDataDifo(const u_char* data);

 protected:
  void run() override;

 private:
  // Bound first, then the multicast group joined; the kernel's drops counted.
  z540k::ReceiverSocket::Options socketOptions() const override;

  std::atomic<quint64> statusDropped_{0};
  std::atomic<quint64> countStatus_{0}, countOther_{0}, countAnotherSensor_{0};
  std::atomic<quint32> kernelDrops_{0};
  z540k::StatusHandOver handOver_;
};
