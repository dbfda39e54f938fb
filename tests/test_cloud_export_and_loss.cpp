// Captures of the simulated sensor as point cloud files (read back with
// PCL's readers and, where installed, Debian's pcl-tools), and the datagrams
// the simulator leaves out (--drop) as the tool counts them lost on the wire.
#include <dirent.h>
#include <gtest/gtest.h>
#include <pcl/PCLPointCloud2.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <numeric>
#include <regex>
#include <sstream>

#include "CaptureExport.h"
#include "CaptureFile.h"
#include "CloudFrameFile.h"
#include "DataPacketDecoder.h"
#include "FullDiskTestSupport.h"
#include "LoopbackTestSupport.h"
#include "ProcessTestSupport.h"
#include "UdpSocket.h"

using namespace z540k;
using namespace z540k::test;

namespace {

const std::string kSim = Z540K_SIM_PATH;
const std::string kTool = Z540K_TOOL_PATH;

std::string tempPath(const std::string& name) { return "/tmp/z540k-cloud-" + std::to_string(::getpid()) + "-" + name; }

std::uint64_t number(const std::string& text, const std::string& pattern) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex(pattern))) {
    ADD_FAILURE() << "no \"" << pattern << "\" in: " << text;
    return 0;
  }
  return std::stoull(m[1]);
}

std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* e = ::readdir(dir))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The hidden temporary files and folders of this test's exports in /tmp.
int hiddenBeside(const std::string& path) {
  const std::string prefix = "." + path.substr(path.rfind('/') + 1).substr(0, 20);
  int found = 0;
  if (DIR* dir = ::opendir("/tmp")) {
    while (const dirent* e = ::readdir(dir)) found += std::string(e->d_name).rfind(prefix, 0) == 0;
    ::closedir(dir);
  }
  return found;
}

pcl::PCLPointCloud2 readCloud(const std::string& path) {
  pcl::PCLPointCloud2 cloud;
  const int result = cloudFormatOfName(path) == CloudFormat::Ply ? pcl::PLYReader().read(path, cloud)
                                                                 : pcl::PCDReader().read(path, cloud);
  EXPECT_EQ(result, 0) << path;
  return cloud;
}

// The points of a folder of frame files, in frame order, as one block of bytes.
std::vector<std::uint8_t> folderPoints(const std::string& folder) {
  std::vector<std::uint8_t> bytes;
  for (const std::string& name : entries(folder)) {
    const auto cloud = readCloud(folder + "/" + name);
    bytes.insert(bytes.end(), cloud.data.begin(), cloud.data.end());
  }
  return bytes;
}

template <typename T>
T at(const pcl::PCLPointCloud2& c, std::size_t point, const char* field) {
  for (const auto& f : c.fields)
    if (f.name == field) {
      T v;
      std::memcpy(&v, c.data.data() + point * c.point_step + f.offset, sizeof v);
      return v;
    }
  ADD_FAILURE() << "no field " << field;
  return T{};
}

std::string general(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

struct Capture {
  static inline int serial = 0;
  std::string path = tempPath("scene-" + std::to_string(serial++) + ".pcap");
  explicit Capture(std::vector<std::string> options) {
    options.insert(options.begin(), {kSim, "--write-pcap", path});
    Process write(options);
    EXPECT_EQ(write.wait(), 0) << write.err();
    leftOut = write.err();
  }
  ~Capture() { std::remove(path.c_str()); }
  std::string leftOut;  // the simulator's summary
};

struct ToolRun {
  int code;
  std::string out, err;
};
ToolRun tool(std::vector<std::string> args) {
  args.insert(args.begin(), kTool);
  Process p(args);
  const int code = p.wait();
  return {code, p.out(), p.err()};
}

}  // namespace

