#include "SensorTraits.h"

#include <cstdlib>

namespace z540k {

namespace {

constexpr int kFullCircle = 36000;  // hundredths of a degree

// The block azimuth in hundredths as the decoder reads it: 36000 and more is 0.
int blockAzimuth(const std::uint8_t* packet, int b) {
  const int raw = loadLE16(packet + kBlockSize * static_cast<std::size_t>(b) + kBlockAzimuthOffset);
  return raw >= kFullCircle ? 0 : raw;
}

// How far apart two azimuths are, the short way round the circle.
int angleBetween(int a, int b) {
  const int d = std::abs(a - b) % kFullCircle;
  return d > kFullCircle / 2 ? kFullCircle - d : d;
}

bool hasReturn(const std::uint8_t* block, int slot) {
  return loadLE16(block + kBlockSlotsOffset + kSlotSize * static_cast<std::size_t>(slot)) != 0;
}

// Returns before a layout is named, and the shares that name one.
constexpr std::uint64_t kLayoutEvidence = 200;
constexpr int kRunToChange = 3;

bool sameFamily(ReturnMode a, ReturnMode b) { return isDualReturn(a) == isDualReturn(b); }

}  // namespace

ReturnArrangement returnArrangementOf(const std::uint8_t* packet) {
  long withinPairs = 0, betweenPairs = 0;
  for (int f = 0; f < kBlocksPerPacket / 2; ++f) {
    withinPairs += angleBetween(blockAzimuth(packet, 2 * f), blockAzimuth(packet, 2 * f + 1));
    if (f > 0) betweenPairs += angleBetween(blockAzimuth(packet, 2 * f - 1), blockAzimuth(packet, 2 * f));
  }
  // Six gaps within the pairs, five between them: compare the means.
  if (betweenPairs > 0 && withinPairs * 5 * 4 < betweenPairs * 6) return ReturnArrangement::Dual;
  if (withinPairs > 0) return ReturnArrangement::Single;
  return ReturnArrangement::Unknown;
}

ReturnMode returnModeOf(ReturnArrangement arrangement) {
  return arrangement == ReturnArrangement::Dual ? ReturnMode::Dual : ReturnMode::Strongest;
}

const char* arrangementText(ReturnArrangement arrangement) {
  switch (arrangement) {
    case ReturnArrangement::Single:
      return "single return";
    case ReturnArrangement::Dual:
      return "dual return";
    case ReturnArrangement::Unknown:
      break;
  }
  return "unknown";
}

const char* layoutText(Layout layout) { return layout == Layout::Protocol17 ? "1.7" : "1.6"; }

const char* returnModeName(ReturnMode mode) {
  switch (mode) {
    case ReturnMode::Strongest:
      return "StrongEcho";
    case ReturnMode::Dual:
      return "DualEcho";
    case ReturnMode::DualFirst:
      return "DualEcho_first";
    case ReturnMode::DualSecond:
      return "DualEcho_second";
  }
  return "none";
}

// ---- DataPacketTraits ----------------------------------------------------------

void DataPacketTraits::addPacket(const std::uint8_t* packet, ReturnArrangement arrangement) {
  ++packets_;
  if (arrangement == ReturnArrangement::Dual) ++dual_;
  if (arrangement == ReturnArrangement::Single) ++single_;
  // The slots of every eighth packet are enough to tell the layout (after
  // the first few, which may be all there is).
  if (arrangement != ReturnArrangement::Dual && (packets_ <= 64 || packets_ % 8 == 0)) {
    for (int b = 0; b < kBlocksPerPacket; ++b) {
      const std::uint8_t* block = packet + kBlockSize * static_cast<std::size_t>(b);
      ++blocks_;
      for (int slot = 0; slot < kSlotsPerBlock; ++slot) {
        if (slot == 15 || slot >= 30) continue;  // GPS bytes in one layout or the other
        if (!hasReturn(block, slot)) continue;
        if (slot == 0 || slot == 16)
          ++commonReturns_;
        else
          ++wideReturns_;
      }
    }
  }
  if (recent_ > 0 && packets_ >= 2 * recent_) halve();
}

void DataPacketTraits::halve() {
  packets_ /= 2;
  single_ /= 2;
  dual_ /= 2;
  blocks_ /= 2;
  commonReturns_ /= 2;
  wideReturns_ /= 2;
}

ReturnArrangement DataPacketTraits::arrangement() const {
  if (dual_ > single_) return ReturnArrangement::Dual;
  if (single_ > 0 && single_ >= dual_) return ReturnArrangement::Single;
  return ReturnArrangement::Unknown;
}

std::optional<Layout> DataPacketTraits::layoutLook() const {
  if (arrangement() == ReturnArrangement::Dual || commonReturns_ < kLayoutEvidence) return std::nullopt;
  // Returns per slot: 2 common slots, 28 wide ones.
  const double common = static_cast<double>(commonReturns_) / 2;
  const double wide = static_cast<double>(wideReturns_) / 28;
  if (wide * 2 >= common) return Layout::Protocol17;
  if (wide * 50 < common) return Layout::Protocol16;
  return std::nullopt;
}

std::string layoutWarning(std::optional<Layout> look, Layout chosen, const std::string& advice) {
  if (!look || *look == chosen) return {};
  return std::string("the measurements look like layout ") + layoutText(*look) + "; " + advice + layoutText(*look);
}

// ---- ReturnModeChoice ------------------------------------------------------------

ReturnModeChoice::ReturnModeChoice(std::optional<ReturnMode> fixed) { fix(fixed); }

void ReturnModeChoice::fix(std::optional<ReturnMode> fixed) {
  fixed_ = fixed;
  settle();
}

void ReturnModeChoice::sensorStatus(std::uint8_t echoMode) {
  if (echoMode > 1) return;
  status_ = echoMode == 1 ? ReturnArrangement::Dual : ReturnArrangement::Single;
  settle();
}

bool ReturnModeChoice::dataShown(ReturnArrangement shown) {
  if (shown != ReturnArrangement::Unknown) {
    if (shown == candidate_) {
      ++candidateRun_;
    } else {
      candidate_ = shown;
      candidateRun_ = 1;
    }
    // The first arrangement shown is taken at once; a change needs a run.
    if (seen_ == ReturnArrangement::Unknown || candidateRun_ >= kRunToChange) seen_ = candidate_;
  }
  const ReturnMode before = mode_;
  settle();
  return mode_ != before;
}

void ReturnModeChoice::settle() {
  if (fixed_) {
    mode_ = *fixed_;
    basis_ = Basis::Fixed;
  } else if (status_) {
    mode_ = returnModeOf(*status_);
    basis_ = Basis::Status;
  } else if (seen_ != ReturnArrangement::Unknown) {
    mode_ = returnModeOf(seen_);
    basis_ = Basis::Data;
  } else {
    mode_ = ReturnMode::Strongest;
    basis_ = Basis::Default;
  }
}

bool ReturnModeChoice::dataDisagree() const {
  return seen_ != ReturnArrangement::Unknown && !sameFamily(returnModeOf(seen_), mode_);
}

void DataPacketFeed::decode(const std::uint8_t* packet, std::size_t size) {
  const ReturnMode before = decoder_.returnMode();
  const ReturnArrangement shown = returnArrangementOf(packet);
  mode_.dataShown(shown);
  traits_.addPacket(packet, shown);
  if (mode_.mode() != before && mode_.followsSensor()) {
    decoder_.clear();
    decoder_.forgetPreviousPacket();
  }
  decoder_.setReturnMode(mode_.mode());
  decoder_.decodeDataPacket(packet, size);
}

std::string returnModeText(ReturnMode mode, ReturnModeChoice::Basis basis, ReturnArrangement disagreeing) {
  std::string text = std::string("return mode ") + returnModeName(mode);
  switch (basis) {
    case ReturnModeChoice::Basis::Fixed:
      text += " (fixed)";
      break;
    case ReturnModeChoice::Basis::Status:
      text += " (from the sensor's status)";
      break;
    case ReturnModeChoice::Basis::Data:
      text += " (from the data)";
      break;
    case ReturnModeChoice::Basis::Default:
      text += " (until the sensor shows its own)";
      break;
  }
  if (disagreeing != ReturnArrangement::Unknown)
    text += std::string("; the data look like ") + arrangementText(disagreeing);
  return text;
}

}  // namespace z540k
