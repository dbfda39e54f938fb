// GetlidarData_1: the worker thread that receives the sensor's datagrams on
// the data port, decodes data packets into one record per revolution, decodes
// status packets arriving there too, and writes the GPS time-stamp test logs.
// A log line that cannot be written ends the test: both logs are closed, no
// more readings are taken, and sendLogWriteError says which file and why.
//
// Threads and the socket's stop-and-restart as for every receiver
// (ReceiverThread); the GUI thread also writes paused and pendingLayout, and
// the slots run in the GUI thread. Every member shared with the worker is
// atomic or guarded by logMutex_.
#pragma once

#include <sys/types.h>  // u_char

#include <QString>
#include <QThread>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DataPacketDecoder.h"
#include "InFlightLimit.h"
#include "LidarRecords.h"
#include "ReceiverThread.h"
#include "RecordMetaTypes.h"
#include "SensorSources.h"
#include "SensorTraits.h"
#include "StatusHandOver.h"

class GetlidarData_1 : public z540k::ReceiverThread {
  Q_OBJECT

 public:
  explicit GetlidarData_1(QObject* parent = nullptr);
  ~GetlidarData_1() override;

  std::atomic<bool> paused{false};
  // The return mode the data packets are decoded in (written by the worker).
  // Fixed by Receive() or `fixedReturnMode` (0..3); with -1 it follows the
  // sensor: the echo mode of its status packets (`sensorEchoMode`, set from
  // the status port by the window, or read here from the data port), and
  // before the first one the data packets themselves.
  std::atomic<z540k::ReturnMode> returnMode{z540k::ReturnMode::Strongest};
  std::atomic<int> fixedReturnMode{-1};
  std::atomic<int> sensorEchoMode{-1};
  // Active and requested data packet layout; the requested one takes effect
  // at the next emitted revolution.
  std::atomic<z540k::Layout> layout{z540k::Layout::Protocol16};
  std::atomic<z540k::Layout> pendingLayout{z540k::Layout::Protocol16};
  std::atomic<bool> gpsTestActive{false};
  std::atomic<int> errorCount{0};
  // Revolutions on their way to the GUI thread at most at once (emitted, and
  // their queued slots not yet run); the ones finished meanwhile are dropped,
  // counted in recordsDropped() and announced by SendRevolutionsDropped. 0
  // lifts the limit (the queue then grows as long as the GUI thread is
  // behind): a writer that needs every revolution raises the limit instead
  // and counts what was still dropped.
  static constexpr std::size_t kDefaultRecordsInFlight = 8;
  std::atomic<std::size_t> maxRecordsInFlight{kDefaultRecordsInFlight};

  // Datagrams the kernel dropped for the socket (receive buffer full).
  quint32 kernelDrops() const { return kernelDrops_.load(); }
  // Datagrams read since construction, by kind (paused ones are not counted):
  // `other` is every datagram that is none of the three packets, empty and
  // over-long ones included. `paused` counts the datagrams read and dropped
  // while paused, `anotherSensor` those of a sensor other than the one
  // decoded (see chooseSensor), in none of the other counts.
  struct DatagramCounts {
    quint64 data = 0, status = 0, compact = 0, other = 0, paused = 0, anotherSensor = 0;
  };
  DatagramCounts datagramCounts() const {
    return {countData_.load(),  countStatus_.load(), countCompact_.load(),
            countOther_.load(), countPaused_.load(), countAnotherSensor_.load()};
  }

  // Each sensor on its own: the source address and port of a data or
  // compact scan packet name its sensor, and only one sensor is decoded:
  // `pin` (every port of its address when its port is 0), else the first one
  // whose packets arrive after the start; `all` decodes every sensor
  // together. Status packets on this port pass when they come from the
  // decoded sensor's address. Set before openSocket()/start() (GUI thread);
  // each start begins the sources anew.
  void chooseSensor(std::optional<z540k::SensorAddress> pin, bool all = false);
  // The sensors whose data or compact scan packets arrived since the start,
  // with their packets, and the one decoded. Any thread.
  struct Sensors {
    std::vector<z540k::SourceCount> sources;
    std::optional<z540k::SensorAddress> chosen;
  };
  Sensors sensors() const;
  // Data and compact scan packets that never reached this host, judged from
  // the gaps in the sensor's azimuths (datagrams the kernel dropped, and
  // those read while paused, not included).
  quint64 lostOnWire() const { return lostOnWire_.load(); }
  // Status packets dropped because the GUI thread took none of the earlier ones.
  quint64 statusDropped() const { return statusDropped_.load(); }
  // Revolutions dropped because maxRecordsInFlight were still on their way.
  quint64 recordsDropped() const { return recordsDropped_.load(); }
  std::size_t recordsInFlight() const { return recordPlaces_.inFlight(); }

