// The live data receiver and the status receiver on loopback: revolutions,
// status packets on both ports, every datagram counted, pausing, restarting at once, a port another
// receiver holds, the bounded hand-over of revolutions and status pointers,
// and the GPS time-stamp test logs.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "LiveDataReceiver.h"
#include "LoopbackTestSupport.h"
#include "PacketEncoders.h"
#include "RecordMetaTypes.h"
#include "ScanPacketStream.h"
#include "SignalCollector.h"
#include "StatusPacket.h"
#include "StatusReceiver.h"
#include "UdpSocket.h"

using namespace z540k;
using namespace z540k::test;

namespace {

// Copies what the status signals point at when the queued slot runs, as the
// settings windows do.
class StatusCopier : public QObject {
  Q_OBJECT
 public:
  std::vector<SettingData> records;
  std::vector<std::vector<int>> values;
  std::vector<std::array<std::uint8_t, 1206>> raw;
 public slots:
  void OnLidarStatusReceiving(SettingData* data, std::vector<int> Mac) {
    records.push_back(*data);
    values.push_back(Mac);
  }
  void OnLidarDifoData(const u_char* data) {
    std::array<std::uint8_t, 1206> copy;
    std::memcpy(copy.data(), data, copy.size());
    raw.push_back(copy);
  }
};

sim::StatusPacketBytes statusWithSpeed(std::uint16_t rpm) {
  sim::SensorStatus s;
  s.motorSpeed = rpm;
  return sim::encodeStatusPacket(s);
}

// What the main window does on the "Lidar" button: start, and stop.
template <typename Receiver>
void startReceiver(Receiver& r, std::uint16_t port) {
  r.port = port;
  r.multicastAddress.clear();
  r.running = true;
  r.openSocket();
  QVERIFY2(r.socketError().isEmpty(), qPrintable(r.socketError()));
  r.start();
}

template <typename Receiver>
void stopReceiver(Receiver& r) {
  r.running = false;
  r.closeSocket();
  QVERIFY(r.isFinished());
}

// Polls `done` without letting the test's (the GUI) thread take any event.
template <typename Condition>
bool pollWithoutEvents(Condition done) {
  QDeadlineTimer deadline(20000);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(2);
  }
  return true;
}

// True when nothing is bound to the port on the wildcard address or on
// 127.0.0.1: a fresh socket binds it there without address reuse.
bool bindsExclusively(std::uint16_t port) {
  UdpSocket s;
  return s.create() && s.bind(port, "127.0.0.1");
}

QString inUse(std::uint16_t port) { return QString("port %1 is already in use by another program").arg(port); }

template <typename Receiver>
void connectStatus(Receiver& r, StatusCopier& copier) {
  QVERIFY(QObject::connect(&r, SIGNAL(SendLidarStatusToSettingUI(SettingData*, std::vector<int>)), &copier,
                           SLOT(OnLidarStatusReceiving(SettingData*, std::vector<int>)), Qt::UniqueConnection));
  QVERIFY(QObject::connect(&r, SIGNAL(SendDataDifo(const u_char*)), &copier, SLOT(OnLidarDifoData(const u_char*)),
                           Qt::UniqueConnection));
}

}  // namespace

class LiveReceiverTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { registerRecordMetaTypes(); }

  // Every revolution sent arrives as one record of the expected size.
  void revolutionsArriveWhole() {
    GetlidarData_1 receiver;
    SignalCollector records;
    QObject::connect(&receiver, SIGNAL(SendData(struct LidarDataSingleLine)), &records,
                     SLOT(onRecord(struct LidarDataSingleLine)));
    const HeldUdpPort port;
    receiver.pendingLayout = Layout::Protocol17;
    startReceiver(receiver, port);
    sim::ScanPattern pattern;
    pattern.firingsPerRevolution = 360;  // 30 packets per turn
    sim::ScanPacketStream stream(pattern);
    LoopbackSender sender;
    const auto steadyNs = [] { return std::chrono::steady_clock::now().time_since_epoch().count(); };
    const std::int64_t sentFrom = steadyNs();
    // The first revolution is read in the 1.6 layout (the request applies
    // after the first emission); the next three in 1.7.
    for (int i = 0; i < 4 * 30 + 1; ++i) QVERIFY(sender.send(port, stream.next()));
    QTRY_COMPARE_WITH_TIMEOUT(records.recordCount(), 4, 10000);
    // Each stamped when the datagram that completed it was read, in order.
    for (int r = 0; r < 4; ++r) {
      QVERIFY(records.records[r].receivedAtNs >= (r == 0 ? sentFrom : records.records[r - 1].receivedAtNs));
      QVERIFY(records.records[r].receivedAtNs <= steadyNs());
    }
    QCOMPARE(receiver.layout.load(), Layout::Protocol17);
    const auto first = records.records[0];
    QCOMPARE(first.distance.size(), std::size_t(361 * 2));
    for (int r = 1; r < 4; ++r) {
      const auto rec = records.records[r];
      QCOMPARE(rec.azimuth.size(), rec.distance.size());
      // 360 blocks of 30 after the measurements carried over from the
      // previous close: the closing block's 2 in the 1.6 layout, then 30.
      QCOMPARE(rec.distance.size(), std::size_t(r == 1 ? 360 * 30 + 2 : 361 * 30));
    }
    QCOMPARE(receiver.datagramCounts().data, quint64(121));
    stopReceiver(receiver);
  }

  // Status packets on the data port are decoded and forwarded; what the
  // pointers point at is still the packet's when the slot runs, even when the
  // GUI thread is late.
  void statusOnTheDataPortWithSafeHandOver() {
    GetlidarData_1 receiver;
    StatusCopier copier;
    connectStatus(receiver, copier);
    const HeldUdpPort port;
    startReceiver(receiver, port);
    LoopbackSender sender;
    const std::uint16_t speeds[] = {300, 600, 1200, 333, 444};
    for (auto rpm : speeds) QVERIFY(sender.send(port, statusWithSpeed(rpm)));
    // The worker reads all five before the GUI thread delivers any.
    QVERIFY(pollWithoutEvents([&] { return receiver.datagramCounts().status == 5; }));
    QTRY_COMPARE_WITH_TIMEOUT(copier.records.size(), std::size_t(5), 10000);
    QCOMPARE(copier.raw.size(), std::size_t(5));
    for (int i = 0; i < 5; ++i) {
      QCOMPARE(int{copier.records[i].motorSpeed}, int(speeds[i]));
      QCOMPARE(copier.values[i].size(), std::size_t(19));
      QCOMPARE(copier.raw[i][8] * 256 + copier.raw[i][9], int(speeds[i]));
    }
    QCOMPARE(receiver.datagramCounts().status, quint64(5));
    stopReceiver(receiver);
  }

  // While paused every datagram is read and dropped: what arrives after the
  // pause, up to a status packet sent last, is all there is.
  void pausedDropsEverything() {
    GetlidarData_1 receiver;
    StatusCopier copier;
    connectStatus(receiver, copier);
    SignalCollector records;
    QObject::connect(&receiver, SIGNAL(SendData(struct LidarDataSingleLine)), &records,
                     SLOT(onRecord(struct LidarDataSingleLine)));
    const HeldUdpPort port;
    receiver.paused = true;
    startReceiver(receiver, port);
    sim::ScanPacketStream stream(sim::ScanPattern{});
    LoopbackSender sender;
    for (int i = 0; i < 61; ++i) QVERIFY(sender.send(port, stream.next()));
    QVERIFY(sender.send(port, statusWithSpeed(600)));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.datagramCounts().paused, quint64(62), 10000);
    // Unpaused, the stream goes on from where it is: packets 61 to 121 close
    // two revolutions (at the wraps in packets 90 and 120).
    receiver.paused = false;
    for (int i = 0; i < 61; ++i) QVERIFY(sender.send(port, stream.next()));
    QVERIFY(sender.send(port, statusWithSpeed(999)));
    QTRY_COMPARE_WITH_TIMEOUT(copier.records.size(), std::size_t(1), 10000);
    QCOMPARE(int{copier.records[0].motorSpeed}, 999);
    QCOMPARE(records.recordCount(), 2);
    stopReceiver(receiver);
  }

  // The window's "Lidar" button pressed off and on twenty times in a row,
  // at once: each start runs a new loop on a new socket (none refused for the
  // previous one), data and status arrive after the last start, and after
  // the final stop neither port stays bound.
  void restartAtOnce() {
    GetlidarData_1 data;
    GetSet status;
    SignalCollector records;
    QObject::connect(&data, SIGNAL(SendData(struct LidarDataSingleLine)), &records,
                     SLOT(onRecord(struct LidarDataSingleLine)));
    StatusCopier copier;
    connectStatus(status, copier);
    const HeldUdpPort dataPort, statusPort;
    LoopbackSender sender;
    sim::ScanPacketStream stream(sim::ScanPattern{});
    for (int round = 1; round <= 2; ++round) {
      startReceiver(data, dataPort);
      startReceiver(status, statusPort);
      for (int i = 0; i < 20; ++i) {
        data.running = false;
        data.closeSocket();
        status.running = false;
        status.closeSocket();
        startReceiver(data, dataPort);
        startReceiver(status, statusPort);
      }
      for (int i = 0; i < 61; ++i) QVERIFY(sender.send(dataPort, stream.next()));
      QVERIFY(sender.send(statusPort, statusWithSpeed(300)));
      QTRY_COMPARE_WITH_TIMEOUT(records.recordCount(), 2 * round, 10000);
      QTRY_COMPARE_WITH_TIMEOUT(copier.records.size(), std::size_t(round), 10000);
      stopReceiver(data);
      stopReceiver(status);
      QVERIFY(bindsExclusively(dataPort));
      QVERIFY(bindsExclusively(statusPort));
    }
  }

  // A port another receiver takes is refused, with the reason, by either
  // receiver, and the one that has it keeps all of its traffic; a socket at
  // 127.0.0.2 on the port (the held port, as the simulated sensor's) is no
  // such receiver.
  void portOfAnotherReceiverIsRefused() {
    const HeldUdpPort port;
    GetlidarData_1 first, second;
    SignalCollector records;
    QObject::connect(&first, SIGNAL(SendData(struct LidarDataSingleLine)), &records,
                     SLOT(onRecord(struct LidarDataSingleLine)));
    startReceiver(first, port);
    second.port = port.port();
    second.openSocket();
    QCOMPARE(second.socketError(), inUse(port));
    second.start();
    GetSet status;
    status.port = port.port();
    status.openSocket();
    QCOMPARE(status.socketError(), inUse(port));
    status.start();
    sim::ScanPacketStream stream(sim::ScanPattern{});
    LoopbackSender sender;
    for (int i = 0; i < 61; ++i) QVERIFY(sender.send(port, stream.next()));
    QTRY_COMPARE_WITH_TIMEOUT(records.recordCount(), 2, 10000);
    QCOMPARE(first.datagramCounts().data, quint64(61));
    QCOMPARE(second.datagramCounts().data, quint64(0));
    stopReceiver(second);
    stopReceiver(status);
    // Free again once the first stops.
    stopReceiver(first);
    startReceiver(status, port);
    stopReceiver(status);

    // Another program's sockets: a wildcard one without address reuse, an
    // IPv6 wildcard one (dual-stack) with it.
    UdpSocket plain;
    QVERIFY(plain.create() && plain.bind(0));
    status.port = plain.localPort();
    status.openSocket();
    QCOMPARE(status.socketError(), inUse(plain.localPort()));
    const int v6 = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (v6 >= 0) {
      const int on = 1;
      ::setsockopt(v6, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
      sockaddr_in6 any{};
      any.sin6_family = AF_INET6;
      any.sin6_port = htons(port.port());
      if (::bind(v6, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0) {
        first.openSocket();
        QCOMPARE(first.socketError(), inUse(port));
      }
      ::close(v6);
    }
  }

  // A GUI thread that takes no events while many revolutions arrive has at
  // most the limit of them on their way; the rest are dropped and counted.
  // Once it takes events again, revolutions flow again.
  void slowGuiThreadBoundsRecordsInFlight() {
    GetlidarData_1 receiver;
    SignalCollector records;
    QObject::connect(&receiver, SIGNAL(SendData(struct LidarDataSingleLine)), &records,
                     SLOT(onRecord(struct LidarDataSingleLine)));
    const HeldUdpPort port;
    startReceiver(receiver, port);
    const int limit = static_cast<int>(receiver.maxRecordsInFlight.load());
    QVERIFY(limit > 0 && limit < 20);
    sim::ScanPacketStream stream(sim::ScanPattern{});
    LoopbackSender sender;
    QVERIFY(sender.send(port, stream.next()));
    // Twenty revolutions, one at a time so that no receive buffer overflows.
    for (quint64 sent = 1; sent <= 20 * 30;) {
      for (int i = 0; i < 30; ++i, ++sent) QVERIFY(sender.send(port, stream.next()));
      QVERIFY(pollWithoutEvents([&] { return receiver.datagramCounts().data == sent; }));
    }
    QVERIFY(pollWithoutEvents([&] { return receiver.recordsDropped() + receiver.recordsInFlight() == 20; }));
    QCOMPARE(receiver.recordsInFlight(), std::size_t(limit));
    QCOMPARE(receiver.recordsDropped(), quint64(20 - limit));
    QTRY_COMPARE_WITH_TIMEOUT(receiver.recordsInFlight(), std::size_t(0), 10000);
    QCOMPARE(records.recordCount(), limit);
    for (int i = 0; i < 60; ++i) QVERIFY(sender.send(port, stream.next()));
    QTRY_COMPARE_WITH_TIMEOUT(records.recordCount(), limit + 2, 10000);
    QCOMPARE(receiver.recordsDropped(), quint64(20 - limit));
    stopReceiver(receiver);
  }

  // The status receiver: status packets only, each with 19 values; a data
  // packet or a short datagram on the status port is ignored.
  void statusReceiver() {
    GetSet receiver;
    StatusCopier copier;
    connectStatus(receiver, copier);
    const HeldUdpPort port;
    startReceiver(receiver, port);
    LoopbackSender sender;
    sim::DataPacketWriter data(Layout::Protocol17);
    QVERIFY(sender.send(port, data.bytes()));
    const auto status = statusWithSpeed(1200);
    QVERIFY(sender.send(port, status.data(), 100));  // a short datagram with the header
    QVERIFY(sender.send(port, status));
    QVERIFY(sender.send(port, statusWithSpeed(300)));
    // Sent first, the data packet and the short datagram would come first.
    QTRY_COMPARE_WITH_TIMEOUT(copier.records.size(), std::size_t(2), 10000);
    QCOMPARE(int{copier.records[0].motorSpeed}, 1200);
    QCOMPARE(int{copier.records[1].motorSpeed}, 300);
    QCOMPARE(copier.values[1].size(), std::size_t(19));
    QCOMPARE(copier.raw[1][9], std::uint8_t(300 & 0xFF));
    stopReceiver(receiver);
  }

  // Empty datagrams and the largest a UDP datagram can be, sent from the
  // sensor's address between packets, are read and counted as unrecognised
  // by both receivers, and never taken for the packet they start with: what
  // each received adds up to what was sent.
  void everyDatagramCounted() {
    GetlidarData_1 data;
    GetSet status;
    StatusCopier copier;
    connectStatus(status, copier);
    const HeldUdpPort dataPort, statusPort;
    startReceiver(data, dataPort);
    startReceiver(status, statusPort);
    LoopbackSender sender("127.0.0.1", "127.0.0.2");
    const std::vector<std::uint8_t> empty;
    sim::ScanPacketStream stream(sim::ScanPattern{});
    for (int i = 0; i < 30; ++i) {
      const auto packet = stream.next();
      QVERIFY(sender.send(dataPort, packet));
      if (i % 10 == 0)
        QVERIFY(sender.send(dataPort, empty) && sender.send(dataPort, largestDatagramStartingWith(packet)));
    }
    // Few enough that the status port's default receive buffer holds them all.
    const auto statusPacket = statusWithSpeed(600);
    for (int i = 0; i < 2; ++i)
      QVERIFY(sender.send(statusPort, statusPacket) && sender.send(statusPort, empty) &&
              sender.send(statusPort, largestDatagramStartingWith(statusPacket)));
    QVERIFY(sender.send(statusPort, statusPacket));

    const auto dataTotal = [&] {
      const auto c = data.datagramCounts();
      return c.data + c.status + c.compact + c.other;
    };
    const auto statusTotal = [&] { return status.datagramCounts().status + status.datagramCounts().other; };
    QTRY_COMPARE_WITH_TIMEOUT(dataTotal(), quint64(36), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(statusTotal(), quint64(7), 10000);
    QCOMPARE(data.datagramCounts().data, quint64(30));
    QCOMPARE(data.datagramCounts().other, quint64(6));
    QCOMPARE(status.datagramCounts().status, quint64(3));
    QCOMPARE(status.datagramCounts().other, quint64(4));
    QCOMPARE(data.kernelDrops() + status.kernelDrops(), quint32(0));
    QTRY_COMPARE_WITH_TIMEOUT(copier.records.size(), std::size_t(3), 10000);
    stopReceiver(data);
    stopReceiver(status);
  }

  // Both receivers join their multicast group and receive what is sent to
  // it. Only inside a private network namespace (see
  // run_in_private_network.sh): joining a group elsewhere would send
  // membership reports out of the machine.
  void multicastInPrivateNamespace() {
    if (qgetenv("Z540K_PRIVATE_NETWORK") != "1") QSKIP("needs a private network namespace");
    const std::string group = "239.255.0.1";
    GetlidarData_1 data;
    GetSet status;
    SignalCollector records;
    QObject::connect(&data, SIGNAL(SendData(struct LidarDataSingleLine)), &records,
                     SLOT(onRecord(struct LidarDataSingleLine)));
    StatusCopier copier;
    connectStatus(status, copier);
    const HeldUdpPort dataPort, statusPort;
    data.port = dataPort;
    data.multicastAddress = group;
    data.running = true;
    data.openSocket();
    QVERIFY2(data.socketError().isEmpty(), qPrintable(data.socketError()));
    data.start();
    status.port = statusPort;
    status.multicastAddress = group;
    status.running = true;
    status.openSocket();
    QVERIFY2(status.socketError().isEmpty(), qPrintable(status.socketError()));
    status.start();
    LoopbackSender sender(group);
    sim::ScanPacketStream stream(sim::ScanPattern{});
    for (int i = 0; i < 61; ++i) QVERIFY(sender.send(dataPort, stream.next()));
    QVERIFY(sender.send(statusPort, statusWithSpeed(1200)));
    QTRY_COMPARE_WITH_TIMEOUT(records.recordCount(), 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(copier.records.size(), std::size_t(1), 10000);
    QCOMPARE(int{copier.records[0].motorSpeed}, 1200);
    stopReceiver(data);
    stopReceiver(status);
  }

  // The GPS time-stamp test: one reading per block, a jump logged in both
  // files, the count and the readings reported; nothing in dual return.
  void gpsTestLogs() {
    qputenv("TZ", "UTC");
    tzset();
    QTemporaryDir dir;
    GetlidarData_1 receiver;
    SignalCollector stamps, errors;
    QObject::connect(&receiver, SIGNAL(sendTimeStamp(QString)), &stamps, SLOT(onText(QString)));
    QObject::connect(&receiver, SIGNAL(sendErrorCount(int)), &errors, SLOT(onInt(int)));
    StatusCopier copier;
    connectStatus(receiver, copier);
    const HeldUdpPort port;
    receiver.pendingLayout = Layout::Protocol17;
    startReceiver(receiver, port);
    const QString gpsPath = dir.filePath("gps.txt"), jumpPath = dir.filePath("jump.txt");
    receiver.createTestFile(gpsPath, jumpPath);

    // Two packets of 1.6-layout blocks (the layout request waits for an
    // emission). The first reading is compared with a second of 0 (a jump);
    // then 58, 59, 0, 1 and repeated seconds are no jumps; 10 -> 12 and
    // 19 -> 9 are.
    LoopbackSender sender;
    const int seconds[24] = {58, 59, 0, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 12, 13, 14, 15, 16, 17, 18, 19, 9};
    for (int p = 0; p < 2; ++p) {
      sim::DataPacketWriter w(Layout::Protocol16);
      for (int b = 0; b < 12; ++b) {
        w.setBlockAzimuth(b, static_cast<std::uint16_t>(100 * (12 * p + b)));
        const int s = seconds[12 * p + b];
        const bool firstMinute = 12 * p + b < 2;
        w.setGps(b, GpsDateTime{21, 11, 22, 10, static_cast<std::uint8_t>(firstMinute ? 0 : 1),
                                static_cast<std::uint8_t>(s)});
      }
      QVERIFY(sender.send(port, w.bytes()));
    }
    QTRY_COMPARE_WITH_TIMEOUT(stamps.textCount(), 24, 10000);
    QCOMPARE(errors.intCount(), 3);
    QCOMPARE(errors.ints[2], 3);
    QCOMPARE(receiver.errorCount.load(), 3);
    // 2021/11/22 10:00:58 UTC
    QCOMPARE(stamps.texts[0], QString("1637575258"));

    // Dual return: no readings (a status packet sent after the data packet
    // arrives after anything the data packet gave).
    receiver.Receive(ReturnMode::Dual);
    sim::DataPacketWriter w(Layout::Protocol16);
    QVERIFY(sender.send(port, w.bytes()));
    QVERIFY(sender.send(port, statusWithSpeed(600)));
    QTRY_COMPARE_WITH_TIMEOUT(copier.records.size(), std::size_t(1), 10000);
    QCOMPARE(stamps.textCount(), 24);
    receiver.stopCheckGPSTime();

    QFile gps(gpsPath), jump(jumpPath);
    QVERIFY(gps.open(QIODevice::ReadOnly) && jump.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = gps.readAll().split('\n');
    // Header, 24 readings, 3 jump lines, 2 packet separators, and the empty
    // piece after the last line end.
    QCOMPARE(lines.size(), 1 + 24 + 3 + 2 + 1);
    QCOMPARE(lines[0], QByteArray("\t\t\xB1\xBE\xB5\xD8\xCA\xB1\xBC\xE4\t\t\t\t\t\t GPS\xCA\xB1\xBC\xE4"));
    const QRegularExpression reading(
        QString::fromLatin1("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\d{3}\t\t\tGPS\xCA\xB1\xBC\xE4 :2021/11/22 "
                            "10:00:58\t\t1637575258$"));
    QVERIFY2(reading.match(QString::fromLatin1(lines[1])).hasMatch(), lines[1].constData());
    const QByteArray jumpText("-------------- GPS\xCA\xB1\xBC\xE4\xB7\xA2\xC9\xFA\xCC\xF8\xB1\xE4 : ");
    QCOMPARE(lines[2], jumpText + "2000/00/00 00:00:00 -> 2021/11/22 10:00:58--------------");
    QCOMPARE(lines[14], QByteArray("------------------------------------------"));
    QVERIFY(lines[17].endsWith("GPS\xCA\xB1\xBC\xE4 :2021/11/22 10:01:12\t\t1637575272"));
    QCOMPARE(lines[18], jumpText + "2021/11/22 10:01:10 -> 2021/11/22 10:01:12--------------");
    QCOMPARE(lines[28], jumpText + "2021/11/22 10:01:19 -> 2021/11/22 10:01:09--------------");
    QCOMPARE(lines[29], QByteArray("------------------------------------------"));
    const QList<QByteArray> jumps = jump.readAll().split('\n');
    QCOMPARE(jumps.size(), 4);
    const QByteArray jumpMark("\t\t\tGPS\xCA\xB1\xBC\xE4\xB7\xA2\xC9\xFA\xCC\xF8\xB1\xE4 :");
    QVERIFY(jumps[0].endsWith(jumpMark + "2000/00/00 00:00:00 -> 2021/11/22 10:00:58"));
    QVERIFY(jumps[1].endsWith(jumpMark + "2021/11/22 10:01:10 -> 2021/11/22 10:01:12"));
    QVERIFY(jumps[2].endsWith(jumpMark + "2021/11/22 10:01:19 -> 2021/11/22 10:01:09"));
    stopReceiver(receiver);
  }

  // A log that cannot be written (a full disk: /dev/full) ends the test and
  // names the file with the reason: at once when the GPS log's header does
  // not fit, or on the worker when a jump cannot go into the jump log. No
  // reading is reported or logged after it.
  void gpsLogWriteFailureEndsTheTest() {
    QTemporaryDir dir;
    GetlidarData_1 receiver;
    SignalCollector stamps;
    QObject::connect(&receiver, SIGNAL(sendTimeStamp(QString)), &stamps, SLOT(onText(QString)));
    QObject context;
    QStringList failures;
    QObject::connect(&receiver, &GetlidarData_1::sendLogWriteError, &context,
                     [&](const QString& file, const QString& reason) { failures << file + ": " + reason; });
    const QString full = QStringLiteral("/dev/full");
    const QString failed = full + ": " + QString::fromLocal8Bit(std::strerror(ENOSPC));
    const QString gpsPath = dir.filePath("gps.txt");

    receiver.createTestFile(full, dir.filePath("jump.txt"));
    QTRY_COMPARE(failures, QStringList{failed});
    QVERIFY(!receiver.gpsTestActive);

    StatusCopier copier;
    connectStatus(receiver, copier);
    const HeldUdpPort port;
    startReceiver(receiver, port);
    receiver.createTestFile(gpsPath, full);
    QVERIFY(receiver.gpsTestActive);
    // The first reading jumps (from a second of 0 to 5): its jump log line fails.
    LoopbackSender sender;
    for (int p = 0; p < 2; ++p) {
      sim::DataPacketWriter w(Layout::Protocol16);
      for (int b = 0; b < 12; ++b) {
        w.setBlockAzimuth(b, static_cast<std::uint16_t>(100 * (12 * p + b)));
        w.setGps(b, GpsDateTime{21, 11, 22, 10, 0, static_cast<std::uint8_t>(5 + 12 * p + b)});
      }
      QVERIFY(sender.send(port, w.bytes()));
    }
    QVERIFY(sender.send(port, statusWithSpeed(600)));  // arrives after all the data packets gave
    QTRY_COMPARE_WITH_TIMEOUT(copier.records.size(), std::size_t(1), 10000);
    QCOMPARE(failures, (QStringList{failed, failed}));
    QVERIFY(!receiver.gpsTestActive);
    QCOMPARE(stamps.textCount(), 0);
    QFile gps(gpsPath);
    QVERIFY(gps.open(QIODevice::ReadOnly));
    // The header, the reading and its jump line: nothing after the failure.
    QCOMPARE(gps.readAll().count('\n'), 3);
    stopReceiver(receiver);
  }
};

QTEST_GUILESS_MAIN(LiveReceiverTest)
#include "test_live_receiver.moc"
