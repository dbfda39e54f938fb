#include "StopSignals.h"

#include <csignal>
#include <cstdio>
#include <cstring>

namespace z540k::cli {

std::atomic<bool> stopRequested{false};

namespace {

std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "set from a signal handler");

void onStopSignal(int number) {
  stopSignal = number;
  stopRequested = true;
}

}  // namespace

void installStopHandler() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a waiting receive returns at once
  for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaction(number, &action, nullptr);
}

std::string interruptedText() {
  const int number = stopSignal;
  const char* name = number != 0 ? sigabbrev_np(number) : nullptr;
  return name ? std::string("interrupted by SIG") + name : std::string("interrupted");
}

std::string nothingArrivedText(const char* what, int port, double seconds) {
  std::string text = std::string("no ") + what + " arrived on port " + std::to_string(port);
  if (stopRequested) return text + " before " + interruptedText().substr(std::string("interrupted by ").size());
  if (seconds <= 0) return text;
  char limit[64];
  std::snprintf(limit, sizeof limit, " within %g s", seconds);
  return text + limit;
}

bool stoppedShort(const char* command, unsigned long long taken, long long wanted, const char* what) {
  if (!stopRequested || wanted <= 0 || taken >= static_cast<unsigned long long>(wanted)) return false;
  std::fprintf(stderr, "z540k-tool %s: %s after %llu of %lld %s\n", command, interruptedText().c_str(), taken, wanted,
               what);
  return true;
}

}  // namespace z540k::cli
