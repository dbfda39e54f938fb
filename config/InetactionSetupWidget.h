// The network and device settings window: shows the sensor's live state from
// every decoded status (OnLidarStatusReceiving) and keeps the last raw status
// packet (OnLidarDifoData); "Refresh state" fills the editable fields from
// them, "Set" writes the network settings packet, built on that raw packet, to
// the sensor's current address. It also hands the sensor's version texts to
// the About dialog (sVersionsToHelp).
//
// The receivers reach it through queued signals whose pointers point into
// their own buffers; both slots copy the bytes before anything else.
//
// GUI thread only.
#pragma once

#include <sys/types.h>  // u_char

#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

#include "LidarRecords.h"
#include "NetworkSettingsSession.h"
#include "RecordMetaTypes.h"

namespace z540k {
struct NetworkStatusDisplay;
}

class QLineEdit;

namespace Ui {
class InetactionSetupWidget;
}

class InetactionSetupWidget : public QWidget {
  Q_OBJECT

 public:
  explicit InetactionSetupWidget(QWidget* parent = nullptr);
  ~InetactionSetupWidget() override;

  // What the window holds, for the main window and the tests: the session
  // (live status, readiness, Refresh and Set) and the version list last
  // emitted with sVersionsToHelp (empty before any status).
  const z540k::NetworkSettingsSession& session() const { return session_; }
  const QStringList& versions() const { return versions_; }

 signals:
  void sVersionsToHelp(QStringList m_Versions);

 private slots:
  void onOK_Clicked();
  void onCancel_Clicked();

 public slots:
  void OnLidarStatusReceiving(SettingData* data, std::vector<int> Mac);
  void OnLidarDifoData(const u_char* data);
  void onRefreshCilcked();
  bool isLegalLidarIP();
  bool isLegalLocalIP();
  bool isLegalSubNetMask();
  bool isLegalGateway();
  // Empties the address, port, GPS, motor speed, MAC and interval fields
  // (public so the main window may connect it either way).
  void onCleanUCWPControl();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void showStatus(const z540k::NetworkStatusDisplay& display);
  // Fills the editable fields from a Refresh (and, with a decoded status
  // since the last one, the speed and state choices).
  void showRefreshed(const z540k::NetworkSettingsSession::Refresh& refresh);
  z540k::NetworkSettingsInput settingsInput() const;
  void fillSubnetMask();
  void fillGateway();
  bool firstOctetLegal(QLineEdit* field);

  std::unique_ptr<Ui::InetactionSetupWidget> ui;
  z540k::NetworkSettingsSession session_;
  QStringList versions_;
};
