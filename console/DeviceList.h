#pragma once
// The Device drop-down and the library's device configuration. These talk to
// the programmer library directly (GetDeviceCfgInfo); no port is needed.

#include <cstdint>
#include <string>

class QComboBox;

// Empties list, then adds every device the library knows, each at its sorted
// place with its device number (0-based library index) as item data.
// false when the library reports no devices or a query fails; the entries
// added before the failure stay. A null list lists nothing and gives false.
bool FillDeviceNames(QComboBox* list);

// Index of the entry whose whole text is name, ignoring case; CB_ERR (-1)
// when there is none or list is null.
int FindDeviceEntry(const QComboBox* list, const std::string& name);

// Deletes every entry of list (null: nothing).
void ClearDeviceNames(QComboBox* list);
