#include "CapturePlayer.h"

#include "PacketFormat.h"
#include "RevolutionAssembly.h"

using namespace z540k;

ReadLiveOffData::ReadLiveOffData(QObject* parent) : QThread(parent) {}

ReadLiveOffData::~ReadLiveOffData() {
  requestStop();
  wait();
  runCompletion_.joined();
}

bool ReadLiveOffData::setPackets(const std::uint8_t* packets, std::size_t count) {
  if (isRunning()) return false;
  packets_ = packets;
  count_ = packets ? count : 0;
  return true;
}

void ReadLiveOffData::requestStop() {
  stopRequested_ = true;
  gate_.give();
}

int ReadLiveOffData::pauseMilliseconds(int speedIndex) {
  switch (speedIndex) {
    case 0: return 110;
    case 1: return 80;
    case 2: return 50;
    case 3: return 130;
    default: return 150;
  }
}

void ReadLiveOffData::run() {
  runCompletion_.joined();  // a restart continues where the previous run ended
  // The player reads the single-return, protocol 1.7 form: 30 measurements
  // per block, no carry-over, no GPS, no dual return.
  constexpr int K = kProtocol17MeasurementsPerBlock;
  stopRequested_ = false;
  record_.clear();
  std::size_t i = 0;
  std::uint8_t packet[kDataPacketSize];

  while (i < count_ && !stopRequested_) {
    gate_.take();
    if (stopRequested_) {
      gate_.give();
      break;
    }
    bool stop = false;
    std::copy(packets_ + i * kDataPacketSize, packets_ + (i + 1) * kDataPacketSize, packet);
    if (packet[0] == kBlockFlag0 && packet[1] == kBlockFlag1) {
      const double packetTime = loadLE32(packet + kPacketTimestampOffset);
      for (int b = 0; b < kBlocksPerPacket; ++b) {
        const std::uint8_t* block = packet + kBlockSize * b;
        record_.blockAzimuth.push_back(blockAzimuthDegrees(block));
        appendMeasurements(record_, block, kProtocol17Slots.data(), K, protocol17FiringOffsets(b), packetTime);
        interpolate(record_, K);
        // Backwards, each packet's azimuth sequence is closed at its last
        // block, so interpolation never spans two packets.
        if (direction == -1 && b == kBlocksPerPacket - 1) {
          extrapolate(record_, K);
          record_.blockAzimuth.clear();
        }
        if (revolutionWrapped(record_)) {
          emit SendData(record_);
          record_.clear();
          QThread::msleep(static_cast<unsigned long>(pauseMilliseconds(speedIndex)));
          if (stepRequest == 1) {
            stepRequest = 0;
            gate_.take();  // waits until the GUI gives the gate back
          }
        }
        // The end is signalled once. Going forwards it is reached while the
        // last packet's blocks are still read; what they collect is dropped.
        if (stop) continue;
        if (i == count_ - 1) {
          emit SendBool(true);
          i = 0;
          stop = true;
        } else if (i == 0 && direction == -1) {
          emit SendData(record_);
          record_.clear();
          direction = 1;
          emit SendBool(true);
          stop = true;
        }
      }
    }
    gate_.give();
    if (stop) {
      record_.clear();
      break;
    }
    i += static_cast<std::size_t>(static_cast<long long>(direction.load()));
  }
  runCompletion_.markEnded();
}
