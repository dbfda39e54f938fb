// The simulated sensor in the window tests: its room as revolutions the live
// decoder makes from a capture it writes, and the sensor itself on loopback.
#pragma once

#include <unistd.h>

#include <QtGlobal>
#include <cstdio>
#include <string>
#include <vector>

#include "CaptureFile.h"
#include "DataPacketDecoder.h"
#include "LoopbackTestSupport.h"
#include "ProcessTestSupport.h"
#include "StartupOptions.h"
#include "UdpSocket.h"

namespace z540k::test {

// The revolutions of a capture the simulator writes (`extra`: more of its
// options), decoded as export-csv decodes them in `returnMode`.
inline std::vector<LidarDataSingleLine> simulatedRevolutions(Layout layout, int packets = 40,
                                                             std::vector<std::string> extra = {},
                                                             ReturnMode returnMode = ReturnMode::Strongest) {
  const std::string path = "/tmp/z540k-window-" + std::to_string(::getpid()) + ".pcap";
  std::vector<std::string> args = {Z540K_SIM_PATH,          "--quiet",  "--count",
                                   std::to_string(packets), "--layout", layout == Layout::Protocol17 ? "1.7" : "1.6",
                                   "--write-pcap",          path};
  args.insert(args.end(), extra.begin(), extra.end());
  Process sim(args);
  if (sim.wait() != 0) qFatal("the simulator could not write %s", path.c_str());
  std::vector<LidarDataSingleLine> records;
  DataPacketDecoder decoder([&](const LidarDataSingleLine& r) { records.push_back(r); });
  decoder.setLayout(layout);
  decoder.setReturnMode(returnMode);
  CaptureReader reader;
  if (!reader.open(path)) qFatal("%s", reader.error().c_str());
  CapturedDatagram d;
  while (reader.next(d)) decoder.decodeDataPacket(d.payload, d.size);
  std::remove(path.c_str());
  return records;
}

// The start-up options of a window that receives on these ports, with no
// multicast group.
inline StartupOptions loopbackWindowOptions(std::uint16_t dataPort, std::uint16_t statusPort) {
  StartupOptions o;
  o.dataPort = dataPort;
  o.telemetryPort = statusPort;
  o.multicast = "";
  return o;
}

// The simulated sensor on loopback (protocol 1.7) for `seconds`, sending to
// ports held for the test, and the start-up options of a window that
// receives it (no multicast group).
struct SimulatedSensorFeed {
  HeldUdpPort data, status;
  UdpSocket sensorPort;  // the sensor's own port, held beside it
  Layout layout_;
  Process sim;

  // `extra`: more of the simulator's options.
  explicit SimulatedSensorFeed(int seconds, std::vector<std::string> extra = {}, Layout layout = Layout::Protocol17)
      : layout_(layout), sim(arguments(seconds, extra)) {}

  StartupOptions options() const {
    StartupOptions o = loopbackWindowOptions(data.port(), status.port());
    o.layout = layout_ == Layout::Protocol17 ? 1 : 0;
    return o;
  }

 private:
  std::vector<std::string> arguments(int seconds, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {Z540K_SIM_PATH,  "--quiet",
                                     "--seconds",     std::to_string(seconds),
                                     "--layout",      layout_ == Layout::Protocol17 ? "1.7" : "1.6",
                                     "--data-port",   std::to_string(data.port()),
                                     "--status-port", std::to_string(status.port()),
                                     "--sensor-port", std::to_string(heldSensorPort())};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  std::uint16_t heldSensorPort() {
    if (!(sensorPort.create() && sensorPort.setReuseAddress() && sensorPort.bind(0)))
      qFatal("cannot hold a port for the simulated sensor: %s", sensorPort.lastError().c_str());
    return sensorPort.localPort();
  }
};

}  // namespace z540k::test
