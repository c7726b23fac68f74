#include "DeviceList.h"

#include "ControlHelpers.h"
#include "velk430.h"

#include <QComboBox>

#include <cstring>

namespace {

constexpr int32_t CfgDeviceCount = 1;
constexpr int32_t CfgSelectDevice = 2;
constexpr int32_t CfgDeviceName = 3;
constexpr int32_t CfgDeviceValues = 10;
constexpr std::size_t NameBufferSize = 64;

}  // namespace

bool FillDeviceNames(QComboBox* list)
{
    ClearDeviceNames(list);
    if (!list)
        return false;
    const int32_t count = GetDeviceCfgInfo(CfgDeviceCount, 0, nullptr);
    if (count <= 0)
        return false;
    for (int32_t i = 0; i < count; ++i) {
        if (GetDeviceCfgInfo(CfgSelectDevice, i, nullptr) != 0)
            return false;
        // One byte more than the library's buffer, zeroed: a name the library
        // leaves unterminated still ends inside the array.
        char name[NameBufferSize + 1];
        std::memset(name, 0, sizeof name);
        if (GetDeviceCfgInfo(CfgDeviceName, 0, name) != 0)
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

bool GetDefaultVcc(int32_t device, int32_t& millivolts)
{
    millivolts = 0;
    if (GetDeviceCfgInfo(CfgSelectDevice, device, nullptr) != 0)
        return false;
    int32_t values[8] = {};
    if (GetDeviceCfgInfo(CfgDeviceValues, 0, values) != 0)
        return false;
    millivolts = values[2];
    return true;
}
