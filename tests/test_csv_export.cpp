// CSV rows of exported frames: values, rounding per export kind, the angle
// range, byte-for-byte agreement with output-stream formatting, a file of
// many frames and one on a disk that fills up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "CsvExport.h"
#include "CsvFrameFile.h"
#include "FullDiskTestSupport.h"

using namespace z540k;
using namespace z540k::test;

namespace {

LidarDataSingleLine recordOf(std::initializer_list<std::tuple<double, int, double, unsigned long long>> rows) {
  LidarDataSingleLine r;
  for (const auto& [distance, intensity, azimuth, timestamp] : rows) {
    r.distance.push_back(distance);
    r.intensity.push_back(intensity);
    r.azimuth.push_back(azimuth);
    r.timestamp.push_back(timestamp);
  }
  return r;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::string frame(const LidarDataSingleLine& r, CsvExportOptions o, CsvFrameKind kind, int id = 1) {
  std::string out;
  appendCsvFrame(out, r, id, o, kind);
  return out;
}

// A revolution of `count` measurements at random distances and intensities.
LidarDataSingleLine randomRevolution(int count) {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<int> raw(0, 40000), intensity(0, 255);
  LidarDataSingleLine r;
  for (int i = 0; i < count; ++i) {
    r.distance.push_back(raw(random));
    r.intensity.push_back(intensity(random));
    r.azimuth.push_back(i * 360.0 / count);
    r.timestamp.push_back(1000000 + 3 * i);
  }
  return r;
}

}  // namespace

TEST(CsvExportTest, HeaderLine) {
  EXPECT_STREQ(kCsvHeader, "FreamID,Points_X,Points_Y,Points_Z,intensity,azimuth,distance,timestamp");
}

// Raw 1000 in the 1.6 layout is 2000 mm; at azimuth 90 the point lies on +x.
// The angle constant 3.14159 leaves y a little above zero.
TEST(CsvExportTest, PointOnTheXAxisInBothViewModes) {
  const auto r = recordOf({{1000.0, 77, 90.0, 123456789012ULL}});
  CsvExportOptions o;
  o.layout = Layout::Protocol16;
  o.viewMode = ViewMode::FractionsKept;
  EXPECT_EQ(frame(r, o, CsvFrameKind::Arriving, 5), "5,200,0.000265359,0,77,90,200,123456789012\n");
  o.viewMode = ViewMode::WholeCentimetres;
  EXPECT_EQ(frame(r, o, CsvFrameKind::Arriving, 5), "5,200,0,0,77,90,200,123456789012\n");
  // The 1.7 layout divides by 0.25.
  o.layout = Layout::Protocol17;
  EXPECT_EQ(frame(r, o, CsvFrameKind::Arriving), "1,400,0,0,77,90,400,123456789012\n");
}

// View mode 1: the arriving-frame export truncates toward zero, the frozen
// one adds 0.5 first; -2.7 gives -2 in both, 2.7 gives 2 and 3.
TEST(CsvExportTest, WholeCentimetresPerExportKind) {
  CsvExportOptions o;  // layout 1.6: 13.5 raw is 27 mm, 2.7 cm
  const auto negative = recordOf({{13.5, 1, 270.0, 1}});
  const auto positive = recordOf({{13.5, 1, 90.0, 1}});
  EXPECT_EQ(linesOf(frame(negative, o, CsvFrameKind::Arriving))[0].substr(0, 5), "1,-2,");
  EXPECT_EQ(linesOf(frame(negative, o, CsvFrameKind::Frozen))[0].substr(0, 5), "1,-2,");
  EXPECT_EQ(linesOf(frame(positive, o, CsvFrameKind::Arriving))[0].substr(0, 4), "1,2,");
  EXPECT_EQ(linesOf(frame(positive, o, CsvFrameKind::Frozen))[0].substr(0, 4), "1,3,");
  // A small negative value becomes 0, not -0.
  const auto nearZero = recordOf({{2.0, 1, 359.0, 1}});  // x = -0.07 cm
  EXPECT_EQ(linesOf(frame(nearZero, o, CsvFrameKind::Arriving))[0].substr(0, 4), "1,0,");
  o.viewMode = ViewMode::FractionsKept;
  EXPECT_EQ(linesOf(frame(negative, o, CsvFrameKind::Arriving))[0].substr(0, 7), "1,-2.7,");
}

// The angle range is inclusive at both ends, compared in double precision;
// measurements outside leave no line.
TEST(CsvExportTest, AngleRangeIsInclusive) {
  const auto r =
      recordOf({{100, 1, 9.4999, 1}, {100, 2, 9.5, 2}, {100, 3, 10.0, 3}, {100, 4, 10.5, 4}, {100, 5, 10.5001, 5}});
  CsvExportOptions o;
  o.angleMin = 9.5f;
  o.angleMax = 10.5f;
  std::string out;
  EXPECT_EQ(appendCsvFrame(out, r, 1, o, CsvFrameKind::Arriving), 3u);
  const auto lines = linesOf(out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(",2,9.5,"), std::string::npos);
  EXPECT_NE(lines[2].find(",4,10.5,"), std::string::npos);
  // A range of one point, and an empty record.
  o.angleMin = o.angleMax = 10.0f;
  out.clear();
  EXPECT_EQ(appendCsvFrame(out, r, 1, o, CsvFrameKind::Arriving), 1u);
  EXPECT_EQ(appendCsvFrame(out, LidarDataSingleLine{}, 1, o, CsvFrameKind::Arriving), 0u);
}

// A record from forward playback lacks the newest block's azimuths: only
// measurements with all four entries are written.
TEST(CsvExportTest, PairsUpToTheShortestList) {
  auto r = recordOf({{100, 1, 1.0, 1}, {100, 2, 2.0, 2}, {100, 3, 3.0, 3}});
  r.azimuth.pop_back();
  std::string out;
  EXPECT_EQ(appendCsvFrame(out, r, 1, CsvExportOptions{}, CsvFrameKind::Arriving), 2u);
  r.timestamp.resize(1);
  out.clear();
  EXPECT_EQ(appendCsvFrame(out, r, 1, CsvExportOptions{}, CsvFrameKind::Frozen), 1u);
}

// The fast formatting writes exactly what an output stream with its default
// formatting writes, over many random measurements, in both layouts, view
// modes and export kinds, and with a Windows line end.
namespace {

// The lines of a frame as output-stream formatting writes them.
std::string streamed(const LidarDataSingleLine& r, const CsvExportOptions& o, CsvFrameKind kind, int id) {
  std::ostringstream expected;
  for (std::size_t j = 0; j < r.distance.size(); ++j) {
    const double a = r.azimuth[j];
    if (a < o.angleMin || a > o.angleMax) continue;
    const double d = o.layout == Layout::Protocol16 ? r.distance[j] / 0.5 : r.distance[j] / 0.25;
    const double rad = a * 3.14159 / 180;
    float x = kind == CsvFrameKind::Arriving ? static_cast<float>(d * std::sin(rad) * 0.1)
                                             : static_cast<float>(d * std::sin(rad) / 10);
    float y = kind == CsvFrameKind::Arriving ? static_cast<float>(d * std::cos(rad) * 0.1)
                                             : static_cast<float>(d * std::cos(rad) / 10);
    float z = 0.0f;
    if (o.viewMode == ViewMode::WholeCentimetres) {
      const double shift = kind == CsvFrameKind::Arriving ? 0.0 : 0.5;
      x = static_cast<float>(static_cast<int>(x + shift));
      y = static_cast<float>(static_cast<int>(y + shift));
      z = static_cast<float>(static_cast<int>(z + shift));
    }
    expected << id << ',' << x << ',' << y << ',' << z << ',' << r.intensity[j] << ',' << a << ',' << d / 10 << ','
             << r.timestamp[j] << "\r\n";
  }
  return expected.str();
}

}  // namespace

TEST(CsvExportTest, SameBytesAsStreamFormatting) {
  std::mt19937_64 random(20261207);
  std::uniform_real_distribution<double> azimuth(0.0, 360.0);
  std::uniform_int_distribution<int> raw(0, 65535), intensity(0, 255);
  LidarDataSingleLine r;
  for (int i = 0; i < 20000; ++i) {
    r.distance.push_back(i % 97 == 0 ? 0.0 : i % 89 == 0 ? raw(random) + 0.25 : raw(random));
    r.intensity.push_back(intensity(random));
    // Some azimuths as the sensor's blocks give them (hundredths in single
    // precision), some whole, the rest anything.
    const double a = azimuth(random);
    r.azimuth.push_back(i % 50 == 0 ? std::floor(a) : i % 3 == 0 ? std::floor(a * 100) / 100.0f : a);
    // Time stamps at each count of digits and either side of it.
    unsigned long long ten = 1;
    for (int k = 0; k < i / 2 % 20; ++k) ten *= 10;
    r.timestamp.push_back(i % 5 == 0 ? ten - i % 2 : random() >> (i % 40));
  }
  for (Layout layout : {Layout::Protocol16, Layout::Protocol17})
    for (ViewMode viewMode : {ViewMode::WholeCentimetres, ViewMode::FractionsKept})
      for (CsvFrameKind kind : {CsvFrameKind::Arriving, CsvFrameKind::Frozen}) {
        CsvExportOptions o;
        o.layout = layout;
        o.viewMode = viewMode;
        o.angleMin = 20.25f;
        o.angleMax = 300.5f;
        std::string out;
        appendCsvFrame(out, r, 42, o, kind, "\r\n");
        ASSERT_EQ(out, streamed(r, o, kind, 42)) << static_cast<int>(layout) << " " << static_cast<int>(viewMode);
      }
}

// A thread's memo kept over frames gives the same lines as a fresh one, -0
// and 0 kept apart (-0 writes as "-0", its x too where fractions are kept).
TEST(CsvExportTest, MemoKeptOverFrames) {
  LidarDataSingleLine r;
  for (int i = 0; i < 40000; ++i) {  // more azimuths than the memo holds
    r.distance.push_back(1000 + i % 7);
    r.intensity.push_back(i % 256);
    r.azimuth.push_back(i % 4 == 0 ? (i % 8 == 0 ? 0.0 : -0.0) : (i % 36000) / 100.0);
    r.timestamp.push_back(static_cast<unsigned long long>(i));
  }
  CsvRowMemo memo;
  CsvExportOptions o;
  o.viewMode = ViewMode::FractionsKept;
  for (int frame = 1; frame <= 2; ++frame) {
    std::string out;
    appendCsvFrame(out, r, frame, o, CsvFrameKind::Arriving, "\r\n", &memo);
    ASSERT_EQ(out, streamed(r, o, CsvFrameKind::Arriving, frame));
  }
  const std::string fresh = frame(r, o, CsvFrameKind::Arriving);
  EXPECT_EQ(fresh.substr(0, 20), "1,0,200,0,0,0,200,0\n");
  EXPECT_NE(fresh.find("\n1,-0,200.8,0,4,-0,200.8,4\n"), std::string::npos);
}

// The file gets what appendCsvFrame gives, after the header, when its
// threads turn many batches of frames into text (mixed kinds, the frame
// limit ending it); a discarded file leaves nothing behind.
TEST(CsvExportTest, FileOfManyFramesHoldsTheirLines) {
  const LidarDataSingleLine r = randomRevolution(7000);
  CsvExportOptions o;
  o.viewMode = ViewMode::FractionsKept;
  const std::string path = "/tmp/z540k-" + std::to_string(::getpid()) + "-frames.csv";
  CsvFrameFile file(o, 40);
  std::string error;
  ASSERT_TRUE(file.open(path, error)) << error;
  std::string expected = std::string(kCsvHeader) + "\n";
  for (int id = 1; id <= 45; ++id) {
    const CsvFrameKind kind = id % 3 ? CsvFrameKind::Arriving : CsvFrameKind::Frozen;
    file.writeFrame(r, kind);
    if (id <= 40) appendCsvFrame(expected, r, id, o, kind);
  }
  ASSERT_TRUE(file.close(error)) << error;
  EXPECT_EQ(file.rows(), 40u * 7000);
  std::ifstream in(path, std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(written == expected) << written.size() << " bytes, expected " << expected.size();
  std::remove(path.c_str());

  CsvFrameFile dropped(o, 0);
  ASSERT_TRUE(dropped.open(path, error)) << error;
  for (int id = 1; id <= 10; ++id) dropped.writeFrame(r);
  dropped.discard();
  EXPECT_FALSE(std::ifstream(path).good());
}

// A disk that fills up (a 1 MB file size limit): the file stops taking frames
// as soon as its writing thread's write failed, having been handed only the
// frames of the few batches on their way (some 16 frames of 2000 measurements
// each), never the rest of the export; close() names the file and the
// system's reason, the earlier file stays and nothing is left beside it.
TEST(CsvExportTest, AFullDiskStopsTheFileAtOnce) {
  char folder[] = "/tmp/z540k-full-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/export.csv";
  std::ofstream(path) << "an earlier export\n";
  const LidarDataSingleLine r = randomRevolution(2000);
  CsvFrameFile file(CsvExportOptions{}, 0);
  std::string error;
  ASSERT_TRUE(file.open(path, error)) << error;
  int handed = 0;
  long long acceptedAfterFailure = 0;
  bool closed = true;
  {
    const FileSizeLimit limit(1 << 20);
    ASSERT_TRUE(limit.active());
    for (; handed < 2000 && !file.failed(); ++handed) file.writeFrame(r);
    const long long accepted = file.frames();
    for (int i = 0; i < 5; ++i) file.writeFrame(r);
    acceptedAfterFailure = file.frames() - accepted;
    closed = file.close(error);
  }
  EXPECT_LT(handed, 200) << "frames handed over before the failed write was seen";
  EXPECT_EQ(acceptedAfterFailure, 0);
  EXPECT_FALSE(closed);
  EXPECT_EQ(error, "writing " + path + " failed: " + std::strerror(EFBIG) + "; " + path + " was left unchanged");
  std::ifstream in(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "an earlier export\n");
  EXPECT_EQ(folderEntries(folder), std::vector<std::string>{"export.csv"});
  std::remove(path.c_str());
  ::rmdir(folder);
}
