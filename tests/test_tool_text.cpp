// The headless tool's pure parts: status renderings and option parsing.
#include <gtest/gtest.h>

#include "CommandLine.h"
#include "PacketEncoders.h"
#include "StatusPacket.h"
#include "StatusText.h"

using namespace z540k;
using namespace z540k::cli;

namespace {

struct DecodedStatus {
  SettingData record{};
  std::vector<int> values;
};

DecodedStatus decoded(const sim::SensorStatus& s) {
  DecodedStatus d;
  const auto p = sim::encodeStatusPacket(s);
  EXPECT_TRUE(decodeStatusPacket(p.data(), p.size(), d.record, d.values));
  return d;
}

}  // namespace

// The JSON object lists the record's fields in record order with their
// values typed (numbers, addresses and texts as text), the decoded versions,
// then the named values.
TEST(StatusTextTest, JsonFieldsInRecordOrder) {
  sim::SensorStatus s;
  s.motorSpeed = 1200;
  s.destIp = {192, 168, 1, 102};
  s.latitude = "3958.1";
  s.latitudeHemisphere = 'N';
  const DecodedStatus d = decoded(s);
  const std::string json = statusAsJson(d.record, d.values, "127.0.0.2", 2369);
  EXPECT_EQ(json.front(), '{');
  EXPECT_EQ(json.back(), '}');
  EXPECT_EQ(json.find('\n'), std::string::npos);
  EXPECT_EQ(json.rfind("{\"sourceIp\":\"127.0.0.2\",\"sourcePort\":2369,\"destIp\":\"192.168.1.102\",\"dataPort\":"
                       "2368,\"motorSpeed\":1200,",
                       0),
            0u)
      << json;
  EXPECT_NE(json.find("\"latitude\":\"3958.1\",\"latitudeHemisphere\":\"N\","), std::string::npos) << json;
  EXPECT_NE(
      json.find(",\"values\":{\"mac\":\"60-76-88-00-00-01\",\"ppsDeviation\":0,\"dataPort\":2368,\"statusPort\":2369,"),
      std::string::npos)
      << json;
  EXPECT_NE(json.find(",\"versions\":{\"fpga2\":\""), std::string::npos) << json;
  std::size_t last = 0;
  for (const StatusField& f : kSettingDataFields) {
    const std::size_t at = json.find(std::string("\"") + f.name + "\":");
    ASSERT_NE(at, std::string::npos) << f.name;
    EXPECT_GT(at, last == 0 ? 0 : last) << f.name << " out of order";
    last = at;
  }
}

TEST(StatusTextTest, ReadableTextNamesEveryField) {
  sim::SensorStatus s;
  s.latitude = "12\"34";
  const DecodedStatus d = decoded(s);
  const std::string text = statusAsText(d.record, d.values);
  for (const StatusField& f : kSettingDataFields) EXPECT_NE(text.find(f.name), std::string::npos) << f.name;
  EXPECT_NE(text.find("destIp                   127.0.0.1"), std::string::npos);
  EXPECT_NE(text.find("60-76-88-00-00-01"), std::string::npos);
  EXPECT_NE(text.find("\"12\\x2234\\x00"), std::string::npos);  // quotes and zeros escaped
}

// A short-layout packet shows the fields that layout carries, marked as such.
TEST(StatusTextTest, ShortLayout) {
  sim::SensorStatus s;
  s.sensorIp = {10, 0, 0, 7};
  s.destIp = {10, 0, 0, 1};
  s.dataPort = 6699;
  s.statusPort = 7788;
  s.motorSpeed = 1200;
  const auto p = sim::encodeStatusPacket(s, sim::StatusLayout::Short);
  ShortStatus st;
  ASSERT_TRUE(decodeShortStatus(p.data(), p.size(), st));
  EXPECT_EQ(shortStatusAsJson(st),
            "{\"layout\":\"short\",\"sensorIp\":\"10.0.0.7\",\"dataPort\":6699,\"destIp\":\"10.0.0.1\","
            "\"devicePort\":7788,\"motorSpeed\":1200}");
  const std::string text = shortStatusAsText(st);
  for (const char* line :
       {"layout                   short", "sensorIp                 10.0.0.7", "dataPort                 6699",
        "destIp                   10.0.0.1", "devicePort               7788", "motorSpeed               1200"})
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
}

