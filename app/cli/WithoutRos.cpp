// export-bag and ros in a tool built without Debian's ROS packages.
#include <cstdio>

#include "Commands.h"

namespace z540k::cli {

namespace {

int withoutRos(const char* command) {
  std::fprintf(stderr,
               "z540k-tool %s: this z540k-tool was built without ROS; install librosbag-dev, libroscpp-dev, "
               "libsensor-msgs-dev and libdiagnostic-msgs-dev (scripts/install-deps.sh does) and build it again\n",
               command);
  return 1;
}

}  // namespace

int exportBagCommand(const std::vector<std::string>&) { return withoutRos("export-bag"); }
int rosCommand(const std::vector<std::string>&) { return withoutRos("ros"); }

}  // namespace z540k::cli