// Every form holds the points of the CSV rows: the same count, and each
// field as the CSV writes it (view mode 2, fractions kept); all forms hold
// the same bytes, ASCII PCD included, the folder's files those of the merged
// cloud frame by frame.
TEST(CloudExportTest, FilesHoldTheCsvRows) {
  const Capture capture({"--quiet", "--seconds", "0.5", "--layout", "1.7"});
  const std::string csv = tempPath("rows.csv"), dir = tempPath("frames"), plyDir = tempPath("plyframes");
  const std::vector<std::string> decode = {"--layout",    "1.7", "--view-mode", "2",
                                           "--angle-min", "40",  "--angle-max", "300"};
  // The clouds keep the measurements without a return here, as the CSV does.
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.end(), decode.begin(), decode.end());
    if (args[0] == "export-cloud") args.push_back("--keep-empty");
    const ToolRun r = tool(args);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    return r.err;
  };
  with({"export-csv", capture.path, csv});
  std::vector<std::vector<std::string>> rows;
  {
    std::istringstream in(readFile(csv));
    std::string l;
    std::getline(in, l);
    while (std::getline(in, l)) {
      std::vector<std::string> fields;
      std::istringstream line(l);
      for (std::string f; std::getline(line, f, ',');) fields.push_back(f);
      rows.push_back(fields);
    }
  }
  ASSERT_GT(rows.size(), 10000u);

  const std::string binary = tempPath("binary.pcd");
  const std::string summary = with({"export-cloud", capture.path, binary, "--merge", "--binary"});
  EXPECT_NE(summary.find(std::to_string(rows.size()) + " points to " + binary + ", 0 lost on the wire"),
            std::string::npos)
      << summary;
  const auto cloud = readCloud(binary);
  ASSERT_EQ(cloud.width * cloud.height, rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& r = rows[i];
    ASSERT_EQ(std::to_string(at<std::uint32_t>(cloud, i, "frame")), r[0]) << i;
    ASSERT_EQ(general(at<float>(cloud, i, "x")), r[1]) << i;
    ASSERT_EQ(general(at<float>(cloud, i, "y")), r[2]) << i;
    ASSERT_EQ(general(at<float>(cloud, i, "z")), r[3]) << i;
    ASSERT_EQ(general(at<float>(cloud, i, "intensity")), r[4]) << i;
    ASSERT_EQ(general(at<double>(cloud, i, "azimuth")), r[5]) << i;
    ASSERT_EQ(general(at<double>(cloud, i, "distance")), r[6]) << i;
    ASSERT_EQ(std::to_string(static_cast<unsigned long long>(at<double>(cloud, i, "timestamp"))), r[7]) << i;
  }

  const std::vector<std::pair<std::string, std::vector<std::string>>> forms = {
      {tempPath("compressed.pcd"), {"--merge"}},
      {tempPath("ascii.pcd"), {"--merge", "--ascii"}},
      {tempPath("binary.ply"), {"--merge"}},
  };
  for (const auto& [path, options] : forms) {
    std::vector<std::string> args = {"export-cloud", capture.path, path};
    args.insert(args.end(), options.begin(), options.end());
    with(args);
    EXPECT_TRUE(readCloud(path).data == cloud.data) << path;
    std::remove(path.c_str());
  }
  with({"export-cloud", capture.path, dir});
  with({"export-cloud", capture.path, plyDir, "--format", "ply"});
  const auto frames = entries(dir);
  ASSERT_EQ(frames.size(), std::stoul(rows.back()[0]));
  EXPECT_EQ(frames.front(), "frame_000001.pcd");
  EXPECT_TRUE(folderPoints(dir) == cloud.data);
  EXPECT_TRUE(folderPoints(plyDir) == cloud.data);

  // Debian's pcl-tools read them and write what they read.
  if (::access("/usr/bin/pcl_pcd2ply", X_OK) == 0) {
    const std::string ply = tempPath("converted.ply"), pcd = tempPath("converted.pcd"), back = tempPath("back.pcd");
    EXPECT_EQ(Process({"/usr/bin/pcl_pcd2ply", binary, ply}).wait(), 0);
    EXPECT_TRUE(readCloud(ply).data == cloud.data);
    EXPECT_EQ(Process({"/usr/bin/pcl_ply2pcd", plyDir + "/frame_000001.ply", pcd}).wait(), 0);
    EXPECT_TRUE(readCloud(pcd).data == readCloud(dir + "/frame_000001.pcd").data);
    EXPECT_EQ(Process({"/usr/bin/pcl_convert_pcd_ascii_binary", dir + "/frame_000002.pcd", back, "1"}).wait(), 0);
    EXPECT_TRUE(readCloud(back).data == readCloud(dir + "/frame_000002.pcd").data);
    for (const auto& f : {ply, pcd, back}) std::remove(f.c_str());
  } else {
    std::printf("pcl-tools are not installed: their part is skipped\n");
  }
  for (const auto& folder : {dir, plyDir}) {
    for (const auto& name : entries(folder)) std::remove((folder + "/" + name).c_str());
    ::rmdir(folder.c_str());
  }
  std::remove(binary.c_str());
  std::remove(csv.c_str());
}

