// Runs the project's programs from tests: in the foreground with their exit
// code and output, or in the background until they end or are stopped.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace z540k::test {

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Process {
 public:
  // Starts `args` (args[0] the program) with stdout and stderr into files.
  explicit Process(const std::vector<std::string>& args) {
    static int serial = 0;
    const std::string base = "/tmp/z540k-proc-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    outPath_ = base + ".out";
    errPath_ = base + ".err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (pid_ > 0 && exitCode_ == kRunning) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::unlink(outPath_.c_str());
    ::unlink(errPath_.c_str());
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // The exit code once it ended within `timeoutMs` (it is killed otherwise
  // and -1 returned); 128 + n for a signal n.
  int wait(int timeoutMs = 20000) {
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (exitCode_ == kRunning) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
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
  void interrupt() {
    if (pid_ > 0 && exitCode_ == kRunning) ::kill(pid_, SIGINT);
  }
  std::string out() const { return readFile(outPath_); }
  std::string err() const { return readFile(errPath_); }

 private:
  static constexpr int kRunning = -1000;
  pid_t pid_ = -1;
  int exitCode_ = kRunning;
  std::string outPath_, errPath_;
};

}  // namespace z540k::test
