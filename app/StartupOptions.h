// The program's command line: initial values of the form's port and
// multicast fields, pressing "Lidar" at start-up, the recorder's adapter, and
// a screenshot of the window before quitting (for scripts and tests).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "SensorSources.h"

namespace z540k {

struct StartupOptions {
  std::optional<int> dataPort;           // --port N
  std::optional<int> telemetryPort;      // --telemetry-port N
  std::optional<std::string> multicast;  // --multicast ADDR ("" for none)
  std::optional<int> layout;             // --layout 1.6|1.7 (0 or 1, the protocol list's index)
  std::optional<int> returnMode;         // --return-mode 0-3 (the return-mode list's index); none: the sensor's
  std::optional<SensorAddress> sensor;   // --sensor IP[:PORT]: the one sensor drawn
  bool start = false;                    // --start
  std::string captureDevice;             // --capture-device NAME
  bool factory = false;                  // --factory: the factory buttons are shown
  std::string screenshot;                // --screenshot FILE
  double quitAfterSeconds = 0;           // --quit-after SECONDS (0: never)
  bool help = false;                     // --help
};

// Parses the arguments after the program name (the shared parser in
// common/Arguments.h). False with a one-line reason on a bad or unknown
// option; Qt's own options (-platform, -style ...) are left to Qt and passed
// over here. With --help the values are not checked.
bool parseStartupOptions(const std::vector<std::string>& args, StartupOptions& options, std::string& error);

// The --help text, from the declared options.
std::string startupHelp();

}  // namespace z540k
