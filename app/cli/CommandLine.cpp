#include "CommandLine.h"

#include <cstdio>

namespace z540k::cli {

namespace {

std::vector<OptionSpec> declared(const std::set<std::string>& valueOptions, const std::set<std::string>& flagOptions) {
  std::vector<OptionSpec> specs;
  for (const std::string& name : valueOptions) specs.push_back({name, "VALUE", ""});
  for (const std::string& name : flagOptions) specs.push_back({name, "", ""});
  return specs;
}

}  // namespace

CommandLine::CommandLine(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
                         const std::set<std::string>& flagOptions)
    : Arguments(args, declared(valueOptions, flagOptions)) {}

double CommandLine::seconds(const std::string& name) const {
  char bound[32];
  std::snprintf(bound, sizeof bound, "%.0f", kMaxSeconds);
  return number(name, 0.0, 0.0, kMaxSeconds, "seconds from 0 to " + std::string(bound) + ", 0 for no limit");
}

}  // namespace z540k::cli
