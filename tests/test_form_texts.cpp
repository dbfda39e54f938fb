// The texts every window shows as built, one table for all forms: window
// titles, captions, labels, group box titles, the fields' defaults, their
// labels and states, the lists of combo boxes, tabs and table headers, and
// the main window's icons.
#include <QVTKOpenGLStereoWidget.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QSurfaceFormat>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextDocument>
#include <QToolButton>
#include <QtTest>
#include <map>
#include <memory>

#include "ACWPSettingWidget.h"
#include "About.h"
#include "CodeDialog.h"
#include "Form_QLaserSelection.h"
#include "InetactionSetupWidget.h"
#include "ResourceImage.h"
#include "SaveDataOptions.h"
#include "WindowTestSupport.h"
#include "ui_manwindow.h"

using z540k::test::child;

namespace {

enum class Window { Main, Network, Advanced, SaveData, Laser, Code, About };
const char* const kWindowNames[] = {"main", "network", "advanced", "save-data", "laser", "code", "about"};

enum class Kind {
  Title,  // the window's title (no name), or a dock's
  Text,   // a text, a group box's title, a rich label's plain text; a tool
          // button without text shows its icon only
  Items,  // a combo box's items or a tab widget's tabs (the first current),
          // a table's column headers
  Field,  // {label, its text, flags}: D disabled, H hidden (with its label),
          // N takes no focus; of a line edit, R read-only, V with a validator
  Icon,   // the image (of the program's, by name) of a button's icon, or of each item
          // of a combo box
};
const char* const kKindNames[] = {"title", "text", "items", "field", "icon"};

struct Row {
  Window window;
  const char* name;
  Kind kind;
  QStringList expected;
};

using W = Window;
using K = Kind;

// The colons after the main window's port labels are full-width, the
// multicast one's is not.
// clang-format off
const Row kRows[] = {
    {W::Main, "", K::Title, {"QK-Z540-K"}}, {W::Main, "LidraDataDock", K::Title, {"LidarData"}},
    {W::Main, "tabWidget", K::Items, {"Lidar", "Offline", "Z540-K", "Help"}},
    {W::Main, "toolButton_Lidar", K::Text, {"Lidar"}}, {W::Main, "tolbtn_LidarDataList", K::Text, {"LidarData"}},
    {W::Main, "toolButton_MeaGrid", K::Text, {"MeaGrid"}}, {W::Main, "toolButton_Coor", K::Text, {"Coordinate"}},
    {W::Main, "tolbtn_offdata", K::Text, {"Pause"}}, {W::Main, "toolButton_selectCloud", K::Text, {"Select"}},
    {W::Main, "toolButton_clear", K::Text, {"Clear"}}, {W::Main, "label_portNumber", K::Text, {"Port Number："}},
    {W::Main, "lineEdit_portNumber", K::Text, {"2368"}}, {W::Main, "label", K::Text, {"  Telemetry Port："}},
    {W::Main, "lineEdit", K::Text, {"2369"}}, {W::Main, "label_2", K::Text, {" Multicast IP:"}},
    {W::Main, "lineEdit_2", K::Text, {"224.1.1.1"}}, {W::Main, "toolButton_Open", K::Text, {"Open"}},
    {W::Main, "toolButton_GoToStart", K::Text, {""}}, {W::Main, "toolButton_SeekBackward", K::Text, {""}},
    {W::Main, "toolButton_Play", K::Text, {""}}, {W::Main, "toolButton_SeekForward", K::Text, {""}},
    {W::Main, "toolButton_GoToEnd", K::Text, {""}}, {W::Main, "toolButton_SavePcapData", K::Text, {"Record"}},
    {W::Main, "Btn_Setting", K::Text, {"Parameter"}}, {W::Main, "Btn_ACWPSetting", K::Text, {"ACWPSettin"}},
    {W::Main, "Btn_Channel", K::Text, {"Channel"}}, {W::Main, "Btn_SaveCSV", K::Text, {"SaveData"}},
    {W::Main, "setVerticalPushButton", K::Text, {"俯仰角度信息"}}, {W::Main, "label_3", K::Text, {"显示角度：±"}},
    {W::Main, "showAngle_lineEdit", K::Text, {"180.0"}}, {W::Main, "toolButton_About", K::Text, {"About"}},
    {W::Main, "toolButton_User", K::Text, {"UserGuide"}}, {W::Main, "toolButton_Develop", K::Text, {"Develop"}},
    {W::Main, "comboBox_View", K::Items, {"Front", "Top", "Left"}},
    {W::Main, "CBox_Echo", K::Items, {"StrongEcho", "DualEcho", "DualEcho_first", "DualEcho_second"}},
    {W::Main, "comboBox_4", K::Items, {"Intensity", "Solid", "Elevation", "Azimuth", "LaserID"}},
    {W::Main, "comboBox_degree", K::Items, {"View Mode 1", "View Mode 2"}},
    {W::Main, "comboBox_agree", K::Items, {"协议1.6", "协议1.7"}},
    {W::Main, "toolButton_Lidar", K::Icon, {"Lidar"}}, {W::Main, "tolbtn_LidarDataList", K::Icon, {"DataList"}},
    {W::Main, "toolButton_MeaGrid", K::Icon, {"Grid"}}, {W::Main, "toolButton_Coor", K::Icon, {"Coordinate"}},
    {W::Main, "tolbtn_offdata", K::Icon, {"Red"}}, {W::Main, "toolButton_selectCloud", K::Icon, {"select"}},
    {W::Main, "toolButton_clear", K::Icon, {"clear"}}, {W::Main, "toolButton_Open", K::Icon, {"OpenCaptureFile"}},
    {W::Main, "toolButton_GoToStart", K::Icon, {"Gotostart"}},
    {W::Main, "toolButton_SeekBackward", K::Icon, {"Seekbackward"}}, {W::Main, "toolButton_Play", K::Icon, {"Play"}},
    {W::Main, "toolButton_SeekForward", K::Icon, {"Seekforward"}},
    {W::Main, "toolButton_GoToEnd", K::Icon, {"Gotostop"}}, {W::Main, "toolButton_SavePcapData", K::Icon, {"Record"}},
    {W::Main, "Btn_Setting", K::Icon, {"InteractionSetUp"}}, {W::Main, "Btn_ACWPSetting", K::Icon, {"AdvancedSetting"}},
    {W::Main, "Btn_Channel", K::Icon, {"Chanel"}}, {W::Main, "Btn_SaveCSV", K::Icon, {"Csv"}},
    {W::Main, "toolButton_About", K::Icon, {"About"}}, {W::Main, "toolButton_User", K::Icon, {"User"}},
    {W::Main, "toolButton_Develop", K::Icon, {"Develop"}},
    {W::Main, "comboBox_View", K::Icon, {"zhengshi", "fushi", "zuoshi"}},

    {W::Network, "", K::Title, {"InteractionSet"}}, {W::Network, "groupBox", K::Text, {"Laser Config"}},
    {W::Network, "groupBox_real_time_status", K::Text, {"Laser State"}},
    {W::Network, "groupBox_2", K::Text, {"GPS Posotion："}},
    {W::Network, "pushButton_LidarRefresh", K::Text, {"Refresh state"}},
    {W::Network, "pushButton_OK", K::Text, {"Set"}}, {W::Network, "pushButton_Cancel", K::Text, {"Cancel"}},
    {W::Network, "label_GPS_Position", K::Text, {""}},
    {W::Network, "lineEdit_DefaultIP", K::Field, {"label_defaultIP", "Lidar IP：", ""}},
    {W::Network, "lineEdit_defaultPort", K::Field, {"label_defaultPort", "Data Port：", ""}},
    {W::Network, "lineEdit_DestIP", K::Field, {"label_destIP", "Dest IP：", ""}},
    {W::Network, "lineEdit_destPort", K::Field, {"label_destPort", "device Port：", ""}},
    {W::Network, "lineEdit_Subnet", K::Field, {"label_Subnet", "Subnet Mask：", ""}},
    {W::Network, "lineEdit_Gateway", K::Field, {"label_Gateway", "default gateway：", ""}},
    {W::Network, "lineEdit_mac_addr", K::Field, {"label_mac_addr", "Mac：", "D"}},
    {W::Network, "lineEdit_interval", K::Field, {"label_3", "Packet interval：", "HV"}},
    {W::Network, "comboBox_rotateSpeed", K::Field, {"label_rotateSpeed", "Motor speed (RPM)：", ""}},
    {W::Network, "comboBox_localTime", K::Field, {"label_localTime", "Local time：", ""}},
    {W::Network, "comboBox", K::Field, {"label", "Motor State：", ""}},
    {W::Network, "CBox_Resolution", K::Field, {"label_4", "Resolution:", "H"}},
    {W::Network, "lineEdit_utc_time", K::Field, {"label_GPS_NTP_time", "GPS\\NTP time:", "D"}},
    {W::Network, "comboBox_LVDS_Valuse", K::Field, {"label_LVDS", "LVDS:", "D"}},
    {W::Network, "lineEdit_SetPPS_Angle", K::Field, {"label_8", "Settting PPS Angel:", ""}},
    {W::Network, "lineEdit_PPS_Set_Angle", K::Field, {"label_PPS_Set_Angle", "PPS Set Angle：", "D"}},
    {W::Network, "lineEdit_NTP", K::Field, {"label_7", "NTP IP: ", ""}},
    {W::Network, "lineEdit_Motor_State", K::Field, {"label_Motor_State", "Motor speed Read：", "DN"}},
    {W::Network, "lineEdit", K::Field, {"label_5", "PPS Angle Locked：", "D"}},
    {W::Network, "lineEdit_2", K::Field, {"label_6", "Deviation Angle:", "D"}},
    {W::Network, "lineEdit_Plate_2_T", K::Field, {"label_Plate_2_T", "Plate-2 Temperature：", "D"}},
    {W::Network, "lineEdit_Plate_3_V", K::Field, {"label_Plate_3_V", "Plate-3 Voltage：", "DH"}},
    {W::Network, "lineEdit_High_T_Pause", K::Field, {"label_High_T_Pause", "High_T Pause:", "DH"}},
    {W::Network, "lineEdit_Machine_Stop_T", K::Field, {"label_Machine_Stop_T", "Machine Stopped-T：", "DH"}},
    {W::Network, "lineEdit_GPS_State", K::Field, {"label_GPS_State", "GPS State:", "DH"}},
    {W::Network, "lineEdit_PPS_State", K::Field, {"label_PPS_State", "PPS State:", "DH"}},
    {W::Network, "comboBox_LidarStatus", K::Field, {"label_2", "Lidar status:", ""}},
    {W::Network, "lineEdit_GPS_Position_longitude", K::Field, {"label_longitude", "Longitude：", "DN"}},
    {W::Network, "lineEdit_GPS_Position_latitude", K::Field, {"label_GPS_latitude", "Latitude：", "DN"}},
    {W::Network, "lineEdit_Current_IP", K::Field, {"label_Current_IP", "Gateway IP：", "DNH"}},
    {W::Network, "lineEdit_Current_Port", K::Field, {"label_Current_Port", "Telemetry Port：", "DNH"}},
    {W::Network, "comboBox_rotateSpeed", K::Items, {" 5 HZ", " 10 HZ", " 20 HZ"}},
    {W::Network, "comboBox_localTime", K::Items, {" Yes", " No"}},
    {W::Network, "comboBox", K::Items, {"Run", "Stop"}},
    {W::Network, "CBox_Resolution", K::Items, {"1mm", "4mm"}},
    {W::Network, "comboBox_LVDS_Valuse", K::Items, {"0：LVDS锁定", "1：LVDS未锁定"}},
    {W::Network, "comboBox_LidarStatus", K::Items, {"Running", "Sleep"}},

    {W::Advanced, "", K::Title, {"ACWPSet"}}, {W::Advanced, "groupBox_NumberSetting", K::Text, {"Version Num"}},
    {W::Advanced, "pushButton_SaveSettingfile", K::Text, {"Save set file"}},
    {W::Advanced, "pushButton_RecoverSetting", K::Text, {"Restore Laser set"}},
    {W::Advanced, "pushButton_Refreshlidar", K::Text, {"Refresh state"}},
    {W::Advanced, "pushButton_OK", K::Text, {"Set"}}, {W::Advanced, "pushButton_Cancel", K::Text, {"Cancel"}},
    {W::Advanced, "pushButton_startCheck", K::Text, {"Start"}},
    {W::Advanced, "lineEdit_DestIP", K::Text, {"192.168.1.222"}}, {W::Advanced, "lineEdit_DestPort", K::Text, {"2368"}},
    {W::Advanced, "pushButton_OK", K::Field, {"", "", "D"}},
    {W::Advanced, "lineEdit_22", K::Field, {"", "", ""}},
    {W::Advanced, "lineEdit_SerialNumber", K::Field, {"label_SerialNumber", "Serial Num：", "H"}},
    {W::Advanced, "lineEdit_Version", K::Field, {"label_VersionNumber", "固件版本：", "H"}},
    {W::Advanced, "lineEdit_Board_2", K::Field, {"label_Board_4", "2号版版本：", ""}},
    {W::Advanced, "lineEdit_Board_3", K::Field, {"label_Board_3", "3号版版本：", ""}},
    {W::Advanced, "lineEdit_DestIP", K::Field, {"label_rangeselector_2", "Dest IP：", ""}},
    {W::Advanced, "lineEdit_DestPort", K::Field, {"label_rangeselector_3", "Dest Port：", ""}},
    {W::Advanced, "lineEdit_board2HV", K::Field, {"label", "2号板高压值：", "R"}},
    {W::Advanced, "lineEdit_board2HV_adjust", K::Field, {"label_2", "2号板高压调节值：", "R"}},
    {W::Advanced, "lineEdit_board2HV_sill", K::Field, {"label_3", "2号板阈值调节值：", "R"}},
    {W::Advanced, "lineEdit_HighReflect", K::Field, {"label_Board_5", "高反补偿值（mm）：", ""}},
    {W::Advanced, "comboBox_SingleOrDouble", K::Field, {"label_SingleOrDouble", "单双回波：", ""}},
    {W::Advanced, "comboBox_Zero_degree_position", K::Field, {"label_12", "零度位置:", ""}},
    {W::Advanced, "lineEdit_tw", K::Field, {"label_15", "消拖尾阈值：", ""}},
    {W::Advanced, "lineEdit_twjl", K::Field, {"label_16", "消拖尾距离(cm)：", ""}},
    {W::Advanced, "lineEdit_21", K::Field, {"label_11", "测量量程：", ""}},
    {W::Advanced, "lineEdit_MaPanAngle", K::Field, {"label__MaPanAngle", "码盘零度校准：", ""}},
    {W::Advanced, "lineEdit_deviationAngle", K::Field, {"label_deviationAngle", "水平偏移角度：", ""}},
    {W::Advanced, "comboBox_rotateSpeed", K::Field, {"label_rotateSpeed", "电机转速(RPM)：", ""}},
    {W::Advanced, "lineEdit_IDNumber", K::Field, {"label_4", "序列号：", ""}},
    {W::Advanced, "lineEdit_timeStamp", K::Field, {"label_5", "GPS时间戳:", "D"}},
    {W::Advanced, "lineEdit_ErrorNumber", K::Field, {"label_7", "错误记数：", "D"}},
    {W::Advanced, "comboBox_SingleOrDouble", K::Items, {"单回波", "双回波"}},
    {W::Advanced, "comboBox_Zero_degree_position", K::Items, {"线端为0°", "正前方为0°"}},
    {W::Advanced, "comboBox_rotateSpeed", K::Items, {" 5 HZ", " 10 HZ", " 20 HZ"}},

    {W::SaveData, "", K::Title, {"SaveDataOptions"}}, {W::SaveData, "label", K::Text, {"Fream count:"}},
    {W::SaveData, "lineEdit_freamCount", K::Text, {"1"}}, {W::SaveData, "label_2", K::Text, {"Angle range:"}},
    {W::SaveData, "lineEdit_AngleMin", K::Text, {"0"}}, {W::SaveData, "label_3", K::Text, {"to"}},
    {W::SaveData, "lineEdit_AngleMax", K::Text, {"360"}}, {W::SaveData, "pushButton_cancel", K::Text, {"Cancel"}},
    {W::SaveData, "pushButton_ok", K::Text, {"OK"}},

    {W::Laser, "", K::Title, {"Select Laser channel"}}, {W::Laser, "checkBox", K::Text, {"All/All no choice"}},
    {W::Laser, "pushButton_toggleselection", K::Text, {"Switch selection"}},
    {W::Laser, "checkBox_2", K::Text, {"Applicable to future dialogs"}}, {W::Laser, "pushButton_OK", K::Text, {"OK"}},
    {W::Laser, "pushButton_Cancel", K::Text, {"Cancel"}},
    {W::Laser, "tableWidget_laserselection", K::Items, {" ", "Vertical Angle", "Channel"}},

    {W::Code, "", K::Title, {"CodeDialog"}}, {W::Code, "codelabel", K::Text, {"Code："}},
    {W::Code, "pushButton_ok", K::Text, {"确定"}}, {W::Code, "pushButton_cancel", K::Text, {"取消"}},

    {W::About, "", K::Title, {"About"}},
    {W::About, "tabWidget", K::Items, {"Software", "Hardware"}},
    {W::About, "label", K::Text, {" QK Z540-K ：System32-Version v5.0.5"}},
    {W::About, "label_6", K::Text, {"  FPGA 3rd board version:"}}, {W::About, "label_5", K::Text, {"  Lidar ID:"}},
    {W::About, "label_7", K::Text, {"  FPGA 2nd board version:"}},
    {W::About, "label_4", K::Text, {"  FPGA 3rd board version:"}},
    {W::About, "label_9", K::Text, {"  Hardware 2nd board version:"}},
    {W::About, "label_11", K::Text, {"  Hardware 3rd board version:"}},
    {W::About, "label_13", K::Text, {"  Emission board version:"}},
    {W::About, "label_15", K::Text, {"  Receive board version:"}},
    {W::About, "label_17", K::Text, {"  Structure version:"}},
    // The version values start empty.
    {W::About, "label_3ndFPGAShftware", K::Text, {""}}, {W::About, "label_LidarNumber", K::Text, {""}},
    {W::About, "label_2ndFPGA", K::Text, {""}}, {W::About, "label_3ndFPGA", K::Text, {""}},
    {W::About, "label_2ndHardware", K::Text, {""}}, {W::About, "label_3ndHardware", K::Text, {""}},
    {W::About, "label_emisionBoard", K::Text, {""}}, {W::About, "label_receiveBoard", K::Text, {""}},
    {W::About, "label_structVer", K::Text, {""}},
};
// clang-format on

// What a widget shows as its text.
QString textOf(QWidget* w) {
  if (auto* box = qobject_cast<QGroupBox*>(w)) return box->title();
  auto* label = qobject_cast<QLabel*>(w);
  if (label && label->textFormat() == Qt::RichText) {
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText();
  }
  return w->property("text").toString();
}

// A combo box's items, a tab widget's tabs, a table's column headers.
QStringList itemsOf(QWidget* w) {
  QStringList items;
  if (auto* combo = qobject_cast<QComboBox*>(w))
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  if (auto* tabs = qobject_cast<QTabWidget*>(w))
    for (int i = 0; i < tabs->count(); ++i) items << tabs->tabText(i);
  if (auto* table = qobject_cast<QTableWidget*>(w))
    for (int i = 0; i < table->columnCount(); ++i) items << table->horizontalHeaderItem(i)->text();
  return items;
}

}  // namespace

class FormTextsTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    auto main = std::make_unique<QMainWindow>();
    Ui::manwindowClass().setupUi(main.get());
    windows_[W::Main] = std::move(main);
    windows_[W::Network] = std::make_unique<InetactionSetupWidget>();
    windows_[W::Advanced] = std::make_unique<ACWPSettingWidget>();
    windows_[W::SaveData] = std::make_unique<SaveDataOptions>();
    windows_[W::Laser] = std::make_unique<Form_QLaserSelection>();
    windows_[W::Code] = std::make_unique<CodeDialog>();
    windows_[W::About] = std::make_unique<About>();
  }
  void cleanupTestCase() { windows_.clear(); }

  void rows_data() {
    QTest::addColumn<int>("index");
    for (int i = 0; i < static_cast<int>(std::size(kRows)); ++i) {
      const Row& row = kRows[i];
      QTest::addRow("%s %s %s", kWindowNames[static_cast<int>(row.window)], row.name,
                    kKindNames[static_cast<int>(row.kind)])
          << i;
    }
  }
  void rows() {
    QFETCH(int, index);
    const Row& row = kRows[index];
    QWidget& window = *windows_.at(row.window);
    QWidget* w = *row.name ? child(window, row.name) : &window;
    const QString flags = row.expected.value(2);
    switch (row.kind) {
      case Kind::Title:
        QCOMPARE(w->windowTitle(), row.expected.value(0));
        break;
      case Kind::Text:
        QCOMPARE(textOf(w), row.expected.value(0));
        if (auto* button = qobject_cast<QToolButton*>(w))
          QCOMPARE(button->toolButtonStyle() == Qt::ToolButtonIconOnly, row.expected.value(0).isEmpty());
        break;
      case Kind::Items:
        QCOMPARE(itemsOf(w), row.expected);
        if (auto* combo = qobject_cast<QComboBox*>(w)) QCOMPARE(combo->currentIndex(), 0);
        if (auto* tabs = qobject_cast<QTabWidget*>(w)) QCOMPARE(tabs->currentIndex(), 0);
        break;
      case Kind::Field:
        if (!row.expected.value(0).isEmpty()) {
          auto* label = child<QLabel>(window, qPrintable(row.expected.value(0)));
          QCOMPARE(label->text(), row.expected.value(1));
          QCOMPARE(label->isVisibleTo(&window), !flags.contains('H'));
        }
        QCOMPARE(w->isEnabled(), !flags.contains('D'));
        QCOMPARE(w->isVisibleTo(&window), !flags.contains('H'));
        QCOMPARE(w->focusPolicy() == Qt::NoFocus, flags.contains('N'));
        if (auto* edit = qobject_cast<QLineEdit*>(w)) {
          QCOMPARE(edit->isReadOnly(), flags.contains('R'));
          QCOMPARE(edit->validator() != nullptr, flags.contains('V'));
        }
        break;
      case Kind::Icon:
        for (int i = 0; i < row.expected.size(); ++i) {
          const QImage expected =
              QImage(":/image/Resources/images/" + row.expected[i] + ".png").convertToFormat(QImage::Format_ARGB32);
          QVERIFY(!expected.isNull());
          auto* combo = qobject_cast<QComboBox*>(w);
          const QIcon icon = combo ? combo->itemIcon(i) : qobject_cast<QAbstractButton*>(w)->icon();
          QVERIFY(!icon.isNull());
          QCOMPARE(icon.pixmap(expected.size()).toImage().convertToFormat(QImage::Format_ARGB32), expected);
        }
        break;
    }
  }

 private:
  std::map<Window, std::unique_ptr<QWidget>> windows_;
};

int main(int argc, char** argv) {
  // The main window's render widget needs its surface format before the
  // application exists.
  QSurfaceFormat::setDefaultFormat(QVTKOpenGLStereoWidget::defaultFormat());
  QApplication app(argc, argv);
  FormTextsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_form_texts.moc"
