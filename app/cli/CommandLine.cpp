#include "CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace z540k::cli {

CommandLine::CommandLine(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
                         const std::set<std::string>& flagOptions) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a;
      std::string value;
      bool inlineValue = false;
      const auto eq = a.find('=');
      if (eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        inlineValue = true;
      }
      if (valueOptions.count(name)) {
        if (!inlineValue) {
          if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
          value = args[++i];
        }
        values_[name] = value;
      } else if (flagOptions.count(name) && !inlineValue) {
        flags_.insert(name);
      } else {
        throw UsageError("unknown option " + a + " (see --help)");
      }
    } else {
      positional_.push_back(a);
    }
  }
}

std::string CommandLine::text(const std::string& name, const std::string& fallback) const {
  const auto it = values_.find(name);
  return it == values_.end() ? fallback : it->second;
}

long long CommandLine::integer(const std::string& name, long long fallback, long long min, long long max) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return fallback;
  const std::string& s = it->second;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || errno == ERANGE || v < min || v > max)
    throw UsageError("bad value for " + name + ": \"" + s + "\" (expected a whole number from " +
                     std::to_string(min) + " to " + std::to_string(max) + ")");
  return v;
}

double CommandLine::number(const std::string& name, double fallback) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return fallback;
  const std::string& s = it->second;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (s.empty() || *end != '\0' || !std::isfinite(v))
    throw UsageError("bad value for " + name + ": \"" + s + "\" (expected a number)");
  return v;
}

double CommandLine::seconds(const std::string& name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return 0.0;
  const std::string& s = it->second;
  char* end = nullptr;
  const double v = s.empty() ? 0.0 : std::strtod(s.c_str(), &end);
  if (s.empty() || *end != '\0' || !std::isfinite(v) || v < 0 || v > kMaxSeconds) {
    char bound[32];
    std::snprintf(bound, sizeof bound, "%.0f", kMaxSeconds);
    throw UsageError("bad value for " + name + ": \"" + s + "\" (expected seconds from 0 to " + bound +
                     ", 0 for no limit)");
  }
  return v;
}

int CommandLine::choice(const std::string& name, const std::vector<std::string>& choices, int fallback) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return fallback;
  for (std::size_t i = 0; i < choices.size(); ++i)
    if (choices[i] == it->second) return static_cast<int>(i);
  std::string list;
  for (const auto& c : choices) list += (list.empty() ? "" : ", ") + c;
  throw UsageError("bad value for " + name + ": \"" + it->second + "\" (expected one of " + list + ")");
}

}  // namespace z540k::cli