// Every form is byte for byte the file PCL's own writers make of the same
// points (read back from the binary PCD): headers, the text of every number
// (fractions, -0 from whole centimetres, time stamps beyond 2^53, the widest
// azimuths and distances), the compressed block.
TEST(CloudExportTest, EveryFormIsWhatPclWrites) {
  std::vector<LidarDataSingleLine> records(2);
  unsigned seed = 26;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (LidarDataSingleLine& r : records) {
    for (int i = 0; i < 5000; ++i) {
      r.azimuth.push_back(i == 0 ? 0.0 : (next() % 3600000) / 10000.0);
      r.distance.push_back(i == 1 ? 0 : i == 2 ? 65535 : next() % 65536);
      r.intensity.push_back(static_cast<int>(next() % 256));
      r.timestamp.push_back(i == 3 ? (1ULL << 60) + 1 : i == 4 ? 0 : 1700000000000000ULL + next());
    }
  }
  const Eigen::Vector4f origin = Eigen::Vector4f::Zero();
  const Eigen::Quaternionf orientation = Eigen::Quaternionf::Identity();
  for (const ViewMode mode : {ViewMode::WholeCentimetres, ViewMode::FractionsKept}) {
    CsvExportOptions options;
    options.layout = Layout::Protocol17;
    options.viewMode = mode;
    auto written = [&](CloudFormat format, CloudEncoding encoding) {
      const std::string path = tempPath(std::string("pcl-form.") + cloudExtension(format));
      CloudFrameFile out(options, 0, CloudFileOptions{format, encoding, true, true});
      std::string error;
      EXPECT_TRUE(out.open(path, error)) << error;
      for (const auto& r : records) out.writeFrame(r);
      EXPECT_TRUE(out.close(error)) << error;
      return path;
    };
    const std::string binary = written(CloudFormat::Pcd, CloudEncoding::Binary);
    const pcl::PCLPointCloud2 cloud = readCloud(binary);
    ASSERT_EQ(cloud.width, 10000u);
    const std::string reference = tempPath("pcl-reference");
    const std::vector<std::pair<std::pair<CloudFormat, CloudEncoding>, std::function<int()>>> forms = {
        // PCL's own file writers pad a binary PCD to whole pages: the files
        // have always been PCL's header and the bytes after it, unpadded.
        {{CloudFormat::Pcd, CloudEncoding::Binary},
         [&] {
           std::ofstream(reference) << pcl::PCDWriter().generateHeaderBinary(cloud, origin, orientation)
                                    << "DATA binary\n"
                                    << std::string(cloud.data.begin(), cloud.data.end());
           return 0;
         }},
        {{CloudFormat::Pcd, CloudEncoding::BinaryCompressed},
         [&] {
           std::ofstream file(reference);
           return pcl::PCDWriter().writeBinaryCompressed(file, cloud, origin, orientation);
         }},
        {{CloudFormat::Pcd, CloudEncoding::Ascii},
         [&] { return pcl::PCDWriter().writeASCII(reference, cloud, origin, orientation, 17); }},
        {{CloudFormat::Ply, CloudEncoding::Binary},
         [&] { return pcl::PLYWriter().writeBinary(reference, cloud, origin, orientation, false); }},
    };
    // ASCII PLY: PCL's header, every value exact (PCL's writer keeps 6 digits).
    {
      const std::string ours = written(CloudFormat::Ply, CloudEncoding::Ascii);
      ASSERT_EQ(pcl::PLYWriter().writeASCII(reference, cloud, origin, orientation, 17, false), 0);
      const std::string text = readFile(ours), pcls = readFile(reference);
      EXPECT_EQ(text.substr(0, text.find("end_header\n")), pcls.substr(0, pcls.find("end_header\n")));
      EXPECT_TRUE(readCloud(ours).data == cloud.data) << "view mode " << static_cast<int>(mode);
      std::remove(ours.c_str());
    }
    for (const auto& [form, pclWrites] : forms) {
      const std::string ours = written(form.first, form.second);
      ASSERT_EQ(pclWrites(), 0);
      EXPECT_TRUE(readFile(ours) == readFile(reference))
          << cloudExtension(form.first) << " encoding " << static_cast<int>(form.second) << " view mode "
          << static_cast<int>(mode);
      std::remove(ours.c_str());
      std::remove(reference.c_str());
    }
    std::remove(binary.c_str());
  }
}

