// Captures of several simulated sensors in one file, as a capture of a
// network where they all send: the UDP datagrams of the inputs merged in
// the order of their capture times (ties: the earlier input first).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CaptureFile.h"

namespace z540k::test {

inline bool mergeCaptures(const std::vector<std::string>& inputs, const std::string& output, std::string& error) {
  std::vector<std::unique_ptr<CaptureReader>> readers;
  std::vector<CapturedDatagram> heads(inputs.size());
  std::vector<bool> more(inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    readers.push_back(std::make_unique<CaptureReader>());
    if (!readers[i]->open(inputs[i])) {
      error = readers[i]->error();
      return false;
    }
    more[i] = readers[i]->next(heads[i]);
  }
  CaptureWriter writer;
  if (!writer.open(output)) {
    error = writer.error();
    return false;
  }
  for (;;) {
    std::size_t first = inputs.size();
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      if (!more[i]) continue;
      const auto& h = heads[i];
      if (first == inputs.size() || h.seconds < heads[first].seconds ||
          (h.seconds == heads[first].seconds && h.microseconds < heads[first].microseconds))
        first = i;
    }
    if (first == inputs.size()) break;
    const CapturedDatagram& d = heads[first];
    if (!writer.write(d.payload, d.size, d.sourceIp, d.sourcePort, d.destIp, d.destPort, d.seconds, d.microseconds)) {
      error = writer.error();
      return false;
    }
    more[first] = readers[first]->next(heads[first]);
  }
  if (!writer.close()) {
    error = writer.error();
    return false;
  }
  return true;
}

}  // namespace z540k::test
