// The headless tool's commands. Each takes the arguments after its name and
// returns the process exit code; usage errors are thrown as UsageError.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "CsvExport.h"
#include "LidarRecords.h"
#include "SensorSources.h"
#include "StopSignals.h"

namespace z540k {
class FrameFile;
}

namespace z540k::cli {

struct CaptureExportHooks;
int exportCsvCommand(const std::vector<std::string>& args);
int exportCloudCommand(const std::vector<std::string>& args);
// Where a listening command hands its revolutions and status packets
// besides stdout (the ros command's publishers); called on the tool's
// thread.
struct DecodeSettings;
struct LiveSinks {
  std::function<void(const DecodeSettings&)> settings;  // once, before the reception
  std::function<void(const LidarDataSingleLine&)> revolution;
  std::function<void(const std::uint8_t* statusPacket)> status;  // 1206 bytes, valid during the call
};
int listenCommand(const std::vector<std::string>& args, const LiveSinks* sinks = nullptr);
int statusCommand(const std::vector<std::string>& args);
int configureCommand(const std::vector<std::string>& args);
int advancedCommand(const std::vector<std::string>& args);
int restoreDefaultsCommand(const std::vector<std::string>& args);
int infoCommand(const std::vector<std::string>& args);
int sliceCommand(const std::vector<std::string>& args);
int recordCommand(const std::vector<std::string>& args);
int discoverCommand(const std::vector<std::string>& args);
// Built without ROS: both say so and return 1.
int exportBagCommand(const std::vector<std::string>& args);
int rosCommand(const std::vector<std::string>& args);

// --source: whose datagrams are decoded when several sensors send. Neither
// set: the first sensor's, and a second one is refused (export) or reported
// (listen).
struct SourceChoice {
  bool all = false;                     // --source all: every sensor's, together
  std::optional<SensorAddress> sensor;  // --source IP[:PORT]: this one's only
};
SourceChoice sourceChoice(const CommandLine& line);
extern const char* const kSourceOptionHelp;

// The decoding and CSV choices shared by export-csv and listen.
struct DecodeSettings {
  Layout layout = Layout::Protocol16;
  std::optional<ReturnMode> returnMode;  // none: as the data show
  CsvExportOptions csv;
  long long frames = 0;      // frames written at most; 0: every frame
  long long firstFrame = 1;  // the first frame written, counted from 1 (--frames A:B)
  SourceChoice source;       // set by the commands that take --source
};
DecodeSettings decodeSettings(const CommandLine& line);
// --frames N (first 1, count N), A:B (first A, count B - A + 1) or A: (first
// A, count 0: to the end); frames count from 1. UsageError otherwise.
void takeFrameRange(const std::string& text, long long& first, long long& count);

// UsageError when a CSV's name has the extension of another format
// (.pcd, .ply, .pcap, .pcapng, .json).
void refuseOtherFormatName(const std::string& csvPath);

// UsageError when OUT is the capture itself (under any name).
void refuseWritingOverCapture(const std::string& capturePath, const std::string& outPath);

// export-csv's and export-cloud's run: refuses an output that is the capture
// itself (UsageError), shows the progress when stderr is a terminal (unless
// `quiet`), prints the message and the summary; returns the exit code.
int runCaptureExport(const char* command, const std::string& capturePath, const std::string& outPath, FrameFile& out,
                     const DecodeSettings& settings, bool quiet, const CaptureExportHooks* extra = nullptr);

// --quiet's line in the export commands' help.
extern const char* const kQuietOptionHelp;

// Option names of DecodeSettings, for the parsers.
extern const char* const kDecodeOptionNames[6];
extern const char* const kDecodeOptionsHelp;
// --frames on the exports (frame ranges).
extern const char* const kFrameRangeHelp;

}  // namespace z540k::cli
