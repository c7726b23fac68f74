#pragma once
// The device table read from device.cfg: each device's supply range, timing
// and memory regions (format documented at the top of device.cfg).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "velk430.h"

namespace velk {

enum ERegionType : int32_t {
    kRegionMain = VELK_REGION_MAIN,                // main flash, erased by ProgramFile
    kRegionInfo = VELK_REGION_INFO,                // information flash ("Erase Info" erases it)
    kRegionCalibration = VELK_REGION_CALIBRATION,  // factory calibration segment: read-only here
    kRegionBsl = VELK_REGION_BSL,                  // bootstrap loader: read-only here
    kRegionTlv = VELK_REGION_TLV,                  // device descriptor: read-only here
};

struct CRegion {
    int32_t Type = 0;
    uint32_t Start = 0;
    uint32_t SegmentSize = 0;   // bytes, > 0
    uint32_t SegmentCount = 0;  // > 0
    uint32_t End() const { return Start + SegmentSize * SegmentCount; }
    bool Contains(uint32_t address) const { return address >= Start && address < End(); }
    // Main and information flash can be erased and written; the rest is factory-owned.
    bool Writable() const { return Type == kRegionMain || Type == kRegionInfo; }
};

struct CDevice {
    std::string Name;            // upper case, 1..63 characters
    int32_t Family = 0;          // 1, 2, 4 or 5
    int32_t Cpu = 0;             // 0 = MSP430, 1 = MSP430X
    int32_t Supply = 0;          // default supply, mV
    int32_t SupplyMin = 0;       // accepted supply range, mV
    int32_t SupplyMax = 0;
    int32_t ProgramMin = 0;      // lowest supply for flash programming, mV
    int32_t Ram = 0;             // bytes
    int32_t EraseMs = 0;         // one segment erase, ms
    std::vector<CRegion> Regions;  // ascending, not overlapping

    // The region holding an address, or null.
    const CRegion* RegionAt(uint32_t address) const;
    // 0 when the segment starting at address has that size and lies in
    // writable flash, else kNotFlash, kProtected or kNotSegmentStart.
    int32_t CheckSegment(uint32_t address, uint32_t size) const;
    // 0 when [address, address + count) lies in writable flash, else
    // kNotFlash or kProtected.
    int32_t CheckWritable(uint32_t address, uint32_t count) const;
    // 0 when the range lies in the device's regions of any type, else kNotFlash.
    int32_t CheckReadable(uint32_t address, uint32_t count) const;
    // Highest region end: the size of a unit's memory image.
    uint32_t MemoryEnd() const;
    int32_t MainFlashBytes() const;
    // The eight values of selector 10: family, CPU, default supply, supply
    // minimum, supply maximum, programming minimum (all mV), main flash
    // bytes, RAM bytes.
    void Values(int32_t out[8]) const;
};

class CDeviceTable {
public:
    // Parses the text; on failure the table is empty and error names the line.
    bool Parse(std::string_view text, std::string* error = nullptr);
    bool Load(const std::string& path, std::string* error = nullptr);

    const std::vector<CDevice>& Devices() const { return DevicesList; }
    bool Empty() const { return DevicesList.empty(); }
    // Case-insensitive lookup; -1 when not there.
    int32_t IndexOf(std::string_view name) const;
    const CDevice* Find(std::string_view name) const;

private:
    std::vector<CDevice> DevicesList;
};

// Where the library looks for device.cfg: $VELK430_DEVICE_CFG if set, else
// the running program's directory, else the directory of libVELK430.so.
std::vector<std::string> DeviceCfgCandidates();
// Loads the first candidate that exists; false (with error) when none does or it is malformed.
bool LoadDefaultDeviceTable(CDeviceTable& table, std::string* error = nullptr);

// Case-insensitive equality of ASCII names.
bool SameName(std::string_view a, std::string_view b);

}  // namespace velk
