#include "Setup.h"

#include <algorithm>
#include <cstdio>

#include "CodeTable.h"
#include "Codes.h"
#include "Shared.h"
#include "TiTxt.h"
#include "mspdebug/PortText.h"

namespace velk {

namespace {

std::string Hex(uint64_t address)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%05llX", static_cast<unsigned long long>(address));
    return text;
}

const char* RegionName(int32_t type)
{
    switch (type) {
        case kRegionMain: return "main flash";
        case kRegionInfo: return "information flash";
        case kRegionCalibration: return "calibration segment (information segment A)";
        case kRegionBsl: return "bootstrap loader";
        case kRegionTlv: return "device descriptor";
    }
    return "memory";
}

int32_t Refuse(int32_t code, const std::string& why)
{
    SetLastError(why);
    return code;
}

std::string BaudList()
{
    std::string list;
    const int32_t rates[] = VELK_BAUD_RATES;
    for (const int32_t rate : rates) list += (list.empty() ? "" : ", ") + std::to_string(rate);
    return list;
}

// Every byte of the image must land where the batch erases before it
// writes: main flash always, information flash only with Erase Info.
int32_t CheckFileBytes(const CDevice& device, const CSetupRequest& setup, const CImage& image)
{
    const std::string of = "the file's byte at ";
    for (const CSection& s : image.Sections) {
        uint64_t at = s.Start;
        const uint64_t end = uint64_t{s.Start} + s.Bytes.size();
        while (at < end) {
            const CRegion* region = device.RegionAt(static_cast<uint32_t>(at));
            if (!region) return Refuse(kFileRange, of + Hex(at) + " lies outside the flash of " + device.Name);
            if (!region->Writable())
                return Refuse(kProtected, of + Hex(at) + " lies in the " + RegionName(region->Type) + " of " +
                                              device.Name + ", which the station never writes");
            if (region->Type == kRegionInfo && !setup.EraseInfo)
                return Refuse(kNotErased, of + Hex(at) +
                                              " lies in information flash, which this batch does not erase "
                                              "(Erase Info is off)");
            at = std::min<uint64_t>(end, region->End());
        }
    }
    return kOk;
}

bool ImageHolds(const CImage& image, uint64_t address)
{
    for (const CSection& s : image.Sections)
        if (address >= s.Start && address < uint64_t{s.Start} + s.Bytes.size()) return true;
    return false;
}

int32_t CheckSerialBytes(const CDevice& device, const CSetupRequest& setup, const CImage& image)
{
    const std::string what =
        "the serial number's " + std::to_string(setup.SerialCount) + " bytes at " + Hex(uint64_t(setup.SerialAddress));
    if (setup.SerialAddress < 0) return Refuse(kNotFlash, what + " lie outside the flash of " + device.Name);
    for (int32_t i = 0; i < setup.SerialCount; ++i) {
        const uint64_t at = static_cast<uint64_t>(setup.SerialAddress) + static_cast<uint64_t>(i);
        const CRegion* region = at < kAddressSpace ? device.RegionAt(static_cast<uint32_t>(at)) : nullptr;
        if (!region) return Refuse(kNotFlash, what + " lie outside the flash of " + device.Name);
        if (!region->Writable())
            return Refuse(kProtected, what + " lie in the " + RegionName(region->Type) + " of " + device.Name +
                                          ", which the station never erases");
        if (ImageHolds(image, at))
            return Refuse(kSerialOverlap, what + " overlap the file's byte at " + Hex(at));
    }
    return kOk;
}

}  // namespace

int32_t CheckSetup(const CDeviceTable& table, const CSetupRequest& setup)
{
    const CDevice* device = table.Find(setup.Device);
    if (!device) return Refuse(kUnknownDevice, "device \"" + setup.Device + "\" is not in device.cfg");
    if (!IsSupportedBaud(setup.Baud))
        return Refuse(kBadBaud, "the programmer takes " + BaudList() + " baud, not " + std::to_string(setup.Baud));
    if (setup.BlowFuse && msp::IsMspdebugPort(setup.Port))
        return Refuse(kCannotBlowFuse, "port \"" + setup.Port +
                                           "\": mspdebug cannot blow the security fuse, and Blow Fuse is on");
    const CImageResult file = ReadImageFile(setup.File);
    if (const int32_t code = FileCode(file); code != kOk)
        return Refuse(code, "firmware \"" + setup.File + "\"" +
                                (file.Line ? ", line " + std::to_string(file.Line) : std::string()) + ": " +
                                file.Message);
    if (const int32_t code = CheckFileBytes(*device, setup, file.Image); code != kOk) return code;
    return CheckSerialBytes(*device, setup, file.Image);
}

int32_t CheckSetupCall(char* port, int32_t baud, char* device, char* path, int32_t eraseInfo,
                       int32_t serialAddress, int32_t serialCount, int32_t blowFuse)
{
    CSetupRequest setup;
    if (!ReadName(port, VELK_PORT_BUFFER, setup.Port) || !ReadName(device, VELK_NAME_BUFFER, setup.Device) ||
        !ReadName(path, VELK_PATH_BUFFER, setup.File) || serialCount < 0 || serialCount > 16)
        return kBadArgument;
    setup.Baud = baud;
    setup.EraseInfo = eraseInfo == 1;
    setup.SerialAddress = serialAddress;
    setup.SerialCount = serialCount;
    setup.BlowFuse = blowFuse == 1;

    static CDeviceTable table;
    static std::string loadedFrom;
    static bool loaded = false;
    const auto candidates = DeviceCfgCandidates();
    const std::string where = candidates.empty() ? std::string() : candidates.front();
    if (!loaded || where != loadedFrom) {
        std::string error;
        loaded = LoadDefaultDeviceTable(table, &error);
        loadedFrom = where;
        if (!loaded) return Refuse(kConfigError, error);
    }
    return CheckSetup(table, setup);
}

int32_t LastErrorTextCall(char* text, int32_t size) { return CopyText(LastError(), text, size); }

int32_t ResultTextCall(int32_t code, char* text, int32_t size)
{
    const CCodeRow* row = FindCode(code);
    return CopyText(row && row->ForOperator ? row->ForOperator : "", text, size);
}

}  // namespace velk
