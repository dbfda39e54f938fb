// The signals that end the program from outside: SIGTERM (logout, shutdown,
// kill), SIGHUP (the terminal or session went away), SIGINT (Ctrl+C) and
// SIGQUIT (Ctrl+\). Their handler only writes the signal's number into a
// pipe; a socket notifier reads it on the GUI thread and emits caught(), so
// the window can end what it writes as quitting ends it. No Qt call is made
// in the handler.
//
// One instance at a time (the handler has one pipe); GUI thread only.
// Destroying it gives the signals their default actions back.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace z540k {

class ExitSignals : public QObject {
  Q_OBJECT

 public:
  explicit ExitSignals(QObject* parent = nullptr);
  ~ExitSignals() override;

 signals:
  // On the GUI thread, for the first signal that arrived; later ones (a
  // logout sends SIGHUP and SIGTERM) find the program already ending.
  void caught(int signalNumber);

 private:
  void readPipe();

  QSocketNotifier* notifier_ = nullptr;
  bool caught_ = false;
};

}  // namespace z540k
