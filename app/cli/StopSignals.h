// The signals that stop the headless tool: Ctrl+C (SIGINT), SIGTERM, SIGHUP
// (the terminal or the session went away), SIGQUIT (Ctrl+\) and SIGPIPE (the
// reader of stdout went away; a write to stdout then fails with EPIPE
// instead of ending the process). Each only sets a flag that the commands
// watch, so every one of them ends a command as Ctrl+C does.
#pragma once

#include <atomic>
#include <string>

namespace z540k::cli {

// Set by any of the stop signals; the commands end and print their summary.
extern std::atomic<bool> stopRequested;

// Installs the handler for every stop signal, without SA_RESTART: a
// waiting receive returns at once.
void installStopHandler();

// "interrupted by SIGHUP" for the signal that set stopRequested; just
// "interrupted" while none did (a stop set by a caller of its own).
std::string interruptedText();

// The exit code of a command that waited for the sensor and heard nothing
// from it in the time given (status, listen, configure, advanced).
constexpr int kExitNothingReceived = 3;

// "no WHAT arrived on port P within S s" (or "... before the stop" when a stop
// signal ended the wait).
std::string nothingArrivedText(const char* what, int port, double seconds);

// A stop signal came before `wanted` (0: no count asked for) of what the
// command receives were taken: true, with "z540k-tool COMMAND: interrupted
// by SIGHUP after 3 of 10 WHAT" on stderr, and the command exits 1.
bool stoppedShort(const char* command, unsigned long long taken, long long wanted, const char* what);

}  // namespace z540k::cli
