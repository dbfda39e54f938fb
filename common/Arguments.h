// One command-line parser for z540k-host, z540k-tool and z540k-sim. Options
// are declared (name, value or flag, help text); "--name value" and
// "--name=value" both give a value. Everything else is a positional argument.
// Every refusal is an OptionError whose text is one line naming the option.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace z540k {

// True when the arguments ask for the program's version ("--version").
inline bool versionAsked(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--version") return true;
  return false;
}

struct OptionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  OptionSpec(std::string name, std::string valueName, std::string help, std::string alias = {})
      : name(std::move(name)), valueName(std::move(valueName)), help(std::move(help)), alias(std::move(alias)) {}

  std::string name;       // "--port"
  std::string valueName;  // "N" for an option that takes a value; empty for a flag
  std::string help;       // its text in the help; '\n' starts a continuation line
  std::string alias;      // another spelling of the same option, such as "-h"
  bool takesValue() const { return !valueName.empty(); }
};

// The one port range of every program and command.
constexpr long long kLowestPort = 1;
constexpr long long kHighestPort = 65535;

// "bad value for NAME: "TEXT" (expected EXPECTED)": the one wording of a
// refused value.
std::string badValueMessage(const std::string& name, const std::string& text, const std::string& expected);

// The whole text as a decimal whole number (an optional '-', then digits)
// that fits a long long; nothing otherwise.
std::optional<long long> readInteger(const std::string& text);
// The whole text as a finite number (strtod's syntax); nothing otherwise.
std::optional<double> readNumber(const std::string& text);

// The help lines of `specs`, in their order: "  NAME VALUE" padded to
// `column` (at least two spaces), then the help text; continuation lines are
// indented to `column`.
std::string optionsHelp(const std::vector<OptionSpec>& specs, std::size_t column);

class Arguments {
 public:
  // Reads `args` (the arguments after the program or command name) against
  // `specs`. Anything that starts with "--" (and is longer) must be a
  // declared option; a spec's alias is matched as a whole argument. Throws
  // OptionError for an unknown option, a missing value or a value given to a
  // flag. An option given more than once holds its last value. Values are checked only when read.
  Arguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

  bool has(const std::string& name) const { return values_.count(name) || flags_.count(name); }
  const std::vector<std::string>& positional() const { return positional_; }

  // The typed readers give `fallback` when the option is absent; a value
  // they cannot take throws OptionError (badValueMessage).
  std::string text(const std::string& name, const std::string& fallback) const;
  // A whole number within [min, max]; `expected` describes it in the refusal
  // (default "a whole number from MIN to MAX").
  long long integer(const std::string& name, long long fallback, long long min, long long max,
                    const std::string& expected = {}) const;
  // A port, kLowestPort..kHighestPort.
  int port(const std::string& name, int fallback) const;
  // Any finite number.
  double number(const std::string& name, double fallback) const;
  // A finite number within [min, max].
  double number(const std::string& name, double fallback, double min, double max, const std::string& expected) const;
  // A finite number above `low` and at most `high`.
  double numberAbove(const std::string& name, double fallback, double low, double high,
                     const std::string& expected) const;
  // One of the listed texts; returns its index. Refused as "expected A, B or C".
  int choice(const std::string& name, const std::vector<std::string>& choices, int fallback) const;

  // Throws OptionError naming the first positional argument, if any: for
  // commands that take options only.
  void refusePositional() const;
  // Throws OptionError: the option's value is not `expected`.
  [[noreturn]] void refuse(const std::string& name, const std::string& expected) const;

 private:
  const std::string* value(const std::string& name) const;

  std::map<std::string, std::string> values_;
  std::set<std::string> flags_;
  std::vector<std::string> positional_;
};

}  // namespace z540k
