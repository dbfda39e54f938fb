// Options of the headless tool's commands: the shared parser
// (common/Arguments.h) over the option names a command declares, with the
// tool's durations and counts.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "Arguments.h"

namespace z540k::cli {

// Thrown for any unusable command line; main prints what() on one line.
using UsageError = z540k::OptionError;

class CommandLine : public z540k::Arguments {
 public:
  // `valueOptions` take a value, `flagOptions` do not; anything else
  // starting with "--" is refused; an option given again holds its last value.
  CommandLine(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
              const std::set<std::string>& flagOptions);

  // A duration in seconds: a finite number from 0 to kMaxSeconds; absent
  // gives 0, which means "no time limit" everywhere.
  double seconds(const std::string& name) const;
  // A count of packets or frames: a whole number from 0 to kMaxCount; absent
  // gives 0, which means "no limit" everywhere.
  long long count(const std::string& name) const { return integer(name, 0, 0, kMaxCount); }

  static constexpr double kMaxSeconds = 366.0 * 24 * 3600;  // a year
  static constexpr long long kMaxCount = 1LL << 40;
};

}  // namespace z540k::cli
