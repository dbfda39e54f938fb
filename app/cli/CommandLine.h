// Options of the headless tool's commands: "--name value" pairs, flags and
// positional arguments, with typed access that reports bad values clearly.
#pragma once

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace z540k::cli {

// Thrown for any unusable command line; main prints what() on one line.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class CommandLine {
 public:
  // `valueOptions` take a value, `flagOptions` do not; anything else
  // starting with "--" is refused.
  CommandLine(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
              const std::set<std::string>& flagOptions);

  bool has(const std::string& name) const { return values_.count(name) || flags_.count(name); }
  const std::vector<std::string>& positional() const { return positional_; }

  std::string text(const std::string& name, const std::string& fallback) const;
  // Whole numbers within [min, max]; a bad value throws UsageError naming it.
  long long integer(const std::string& name, long long fallback, long long min, long long max) const;
  double number(const std::string& name, double fallback) const;
  // A duration in seconds: a finite number from 0 to kMaxSeconds; absent
  // gives 0, which means "no time limit" everywhere.
  double seconds(const std::string& name) const;
  // A count of packets or frames: a whole number from 0 to kMaxCount; absent
  // gives 0, which means "no limit" everywhere.
  long long count(const std::string& name) const { return integer(name, 0, 0, kMaxCount); }

  static constexpr double kMaxSeconds = 366.0 * 24 * 3600;  // a year
  static constexpr long long kMaxCount = 1LL << 40;
  // One of the listed texts; returns its index.
  int choice(const std::string& name, const std::vector<std::string>& choices, int fallback) const;

 private:
  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
  std::vector<std::string> positional_;
};

}  // namespace z540k::cli
