#include "Resources.h"

#include <QtGlobal>

#include <map>

namespace {

const std::map<uint32_t, const char*>& Table()
{
    static const std::map<uint32_t, const char*> table{
        {IDS_ABOUTBOX, "&About Corvantis..."},
        {IDS_COMPANY, "Quillfern"},
        {IDS_SECTION, "Options"},
        {IDS_COMM_PORT, "CommPort"},
        {IDS_BAUD, "Baud"},
        {IDS_DEVICE_NAME, "DeviceName"},
        {IDS_FILE_NAME, "FileName"},
        {IDS_VCC, "VCC"},
        {IDS_BLOW_FUSE, "BlowFuse"},
        {IDS_ERASE_FLASH, "EraseFlash"},
        {IDS_SERIAL_NUMBER, "SerialNumber"},
        {IDS_SERIAL_ADDRESS, "SerialAddress"},
        {IDS_SERIAL_TYPE, "SerialType"},
        {IDS_COUNT, "Count"},
        {IDS_COUNT_UP, "CountUp"},
        {IDS_PRODUCTIONLOG, "&Production Log..."},
        {IDS_GANG, "&Gang..."},
    };
    return table;
}

}  // namespace

std::string LoadString(uint32_t id)
{
    const auto it = Table().find(id);
    return it == Table().end() ? std::string() : std::string(it->second);
}

void InitResources()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    Q_INIT_RESOURCE(corvantis);
}
