// export-cloud: the revolutions of a capture as point cloud files (PCD or
// PLY, through PCL's writers), decoded as export-csv decodes them and holding
// the points of its rows; one file per revolution in a folder, or one merged
// cloud with the frame number as a field.
#include <cstdio>
#include <set>

#include "CloudFrameFile.h"
#include "Commands.h"

namespace z540k::cli {

namespace {

const char* const kHelp =
    "usage: z540k-tool export-cloud CAPTURE OUT [options]\n"
    "\n"
    "Decodes a capture (pcap or pcapng) as export-csv does and writes the points of its CSV rows (same\n"
    "measurements, x y z in centimetres) as point clouds through PCL's writers, for PCL, CloudCompare\n"
    "or a mapping tool. Fields: x y z intensity azimuth distance timestamp frame point (frame counts\n"
    "from 1 as the CSV's FreamID; point is the measurement's place in its revolution, from 0), and in\n"
    "dual return `return` (1 first, 2 second). Measurements without a return (distance 0, points at\n"
    "the sensor) are left out and counted in the summary unless --keep-empty.\n"
    "\n"
    "OUT is a folder that gets one file per revolution (frame_000001.pcd, ...; a revolution without a\n"
    "point in the angle range gets none); it must not exist yet or be empty. With --merge OUT is one\n"
    "file of all revolutions. Either is written beside OUT and put in its place only when complete: a\n"
    "failed export leaves OUT as it was. A capture damaged part way, or changed on disk while it is\n"
    "read, is exported up to that point (exit code 1). The summary counts the packets lost on the\n"
    "wire, as export-csv's. CAPTURE - reads the capture from standard input; OUT - with --merge and\n"
    "--format writes the cloud to standard output. Data alone go to stdout; the summary, warnings and\n"
    "progress to stderr.\n"
    "\n"
    "options:\n"
    "  --format pcd|ply       file format (default: OUT's extension with --merge, else pcd)\n"
    "  --compressed           PCD binary compressed (the default for PCD)\n"
    "  --binary               binary (the default for PLY)\n"
    "  --ascii                text, every value exact\n"
    "  --merge                one file of all revolutions instead of a folder\n"
    "  --units cm|m           x y z and distance in centimetres (default, as the CSV) or metres\n"
    "  --keep-empty           keep the measurements without a return, as points at the origin\n";

}  // namespace

int exportCloudCommand(const std::vector<std::string>& args) {
  std::set<std::string> valueOptions(std::begin(kDecodeOptionNames), std::end(kDecodeOptionNames));
  valueOptions.insert("--source");
  valueOptions.insert({"--format", "--units"});
  const CommandLine line(args, valueOptions,
                         {"--help", "--binary", "--ascii", "--compressed", "--merge", "--keep-empty", "--quiet"});
  if (line.has("--help")) {
    std::printf("%s%s%s%s%s", kHelp, kDecodeOptionsHelp, kSourceOptionHelp, kFrameRangeHelp, kQuietOptionHelp);
    return 0;
  }
  if (line.positional().size() != 2) throw UsageError("needs CAPTURE and OUT (see --help)");
  DecodeSettings settings = decodeSettings(line);
  settings.source = sourceChoice(line);
  const std::string& capturePath = line.positional()[0];
  const std::string& outPath = line.positional()[1];

  refuseWritingOverCapture(capturePath, outPath);
  CloudFileOptions cloud;
  cloud.merged = line.has("--merge");
  cloud.keepEmpty = line.has("--keep-empty");
  cloud.metres = line.choice("--units", {"cm", "m"}, 0) == 1;
  const std::optional<CloudFormat> named = cloudFormatOfName(outPath);
  if (outPath == "-" && !(cloud.merged && line.has("--format")))
    throw UsageError("- (standard output) takes one merged cloud: add --merge and --format pcd|ply");
  if (!cloud.merged && named)
    throw UsageError(outPath + " names a file: add --merge for one file of all revolutions, or give a folder");
  if (line.has("--format")) {
    cloud.format = line.choice("--format", {"pcd", "ply"}, 0) == 1 ? CloudFormat::Ply : CloudFormat::Pcd;
    if (named && *named != cloud.format)
      throw UsageError(outPath + " does not end in ." + cloudExtension(cloud.format) + " as --format " +
                       cloudExtension(cloud.format) + " asks");
  } else if (named) {
    cloud.format = *named;
  }
  // A merged cloud is a .pcd or .ply file: another extension (scan.xyz) would
  // name a format the file is not.
  if (cloud.merged && !named && outPath != "-") {
    const std::string name = outPath.substr(outPath.find_last_of('/') + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
      throw UsageError(outPath + ": a merged cloud is written as .pcd or .ply, not as ." + name.substr(dot + 1) +
                       "; name it so");
    if (!line.has("--format")) throw UsageError(outPath + " has no extension: name it .pcd or .ply, or give --format");
  }
  const int encodings = line.has("--binary") + line.has("--ascii") + line.has("--compressed");
  if (encodings > 1) throw UsageError("--binary, --ascii and --compressed exclude each other");
  if (line.has("--compressed") && cloud.format == CloudFormat::Ply)
    throw UsageError("--compressed is for PCD; PLY is --binary or --ascii");
  cloud.encoding = line.has("--ascii")                ? CloudEncoding::Ascii
                   : line.has("--binary")             ? CloudEncoding::Binary
                   : cloud.format == CloudFormat::Pcd ? CloudEncoding::BinaryCompressed
                                                      : CloudEncoding::Binary;

  CloudFrameFile out(settings.csv, settings.frames, cloud);
  return runCaptureExport("export-cloud", capturePath, outPath, out, settings, line.has("--quiet"));
}

}  // namespace z540k::cli