// The windows' values as text: every byte outside printable ASCII escaped, a
// choice the status leaves unchanged said so; as JSON, Latin-1 escapes.
TEST(StatusTextTest, WindowValues) {
  sim::SensorStatus s;
  s.latitude = "39\"58";
  s.latitudeHemisphere = '\xB0';
  s.motorSpeed = 700;  // none of the three entries
  const auto p = sim::encodeStatusPacket(s);
  const NamedTexts values = windowValues(p.data());
  const std::string text = namedTextsAsText(values);
  EXPECT_NE(text.find("  latitude                 39\"58\\x00\\x00\\x00\\x00\\x00\\xb0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  motorSpeedChoice         (unchanged)\n"), std::string::npos) << text;
  const std::string json = namedTextsAsJson(values);
  EXPECT_NE(json.find("\"latitude\":\"39\\u002258\\u0000"), std::string::npos) << json;
  EXPECT_NE(json.find("\"motorSpeedChoice\":null"), std::string::npos) << json;
  EXPECT_NE(json.find("\"motorSpeedRead\":700,"), std::string::npos) << json;
  EXPECT_NE(json.find("\\u00b0\",\"mac\":\"60-76-88-00-00-01\""), std::string::npos) << json;
  EXPECT_EQ(json.find('\n'), std::string::npos);
}

// Durations and counts: 0 is "no limit"; anything not a sane value is refused
// with the option's name.
TEST(CommandLineTest, DurationsAndCounts) {
  const std::set<std::string> names = {"--seconds", "--count"};
  EXPECT_EQ(CommandLine({}, names, {}).seconds("--seconds"), 0.0);
  EXPECT_EQ(CommandLine({}, names, {}).count("--count"), 0);
  EXPECT_EQ(CommandLine({"--seconds", "2.5"}, names, {}).seconds("--seconds"), 2.5);
  EXPECT_EQ(CommandLine({"--seconds", "3000000"}, names, {}).seconds("--seconds"), 3e6);  // past an int of ms
  EXPECT_EQ(CommandLine({"--count=0"}, names, {}).count("--count"), 0);
  for (const char* bad : {"-1", "-0.5", "nan", "inf", "1e300", "31622401", "", "5s"}) {
    try {
      CommandLine({"--seconds", bad}, names, {}).seconds("--seconds");
      ADD_FAILURE() << "accepted " << bad;
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find("--seconds"), std::string::npos) << e.what();
    }
  }
  for (const char* bad : {"-1", "1.5", "2000000000000", "x"})
    EXPECT_THROW(CommandLine({"--count", bad}, names, {}).count("--count"), UsageError) << bad;
}

TEST(CommandLineTest, ValuesFlagsAndErrors) {
  const CommandLine line({"in.pcap", "--layout", "1.7", "--frames=3", "--json", "out.csv"}, {"--layout", "--frames"},
                         {"--json"});
  EXPECT_EQ(line.positional(), (std::vector<std::string>{"in.pcap", "out.csv"}));
  EXPECT_EQ(line.choice("--layout", {"1.6", "1.7"}, 0), 1);
  EXPECT_EQ(line.integer("--frames", 0, 0, 10), 3);
  EXPECT_TRUE(line.has("--json"));
  EXPECT_EQ(line.integer("--absent", 7, 0, 10), 7);

  EXPECT_THROW(CommandLine({"--nope"}, {}, {}), UsageError);
  EXPECT_THROW(CommandLine({"--layout"}, {"--layout"}, {}), UsageError);
  const CommandLine bad({"--layout", "1.8", "--frames", "3x", "--angle", "ten"}, {"--layout", "--frames", "--angle"},
                        {});
  EXPECT_THROW(bad.choice("--layout", {"1.6", "1.7"}, 0), UsageError);
  EXPECT_THROW(bad.integer("--frames", 0, 0, 10), UsageError);
  EXPECT_THROW(bad.number("--angle", 0), UsageError);
  try {
    bad.integer("--frames", 0, 0, 10);
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("--frames"), std::string::npos);
  }
}
