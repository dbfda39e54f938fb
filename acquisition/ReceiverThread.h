// What the live receiver and the status receiver share: a worker thread
// reading one UDP port, and the delicate stop-and-restart around its socket.
// The window stops a receiver (stop()) and starts it again (start(settings))
// at once: a loop that has not yet seen the stop is ended first, never left
// running on a replaced socket.
//
// Threads: the object lives in the GUI thread, which calls start()/stop()
// (or, step by step, writes port, multicastAddress and running and calls
// openSocket()/closeSocket()); run() of the derived receiver is the worker.
// The socket is opened, replaced and closed only while no loop runs on it.
#pragma once

#include <QString>
#include <QThread>
#include <atomic>
#include <string>

#include "ReceiverSocket.h"
#include "RunCompletion.h"

namespace z540k {

// Where a receiver listens.
struct ReceiverSettings {
  int port = 0;
  std::string multicastAddress;  // empty: no group joined
};

class ReceiverThread : public QThread {
 public:
  using QThread::start;
  // Begins receiving as the settings say: a run still going is ended, the
  // socket opened and the loop started. False when the socket could not be
  // opened (socketError() says why); the loop then waits idle until stop().
  bool start(const ReceiverSettings& settings);
  // Ends the run and closes the socket: on return the port is free.
  void stop();

  std::atomic<int> port{0};
  std::string multicastAddress;  // written before openSocket() only
  std::atomic<bool> running{true};

  // Ends a loop that still runs or is still ending (within one turn), then
  // opens the socket the receiver asks for (socketOptions()); start() then
  // begins a new run on it. Failures are not reported to the operator;
  // socketError() keeps the first one (a port another program receives on
  // is refused: "port N is already in use by another program").
  void openSocket();
  // Ends a loop that still runs, then closes the socket: on return the port
  // is free.
  void closeSocket();
  QString socketError() const;

 protected:
  explicit ReceiverThread(QObject* parent) : QThread(parent) {}
  // The socket this receiver reads (port, group, order of join and bind).
  virtual ReceiverSocket::Options socketOptions() const = 0;
  // The derived receiver's destructor calls this first, while its run() can
  // still be waited for.
  void finish();
  // The worker loop goes on while this holds.
  bool keepRunning() const { return running && !stopRequested_; }
  // First and last thing of run().
  void runBegins() { runCompletion_.joined(); }  // a restart continues where the previous run ended
  void runEnds() { runCompletion_.markEnded(); }

  ReceiverSocket socket_;

 private:
  // GUI thread: ends the run that still goes on, if any, and waits for it.
  void endRun();

  // Set by endRun(), cleared by openSocket(): unlike `running`, which the
  // window sets again right after a stop, it cannot be undone before the
  // loop has seen it.
  std::atomic<bool> stopRequested_{false};
  RunCompletion runCompletion_;
};

}  // namespace z540k