// A merged compressed or text cloud of many blocks is finished block by
// block as it grows (memory about the file's size), by two threads: PCL
// reads back the points of the binary file, in order, dual return's odd
// point size included.
TEST(CloudExportTest, MergedInBlocksReadsBackWhole) {
  LidarDataSingleLine record;
  unsigned seed = 7;
  for (int i = 0; i < 6000; ++i) {
    seed = seed * 1103515245u + 12345u;
    record.azimuth.push_back(i * 0.06);
    record.distance.push_back(seed % 65536);
    record.intensity.push_back(static_cast<int>(seed >> 24));
    record.timestamp.push_back(1700000000000000ULL + seed);
  }
  record.secondReturnsFrom = 3000;
  CsvExportOptions options;
  options.layout = Layout::Protocol17;
  auto written = [&](CloudEncoding encoding) {
    const std::string path = tempPath("blocks-" + std::to_string(static_cast<int>(encoding)) + ".pcd");
    CloudFrameFile out(options, 0, CloudFileOptions{CloudFormat::Pcd, encoding, true, true});
    std::string error;
    EXPECT_TRUE(out.open(path, error)) << error;
    for (int frame = 0; frame < 25; ++frame) out.writeFrame(record);  // 150,000 points
    EXPECT_TRUE(out.close(error)) << error;
    return path;
  };
  const std::string binary = written(CloudEncoding::Binary);
  const pcl::PCLPointCloud2 expected = readCloud(binary);
  // A binary cloud written as it grows, its count judged right (150,000
  // from 72,000 at half the input) or wrong (2.3 million from 144,000 at a
  // sixteenth, written again at close): the same bytes.
  for (const auto& [framesBefore, share] : {std::pair<int, std::uint64_t>{12, 2}, {24, 16}}) {
    const std::string path = tempPath("blocks-streamed.pcd");
    CloudFrameFile out(options, 0, CloudFileOptions{CloudFormat::Pcd, CloudEncoding::Binary, true, true});
    std::string error;
    EXPECT_TRUE(out.open(path, error)) << error;
    for (int frame = 0; frame < 25; ++frame) {
      if (frame == framesBefore) out.shareRead(1, share);
      out.writeFrame(record);
    }
    EXPECT_TRUE(out.close(error)) << error;
    EXPECT_TRUE(readFile(path) == readFile(binary)) << "streamed after frame " << framesBefore;
    std::remove(path.c_str());
  }
  for (const CloudEncoding encoding : {CloudEncoding::BinaryCompressed, CloudEncoding::Ascii}) {
    const std::string path = written(encoding);
    const pcl::PCLPointCloud2 cloud = readCloud(path);
    EXPECT_EQ(cloud.width, 150000u);
    EXPECT_EQ(cloud.point_step, 49u);
    EXPECT_TRUE(cloud.data == expected.data);
    std::remove(path.c_str());
  }
  std::remove(binary.c_str());
}

// What export-cloud refuses, and what it never replaces: the capture
// itself, a folder holding files, a file name without --merge, a PLY
// compressed; an existing file stays as it was when the new one cannot be
// written, and a capture changed on disk keeps the frames before it.
TEST(CloudExportTest, RefusalsNeverLoseAFile) {
  const Capture capture({"--quiet", "--seconds", "0.5", "--layout", "1.7"});
  const std::string folder = tempPath("kept"), merged = tempPath("kept.pcd");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  std::ofstream(folder + "/mine.txt") << "the operator's\n";
  std::ofstream(merged) << "an earlier export\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{capture.path, capture.path, "--merge"}, "itself"},
      {{capture.path, folder}, "not empty"},
      {{capture.path, merged}, "--merge"},
      {{capture.path, merged, "--merge", "--format", "ply"}, "does not end in .ply"},
      {{capture.path, tempPath("kept.xyz"), "--merge"}, "written as .pcd or .ply, not as .xyz"},
      {{capture.path, folder, "--format", "ply", "--compressed"}, "--compressed is for PCD"},
  };
  for (const auto& [args, says] : refused) {
    std::vector<std::string> all = {"export-cloud"};
    all.insert(all.end(), args.begin(), args.end());
    const ToolRun r = tool(all);
    EXPECT_NE(r.code, 0) << says;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  // Writes fail past a small file size limit (as on a full disk), through
  // PCL's mapped PCD writer and its stream writers (PLY, ASCII) alike.
  const std::string fresh = tempPath("fresh");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{merged, "--merge", "--binary"}, std::vector<std::string>{fresh, "--format", "ply"},
        std::vector<std::string>{fresh, "--ascii"}}) {
    std::vector<std::string> all = {kTool, "export-cloud", capture.path, "--layout", "1.7"};
    all.insert(all.end(), args.begin(), args.end());
    std::unique_ptr<Process> run;
    {
      const FileSizeLimit limit(64 << 10);
      ASSERT_TRUE(limit.active());
      run = std::make_unique<Process>(all);
    }
    EXPECT_EQ(run->wait(), 1) << run->err();
    EXPECT_NE(run->err().find("failed"), std::string::npos) << run->err();
    EXPECT_EQ(run->out(), "");
  }
  EXPECT_NE(::access(fresh.c_str(), F_OK), 0);
  EXPECT_EQ(readFile(merged), "an earlier export\n");
  EXPECT_EQ(entries(folder), std::vector<std::string>{"mine.txt"});
  EXPECT_EQ(hiddenBeside(merged), 0) << "temporary files left";
  // A file system mounted under /dev holds files like any other.
  if (::access("/dev/shm", W_OK) == 0) {
    const std::string shm = "/dev/shm/z540k-" + std::to_string(::getpid()) + ".pcd";
    const ToolRun r = tool({"export-cloud", capture.path, shm, "--merge", "--layout", "1.7"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(shm).rfind("# .PCD", 0), 0u);
    std::remove(shm.c_str());
  }

  // Shortened while read (5 MB, more than the reader's buffer): the frames
  // before it go into the folder.
  const Capture longer({"--quiet", "--seconds", "40", "--layout", "1.7"});
  const std::string out = tempPath("changed");
  cli::DecodeSettings settings;
  settings.layout = settings.csv.layout = Layout::Protocol17;
  const std::atomic<bool> stop{false};
  int refills = 0;
  cli::CaptureExportHooks hooks;
  hooks.afterRefill = [&] {
    if (refills++ == 0) {
      EXPECT_EQ(::truncate(longer.path.c_str(), 4096), 0);
    }
  };
  CloudFrameFile cloud(settings.csv, 0, CloudFileOptions{CloudFormat::Pcd, CloudEncoding::Binary, false});
  const auto result = cli::exportCapture(longer.path, out, cloud, settings, stop, hooks);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.message, longer.path + " changed on disk after it was opened; the " +
                                std::to_string(cloud.frames()) + " frames before it were exported");
  EXPECT_GT(cloud.frames(), 0);
  EXPECT_EQ(static_cast<long long>(entries(out).size()), cloud.frames());
  for (const auto& name : entries(out)) std::remove((out + "/" + name).c_str());
  ::rmdir(out.c_str());
  std::remove((folder + "/mine.txt").c_str());
  ::rmdir(folder.c_str());
  std::remove(merged.c_str());
}

