// GetSet: the worker thread that receives the sensor's status packets on the
// status port and hands each decoded one to the settings windows.
//
// Threads: the object lives in the GUI thread, which writes port,
// multicastAddress and running and calls openSocket()/closeSocket(); run() is
// the worker. The socket is opened, replaced and closed only while no loop
// runs on it.
#pragma once

#include <sys/types.h>  // u_char

#include <QString>
#include <QThread>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "LidarRecords.h"
#include "RunCompletion.h"
#include "StatusHandOver.h"
#include "ReceiverSocket.h"

class GetSet : public QThread {
  Q_OBJECT

 public:
  explicit GetSet(QObject* parent = nullptr);
  ~GetSet() override;

  std::atomic<int> port{0};
  std::string multicastAddress;  // written before openSocket() only
  std::atomic<bool> running{true};

  // Creates the socket, binds it, then joins the multicast group and switches
  // to non-blocking mode. Failures are not reported to the operator;
  // socketError() keeps the first one (a port another program receives on is
  // refused). A loop that still runs or is still ending is ended first.
  void openSocket();
  // Ends a loop that still runs, then closes the socket.
  void closeSocket();
  QString socketError() const;

  quint64 statusDropped() const { return statusDropped_.load(); }

 signals:
  void SendLidarStatusToSettingUI(SettingData* data, std::vector<int> Mac);
  void SendDataDifo(const u_char* data);

 protected:
  void run() override;

 private:
  // GUI thread: ends the run that still goes on, if any, and waits for it.
  void endRun();

  z540k::ReceiverSocket socket_;
  std::atomic<bool> stopRequested_{false};  // set by endRun(), cleared by openSocket()
  std::atomic<quint64> statusDropped_{0};
  z540k::StatusHandOver handOver_;
  z540k::RunCompletion runCompletion_;
};
