// The network and device settings window: its form, the live status display,
// Refresh and Set in both formats against the simulated sensor on loopback,
// the same packet or refusal as z540k-tool configure for the same inputs, the
// subnet and gateway fills and checks, and every message box it shows (read
// through MessageRecorder, so nothing waits on a modal box).
#include <QComboBox>
#include <QDateTime>
#include <QFocusEvent>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <optional>

#include "InetactionSetupWidget.h"
#include "LoopbackTestSupport.h"
#include "MessageRecorder.h"
#include "NetworkSettingsPacket.h"
#include "PacketEncoders.h"
#include "ProcessTestSupport.h"
#include "RecordMetaTypes.h"
#include "StatusPacket.h"
#include "StatusReceiver.h"
#include "UdpSocket.h"
#include "WindowTestSupport.h"

using namespace z540k;
using namespace z540k::test;

namespace {

const std::string kSim = Z540K_SIM_PATH;
const std::string kTool = Z540K_TOOL_PATH;

// Feeds one status packet as the receivers deliver it: decoded, then raw.
void feed(InetactionSetupWidget& window, const sim::StatusPacketBytes& packet) {
  SettingData record;
  std::vector<int> values;
  QVERIFY(decodeStatusPacket(packet.data(), packet.size(), record, values));
  window.OnLidarStatusReceiving(&record, values);
  window.OnLidarDifoData(packet.data());
}

// A field's text, or a combo box's current item.
QString shownText(InetactionSetupWidget& window, const char* name) {
  QWidget* w = child(window, name);
  if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText();
  return w->property("text").toString();
}
void setText(InetactionSetupWidget& window, const char* name, const QString& text) {
  child<QLineEdit>(window, name)->setText(text);
}
void click(InetactionSetupWidget& window, const char* name) { child<QPushButton>(window, name)->click(); }

// Every box shown, as "title|text".
QStringList shown(const MessageRecorder& messages) {
  QStringList list;
  for (const auto& m : messages.messages) list << m.title + "|" + m.text;
  return list;
}

const QString kCheckPort = "warring|Please check the device package port !";
const QString kRefreshed = "Tips|Resresh completed";
const QString kSetupCompleted = "Tips|Setup completed";
// After a Refresh, which leaves the PPS angle empty.
const QString kKeptPps = kSetupCompleted + "\nThe sensor keeps its own value for: PPS angle (degrees).";
const QString kCloseQuestion = "Question|Whether to close the Settings form ?";
const QString kGatewayBox =
    "Warning|The gateway is not on the same network segment (subnet) defined by the IP "
    "address and subnet mask. Please reset it.";

// The port every settings packet goes to, at the simulated sensor's address:
// held here for one test, it receives what the window sends.
struct SensorConfigurationPort {
  UdpSocket socket;
  bool open = socket.create() && socket.setReuseAddress() && socket.bind(kConfigurationPort, "127.0.0.2");

  // The datagram waiting (the window's send has returned before this is
  // asked), or nothing.
  std::vector<std::uint8_t> take(int timeoutMs = 0) {
    std::vector<std::uint8_t> buffer(2048);
    const ReceiveResult read = socket.receive(buffer.data(), buffer.size(), timeoutMs);
    buffer.resize(read.fits(buffer.size()) ? read.length : 0);
    return buffer;
  }
};

// The simulated sensor's own port, held at the wildcard address with reuse:
// the simulator binds beside it at its address.
UdpSocket heldAtWildcard(std::uint16_t port = 0) {
  UdpSocket s;
  if (!(s.create() && s.setReuseAddress() && s.bind(port))) qWarning("%s", s.lastError().c_str());
  return s;
}

// The next status packet on `socket` that satisfies `wanted`, within 60 s.
bool awaitStatus(UdpSocket& socket, sim::StatusPacketBytes& packet,
                 const std::function<bool(const sim::StatusPacketBytes&)>& wanted) {
  const QDeadlineTimer deadline(60000);
  while (!deadline.hasExpired()) {
    if (socket.receive(packet.data(), packet.size(), 100).length == packet.size() &&
        isStatusPacket(packet.data(), packet.size()) && wanted(packet))
      return true;
  }
  return false;
}

LocalDateTime localTimeOf(const QDateTime& t) {
  return {t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute(), t.time().second()};
}

// A status as the simulated unit reports it, with readings that tell the
// display's conversions apart.
sim::SensorStatus sampleStatus() {
  sim::SensorStatus s;
  s.mac = {0x60, 0x76, 0x88, 0x0A, 0x0B, 0xFF};
  s.utcTime = {24, 3, 9, 8, 5, 30};
  s.ppsSetAngle = 36000, s.ppsDeviation = 2, s.plate2Temperature = 95, s.lvdsSetting = 0x0001;
  s.latitude = "3958.12340", s.longitude = "11623.5678";
  s.gpsState = 1, s.ppsState = 1, s.machineStopTemperature = 0x0800;
  s.plate3Voltage = {1, 2, 0, 5, 0, 0, 0, 0, 0, 0};
  return s;
}

// What a status packet says of the settings Set writes, in either layout:
// sensor IP, destination IP, data port, device port, motor speed.
using Settings = std::tuple<std::array<std::uint8_t, 4>, std::array<std::uint8_t, 4>, int, int, int>;
Settings settingsIn(const sim::StatusPacketBytes& p) {
  ShortStatus s;
  if (decodeShortStatus(p.data(), p.size(), s)) return {s.sensorIp, s.destIp, s.dataPort, s.devicePort, s.motorSpeed};
  const auto ip = [&](std::size_t at) { return std::array<std::uint8_t, 4>{p[at], p[at + 1], p[at + 2], p[at + 3]}; };
  const auto be16 = [&](std::size_t at) { return p[at] << 8 | p[at + 1]; };
  return {ip(status_offset::kSensorIp), ip(status_offset::kDestIp), be16(status_offset::kDataPort),
          be16(status_offset::kStatusPort), be16(status_offset::kMotorSpeed)};
}

QByteArray bytes(const std::uint8_t* data, std::size_t size) {
  return QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size));
}

}  // namespace

class NetworkSettingsWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { registerRecordMetaTypes(); }

  void form() {
    InetactionSetupWidget window;
    QVERIFY(!window.windowIcon().isNull());
    QVERIFY(window.size() == QSize(600, 700) && window.minimumSize() == QSize(600, 630) &&
            window.maximumSize() == QSize(658, 700));
    QVERIFY(!window.testAttribute(Qt::WA_QuitOnClose));
    QCOMPARE(child<QLabel>(window, "label_LVDS")->font().family(), QString("Arial"));
    for (const char* name : {"comboBox_localTime", "comboBox"})
      for (int i = 0; i < 2; ++i) QVERIFY2(!child<QComboBox>(window, name)->itemIcon(i).isNull(), name);

    // The typed fields take every keystroke (Set judges the whole text: they
    // have no validator, see test_form_texts.cpp); the hidden interval, only
    // ever filled by a Refresh, keeps its range.
    auto* interval = qobject_cast<const QIntValidator*>(child<QLineEdit>(window, "lineEdit_interval")->validator());
    QVERIFY(interval && interval->bottom() == 0 && interval->top() == 1);
  }

  // Before any status: Set is disabled and Refresh refused; Clear empties
  // its fields only; Cancel closes.
  void freshWindow() {
    MessageRecorder messages;
    InetactionSetupWidget window;
    window.show();
    QVERIFY(!child<QPushButton>(window, "pushButton_OK")->isEnabled());
    click(window, "pushButton_LidarRefresh");
    QCOMPARE(shown(messages), QStringList{kCheckPort});
    QVERIFY(!child<QPushButton>(window, "pushButton_OK")->isEnabled());
    QVERIFY(window.versions().isEmpty());

    const char* cleared[] = {"lineEdit_Current_IP",
                             "lineEdit_DefaultIP",
                             "lineEdit_DestIP",
                             "lineEdit_Current_Port",
                             "lineEdit_defaultPort",
                             "lineEdit_destPort",
                             "lineEdit_GPS_Position_latitude",
                             "lineEdit_GPS_Position_longitude",
                             "lineEdit_Motor_State",
                             "lineEdit_mac_addr",
                             "lineEdit_interval"};
    for (const char* name : cleared) setText(window, name, "x");
    setText(window, "lineEdit_NTP", "10.0.0.1");
    QVERIFY(QMetaObject::invokeMethod(&window, "onCleanUCWPControl"));
    for (const char* name : cleared) QVERIFY2(shownText(window, name).isEmpty(), name);
    QCOMPARE(shownText(window, "lineEdit_NTP"), QString("10.0.0.1"));

    click(window, "pushButton_Cancel");
    QVERIFY(!window.isVisible());
  }

  // What one status shows, then what a Refresh fills, after an earlier
  // status and Refresh of the simulated unit's defaults (600 rpm, running).
  void statusDisplayAndRefresh_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(displayRows().size()); ++i) QTest::newRow(displayRows()[i].name) << i;
  }
  void statusDisplayAndRefresh() {
    QFETCH(int, row);
    const DisplayRow& r = displayRows()[static_cast<std::size_t>(row)];
    MessageRecorder messages;
    InetactionSetupWidget window;
    feed(window, sim::encodeStatusPacket(sampleStatus()));
    click(window, "pushButton_LidarRefresh");
    sim::SensorStatus status = sampleStatus();
    r.change(status);
    feed(window, sim::encodeStatusPacket(status));
    click(window, "pushButton_LidarRefresh");
    QCOMPARE(shown(messages), (QStringList{kRefreshed, kRefreshed}));
    QVERIFY(child<QPushButton>(window, "pushButton_OK")->isEnabled());
    for (const auto& [field, expected] : r.expected) QCOMPARE(shownText(window, field), QString(expected));
  }

  // The version list, in the simulated unit's bytes, emitted with every status.
  void versionList() {
    InetactionSetupWidget window;
    QSignalSpy spy(&window, &InetactionSetupWidget::sVersionsToHelp);
    sim::SensorStatus s;
    s.board2Version = {1, 0x23}, s.board3Version = {20, 24, 3, 9, 1, 0x23};
    s.versionText = "Z540-K simulated", s.versionPairs = {1, 2, 10, 11, 0, 0, 255, 9, 2, 0};
    feed(window, sim::encodeStatusPacket(s));
    feed(window, sim::encodeStatusPacket(s));
    QCOMPARE(spy.count(), 2);
    const QStringList expected = {"V1.2.3",
                                  "2024.3.9-V.1.2.3",
                                  QString("Z540-K simulated") + QString(4, QChar(0)),
                                  "V1.2",
                                  "V10.11",
                                  "V0.0",
                                  "V255.9",
                                  "V2.0"};
    QCOMPARE(spy.at(1).at(0).toStringList(), expected);
    QCOMPARE(window.versions(), expected);
    QVERIFY(!window.session().shortFormat());
    feed(window, sim::encodeStatusPacket(s, sim::StatusLayout::Short));
    QVERIFY(window.session().shortFormat());
    QCOMPARE(window.versions().at(1), QString("2024.3.9-V.3.2.3"));
  }

  // Set's refusals and results, each on a window fed and refreshed from the
  // sample status (sensor 127.0.0.2, where the port taken here receives).
  void setCases_data() {
    QTest::addColumn<int>("row");
    for (int i = 0; i < static_cast<int>(setRows().size()); ++i) QTest::newRow(setRows()[i].name) << i;
  }
  void setCases() {
    QFETCH(int, row);
    const SetRow& r = setRows()[static_cast<std::size_t>(row)];
    SensorConfigurationPort sensor;
    if (!sensor.open) QSKIP("port 2368 at 127.0.0.2 is taken on this machine");
    MessageRecorder messages(r.answer);
    InetactionSetupWidget window;
    window.show();
    sim::SensorStatus status = sampleStatus();
    if (r.sensorIp) status.sensorIp = *r.sensorIp;
    feed(window, sim::encodeStatusPacket(status));
    click(window, "pushButton_LidarRefresh");
    if (r.edit) r.edit(window);
    messages.messages.clear();
    click(window, "pushButton_OK");

    const QStringList boxes = shown(messages);
    QCOMPARE(boxes.size(), r.boxes.size());
    for (int i = 0; i < boxes.size(); ++i) {
      const QString& want = r.boxes[i];
      if (want.endsWith('*'))
        QVERIFY2(boxes[i].startsWith(want.chopped(1)), qPrintable(boxes[i]));
      else
        QCOMPARE(boxes[i], want);
    }
    QCOMPARE(sensor.take().size(), r.sent ? kNetworkSettingsLongSize : 0u);
    QCOMPARE(window.session().canSend(), !r.sent);  // a refused or failed Set leaves the status fresh
    QCOMPARE(window.isVisible(), r.visibleAfter);
  }

  // The window's Set and `z540k-tool configure --dry-run` on the same status
  // and the same texts (typed into the window's fields key by key, given to
  // the tool as options): every keystroke stays in the field, and both give
  // the same packet, or the same refusal with nothing sent. An unedited Set
  // writes back the status bytes; the completion message names the fields
  // that kept the sensor's value.
  void sameAsTheTool_data() {
    QTest::addColumn<bool>("shortLayout");
    QTest::addColumn<QStringList>("edits");  // "field=text" typed into the window; the tool's option from its field
    QTest::addColumn<QString>("outcome");    // how both refuse, or "kept: FIELDS" the completion message lists
    const auto row = [](const char* name, bool shortLayout, const QStringList& edits, const QString& outcome) {
      QTest::newRow(name) << shortLayout << edits << outcome;
    };
    const QString pps = "kept: PPS angle (degrees)", address = "is not an IPv4 address",
                  incomplete = "is not a complete IPv4 address.", host = "is not a host address",
                  port = "is not a whole number from 0 to 65535", angle = "is not a whole number from 0 to 360";
    row("unedited", false, {}, pps);
    row("addresses", false, {"DefaultIP=127.0.0.9", "DestIP=127.0.0.7"}, pps);
    row("ports with sign and zero", false, {"defaultPort=+2000", "destPort=02001"}, pps);
    row("a port the sensor keeps", false, {"defaultPort=1024"}, "kept: Data Port, PPS angle (degrees)");
    row("server addresses", false, {"Subnet=255.255.0.0", "Gateway=127.0.0.254", "NTP="},
        "kept: PPS angle (degrees), NTP IP");
    row("emptied subnet", false, {"Subnet="}, "kept: Subnet Mask, PPS angle (degrees)");
    row("no NTP server, typed", false, {"NTP=0.0.0.0"}, pps);
    row("PPS angle", false, {"SetPPS_Angle=90"}, "kept: ");
    row("the same address written twice", false, {"DestIP=127.0.0.02"},
        "The Lidar local IP cannot be set to the same as the destination IP.");
    row("half-typed destination", false, {"DestIP=127.0.0"}, "Dest IP \"127.0.0\" " + incomplete);
    row("gateway ending in a dot", false, {"Gateway=127.0.0."}, "default gateway \"127.0.0.\" " + incomplete);
    row("sensor 10.0.0.256", false, {"DefaultIP=10.0.0.256"}, "Lidar IP \"10.0.0.256\" " + address);
    row("sensor 0.0.0.0", false, {"DefaultIP=0.0.0.0"}, "Lidar IP \"0.0.0.0\" " + host);
    row("destination 255.255.255.255", false, {"DestIP=255.255.255.255"}, "Dest IP \"255.255.255.255\" " + host);
    row("destination multicast", false, {"DestIP=224.1.1.1"}, "Dest IP \"224.1.1.1\" " + host);
    row("impossible gateway", false, {"Gateway=127.0.0.256"}, "default gateway \"127.0.0.256\" " + address);
    row("subnet of spaces", false, {"Subnet=   "}, "Subnet Mask \"   \" " + incomplete);
    row("gateway -", false, {"Gateway=-"}, "default gateway \"-\" " + incomplete);
    row("NTP nan", false, {"NTP=nan"}, "NTP IP \"nan\" " + incomplete);
    row("data port 99999", false, {"defaultPort=99999"}, "Data Port \"99999\" " + port);
    row("device port -1", false, {"destPort=-1"}, "device Port \"-1\" " + port);
    row("data port 2,000", false, {"defaultPort=2,000"}, "Data Port \"2,000\" " + port);
    row("data port 23x", false, {"defaultPort=23x"}, "Data Port \"23x\" " + port);
    row("device port 1e308", false, {"destPort=1e308"}, "device Port \"1e308\" " + port);
    row("PPS angle 1e308", false, {"SetPPS_Angle=1e308"}, "PPS angle (degrees) \"1e308\" " + angle);
    row("PPS angle nan", false, {"SetPPS_Angle=nan"}, "PPS angle (degrees) \"nan\" " + angle);
    row("PPS angle 361", false, {"SetPPS_Angle=361"}, "PPS angle (degrees) \"361\" " + angle);
    row("PPS angle 0.005", false, {"SetPPS_Angle=0.005"}, "PPS angle (degrees) \"0.005\" " + angle);
    row("PPS angle 327.68", false, {"SetPPS_Angle=327.68"}, "PPS angle (degrees) \"327.68\" " + angle);
    row("unedited, short", true, {}, "kept: ");
    row("addresses and ports, short", true, {"DefaultIP=127.0.0.9", "defaultPort=+2000"}, "kept: ");
    row("emptied ports, short", true, {"defaultPort=", "destPort=800"}, "kept: Data Port, device Port");
    row("half-typed sensor IP, short", true, {"DefaultIP=127.0"}, "Lidar IP \"127.0\" " + incomplete);
    row("sensor 0.0.0.0, short", true, {"DefaultIP=0.0.0.0"}, "Lidar IP \"0.0.0.0\" " + host);
    row("device port 70000, short", true, {"destPort=70000"}, "device Port \"70000\" " + port);
  }
  void sameAsTheTool() {
    QFETCH(bool, shortLayout);
    QFETCH(QStringList, edits);
    QFETCH(QString, outcome);
    SensorConfigurationPort sensor;
    if (!sensor.open) QSKIP("port 2368 at 127.0.0.2 is taken on this machine");
    MessageRecorder messages;
    InetactionSetupWidget window;
    window.show();
    const auto status =
        sim::encodeStatusPacket(sampleStatus(), shortLayout ? sim::StatusLayout::Short : sim::StatusLayout::Long);
    feed(window, status);
    click(window, "pushButton_LidarRefresh");
    child<QComboBox>(window, "comboBox_localTime")->setCurrentIndex(1);  // " No": no clock in the packet
    // The tool's option for each field.
    const QMap<QString, std::string> options = {{"DefaultIP", "--sensor-ip"},
                                                {"DestIP", "--dest-ip"},
                                                {"Subnet", "--subnet"},
                                                {"Gateway", "--gateway"},
                                                {"NTP", "--ntp"},
                                                {"defaultPort", "--data-port"},
                                                {"destPort", "--device-port"},
                                                {"SetPPS_Angle", "--pps-angle"}};
    std::vector<std::string> args = {kTool, "configure", "--dry-run"};
    typeFieldEdits(window, edits, options, args);
    if (QTest::currentTestFailed()) return;
    messages.messages.clear();
    click(window, "pushButton_OK");
    const std::vector<std::uint8_t> sent = sensor.take();

    QTemporaryDir dir;
    const QString snapshot = dir.filePath("status.snapshot");
    QFile file(snapshot);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromStdString(statusDumpText(status.data(), status.size())));
    file.close();
    args.insert(args.end(), {"--snapshot", snapshot.toStdString()});
    if (!shortLayout) args.insert(args.end(), {"--time", "no"});
    Process tool(args);
    const int code = tool.wait();

    if (outcome.startsWith("kept: ")) {
      const QString kept = outcome.mid(6);
      const QString completed =
          kept.isEmpty() ? kSetupCompleted : kSetupCompleted + "\nThe sensor keeps its own value for: " + kept + ".";
      QCOMPARE(shown(messages), (QStringList{completed, kCloseQuestion}));
      QCOMPARE(code, 0);
      const std::string printed = tool.out().substr(0, tool.out().find('\n'));
      QCOMPARE(QString::fromStdString(printed), QString::fromStdString(statusDumpText(sent.data(), sent.size())));
      if (edits.isEmpty() && !shortLayout)  // everything after the header as the status says
        QCOMPARE(bytes(sent.data() + 8, 44), bytes(status.data() + 8, 44));
      if (kept.contains("Subnet Mask"))  // never 0.0.0.0 unasked
        QCOMPARE(bytes(sent.data() + 36, 4), bytes(status.data() + 36, 4));
    } else {
      QVERIFY(sent.empty());
      QCOMPARE(messages.messages.size(), std::size_t(1));
      const QString text = messages.last().text;
      QCOMPARE(messages.last().title, QString("warring"));
      QVERIFY2(text.startsWith(outcome), qPrintable(text));
      QVERIFY2(code != 0 && tool.out().empty(), tool.err().c_str());
      const QString err = QString::fromStdString(tool.err()).trimmed();
      QVERIFY2(!err.contains('\n') && err.endsWith(text), qPrintable(err + " / " + text));
    }
  }

  // Each number field with a value one step outside its range, NaN and text:
  // refused, naming the field, and nothing sent; the status stays fresh.
  void refusedNumbers() {
    SensorConfigurationPort sensor;
    if (!sensor.open) QSKIP("port 2368 at 127.0.0.2 is taken on this machine");
    MessageRecorder messages;
    InetactionSetupWidget window;
    feed(window, sim::encodeStatusPacket(sampleStatus()));
    click(window, "pushButton_LidarRefresh");
    const std::pair<const char*, QStringList> fields[] = {{"lineEdit_defaultPort", {"65536", "-1", "NaN", "port"}},
                                                          {"lineEdit_destPort", {"65536", "-1", "x"}},
                                                          {"lineEdit_interval", {"65536", "-1", "nan"}},
                                                          {"lineEdit_SetPPS_Angle", {"361", "-1", "1e2"}}};
    const QStringList names = {"Data Port", "device Port", "Packet interval", "PPS angle (degrees)"};
    for (std::size_t i = 0; i < 4; ++i) {
      const QString before = shownText(window, fields[i].first);
      for (const QString& text : fields[i].second) {
        messages.messages.clear();
        setText(window, fields[i].first, text);
        click(window, "pushButton_OK");
        QCOMPARE(messages.messages.size(), std::size_t(1));
        QVERIFY2(messages.last().title == "warring" && messages.last().text.startsWith(names[int(i)] + " \"" + text),
                 qPrintable(messages.last().text));
        QVERIFY(sensor.take().empty());
        QVERIFY(window.session().canSend());
      }
      setText(window, fields[i].first, before);
    }
  }

  // The subnet mask and gateway fills (focus entering the field), the checks
  // run on leaving the subnet and gateway fields, and the four check slots:
  // the result, the box shown and the field afterwards.
  void fieldRules_data() {
    QTest::addColumn<QString>("action");      // "focus", "leave" or the slot to call
    QTest::addColumn<QStringList>("fields");  // sensor IP, destination IP, subnet, gateway
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("result");  // of a slot: 0 false, 1 true
    const QString mask =
        "Warning|The subnet mask entered is invalid. The subnet mask must be contiguous, please "
        "re-enter the subnet mask.";
    const QString octet =
        "Warning|%1 is not a valid item in the first paragraph. Please specify a value between 1 "
        "and 223.";
    const auto row = [](const char* name, const char* action, const QStringList& fields, const char* field,
                        const char* after, const QString& box = {}, int result = -1) {
      QTest::newRow(name) << QString(action) << fields << QString(field) << QString(after) << box << result;
    };
    const char *subnetField = "lineEdit_Subnet", *gatewayField = "lineEdit_Gateway";
    row("fill class A", "focus", {"", "10.0.0.5", "1.2.3.4", ""}, subnetField, "255.0.0.0");
    row("fill loopback", "focus", {"", "127.0.0.1", "1.2.3.4", ""}, subnetField, "");
    row("fill class B", "focus", {"", "172.16.0.1", "", ""}, subnetField, "255.255.0.0");
    row("fill class C", "focus", {"", "192.168.1.102", "", ""}, subnetField, "255.255.255.0");
    row("fill multicast", "focus", {"", "224.0.0.1", "1.2.3.4", ""}, subnetField, "");
    row("fill, no destination", "focus", {"", "", "255.255.0.0", ""}, subnetField, "255.255.0.0");
    row("fill, half-typed destination", "focus", {"", "10.0.0", "1.2.3.4", ""}, subnetField, "");
    row("fill gateway C", "focus", {"", "192.168.1.102", "255.255.255.0", "9.9.9.9"}, gatewayField, "192.168.1.1");
    row("fill gateway A", "focus", {"", "10.1.2.3", "255.0.0.0", ""}, gatewayField, "10.0.0.1");
    row("fill gateway, half-typed mask", "focus", {"", "10.1.2.3", "255.0", "9.9.9.9"}, gatewayField, "9.9.9.9");
    row("leave mask", "leave", {"", "", "255.0.255.0", ""}, subnetField, "255.0.255.0", mask);
    row("leave gateway", "leave", {"", "10.0.0.2", "255.0.0.0", "11.0.0.1"}, gatewayField, "10.0.0.1", kGatewayBox);
    const char* m = "isLegalSubNetMask";
    row("mask with a hole", m, {"", "", "255.0.255.0", ""}, subnetField, "255.0.255.0", mask, 0);
    row("mask /23", m, {"", "", "255.255.254.0", ""}, subnetField, "255.255.254.0", {}, 1);
    row("mask all zero", m, {"", "", "0.0.0.0", ""}, subnetField, "0.0.0.0", {}, 1);
    row("mask all one", m, {"", "", "255.255.255.255", ""}, subnetField, "255.255.255.255", {}, 1);
    row("mask empty", m, {"", "", "", ""}, subnetField, "", {}, 0);
    row("mask half-typed", m, {"", "", "255.255", ""}, subnetField, "255.255", {}, 0);
    // Refused, the focus goes back to the gateway, whose fill then puts the
    // subnet's own gateway there.
    const char* g = "isLegalGateway";
    const QStringList c = {"", "192.168.1.102", "255.255.255.0"};
    row("gateway elsewhere", g, c + QStringList{"192.168.2.1"}, gatewayField, "192.168.1.1", kGatewayBox, 0);
    row("gateway in the subnet", g, c + QStringList{"192.168.1.254"}, gatewayField, "192.168.1.254", {}, 1);
    row("gateway, no mask", g, {"", "192.168.1.102", "", "192.168.2.1"}, gatewayField, "192.168.2.1", {}, 0);
    row("gateway, half-typed destination", g, {"", "192.168.1", "255.255.255.0", "192.168.2.1"}, gatewayField,
        "192.168.2.1", {}, 0);
    row("gateway, trailing dot", g, c + QStringList{"192.168.1."}, gatewayField, "192.168.1.", {}, 0);
    row("sensor IP 0.x", "isLegalLidarIP", {"0.1.2.3", "", "", ""}, "lineEdit_DefaultIP", "223.1.2.3", octet.arg(0), 0);
    row("sensor IP 10.x", "isLegalLidarIP", {"10.1.2.3", "", "", ""}, "lineEdit_DefaultIP", "10.1.2.3", {}, 1);
    row("sensor IP half-typed", "isLegalLidarIP", {"0.1", "", "", ""}, "lineEdit_DefaultIP", "0.1", {}, 0);
    row("destination 224.x", "isLegalLocalIP", {"", "224.5.6.7", "", ""}, "lineEdit_DestIP", "223.5.6.7",
        octet.arg(224), 0);
    row("destination 223.x", "isLegalLocalIP", {"", "223.5.6.7", "", ""}, "lineEdit_DestIP", "223.5.6.7", {}, 1);
    row("destination empty", "isLegalLocalIP", {"", "", "", ""}, "lineEdit_DestIP", "", {}, 0);
  }
  void fieldRules() {
    QFETCH(QString, action);
    QFETCH(QStringList, fields);
    QFETCH(QString, field);
    QFETCH(QString, after);
    QFETCH(QString, box);
    QFETCH(int, result);
    MessageRecorder messages(QMessageBox::Yes);
    InetactionSetupWidget window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    child(window, "pushButton_Cancel")->setFocus();
    const char* names[] = {"lineEdit_DefaultIP", "lineEdit_DestIP", "lineEdit_Subnet", "lineEdit_Gateway"};
    for (int i = 0; i < 4; ++i) setText(window, names[i], fields[i]);
    QWidget* target = child(window, qPrintable(field));
    if (action == "focus") {
      QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
      QCoreApplication::sendEvent(target, &in);
    } else if (action == "leave") {
      QVERIFY(QMetaObject::invokeMethod(target, "editingFinished"));
    } else {
      bool returned = false;
      QVERIFY(QMetaObject::invokeMethod(&window, qPrintable(action), Q_RETURN_ARG(bool, returned)));
      QCOMPARE(int{returned}, result);
    }
    QCOMPARE(shown(messages), box.isEmpty() ? QStringList() : QStringList{box});
    if (box == kGatewayBox) QTRY_VERIFY(child(window, "lineEdit_Gateway")->hasFocus());
    QCOMPARE(shownText(window, qPrintable(field)), after);
  }

  // The simulated sensor on loopback: its status reaches the window through a
  // status receiver; Refresh reads it in the sensor's layout; Set sends the
  // packet (received here at the sensor's address, port 2368, and handed on
  // to the simulator's own port), which the simulator applies: its next
  // status, on the new status port, shows the new addresses, ports and speed.
  void withSimulator_data() {
    QTest::addColumn<bool>("shortLayout");
    QTest::newRow("long layout") << false;
    QTest::newRow("short layout") << true;
  }
  void withSimulator() {
    QFETCH(bool, shortLayout);
    SensorConfigurationPort sensor;
    if (!sensor.open) QSKIP("port 2368 at 127.0.0.2 is taken on this machine");
    const HeldUdpPort dataPort, statusPort, newDataPort, newStatusPort;
    UdpSocket simulatorPort = heldAtWildcard();
    UdpSocket newStatus = heldAtWildcard(newStatusPort);
    MessageRecorder messages;
    InetactionSetupWidget window;
    window.show();
    GetSet receiver;
    QVERIFY(QObject::connect(&receiver, SIGNAL(SendLidarStatusToSettingUI(SettingData*, std::vector<int>)), &window,
                             SLOT(OnLidarStatusReceiving(SettingData*, std::vector<int>)), Qt::UniqueConnection));
    QVERIFY(QObject::connect(&receiver, SIGNAL(SendDataDifo(const u_char*)), &window,
                             SLOT(OnLidarDifoData(const u_char*)), Qt::UniqueConnection));
    startReceiver(receiver, statusPort);
    std::vector<std::string> args = {kSim,
                                     "--data-port",
                                     std::to_string(dataPort.port()),
                                     "--status-port",
                                     std::to_string(statusPort.port()),
                                     "--sensor-port",
                                     std::to_string(simulatorPort.localPort()),
                                     "--rpm",
                                     "600",
                                     "--seconds",
                                     "120"};
    if (shortLayout) args.push_back("--short-status");
    Process sim(args);

    QTRY_VERIFY_WITH_TIMEOUT(window.session().canSend(), 30000);
    QCOMPARE(window.session().shortFormat(), shortLayout);
    if (!shortLayout) {
      const std::pair<const char*, const char*> live[] = {{"lineEdit_Motor_State", "600"},
                                                          {"lineEdit", "0"},
                                                          {"lineEdit_2", "0.02"},
                                                          {"lineEdit_Plate_2_T", "45.00"},
                                                          {"lineEdit_Machine_Stop_T", "115.00"},
                                                          {"lineEdit_mac_addr", "60-76-88-00-00-01"},
                                                          {"lineEdit_GPS_Position_latitude", "3958.12340N"},
                                                          {"lineEdit_GPS_Position_longitude", "11623.5678E"},
                                                          {"comboBox_LVDS_Valuse", "0：LVDS锁定"},
                                                          {"lineEdit_GPS_State", "1"}};
      for (const auto& [field, expected] : live) QCOMPARE(shownText(window, field), QString(expected));
      QCOMPARE(window.versions().mid(0, 2), (QStringList{"V1.2.3", "2024.3.9-V.1.2.3"}));
    }

    click(window, "pushButton_LidarRefresh");
    QCOMPARE(shown(messages), QStringList{kRefreshed});
    QVERIFY(child<QPushButton>(window, "pushButton_OK")->isEnabled());
    std::vector<std::pair<const char*, QString>> refreshed = {
        {"lineEdit_DefaultIP", "127.0.0.2"},
        {"lineEdit_DestIP", "127.0.0.1"},
        {"lineEdit_defaultPort", QString::number(dataPort.port())},
        {"lineEdit_destPort", QString::number(statusPort.port())},
        {"lineEdit_Motor_State", "600"},
        {"comboBox_rotateSpeed", " 10 HZ"}};
    if (!shortLayout)  // the short layout carries none of these
      refreshed.insert(refreshed.end(), {{"lineEdit_Subnet", "255.0.0.0"},
                                         {"lineEdit_Gateway", "127.0.0.1"},
                                         {"lineEdit_NTP", "0.0.0.0"},
                                         {"comboBox", "Run"}});
    for (const auto& [field, expected] : refreshed) QCOMPARE(shownText(window, field), expected);

    // What Set sends: the refreshed fields with new addresses, ports and speed.
    NetworkSettingsInput input;
    input.sensorIp = "127.0.0.3", input.destIp = "127.0.0.4", input.motorSpeed = " 20 HZ", input.motorState = "Run";
    input.dataPort = std::to_string(newDataPort.port()), input.devicePort = std::to_string(newStatusPort.port());
    if (!shortLayout)
      input.subnet = "255.0.0.0", input.gateway = "127.0.0.1", input.ntp = "0.0.0.0", input.mac = "60-76-88-00-00-01",
      input.interval = "0";
    setText(window, "lineEdit_DefaultIP", "127.0.0.3");
    setText(window, "lineEdit_DestIP", "127.0.0.4");
    setText(window, "lineEdit_defaultPort", QString::fromStdString(input.dataPort));
    setText(window, "lineEdit_destPort", QString::fromStdString(input.devicePort));
    child<QComboBox>(window, "comboBox_rotateSpeed")->setCurrentIndex(2);
    StatusSnapshot snapshot = window.session().snapshot();
    const QDateTime before = QDateTime::currentDateTime();
    messages.messages.clear();
    click(window, "pushButton_OK");
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(shown(messages), (QStringList{shortLayout ? kSetupCompleted : kKeptPps, kCloseQuestion}));
    QVERIFY(!window.isVisible());  // the question answered OK

    const std::vector<std::uint8_t> packet = sensor.take(5000);
    if (shortLayout) {
      const auto expected = buildShortNetworkSettingsPacket(input, snapshot);
      QCOMPARE(bytes(packet.data(), packet.size()), bytes(expected.data(), expected.size()));
    } else {
      // Built at the time of the click: the second before or after it.
      StatusSnapshot other = snapshot;
      auto expected = buildLongNetworkSettingsPacket(input, snapshot, localTimeOf(before));
      const auto atAfter = buildLongNetworkSettingsPacket(input, other, localTimeOf(after));
      if (packet.size() == atAfter.size() && std::equal(atAfter.begin(), atAfter.end(), packet.begin()))
        expected = atAfter;
      QCOMPARE(bytes(packet.data(), packet.size()), bytes(expected.data(), expected.size()));
    }
    LoopbackSender toSimulator("127.0.0.2");
    QVERIFY(toSimulator.send(simulatorPort.localPort(), packet.data(), packet.size()));

    // A second Set before any newer status: refused, nothing sent.
    click(window, "pushButton_OK");
    QCOMPARE(shown(messages).last(), kCheckPort);
    QVERIFY(sensor.take().empty());

    sim::StatusPacketBytes status{};
    const bool applied = awaitStatus(
        newStatus, status, [](const sim::StatusPacketBytes& p) { return std::get<4>(settingsIn(p)) == 1200; });
    QVERIFY2(applied, sim.err().c_str());
    const Settings expected{{127, 0, 0, 3}, {127, 0, 0, 4}, newDataPort.port(), newStatusPort.port(), 1200};
    QVERIFY(settingsIn(status) == expected);
    receiver.running = false;
    receiver.closeSocket();
    sim.interrupt();
    QCOMPARE(sim.wait(), 0);
    QVERIFY2(sim.err().find("applied") != std::string::npos, sim.err().c_str());
  }

 private:
  struct DisplayRow {
    const char* name;
    std::function<void(sim::SensorStatus&)> change;
    std::vector<std::pair<const char*, const char*>> expected;
  };
  static const std::vector<DisplayRow>& displayRows() {
    using S = sim::SensorStatus&;
    static const std::vector<DisplayRow> rows = {
        {"sample",
         [](S) {},
         {{"lineEdit_Motor_State", "600"},
          {"lineEdit_utc_time", "2024/3/9 8:5:30"},
          {"lineEdit_PPS_Set_Angle", "360.00"},
          {"lineEdit_GPS_Position_longitude", "11623.5678E"},
          {"lineEdit_GPS_Position_latitude", "3958.12340N"},
          {"lineEdit_mac_addr", "60-76-88-0a-0b-ff"},
          {"lineEdit", "0"},
          {"lineEdit_2", "0.02"},
          {"lineEdit_Plate_2_T", "45.00"},
          {"comboBox_LVDS_Valuse", "1：LVDS未锁定"},
          {"lineEdit_GPS_State", "1"},
          {"lineEdit_PPS_State", "1"},
          {"lineEdit_High_T_Pause", "0"},
          {"lineEdit_Machine_Stop_T", "115.00"},
          {"lineEdit_Plate_3_V", "1205000000"},
          {"lineEdit_DefaultIP", "127.0.0.2"},
          {"lineEdit_DestIP", "127.0.0.1"},
          {"lineEdit_NTP", "0.0.0.0"},
          {"lineEdit_Gateway", "127.0.0.1"},
          {"lineEdit_Subnet", "255.0.0.0"},
          {"lineEdit_defaultPort", "2368"},
          {"lineEdit_destPort", "2369"},
          {"lineEdit_interval", "0"},
          {"comboBox_rotateSpeed", " 10 HZ"},
          {"comboBox_LidarStatus", "Running"},
          {"comboBox", "Run"}}},
        {"motor 100 shows 0",
         [](S s) { s.motorSpeed = 100; },
         {{"lineEdit_Motor_State", "0"}, {"comboBox_rotateSpeed", " 10 HZ"}}},
        {"motor 101", [](S s) { s.motorSpeed = 101; }, {{"lineEdit_Motor_State", "101"}}},
        {"motor 400 keeps the choice",
         [](S s) { s.motorSpeed = 400; },
         {{"lineEdit_Motor_State", "400"}, {"comboBox_rotateSpeed", " 10 HZ"}}},
        {"motor 250", [](S s) { s.motorSpeed = 250; }, {{"comboBox_rotateSpeed", " 5 HZ"}}},
        {"motor 1250", [](S s) { s.motorSpeed = 1250; }, {{"comboBox_rotateSpeed", " 20 HZ"}}},
        {"stopped and asleep",
         [](S s) { s.runState = 1, s.sensorState = 1; },
         {{"comboBox", "Stop"}, {"comboBox_LidarStatus", "Sleep"}}},
        {"unknown states keep the choices",
         [](S s) { s.runState = 2, s.sensorState = 5; },
         {{"comboBox", "Run"}, {"comboBox_LidarStatus", "Running"}}},
        // Two's complement hundredths.
        {"deviation FF FF", [](S s) { s.ppsDeviation = 0xFFFF; }, {{"lineEdit", "0"}, {"lineEdit_2", "-0.01"}}},
        {"deviation 80 00", [](S s) { s.ppsDeviation = 0x8000; }, {{"lineEdit", "1"}, {"lineEdit_2", "-327.68"}}},
        {"deviation 7F FF", [](S s) { s.ppsDeviation = 0x7FFF; }, {{"lineEdit", "1"}, {"lineEdit_2", "327.67"}}},
        {"deviation -15.00", [](S s) { s.ppsDeviation = 0xFA24; }, {{"lineEdit", "0"}, {"lineEdit_2", "-15"}}},
        {"deviation 15.00", [](S s) { s.ppsDeviation = 1500; }, {{"lineEdit", "0"}, {"lineEdit_2", "15"}}},
        {"deviation 15.01", [](S s) { s.ppsDeviation = 1501; }, {{"lineEdit", "1"}, {"lineEdit_2", "15.01"}}},
        {"machine stop 0", [](S s) { s.machineStopTemperature = 0; }, {{"lineEdit_Machine_Stop_T", "0.00"}}},
        {"plate-2 below zero", [](S s) { s.plate2Temperature = 0; }, {{"lineEdit_Plate_2_T", "-50.00"}}},
        {"LVDS even", [](S s) { s.lvdsSetting = 0x0102; }, {{"comboBox_LVDS_Valuse", "0：LVDS锁定"}}},
        {"interval 1", [](S s) { s.interval = 1; }, {{"lineEdit_interval", "1"}}},
    };
    return rows;
  }

  struct SetRow {
    const char* name;
    std::optional<std::array<std::uint8_t, 4>> sensorIp;  // in the status, else 127.0.0.2
    std::function<void(InetactionSetupWidget&)> edit;
    QMessageBox::StandardButton answer;
    QStringList boxes;  // a trailing * matches any ending
    bool sent, visibleAfter;
  };
  static const std::vector<SetRow>& setRows() {
    const auto field = [](const char* name, const char* text) {
      return [=](InetactionSetupWidget& w) { setText(w, name, text); };
    };
    const auto clearOptional = [](InetactionSetupWidget& w) {
      for (const char* name : {"lineEdit_NTP", "lineEdit_Gateway", "lineEdit_Subnet"}) setText(w, name, "");
    };
    const QStringList done = {kKeptPps, kCloseQuestion};
    const QString incomplete = "warring|%1 is not a complete IPv4 address.*";
    static const std::vector<SetRow> rows = {
        {"sent, OK closes", {}, {}, QMessageBox::Ok, done, true, false},
        {"sent, Cancel stays", {}, {}, QMessageBox::Cancel, done, true, true},
        {"optional addresses empty: kept, and said",
         {},
         clearOptional,
         QMessageBox::Ok,
         {kSetupCompleted +
              "\nThe sensor keeps its own value for: Subnet Mask, default gateway, PPS angle (degrees), NTP IP.",
          kCloseQuestion},
         true,
         false},
        {"same addresses",
         {},
         field("lineEdit_DestIP", "127.0.0.2"),
         QMessageBox::Ok,
         {"warring|The Lidar local IP cannot be set to the same as the destination IP.Please reset it !"},
         false,
         true},
        {"half-typed NTP",
         {},
         field("lineEdit_NTP", "10.0.0"),
         QMessageBox::Ok,
         {"warring|NTP IP \"10.0.0\" is not a complete IPv4 address. Please enter four numbers separated by dots, "
          "or leave the field empty !"},
         false,
         true},
        {"sensor IP ending in a dot",
         {},
         field("lineEdit_DefaultIP", "127.0.0."),
         QMessageBox::Ok,
         {incomplete.arg("Lidar IP \"127.0.0.\"")},
         false,
         true},
        {"half-typed gateway",
         {},
         field("lineEdit_Gateway", "127.0"),
         QMessageBox::Ok,
         {incomplete.arg("default gateway \"127.0\"")},
         false,
         true},
        {"MAC not hexadecimal",
         {},
         field("lineEdit_mac_addr", "60-76-88-00-00-zz"),
         QMessageBox::Ok,
         {"warring|Mac \"60-76-88-00-00-zz\" is not a MAC address: each of its six pairs must be two hexadecimal "
          "digits !"},
         false,
         true},
        {"send fails",  // the sensor's own address, kept by the emptied field
         std::array<std::uint8_t, 4>{0, 0, 0, 0},
         field("lineEdit_DefaultIP", ""),
         QMessageBox::Ok,
         {"error|The settings could not be sent to 0.0.0.0:2368: *"},
         false,
         true},
    };
    return rows;
  }
};

QTEST_MAIN(NetworkSettingsWindowTest)
#include "test_network_settings_window.moc"
