#include "DeviceList.h"

#include "ControlHelpers.h"
#include "velk430.h"

#include <QComboBox>

#include <cstring>

bool FillDeviceNames(QComboBox* list)
{
    ClearDeviceNames(list);
    if (!list)
        return false;
    const int32_t count = GetDeviceCfgInfo(VELK_CFG_DEVICE_COUNT, 0, nullptr);
    if (count <= 0)
        return false;
    for (int32_t i = 0; i < count; ++i) {
        if (GetDeviceCfgInfo(VELK_CFG_SELECT_DEVICE, i, nullptr) != 0)
            return false;
        // One byte more than the library's buffer, zeroed: a name the library
        // leaves unterminated still ends inside the array.
        char name[VELK_DEVICE_NAME_BUFFER + 1];
        std::memset(name, 0, sizeof name);
        if (GetDeviceCfgInfo(VELK_CFG_DEVICE_NAME, 0, name) != 0)
            return false;
        const int index = AddString(list, name);
        SetItemData(list, index, i);
    }
    return true;
}

int FindDeviceEntry(const QComboBox* list, const std::string& name)
{
    if (!list)
        return CB_ERR;
    const QString wanted = QString::fromStdString(name);
    const int count = GetCount(list);
    for (int i = 0; i < count; ++i)
        if (QString::fromStdString(GetLBText(list, i)).compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    return CB_ERR;
}

void ClearDeviceNames(QComboBox* list)
{
    if (!list)
        return;
    const int count = GetCount(list);
    for (int i = 0; i < count; ++i)
        DeleteString(list, 0);
}

