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
// values, byte arrays as arrays of numbers, then the 19 values.
TEST(StatusTextTest, JsonFieldsInRecordOrder) {
  sim::SensorStatus s;
  s.motorSpeed = 1200;
  s.destIp = {192, 168, 1, 102};
  s.latitude = "3958.1";
  s.latitudeHemisphere = 'N';
  const DecodedStatus d = decoded(s);
  const std::string json = statusAsJson(d.record, d.values);
  EXPECT_EQ(json.front(), '{');
  EXPECT_EQ(json.back(), '}');
  EXPECT_EQ(json.find('\n'), std::string::npos);
  EXPECT_EQ(json.rfind("{\"destIp\":[192,168,1,102],\"dataPort\":[9,64],\"motorSpeed\":1200,", 0), 0u);
  EXPECT_NE(json.find("\"latitude\":[51,57,53,56,46,49,0,0,0,0],\"latitudeHemisphere\":78,"), std::string::npos);
  EXPECT_NE(json.find(",\"values\":[96,118,136,0,0,1,0,2368,2369,"), std::string::npos);
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
  const CommandLine bad({"--layout", "1.8", "--frames", "3x", "--angle", "ten"}, {"--layout", "--frames", "--angle"}, {});
  EXPECT_THROW(bad.choice("--layout", {"1.6", "1.7"}, 0), UsageError);
  EXPECT_THROW(bad.integer("--frames", 0, 0, 10), UsageError);
  EXPECT_THROW(bad.number("--angle", 0), UsageError);
  try {
    bad.integer("--frames", 0, 0, 10);
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("--frames"), std::string::npos);
  }
}
