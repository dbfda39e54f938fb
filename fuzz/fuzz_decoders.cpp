// libFuzzer target over the data packet decoder and the status decoder.
//
// The input is a little program: each command byte picks an action (change
// the return mode or the layout, feed a datagram shaped like a data, compact
// or status packet or raw bytes of any length, replay the last data packet
// with advancing azimuths to make whole revolutions, clear, reset, toggle GPS
// readings). Every datagram goes through the same classification as on the
// data port. Emitted records are checked for what always holds.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "DataPacketDecoder.h"
#include "PacketFormat.h"
#include "StatusPacket.h"

using namespace z540k;

namespace {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
  // Up to n bytes into out (the rest left as it is).
  void fill(std::uint8_t* out, std::size_t n) {
    const std::size_t take = std::min(n, size_ - std::min(size_, pos_));
    if (take) std::memcpy(out, data_ + pos_, take);
    pos_ += take;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

void check(bool ok) {
  if (!ok) std::abort();
}

struct Harness {
  DataPacketDecoder decoder;
  bool decodingCompact = false;
  SettingData status{};
  std::vector<int> values;

  Harness() {
    decoder.setRecordSink([this](const LidarDataSingleLine& r) {
      check(r.distance.size() == r.intensity.size());
      check(r.distance.size() == r.timestamp.size());
      for (double a : r.azimuth) {
        check(std::isfinite(a));
        if (!decodingCompact) check(a >= 0.0 && a < 360.0);
      }
      for (double d : r.distance) check(d >= 0.0 && d <= 65535.0);
      for (int i : r.intensity) check(i >= 0 && i <= 255);
      for (unsigned long long t : r.timestamp) check(t <= 0xFFFFFFFFull + 2000);
    });
    decoder.setGpsSink([](const GpsReading& g) { check(g.block >= 0 && g.block < 12); });
  }

  // What the data port receiver does with one datagram.
  void datagram(const std::uint8_t* d, std::size_t n) {
    switch (classifyDatagram(d, n)) {
      case DatagramKind::DataPacket:
        check(decoder.decodeDataPacket(d, n));
        break;
      case DatagramKind::StatusPacket:
        check(decodeStatusPacket(d, n, status, values));
        check(values.size() == kStatusValueCount);
        for (int v : values) check(v >= 0 && v <= 0xFFFF);
        break;
      case DatagramKind::CompactScanPacket:
        decodingCompact = true;
        check(decoder.decodeCompactScanPacket(d, n));
        decodingCompact = false;
        break;
      case DatagramKind::Other:
        check(!decoder.decodeDataPacket(d, n));
        check(!decoder.decodeCompactScanPacket(d, n));
        check(!decodeStatusPacket(d, n, status, values));
        break;
    }
    check(decoder.mainRecord().distance.size() <= DataPacketDecoder::kRecordLimit);
    check(decoder.compactRecord().distance.size() <= DataPacketDecoder::kCompactRecordLimit);
  }
};

constexpr int kMaxPacketsPerInput = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Harness h;
  Input in(data, size);
  std::vector<std::uint8_t> buffer;
  std::vector<std::uint8_t> lastData(kDataPacketSize, 0);
  lastData[0] = kBlockFlag0;
  lastData[1] = kBlockFlag1;
  int packets = 0;

  while (!in.empty() && packets < kMaxPacketsPerInput) {
    const std::uint8_t op = in.byte();
    switch (op % 11) {
      case 0:
        h.decoder.setReturnMode(static_cast<ReturnMode>(static_cast<int>(in.byte() % 6) - 1));  // -1..4: two invalid
        break;
      case 1:
        h.decoder.setPendingLayout(static_cast<Layout>(static_cast<std::int8_t>(in.byte())));
        break;
      case 2: {  // a data packet
        buffer.assign(kDataPacketSize, 0);
        buffer[0] = kBlockFlag0;
        buffer[1] = kBlockFlag1;
        in.fill(buffer.data() + 2, kDataPacketSize - 2);
        lastData = buffer;
        h.datagram(buffer.data(), buffer.size());
        ++packets;
        break;
      }
      case 3: {  // a compact scan packet
        buffer.assign(kCompactScanPacketSize, 0);
        buffer[0] = kCompactScanHeader0;
        buffer[1] = kCompactScanHeader1;
        in.fill(buffer.data() + 2, kCompactScanPacketSize - 2);
        h.datagram(buffer.data(), buffer.size());
        ++packets;
        break;
      }
      case 4: {  // a status packet
        buffer.assign(kStatusPacketSize, 0);
        std::memcpy(buffer.data(), kStatusHeader.data(), kStatusHeader.size());
        in.fill(buffer.data() + kStatusHeader.size(), kStatusPacketSize - kStatusHeader.size());
        h.datagram(buffer.data(), buffer.size());
        ++packets;
        break;
      }
      case 5: {  // raw bytes of any length
        const std::size_t n = in.u16() % 1400;
        buffer.assign(n, 0);
        in.fill(buffer.data(), n);
        h.datagram(buffer.data(), buffer.size());
        ++packets;
        break;
      }
      case 6:
        h.decoder.clear();
        break;
      case 7:
        h.decoder.reset();
        break;
      case 8:
        h.decoder.setGpsReadingsEnabled(!h.decoder.gpsReadingsEnabled());
        break;
      case 9:
      case 10: {  // replay the last data packet, every block azimuth advanced
        const int repeats = 1 + in.byte() % 64;
        const std::uint16_t step = in.u16();
        for (int r = 0; r < repeats && packets < kMaxPacketsPerInput; ++r, ++packets) {
          for (int b = 0; b < kBlocksPerPacket; ++b) {
            std::uint8_t* a = lastData.data() + kBlockSize * b + kBlockAzimuthOffset;
            const std::uint16_t v = static_cast<std::uint16_t>((loadLE16(a) + step) % (op % 11 == 9 ? 36000 : 65536));
            a[0] = static_cast<std::uint8_t>(v & 0xFF);
            a[1] = static_cast<std::uint8_t>(v >> 8);
          }
          h.datagram(lastData.data(), lastData.size());
        }
        break;
      }
    }
  }
  return 0;
}