  // What the data show of the sensor, for the status line: on what the
  // return mode in use rests, the arrangement the data show when it is not
  // the mode's, and the layout the recent measurements look like.
  struct SensorView {
    z540k::ReturnMode mode = z540k::ReturnMode::Strongest;
    z540k::ReturnModeChoice::Basis basis = z540k::ReturnModeChoice::Basis::Default;
    z540k::ReturnArrangement disagreeing = z540k::ReturnArrangement::Unknown;
    std::optional<z540k::Layout> layoutLook;
  };
  SensorView sensorView() const;

 signals:
  void SendData(LidarDataSingleLine lidardata);
  void SendLidarStatusToSettingUI(SettingData* data, std::vector<int> Mac);
  void SendDataDifo(const u_char* data);
  void sendErrorCount(int);
  void sendTimeStamp(QString);
  // The GPS test ended because `file` could not be opened or written
  // (`reason`, e.g. "No space left on device"). Emitted from the worker or,
  // for a log that cannot be opened, from createTestFile: connect it queued.
  void sendLogWriteError(QString file, QString reason);
  // Datagrams lost on the wire in the revolution that the SendData right
  // after it carries, and in any revolutions dropped at the hand-over since
  // the one before (queued, like SendData, so they arrive in this order).
  void SendLostOnWire(quint64 lost);
  // Revolutions dropped at the hand-over since the one before (never 0):
  // emitted right before the SendLostOnWire and SendData of the next
  // revolution handed over, so a receiver of both knows where the gap is.
  // Those dropped after the last one handed over are only in
  // recordsDropped().
  void SendRevolutionsDropped(quint64 revolutions);

 public slots:
  void Receive(z540k::ReturnMode mode);
  void createTestFile(QString path, QString pathError);
  void stopCheckGPSTime();

 protected:
  void run() override;

 private:
  void handleDatagram(z540k::DatagramKind kind, const std::uint8_t* data, std::size_t size);
  // Whether a datagram from `from` is the decoded sensor's; the others are
  // counted in countAnotherSensor_.
  bool fromChosenSensor(z540k::DatagramKind kind, const z540k::SensorAddress& from);
  // Runs one decoding and adds the packets it found lost to lostOnWire_.
  template <typename Decode>
  void decodeCountingLoss(Decode decode);
  void onGpsReading(const z540k::GpsReading& reading);

  // One GPS test log, appended to with each line written straight to the
  // file, so that a line that could not be written is known with its reason.
  class LogFile {
   public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    ~LogFile() { close(); }
    bool open(const QString& path);
    bool append(const std::string& line);
    void close();
    const QString& path() const { return path_; }
    // The reason the last open or append failed.
    QString error() const;

   private:
    int fd_ = -1;
    int errno_ = 0;
    QString path_;
  };
  struct LogFailure {
    QString file, reason;
  };
  // Under logMutex_: ends the test because `failed` could not be written.
  LogFailure endTestOnFailure(const LogFile& failed);

  // The multicast group joined first, then switched to non-blocking mode and
  // bound; a large receive buffer, the kernel's drops counted.
  z540k::ReceiverSocket::Options socketOptions() const override;

  std::atomic<quint32> kernelDrops_{0};
  std::atomic<quint64> lostOnWire_{0};
  // Worker only: the kernel's drop count when the previous datagram was
  // read, the loss of revolutions dropped at the hand-over, and those
  // revolutions.
  quint32 kernelDropsSeen_ = 0;
  quint64 lostUndelivered_ = 0;
  quint64 droppedUndelivered_ = 0;
  std::atomic<quint64> statusDropped_{0}, recordsDropped_{0};
  std::atomic<quint64> countData_{0}, countStatus_{0}, countCompact_{0}, countOther_{0}, countPaused_{0};
  std::atomic<quint64> countAnotherSensor_{0};

  // The sensors seen and the choice, written by the worker for each data
  // packet and read by the GUI thread.
  mutable std::mutex sourcesMutex_;
  z540k::SensorSources sources_;
  std::optional<z540k::SensorAddress> sensorPin_;
  bool allSensors_ = false;

  // Worker only, around each data packet's decoding.
  void prepareReturnMode();
  void publishSensorView();

  z540k::DataPacketDecoder decoder_;
  // What the data show is judged on about the last two revolutions of a fast sensor.
  z540k::DataPacketFeed feed_{decoder_, 2048};
  int echoModeSeen_ = -1;
  std::atomic<int> modeBasis_{static_cast<int>(z540k::ReturnModeChoice::Basis::Default)};
  std::atomic<int> disagreeing_{static_cast<int>(z540k::ReturnArrangement::Unknown)};
  std::atomic<int> layoutLook_{-1};
  z540k::StatusHandOver handOver_;
  z540k::InFlightLimit recordPlaces_;

  // The two GPS logs and their state, shared by the slots and the readings.
  std::mutex logMutex_;
  LogFile gpsLog_;
  LogFile jumpLog_;
};
