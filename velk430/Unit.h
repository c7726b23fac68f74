#pragma once
// The unit on the programmer's socket: its type, its security fuse and its
// memory. Flash behaves as on a chip: erased bytes read 0xFF and programming
// can only clear bits.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "DeviceTable.h"

namespace velk {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

class CUnit {
public:
    // A fresh unit: flash erased, fuse intact, factory segments
    // (calibration, bootstrap loader, descriptor) filled with repeatable constants.
    explicit CUnit(const CDevice& device);
    // The same without the factory fill: everything erased.
    static CUnit Blank(const CDevice& device);

    const CDevice& Device() const { return Type; }
    bool FuseBlown() const { return Fuse; }
    void BlowFuse() { Fuse = true; }
    void SetFuseBlown(bool blown) { Fuse = blown; }

    // 0xFF outside the memory image.
    uint8_t Read(uint32_t address) const;
    std::span<const uint8_t> Memory() const { return Mem; }

    // Erases the segment that starts at address and has that size:
    // 0, kNotFlash, kProtected or kNotSegmentStart.
    int32_t EraseSegment(uint32_t address, uint32_t size);
    // Erases every main flash segment; returns how many.
    uint32_t EraseMain();
    // 0 when [address, address + count) lies in writable flash, else
    // kNotFlash or kProtected.
    int32_t CheckWritable(uint32_t address, uint32_t count) const;
    // 0 when the range lies in the device's regions of any type, else kNotFlash.
    int32_t CheckReadable(uint32_t address, uint32_t count) const;
    // Programs as flash does (new = old AND bytes). The range must be writable.
    void Program(uint32_t address, const uint8_t* bytes, size_t count);
    // True when memory equals the bytes; first differing address in *bad.
    bool Verify(uint32_t address, const uint8_t* bytes, size_t count, uint32_t* bad = nullptr) const;
    // Writes raw bytes, bypassing flash rules (restoring saved state).
    void Restore(uint32_t address, const uint8_t* bytes, size_t count);

    // CRC-32 (IEEE) of all main flash, in address order.
    uint32_t MainCrc() const;
    // Start addresses of the segments that hold any byte other than 0xFF.
    std::vector<uint32_t> NonBlankSegments() const;

private:
    CUnit(const CDevice& device, bool factoryFill);
    void FactoryFill();

    CDevice Type;
    bool Fuse = false;
    std::vector<uint8_t> Mem;
};

}  // namespace velk