namespace {

// An export's file that counts the frames handed to it after it failed.
template <typename File>
class WatchedFile : public File {
 public:
  using File::File;
  void writeFrame(const LidarDataSingleLine& record, CsvFrameKind kind) override {
    ++handed;
    if (this->failed()) ++handedAfterFailure;
    File::writeFrame(record, kind);
  }
  long long handed = 0, handedAfterFailure = 0;
};

}  // namespace

namespace {

// The revolutions of a capture as the exports decode them.
class RecordedFrames : public FrameFile {
 public:
  RecordedFrames() : FrameFile(0) {}
  bool open(const std::string&, std::string&) override { return true; }
  void writeFrame(const LidarDataSingleLine& record, CsvFrameKind) override {
    records.push_back(record);
    ++frames_;
  }
  bool close(std::string&) override { return true; }
  void discard() override {}
  bool failed() const override { return false; }
  std::uint64_t rows() const override { return 0; }
  std::string rowsText() const override { return ""; }
  std::vector<LidarDataSingleLine> records;
};

// A field of point `i` of a cloud read by PCL, as a double.
double fieldOf(const pcl::PCLPointCloud2& cloud, std::size_t i, const std::string& name) {
  for (const pcl::PCLPointField& f : cloud.fields) {
    if (f.name != name) continue;
    const std::uint8_t* at = cloud.data.data() + i * cloud.point_step + f.offset;
    switch (f.datatype) {
      case pcl::PCLPointField::FLOAT32: {
        float v;
        std::memcpy(&v, at, 4);
        return v;
      }
      case pcl::PCLPointField::FLOAT64: {
        double v;
        std::memcpy(&v, at, 8);
        return v;
      }
      case pcl::PCLPointField::UINT32: {
        std::uint32_t v;
        std::memcpy(&v, at, 4);
        return v;
      }
      case pcl::PCLPointField::UINT8:
        return *at;
      default:
        break;
    }
  }
  ADD_FAILURE() << "no field " << name;
  return NAN;
}

}  // namespace

