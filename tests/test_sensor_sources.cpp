// Which sensor is decoded: the first one heard or the one pinned, the others
// counted; all accepted on request; the address texts read and written.
#include <gtest/gtest.h>

#include "SensorSources.h"

using namespace z540k;

namespace {
const SensorAddress kA{0x7F000002, 2368}, kB{0x7F000003, 2368}, kAOtherPort{0x7F000002, 40000};
}

TEST(SensorSourcesTest, FirstHeardIsChosenOthersCounted) {
  SensorSources s;
  EXPECT_TRUE(s.fromChosenHost(kB.ip));  // nothing chosen yet: any status may pass
  EXPECT_TRUE(s.note(kA));
  EXPECT_FALSE(s.note(kB));
  EXPECT_FALSE(s.note(kAOtherPort));  // another port of the address is another source
  EXPECT_FALSE(s.note(kB));
  EXPECT_TRUE(s.note(kA));
  ASSERT_TRUE(s.chosen());
  EXPECT_EQ(*s.chosen(), kA);
  EXPECT_EQ(s.others(), 3u);
  EXPECT_TRUE(s.fromChosenHost(kA.ip));
  EXPECT_FALSE(s.fromChosenHost(kB.ip));
  ASSERT_EQ(s.sources().size(), 3u);
  EXPECT_EQ(s.sources()[0].address, kA);  // in the order heard
  const auto most = s.byFrequency();      // most first, ties in the order heard
  EXPECT_EQ(most[0].address, kA);
  EXPECT_EQ(most[1].address, kB);
  EXPECT_EQ(most[2].address, kAOtherPort);
  EXPECT_EQ(sourceListText(s.sources(), "packets"),
            "127.0.0.2:2368 (2 packets), 127.0.0.3:2368 (2 packets), 127.0.0.2:40000 (1 packets)");
}

TEST(SensorSourcesTest, PinnedAddressAnyPortAndAcceptAll) {
  SensorSources pinned;
  pinned.pin({kB.ip, 0});  // every port of 127.0.0.3
  EXPECT_FALSE(pinned.note(kA));
  EXPECT_TRUE(pinned.note(kB));
  EXPECT_TRUE(pinned.note({kB.ip, 9}));
  EXPECT_EQ(pinned.others(), 1u);
  EXPECT_FALSE(pinned.fromChosenHost(kA.ip));

  SensorSources all;
  all.acceptAll();
  EXPECT_TRUE(all.note(kA));
  EXPECT_TRUE(all.note(kB));
  EXPECT_EQ(all.others(), 0u);
  EXPECT_EQ(all.sources().size(), 2u);
}

TEST(SensorSourcesTest, ForgedAddressesDoNotGrowTheList) {
  SensorSources s;
  for (std::uint32_t i = 0; i < 1000; ++i) s.note({0x0A000000 + i, 2368});
  EXPECT_EQ(s.sources().size(), SensorSources::kMaxListed);
  EXPECT_EQ(s.others(), 999u);
}

TEST(SensorSourcesTest, AddressTexts) {
  SensorAddress a;
  std::string error;
  ASSERT_TRUE(parseSensorAddress("192.168.1.200", a, error));
  EXPECT_EQ(a, (SensorAddress{0xC0A801C8, 0}));
  EXPECT_EQ(sensorAddressText(a), "192.168.1.200");
  ASSERT_TRUE(parseSensorAddress("127.0.0.3:65535", a, error));
  EXPECT_EQ(sensorAddressText(a), "127.0.0.3:65535");
  for (const char* bad : {"", "all", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1.2.3.4:", "1.2.3.4:0", "1.2.3.4:65536",
                          "-1.2.3.4", " 1.2.3.4", "1.2.3.4:80x", "01234.1.1.1"}) {
    a = kA;
    EXPECT_FALSE(parseSensorAddress(bad, a, error)) << bad;
    EXPECT_NE(error.find(std::string("\"") + bad + "\""), std::string::npos) << error;
    EXPECT_EQ(a, kA) << bad;  // left as it was
  }
}
