// Revolutions of the simulated room as the live decoder makes them from a
// capture the simulator writes (tests of the window).
#pragma once

#include <QtGlobal>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "CaptureFile.h"
#include "DataPacketDecoder.h"
#include "ProcessTestSupport.h"

namespace z540k::test {

inline std::vector<LidarDataSingleLine> simulatedRevolutions(int layout, int packets = 40) {
  const std::string path = "/tmp/z540k-window-" + std::to_string(::getpid()) + ".pcap";
  Process sim({Z540K_SIM_PATH, "--quiet", "--count", std::to_string(packets), "--layout", layout == 1 ? "1.7" : "1.6",
               "--write-pcap", path});
  if (sim.wait() != 0) qFatal("the simulator could not write %s", path.c_str());
  std::vector<LidarDataSingleLine> records;
  DataPacketDecoder decoder([&](const LidarDataSingleLine& r) { records.push_back(r); });
  decoder.setLayout(layout);
  CaptureReader reader;
  if (!reader.open(path)) qFatal("%s", reader.error().c_str());
  CapturedDatagram d;
  while (reader.next(d)) decoder.decodeDataPacket(d.payload, d.size);
  std::remove(path.c_str());
  return records;
}

}  // namespace z540k::test
