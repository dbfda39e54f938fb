#include "LiveDataReceiver.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDateTime>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <optional>

#include "GpsTimeLog.h"
#include "PacketFormat.h"
#include "StatusPacket.h"
#include "SteadyClock.h"

using namespace z540k;

namespace {

// The idle wait per turn: a cleared `running` ends the loop within it (a stop
// through closeSocket() or openSocket() wakes it at once), and an idle
// receiver costs next to nothing.
constexpr int kPollMilliseconds = 100;
// Room for bursts and for the moments the machine stalls the process: at
// 100,000 datagrams a second a 150 ms stall queues 15,000 of them, about 35 MB
// of kernel buffers.
constexpr int kReceiveBufferBytes = 24 << 20;
// Longer datagrams are stored in part, their real length known, and counted
// as unrecognised.
constexpr std::size_t kReceiveCapacity = 2048;

}  // namespace

GetlidarData_1::GetlidarData_1(QObject* parent) : ReceiverThread(parent) {
  decoder_.setRecordSink([this](const LidarDataSingleLine& record) {
    lostUndelivered_ += decoder_.revolutionLostPackets();
    const bool delivered = deliverRecord(this, recordPlaces_, maxRecordsInFlight, record, [this] {
      if (droppedUndelivered_ > 0) emit SendRevolutionsDropped(droppedUndelivered_);
      droppedUndelivered_ = 0;
      emit SendLostOnWire(lostUndelivered_);
      lostUndelivered_ = 0;
    });
    if (!delivered) {
      ++recordsDropped_;
      ++droppedUndelivered_;
    }
  });
  decoder_.setGpsSink([this](const GpsReading& reading) { onGpsReading(reading); });
}

GetlidarData_1::~GetlidarData_1() { finish(); }

ReceiverSocket::Options GetlidarData_1::socketOptions() const {
  ReceiverSocket::Options options;
  options.port = static_cast<std::uint16_t>(port.load());
  options.multicastGroup = multicastAddress;
  options.order = ReceiverSocket::Order::JoinThenBind;
  options.receiveBufferBytes = kReceiveBufferBytes;
  options.countDrops = true;
  return options;
}

void GetlidarData_1::run() {
  runBegins();
  decoder_.reset();
  // The sensor is learnt afresh by every run (another may answer now).
  feed_.forget();
  sensorEchoMode = -1;
  echoModeSeen_ = -1;
  // The active layout survives a restart; whoever sets `layout` before the
  // start (the headless tool) makes it active from the first packet.
  decoder_.setLayout(layout);
  kernelDropsSeen_ = socket_.kernelDrops();
  lostUndelivered_ = 0;
  droppedUndelivered_ = 0;
  {
    std::lock_guard<std::mutex> lock(sourcesMutex_);
    sources_ = SensorSources();
    if (sensorPin_) sources_.pin(*sensorPin_);
    if (allSensors_) sources_.acceptAll();
  }
  std::vector<std::uint8_t> buffer(kReceiveCapacity);
  SensorAddress from;
  while (keepRunning()) {
    // Without a socket (set-up failed) this waits like an idle turn.
    const ReceiveResult read = socket_.receive(buffer.data(), buffer.size(), kPollMilliseconds, &from.ip, &from.port);
    const quint32 drops = socket_.kernelDrops();
    kernelDrops_ = drops;
    if (!read.datagram()) continue;
    // Datagrams the kernel dropped are this host's loss, not the wire's.
    decoder_.excuseDroppedDatagrams(drops - kernelDropsSeen_);
    kernelDropsSeen_ = drops;
    if (paused) {
      ++countPaused_;
      decoder_.forgetPreviousPacket();
      continue;
    }
    // A datagram too long for the buffer is no packet whatever its stored
    // prefix holds; an empty one is unrecognised too, and both are counted.
    if (!read.fits(buffer.size())) {
      ++countOther_;
      continue;
    }
    const DatagramKind kind = classifyDatagram(buffer.data(), read.length);
    if (fromChosenSensor(kind, from)) handleDatagram(kind, buffer.data(), read.length);
  }
  runEnds();
}

bool GetlidarData_1::fromChosenSensor(DatagramKind kind, const SensorAddress& from) {
  if (kind == DatagramKind::Other) return true;
  bool chosen = true;
  {
    std::lock_guard<std::mutex> lock(sourcesMutex_);
    chosen = kind == DatagramKind::StatusPacket ? sources_.fromChosenHost(from.ip) : sources_.note(from);
  }
  if (!chosen) ++countAnotherSensor_;
  return chosen;
}

void GetlidarData_1::chooseSensor(std::optional<SensorAddress> pin, bool all) {
  std::lock_guard<std::mutex> lock(sourcesMutex_);
  sensorPin_ = pin;
  allSensors_ = all;
}

GetlidarData_1::Sensors GetlidarData_1::sensors() const {
  std::lock_guard<std::mutex> lock(sourcesMutex_);
  return {sources_.sources(), sources_.chosen()};
}

template <typename Decode>
void GetlidarData_1::decodeCountingLoss(Decode decode) {
  const quint64 before = decoder_.lostPackets();
  decode();
  if (const quint64 lost = decoder_.lostPackets() - before) lostOnWire_ += lost;
}

