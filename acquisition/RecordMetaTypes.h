// Makes the record types usable in queued signals between the worker threads
// and the GUI thread.
#pragma once

#include <sys/types.h>  // u_char

#include <QList>
#include <QMetaType>
#include <vector>

#include "LidarRecords.h"
#include "PacketFormat.h"

Q_DECLARE_METATYPE(LidarDataSingleLine)
Q_DECLARE_METATYPE(SettingData)
Q_DECLARE_METATYPE(SettingData*)
Q_DECLARE_METATYPE(const u_char*)
Q_DECLARE_METATYPE(z540k::ReturnMode)

// Registers the records under the names their signals and connections spell:
// "struct LidarDataSingleLine", "struct SettingData", "std::vector<int>" and
// "QList<int>", plus the two pointer types the status signals carry and the
// return mode. Call once on the GUI thread before the first connection is
// made; calling again is harmless.
void registerRecordMetaTypes();