// Every field of every form (CSV; PCD ASCII, binary, compressed; PLY ASCII,
// binary), single and dual return, read back (the clouds by PCL's readers)
// equals the decoded value: time stamps, azimuths and the return included.
// Measurements without a return are left out of the clouds and counted,
// unless --keep-empty; --units m gives metres.
TEST(CloudExportTest, EveryFieldReadsBackAsDecoded) {
  for (const bool dual : {false, true}) {
    SCOPED_TRACE(dual ? "dual return" : "single return");
    std::vector<std::string> simOptions = {"--quiet", "--seconds", "0.3", "--layout", "1.7"};
    if (dual) simOptions.push_back("--dual-return");
    const Capture capture(simOptions);
    cli::DecodeSettings settings;
    settings.layout = settings.csv.layout = Layout::Protocol17;
    RecordedFrames decoded;
    const std::atomic<bool> stop{false};
    ASSERT_EQ(cli::exportCapture(capture.path, "", decoded, settings, stop).exitCode, 0);
    ASSERT_GT(decoded.records.size(), 1u);

    struct Form {
      std::vector<std::string> options;
      bool keepEmpty, metres;
    };
    const std::vector<Form> forms = {
        {{"--format", "pcd", "--ascii"}, false, false},     {{"--format", "pcd", "--binary"}, true, false},
        {{"--format", "pcd", "--compressed"}, false, true}, {{"--format", "ply", "--ascii"}, false, false},
        {{"--format", "ply", "--binary"}, false, true},
    };
    const std::string out = tempPath("every-field");
    for (const Form& form : forms) {
      SCOPED_TRACE(form.options[1] + " " + form.options[2] + (form.keepEmpty ? " --keep-empty" : "") +
                   (form.metres ? " --units m" : ""));
      std::vector<std::string> args = {"export-cloud", capture.path, out, "--merge", "--layout", "1.7"};
      args.insert(args.end(), form.options.begin(), form.options.end());
      if (form.keepEmpty) args.push_back("--keep-empty");
      if (form.metres) args.insert(args.end(), {"--units", "m"});
      const ToolRun r = tool(args);
      ASSERT_EQ(r.code, 0) << r.err;
      pcl::PCLPointCloud2 cloud;
      ASSERT_EQ(form.options[1] == "ply" ? pcl::PLYReader().read(out, cloud) : pcl::PCDReader().read(out, cloud), 0);
      const double scale = form.metres ? 0.01 : 1.0;
      std::size_t i = 0, empty = 0;
      for (std::size_t f = 0; f < decoded.records.size(); ++f) {
        const LidarDataSingleLine& record = decoded.records[f];
        forEachExportedMeasurement(record, settings.csv, [&](std::size_t j, double a, double d) {
          if (record.distance[j] == 0 && !form.keepEmpty) return void(++empty);
          if (i >= cloud.width) return void(++i);
          const CsvPoint p = csvPoint(d, a, settings.csv.viewMode, CsvFrameKind::Arriving);
          const std::vector<std::pair<const char*, double>> expected = {
              {"x", static_cast<float>(p.x * scale)},
              {"y", static_cast<float>(p.y * scale)},
              {"z", static_cast<float>(p.z * scale)},
              {"intensity", record.intensity[j]},
              {"azimuth", a},
              {"distance", d / 10 * scale},
              {"timestamp", static_cast<double>(record.timestamp[j])},
              {"frame", static_cast<double>(f + 1)},
              {"point", static_cast<double>(j)}};
          for (const auto& [name, value] : expected)
            if (fieldOf(cloud, i, name) != value) {
              ADD_FAILURE() << name << " of point " << i << ": " << fieldOf(cloud, i, name) << " for " << value;
              i = cloud.width;  // one report is enough
              return;
            }
          if (dual) {
            EXPECT_EQ(fieldOf(cloud, i, "return"), j < record.secondReturnsFrom ? 1 : 2);
          }
          ++i;
        });
      }
      EXPECT_EQ(i, cloud.width);
      EXPECT_EQ(cloud.fields.size(), dual ? 10u : 9u);
      if (form.keepEmpty) continue;
      EXPECT_GT(empty, 0u);
      EXPECT_NE(r.err.find(" (" + std::to_string(empty) + " measurements without a return left out)"),
                std::string::npos)
          << r.err;
    }
    std::remove(out.c_str());

    // The CSV: whole centimetres, intensity, time stamp and frame exact; the
    // azimuth and distance to the digits the CSV writes.
    const std::string csv = tempPath("every-field.csv");
    ASSERT_EQ(tool({"export-csv", capture.path, csv, "--layout", "1.7"}).code, 0);
    std::istringstream rows(readFile(csv));
    std::string row;
    std::getline(rows, row);
    std::size_t n = 0, mismatches = 0;
    for (std::size_t f = 0; f < decoded.records.size(); ++f) {
      const LidarDataSingleLine& record = decoded.records[f];
      forEachExportedMeasurement(record, settings.csv, [&](std::size_t j, double a, double d) {
        if (!std::getline(rows, row)) return void(++mismatches);
        double v[8];
        char comma;
        std::istringstream line(row);
        for (double& x : v) line >> x >> comma;
        const CsvPoint p = csvPoint(d, a, settings.csv.viewMode, CsvFrameKind::Arriving);
        mismatches += !(v[0] == f + 1 && v[1] == p.x && v[2] == p.y && v[3] == p.z && v[4] == record.intensity[j] &&
                        std::abs(v[5] - a) <= 5e-6 * std::max(1.0, a) && std::abs(v[6] - d / 10) <= 0.05 &&
                        v[7] == static_cast<double>(record.timestamp[j]));
        ++n;
      });
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_FALSE(std::getline(rows, row)) << "more rows than measurements";
    EXPECT_GT(n, 0u);
    std::remove(csv.c_str());
  }
}

// A disk that fills up (a 64 KB file size limit) ends export-csv's and
// export-cloud's reading at the first failed write: of the capture's 300
// frames none is handed to the file after it, only those on their way before
// (the CSV writer's few batches of some 9 frames, the frame writer's few
// frames), and the message names the
// file and the system's reason; the target stays as it was, nothing beside it.
TEST(CloudExportTest, AFullDiskEndsTheExportAtOnce) {
  const Capture capture({"--quiet", "--seconds", "30", "--layout", "1.7"});
  char folder[] = "/tmp/z540k-full-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::string csvPath = std::string(folder) + "/export.csv", cloudPath = std::string(folder) + "/frames";
  std::ofstream(csvPath) << "an earlier export\n";
  cli::DecodeSettings settings;
  settings.layout = settings.csv.layout = Layout::Protocol17;
  const std::atomic<bool> stop{false};
  WatchedFile<CsvFrameFile> csv(settings.csv, 0);
  WatchedFile<CloudFrameFile> cloud(settings.csv, 0, CloudFileOptions{CloudFormat::Pcd, CloudEncoding::Binary, false});
  cli::CaptureExportResult csvResult, cloudResult;
  {
    const FileSizeLimit limit(64 << 10);
    ASSERT_TRUE(limit.active());
    csvResult = cli::exportCapture(capture.path, csvPath, csv, settings, stop);
    cloudResult = cli::exportCapture(capture.path, cloudPath, cloud, settings, stop);
  }
  const std::string tooLarge = std::strerror(EFBIG);
  EXPECT_EQ(csvResult.exitCode, 1);
  EXPECT_EQ(csvResult.message, "writing " + csvPath + " failed: " + tooLarge + "; " + csvPath + " was left unchanged");
  EXPECT_EQ(csvResult.summary, "");
  EXPECT_EQ(csv.handedAfterFailure, 0);
  EXPECT_LT(csv.handed, 100);
  EXPECT_EQ(cloudResult.exitCode, 1);
  EXPECT_EQ(cloudResult.message, "writing " + cloudPath + "/frame_000001.pcd failed: " + tooLarge + "; " + cloudPath +
                                     " was left unchanged");
  EXPECT_LT(cloud.handed, 20);  // the frame writer's 16 point sets at most
  EXPECT_EQ(readFile(csvPath), "an earlier export\n");
  EXPECT_EQ(folderEntries(folder), std::vector<std::string>{"export.csv"});
  std::remove(csvPath.c_str());
  ::rmdir(folder);
}

// On a file system that fills up (a 1 MB tmpfs of its own) the binary PCD
// forms, the default among them, fail with the system's reason like the CSV,
// never end the process, and leave nothing behind.
TEST(CloudExportTest, AFullFileSystemIsAMessageNeverACrash) {
  if (::access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "no unshare here";
  const Capture capture({"--quiet", "--seconds", "5", "--layout", "1.7"});
  char folder[] = "/tmp/z540k-tmpfs-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"export-cloud", "frames"},
                                               {"export-cloud", "merged.pcd", "--merge", "--binary"},
                                               {"export-csv", "export.csv"}}) {
    const std::string out = std::string(folder) + "/" + args[1];
    std::vector<std::string> command = {kTool, args[0], capture.path, out, "--layout", "1.7"};
    command.insert(command.end(), args.begin() + 2, args.end());
    Process run(onSmallFileSystem(folder, 1 << 20, command));
    const int code = run.wait();
    if (code == 77) GTEST_SKIP() << "cannot mount a file system here: " << run.err();
    EXPECT_EQ(code, 1) << run.err();
    EXPECT_NE(run.err().find(std::string(" failed: ") + std::strerror(ENOSPC) + "; " + out + " was left unchanged\n"),
              std::string::npos)
        << run.err();
    EXPECT_EQ(run.out(), "") << "left behind";
  }
  ::rmdir(folder);
}

