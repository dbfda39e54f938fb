// The command-line parser shared by z540k-host, z540k-tool and z540k-sim.
#include <gtest/gtest.h>

#include <climits>

#include "Arguments.h"

using namespace z540k;

namespace {

const std::vector<OptionSpec> kSpecs = {
    {"--port", "N", "the port"}, {"--name", "TEXT", "a name"}, {"--layout", "1.6|1.7", "the layout"},
    {"--rate", "X", "a rate"},   {"--quiet", "", "no output"}, {"--help", "", "this text", "-h"},
};

// The refusal's text, or "" when `read` throws nothing.
template <typename Read>
std::string refusal(Read read) {
  try {
    read();
  } catch (const OptionError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

// "--name value", "--name=value", flags, aliases and positional arguments, in
// any order; an empty value is a value.
TEST(ArgumentsTest, Forms) {
  const Arguments line({"in.pcap", "--port", "2400", "--name=a=b", "--quiet", "-h", "-x", "--layout=", "out.csv"},
                       kSpecs);
  EXPECT_EQ(line.positional(), (std::vector<std::string>{"in.pcap", "-x", "out.csv"}));
  EXPECT_EQ(line.port("--port", 1), 2400);
  EXPECT_EQ(line.text("--name", ""), "a=b");
  EXPECT_TRUE(line.has("--quiet"));
  EXPECT_TRUE(line.has("--help"));
  EXPECT_TRUE(line.has("--layout"));
  EXPECT_EQ(line.text("--layout", "x"), "");
  EXPECT_FALSE(line.has("--rate"));
  EXPECT_EQ(line.text("--rate", "fallback"), "fallback");
  // The next argument is the value, whatever it looks like; "--" alone is positional.
  const Arguments next({"--name", "--quiet", "--"}, kSpecs);
  EXPECT_EQ(next.text("--name", ""), "--quiet");
  EXPECT_FALSE(next.has("--quiet"));
  EXPECT_EQ(next.positional(), std::vector<std::string>{"--"});
  // Absent options give the fallbacks.
  const Arguments none({}, kSpecs);
  EXPECT_EQ(none.port("--port", 2368), 2368);
  EXPECT_EQ(none.integer("--port", -5, 0, 10), -5);
  EXPECT_EQ(none.choice("--layout", {"1.6", "1.7"}, 1), 1);
  EXPECT_EQ(none.number("--rate", 2.5), 2.5);
}

// Structural errors at once, value errors when read; each one line naming
// the option.
TEST(ArgumentsTest, Errors) {
  const auto parse = [](std::vector<std::string> args) { return refusal([&] { Arguments(args, kSpecs); }); };
  EXPECT_EQ(parse({"--bogus"}), "unknown option --bogus (see --help)");
  EXPECT_EQ(parse({"--bogus=1"}), "unknown option --bogus (see --help)");
  EXPECT_EQ(parse({"--port"}), "option --port needs a value");
  EXPECT_EQ(parse({"--quiet=1"}), "option --quiet takes no value");
  EXPECT_EQ(Arguments({"--port", "1", "--port=2"}, kSpecs).port("--port", 9), 2);  // the last one holds
  EXPECT_TRUE(Arguments({"-h", "--help"}, kSpecs).has("--help"));
  EXPECT_EQ(refusal([] {
              Arguments({"--quiet", "extra"}, kSpecs).refusePositional();
            }),
            "unexpected argument \"extra\"");
  EXPECT_EQ(refusal([] { Arguments({"--quiet"}, kSpecs).refusePositional(); }), "");

  const Arguments bad({"--port", "0", "--layout", "1.8", "--rate", "ten", "--name", "x"}, kSpecs);
  EXPECT_EQ(refusal([&] { bad.port("--port", 1); }), "bad value for --port: \"0\" (expected a port 1..65535)");
  EXPECT_EQ(refusal([&] {
              bad.choice("--layout", {"1.6", "1.7"}, 0);
            }),
            "bad value for --layout: \"1.8\" (expected 1.6 or 1.7)");
  EXPECT_EQ(refusal([&] {
              bad.choice("--layout", {"300", "600", "1200"}, 0);
            }),
            "bad value for --layout: \"1.8\" (expected 300, 600 or 1200)");
  EXPECT_EQ(refusal([&] { bad.number("--rate", 0); }), "bad value for --rate: \"ten\" (expected a number)");
  EXPECT_EQ(refusal([&] { bad.refuse("--name", "a name"); }), "bad value for --name: \"x\" (expected a name)");
  EXPECT_EQ(refusal([&] { bad.integer("--port", 0, 1, 9); }),
            "bad value for --port: \"0\" (expected a whole number from 1 to 9)");
  EXPECT_EQ(refusal([&] { bad.integer("--port", 0, 1, 9, "at least 1"); }),
            "bad value for --port: \"0\" (expected at least 1)");
}

// Whole numbers and numbers: the whole text, within the range, ends included
// (numberAbove leaves out its lower end).
TEST(ArgumentsTest, Ranges) {
  const auto port = [](const std::string& text) {
    return refusal([&] { Arguments({"--port", text}, kSpecs).port("--port", 0); });
  };
  for (const char* good : {"1", "2368", "65535"}) EXPECT_EQ(port(good), "") << good;
  for (const char* bad : {"0", "65536", "-1", "12x", "", " 80", "+80", "8.0", "99999999999999999999"})
    EXPECT_NE(port(bad), "") << bad;

  EXPECT_EQ(readInteger("-42"), -42);
  EXPECT_EQ(readInteger("007"), 7);
  EXPECT_EQ(readInteger(std::to_string(LLONG_MAX)), LLONG_MAX);
  for (const char* bad : {"", "-", "1e3", "0x10", "9223372036854775808"}) EXPECT_FALSE(readInteger(bad)) << bad;
  EXPECT_EQ(readNumber("2.5"), 2.5);
  EXPECT_EQ(readNumber("-1e3"), -1000.0);
  for (const char* bad : {"", "nan", "inf", "1e999", "5s"}) EXPECT_FALSE(readNumber(bad)) << bad;

  const auto number = [](const std::string& text, bool above) {
    const Arguments line({"--rate", text}, kSpecs);
    return refusal([&] { above ? line.numberAbove("--rate", 0, 0, 1, "r") : line.number("--rate", 0, 0, 1, "r"); });
  };
  EXPECT_EQ(number("0", false), "");
  EXPECT_NE(number("0", true), "");
  EXPECT_EQ(number("1", true), "");
  EXPECT_EQ(number("0.5", true), "");
  EXPECT_NE(number("1.01", false), "");
  EXPECT_NE(number("-0.1", false), "");
}

// The help lines: the value after the name, the text at the column (or two
// spaces past a long name), continuation lines indented to it.
TEST(ArgumentsTest, HelpLines) {
  EXPECT_EQ(optionsHelp({{"--port", "N", "the port (default 1)"},
                         {"--quiet", "", "first line\nsecond line"},
                         {"--a-very-long-option", "VALUE", "text"}},
                        16),
            "  --port N      the port (default 1)\n"
            "  --quiet       first line\n"
            "                second line\n"
            "  --a-very-long-option VALUE  text\n");
}
