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
  long long frames = 0;  // 0: every frame
  SourceChoice source;   // set by the commands that take --source
};
DecodeSettings decodeSettings(const CommandLine& line);

// UsageError when OUT is the capture itself (under any name).
void refuseWritingOverCapture(const std::string& capturePath, const std::string& outPath);

// export-csv's and export-cloud's run: refuses an output that is the capture
// itself (UsageError), shows the progress on a terminal, prints the message
// and the summary; returns the exit code.
int runCaptureExport(const char* command, const std::string& capturePath, const std::string& outPath, FrameFile& out,
                     const DecodeSettings& settings, const CaptureExportHooks* extra = nullptr);

// Option names of DecodeSettings, for the parsers.
extern const char* const kDecodeOptionNames[6];
extern const char* const kDecodeOptionsHelp;

}  // namespace z540k::cli