struct LossCase {
  const char* arrangement;  // a simulator option, or ""
  const char* rpm;
};

class WireLossCountTest : public ::testing::TestWithParam<LossCase> {};

// Thirty seconds of the simulated sensor leaving out 5% of its data
// datagrams: export-csv counts them lost on the wire within 1% of the
// simulator's own count; without --drop it counts none.
TEST_P(WireLossCountTest, ExportCountsWhatTheSimulatorLeftOut) {
  const LossCase c = GetParam();
  const std::string mode = std::strcmp(c.arrangement, "--dual-return") == 0 ? "1" : "0";
  for (const bool drop : {true, false}) {
    std::vector<std::string> options = {"--seconds", drop ? "30" : "5", "--rpm", c.rpm};
    if (*c.arrangement) options.push_back(c.arrangement);
    if (drop) options.insert(options.end(), {"--drop", "0.05"});
    const Capture capture(options);
    const ToolRun r =
        tool({"export-csv", capture.path, "/dev/null", "--layout", "1.7", "--return-mode", mode, "--angle-max", "1"});
    ASSERT_EQ(r.code, 0) << r.err;
    const std::uint64_t lost = number(r.err, "(\\d+) lost on the wire");
    if (!drop) {
      EXPECT_EQ(lost, 0u) << r.err;
      continue;
    }
    const std::uint64_t leftOut = number(capture.leftOut, "(\\d+) data datagrams left out");
    EXPECT_GT(leftOut, 20u);
    EXPECT_LE(std::abs(static_cast<double>(lost) - static_cast<double>(leftOut)), 0.01 * leftOut)
        << lost << " of " << leftOut;
  }
}

