#include "RecordMetaTypes.h"

void registerRecordMetaTypes() {
  // Qt normalises "struct X" to "X", so the first registration also answers
  // to the plain name.
  qRegisterMetaType<LidarDataSingleLine>("struct LidarDataSingleLine");
  qRegisterMetaType<SettingData>("struct SettingData");
  qRegisterMetaType<std::vector<int>>("std::vector<int>");
  qRegisterMetaType<QList<int>>("QList<int>");
  qRegisterMetaType<SettingData*>("SettingData*");
  qRegisterMetaType<const u_char*>("const u_char*");
  qRegisterMetaType<z540k::ReturnMode>("z540k::ReturnMode");
}