void GetlidarData_1::handleDatagram(DatagramKind kind, const std::uint8_t* data, std::size_t size) {
  switch (kind) {
    case DatagramKind::DataPacket:
      ++countData_;
      prepareReturnMode();
      // A revolution's delay to the screen counts from here.
      decoder_.setReceivedAt(steadyNowNs());
      decoder_.setPendingLayout(pendingLayout);
      decoder_.setGpsReadingsEnabled(gpsTestActive);
      decodeCountingLoss([&] { feed_.decode(data, size); });
      publishSensorView();
      layout = decoder_.activeLayout();
      break;
    case DatagramKind::StatusPacket:
      ++countStatus_;
      // The sensor states its echo mode in every status packet of the long layout.
      if (!isShortStatusPacket(data, size)) sensorEchoMode = data[status_offset::kEchoMode];
      if (!deliverStatus(this, handOver_, data)) ++statusDropped_;
      break;
    case DatagramKind::CompactScanPacket:
      ++countCompact_;
      decodeCountingLoss([&] { decoder_.decodeCompactScanPacket(data, size); });
      break;
    case DatagramKind::Other:
      ++countOther_;
      break;
  }
}

// Before each data packet: the mode the operator fixed, or the echo mode of
// the sensor's newest status packet, to the feed.
void GetlidarData_1::prepareReturnMode() {
  ReturnModeChoice& mode = feed_.mode();
  const int fixed = fixedReturnMode;
  mode.fix(fixed >= 0 ? std::optional<ReturnMode>(static_cast<ReturnMode>(fixed)) : std::nullopt);
  const int echo = sensorEchoMode;
  if (echo != echoModeSeen_ && echo >= 0) mode.sensorStatus(static_cast<std::uint8_t>(echo));
  echoModeSeen_ = echo;
}

// After it: what the status line shows.
void GetlidarData_1::publishSensorView() {
  const ReturnModeChoice& mode = feed_.mode();
  returnMode = mode.mode();
  modeBasis_ = static_cast<int>(mode.basis());
  disagreeing_ = static_cast<int>(mode.disagreeing());
  const std::optional<Layout> look = feed_.traits().layoutLook();
  layoutLook_ = look ? static_cast<int>(*look) : -1;
}

GetlidarData_1::SensorView GetlidarData_1::sensorView() const {
  SensorView view;
  view.mode = returnMode;
  view.basis = static_cast<ReturnModeChoice::Basis>(modeBasis_.load());
  view.disagreeing = static_cast<ReturnArrangement>(disagreeing_.load());
  const int look = layoutLook_;
  if (look >= 0) view.layoutLook = static_cast<Layout>(look);
  return view;
}

void GetlidarData_1::onGpsReading(const GpsReading& reading) {
  const std::string gpsText = gpsDateTimeText(reading.current);
  const std::string localTime =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss:zzz")).toStdString();
  const std::uint32_t seconds = gpsEpochSeconds(gpsText);
  const bool jump = isGpsSecondJump(reading.previous.second, reading.current.second);
  int count = 0;
  std::optional<LogFailure> failure;
  {
    std::lock_guard<std::mutex> lock(logMutex_);
    if (!gpsTestActive) return;  // the test was stopped while this packet was decoded
    const LogFile* failed = nullptr;
    const auto write = [&failed](LogFile& log, const std::string& line) {
      if (!failed && !log.append(line)) failed = &log;
    };
    write(gpsLog_, gps_log::reading(localTime, gpsText, seconds));
    if (jump) {
      const std::string previousText = gpsDateTimeText(reading.previous);
      write(gpsLog_, gps_log::jumpInGpsLog(previousText, gpsText));
      write(jumpLog_, gps_log::jumpInJumpLog(localTime, previousText, gpsText));
      count = ++errorCount;
    }
    if (reading.block == kBlocksPerPacket - 1) write(gpsLog_, gps_log::packetSeparator());
    if (failed) failure = endTestOnFailure(*failed);
  }
  if (failure) {
    emit sendLogWriteError(failure->file, failure->reason);
    return;
  }
  emit sendTimeStamp(QString::number(seconds));
  if (jump) emit sendErrorCount(count);
}

GetlidarData_1::LogFailure GetlidarData_1::endTestOnFailure(const LogFile& failed) {
  LogFailure failure{failed.path(), failed.error()};
  gpsTestActive = false;
  gpsLog_.close();
  jumpLog_.close();
  return failure;
}

void GetlidarData_1::Receive(z540k::ReturnMode mode) { fixedReturnMode = static_cast<int>(mode); }

void GetlidarData_1::createTestFile(QString path, QString pathError) {
  std::optional<LogFailure> failure;
  {
    std::lock_guard<std::mutex> lock(logMutex_);
    if (!gpsLog_.open(path) || !gpsLog_.append(gps_log::header()))
      failure = endTestOnFailure(gpsLog_);
    else if (!jumpLog_.open(pathError))
      failure = endTestOnFailure(jumpLog_);
    errorCount = 0;
    gpsTestActive = !failure;
  }
  if (failure) emit sendLogWriteError(failure->file, failure->reason);
}

void GetlidarData_1::stopCheckGPSTime() {
  std::lock_guard<std::mutex> lock(logMutex_);
  gpsTestActive = false;
  gpsLog_.close();
  jumpLog_.close();
}

// ---- GPS test log files ---------------------------------------------------------

bool GetlidarData_1::LogFile::open(const QString& path) {
  close();
  path_ = path;
  // The path in the file system's own encoding (a home folder with
  // non-Latin characters works); without blocking, so that a FIFO never
  // holds up the window that starts the test.
  fd_ = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
  errno_ = fd_ < 0 ? errno : 0;
  return fd_ >= 0;
}

bool GetlidarData_1::LogFile::append(const std::string& line) {
  if (fd_ < 0) {
    errno_ = EBADF;
    return false;
  }
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      errno_ = n < 0 ? errno : EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void GetlidarData_1::LogFile::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

QString GetlidarData_1::LogFile::error() const { return QString::fromLocal8Bit(std::strerror(errno_)); }
