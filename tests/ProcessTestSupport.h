// Runs the project's programs from tests: in the foreground with their exit
// code and output, or in the background until they end or are stopped.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ReceiverSocket.h"

extern char** environ;

namespace z540k::test {

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// True when some UDP socket is bound to `port` on the wildcard address
// (0.0.0.0) in this network namespace.
inline bool wildcardUdpBound(std::uint16_t port) {
  for (const UdpBinding& b : udpBindings())
    if (b.addressSize == 4 && b.port == port && b.address[0] == 0 && b.address[1] == 0 && b.address[2] == 0 &&
        b.address[3] == 0)
      return true;
  return false;
}

// Asks Process for stdout into a pipe that the test reads (as `| head` does).
struct StdoutToPipe {};

class Process {
 public:
  // Starts `args` (args[0] the program) with stdout and stderr into files.
  explicit Process(const std::vector<std::string>& args) { start(args, -1); }
  // The same with stdout into a pipe: readStdout() takes what came, and
  // closeStdout() is its reader going away.
  Process(const std::vector<std::string>& args, StdoutToPipe) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return;
    start(args, ends[1]);
    ::close(ends[1]);
    stdoutPipe_ = ends[0];
    ::fcntl(stdoutPipe_, F_SETFL, O_NONBLOCK);
  }
  ~Process() {
    if (pid_ > 0 && exitCode_ == kRunning) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    closeStdout();
    ::unlink(outPath_.c_str());
    ::unlink(errPath_.c_str());
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The exit code once it ended within `timeoutMs` (it is killed otherwise
  // and -1 returned); 128 + n for a signal n.
  int wait(int timeoutMs = 60000) {
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (exitCode_ == kRunning) {
      if (ended()) break;
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        exitCode_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return exitCode_;
  }
  void interrupt() { signal(SIGINT); }
  void signal(int number) {
    if (pid_ > 0 && exitCode_ == kRunning) ::kill(pid_, number);
  }
  // True once the process has ended (its exit code is then kept for wait()).
  bool ended() {
    if (pid_ <= 0) return true;
    if (exitCode_ != kRunning) return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
  }
  // True while the process is stopped (SIGSTOP): it reads nothing then.
  bool stopped() const {
    const std::string stat = readFile("/proc/" + std::to_string(pid_) + "/stat");
    const auto paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'T';
  }
  // Polls until `done()` holds or the process ends; false when the deadline
  // passed or the process ended first.
  template <typename Condition>
  bool waitFor(Condition done, int timeoutMs = 60000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      if (done()) return true;
      if (ended()) return done();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // Waits until the process has a UDP socket bound on `port` at the wildcard
  // address (from then on datagrams to the port queue for it).
  bool waitForUdpBind(std::uint16_t port, int timeoutMs = 60000) {
    return waitFor([&] { return wildcardUdpBound(port); }, timeoutMs);
  }
  // Waits until the process's standard output holds `text`.
  bool waitForOutput(const std::string& text, int timeoutMs = 60000) {
    return waitFor([&] { return out().find(text) != std::string::npos; }, timeoutMs);
  }
  std::string out() const { return readFile(outPath_); }
  std::string err() const { return readFile(errPath_); }
  pid_t pid() const { return pid_; }
  // With StdoutToPipe: everything read from the pipe so far, with what waits
  // in it now.
  const std::string& readStdout() {
    char buffer[4096];
    ssize_t n;
    while (stdoutPipe_ >= 0 && (n = ::read(stdoutPipe_, buffer, sizeof buffer)) > 0) piped_.append(buffer, n);
    return piped_;
  }
  void closeStdout() {
    if (stdoutPipe_ >= 0) ::close(stdoutPipe_);
    stdoutPipe_ = -1;
  }

 private:
  void start(const std::vector<std::string>& args, int stdoutFd) {
    static int serial = 0;
    const std::string base = "/tmp/z540k-proc-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    outPath_ = base + ".out";
    errPath_ = base + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
      posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    else
      posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  static constexpr int kRunning = -1000;
  pid_t pid_ = -1;
  int exitCode_ = kRunning;
  std::string outPath_, errPath_;
  int stdoutPipe_ = -1;
  std::string piped_;
};

}  // namespace z540k::test