INSTANTIATE_TEST_SUITE_P(Arrangements, WireLossCountTest,
                         ::testing::Values(LossCase{"", "300"}, LossCase{"", "1200"}, LossCase{"--dual-return", "300"},
                                           LossCase{"--dual-return", "1200"}, LossCase{"--compact", "300"},
                                           LossCase{"--compact", "1200"}),
                         [](const auto& info) {
                           const std::string a = *info.param.arrangement ? info.param.arrangement + 2 : "single";
                           return a.substr(0, a.find('-')) + "_" + info.param.rpm;
                         });

// listen over the same datagrams, replayed on loopback: each revolution's
// line gives the packets lost in it, as the decoder counts them, and the
// summary their total, export-csv's.
TEST(WireLossCountTest, ListenPrintsThemPerRevolution) {
  const Capture capture({"--seconds", "30", "--rpm", "1200", "--drop", "0.05"});
  std::vector<std::uint64_t> expected;
  {
    DataPacketDecoder decoder([&](const LidarDataSingleLine&) { expected.push_back(decoder.revolutionLostPackets()); });
    decoder.setLayout(Layout::Protocol17);
    CaptureReader reader;
    ASSERT_TRUE(reader.open(capture.path)) << reader.error();
    CapturedDatagram d;
    while (reader.next(d)) decoder.decodeDataPacket(d.payload, d.size);
  }
  const HeldUdpPort data, status;
  UdpSocket sensor;
  ASSERT_TRUE(sensor.create() && sensor.setReuseAddress() && sensor.bind(0)) << sensor.lastError();
  Process listen({kTool, "listen", "--port", std::to_string(data.port()), "--layout", "1.7", "--seconds", "120",
                  "--frames", std::to_string(expected.size())});
  ASSERT_TRUE(listen.waitForUdpBind(data.port())) << listen.err();
  Process replay({kSim, "--quiet", "--replay", capture.path, "--speed", "10", "--data-port",
                  std::to_string(data.port()), "--status-port", std::to_string(status.port()), "--sensor-port",
                  std::to_string(sensor.localPort())});
  ASSERT_EQ(replay.wait(), 0) << replay.err();
  ASSERT_EQ(listen.wait(), 0) << listen.err();
  std::vector<std::uint64_t> printed;
  std::istringstream out(listen.out());
  const std::regex line("revolution \\d+: .*, (\\d+) lost on the wire");
  for (std::string l; std::getline(out, l);) {
    std::smatch m;
    if (std::regex_match(l, m, line)) printed.push_back(std::stoull(m[1]));
  }
  EXPECT_EQ(printed, expected);
  // The total also holds what was lost after the last whole revolution, as
  // far as listen read before it ended.
  const ToolRun exported = tool({"export-csv", capture.path, "/dev/null", "--layout", "1.7", "--angle-max", "1"});
  const std::uint64_t total = number(listen.err(), "kernel, (\\d+) lost on the wire");
  EXPECT_GE(total, std::accumulate(expected.begin(), expected.end(), std::uint64_t{0}));
  EXPECT_LE(total, number(exported.err, "(\\d+) lost on the wire"));
  EXPECT_EQ(number(listen.err(), "(\\d+) dropped by the kernel"), 0u);
}
