// libFuzzer target over the capture reader: the input is a whole capture
// file (classic pcap or pcapng). It is read once with next() and once with
// nextDataPacket(), and what the reader hands out is checked for what always
// holds: payloads inside the input at the offset given, progress that only
// grows and never passes the end, data packets of 1206 bytes flagged FF EE,
// and a refusal or damage with a one-line reason.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CaptureFile.h"
#include "DataPacketLoad.h"

using namespace z540k;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void checkInside(const CapturedDatagram& d, const std::uint8_t* data, std::size_t size) {
  check(d.payload >= data);
  check(d.size <= size);
  check(d.payload <= data + size - d.size);
  check(d.payloadOffset == static_cast<std::uint64_t>(d.payload - data));
  check(d.microseconds < 1000000);
}

void checkOneLine(const std::string& text) { check(text.find('\n') == std::string::npos); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CaptureReader reader;
  if (!reader.openMemory(data, size)) {
    check(!reader.error().empty());
    checkOneLine(reader.error());
    CapturedDatagram d;
    check(!reader.next(d));
    check(!nextDataPacket(reader, d));
    return 0;
  }
  check(reader.fileSize() == size);

  // Every datagram, in file order.
  std::uint64_t lastOffset = reader.bytesRead();
  std::uint64_t lastIndex = 0;
  bool first = true;
  std::uint64_t datagrams = 0;
  CapturedDatagram d;
  while (reader.next(d)) {
    checkInside(d, data, size);
    check(reader.bytesRead() > lastOffset && reader.bytesRead() <= reader.fileSize());
    check(first || d.recordIndex > lastIndex);
    check(d.recordIndex < reader.recordsRead());
    lastOffset = reader.bytesRead();
    lastIndex = d.recordIndex;
    first = false;
    ++datagrams;
  }
  check(datagrams <= reader.recordsRead());
  checkOneLine(reader.damage());
  // A clean end is the end of the input; damage stops before it.
  check(reader.damage().empty() == (reader.bytesRead() == reader.fileSize()));
  check(!reader.next(d));
  const std::uint64_t records = reader.recordsRead();
  const std::string damage = reader.damage();

  // The same input through the player's loading rule: the same records, the
  // same end.
  check(reader.openMemory(data, size));
  std::uint64_t packets = 0;
  while (nextDataPacket(reader, d)) {
    checkInside(d, data, size);
    check(d.size == 1206);
    check(d.payload[0] == 0xFF && d.payload[1] == 0xEE);
    ++packets;
  }
  check(packets <= records);
  check(reader.recordsRead() == records);
  check(reader.damage() == damage);
  return 0;
}
