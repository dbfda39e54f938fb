#include "Arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace z540k {

std::string badValueMessage(const std::string& name, const std::string& text, const std::string& expected) {
  return "bad value for " + name + ": \"" + text + "\" (expected " + expected + ")";
}

std::optional<long long> readInteger(const std::string& text) {
  const std::size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() == digits || text.find_first_not_of("0123456789", digits) != std::string::npos) return {};
  errno = 0;
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return {};
  return v;
}

std::optional<double> readNumber(const std::string& text) {
  if (text.empty()) return {};
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v)) return {};
  return v;
}

std::string optionsHelp(const std::vector<OptionSpec>& specs, std::size_t column) {
  std::string out;
  for (const OptionSpec& spec : specs) {
    std::string line = "  " + spec.name + (spec.takesValue() ? " " + spec.valueName : "");
    line += std::string(line.size() + 2 <= column ? column - line.size() : 2, ' ');
    std::size_t from = 0;
    for (;;) {
      const std::size_t newline = spec.help.find('\n', from);
      out += line + spec.help.substr(from, newline - from) + "\n";
      if (newline == std::string::npos) break;
      from = newline + 1;
      line = std::string(column, ' ');
    }
  }
  return out;
}

Arguments::Arguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const OptionSpec* spec = nullptr;
    std::string value;
    bool inlineValue = false;
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      const auto eq = a.find('=');
      const std::string name = a.substr(0, eq);
      for (const OptionSpec& s : specs)
        if (s.name == name) spec = &s;
      if (!spec) throw OptionError("unknown option " + name + " (see --help)");
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
        inlineValue = true;
      }
    } else {
      for (const OptionSpec& s : specs)
        if (!s.alias.empty() && s.alias == a) spec = &s;
    }
    if (!spec) {
      positional_.push_back(a);
      continue;
    }
    // An option given again holds its last value (a script's defaults can be
    // overridden by options appended after them).
    if (!spec->takesValue()) {
      if (inlineValue) throw OptionError("option " + spec->name + " takes no value");
      flags_.insert(spec->name);
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= args.size()) throw OptionError("option " + spec->name + " needs a value");
      value = args[++i];
    }
    values_[spec->name] = value;
  }
}

const std::string* Arguments::value(const std::string& name) const {
  const auto it = values_.find(name);
  return it == values_.end() ? nullptr : &it->second;
}

void Arguments::refusePositional() const {
  if (!positional_.empty()) throw OptionError("unexpected argument \"" + positional_[0] + "\"");
}

void Arguments::refuse(const std::string& name, const std::string& expected) const {
  const std::string* v = value(name);
  throw OptionError(badValueMessage(name, v ? *v : std::string(), expected));
}

std::string Arguments::text(const std::string& name, const std::string& fallback) const {
  const std::string* v = value(name);
  return v ? *v : fallback;
}

long long Arguments::integer(const std::string& name, long long fallback, long long min, long long max,
                             const std::string& expected) const {
  const std::string* v = value(name);
  if (!v) return fallback;
  const auto n = readInteger(*v);
  if (!n || *n < min || *n > max)
    refuse(name,
           expected.empty() ? "a whole number from " + std::to_string(min) + " to " + std::to_string(max) : expected);
  return *n;
}

int Arguments::port(const std::string& name, int fallback) const {
  return static_cast<int>(integer(name, fallback, kLowestPort, kHighestPort,
                                  "a port " + std::to_string(kLowestPort) + ".." + std::to_string(kHighestPort)));
}

double Arguments::number(const std::string& name, double fallback) const {
  const std::string* v = value(name);
  if (!v) return fallback;
  const auto n = readNumber(*v);
  if (!n) refuse(name, "a number");
  return *n;
}

double Arguments::number(const std::string& name, double fallback, double min, double max,
                         const std::string& expected) const {
  const std::string* v = value(name);
  if (!v) return fallback;
  const auto n = readNumber(*v);
  if (!n || *n < min || *n > max) refuse(name, expected);
  return *n;
}

double Arguments::numberAbove(const std::string& name, double fallback, double low, double high,
                              const std::string& expected) const {
  const std::string* v = value(name);
  if (!v) return fallback;
  const auto n = readNumber(*v);
  if (!n || *n <= low || *n > high) refuse(name, expected);
  return *n;
}

int Arguments::choice(const std::string& name, const std::vector<std::string>& choices, int fallback) const {
  const std::string* v = value(name);
  if (!v) return fallback;
  for (std::size_t i = 0; i < choices.size(); ++i)
    if (choices[i] == *v) return static_cast<int>(i);
  std::string list;
  for (std::size_t i = 0; i < choices.size(); ++i)
    list += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i];
  refuse(name, list);
}

}  // namespace z540k
