#include "Unit.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "Codes.h"

namespace velk {

namespace {

static_assert(std::endian::native == std::endian::little, "the CRC reads words little-endian");

// Slicing-by-8 tables: eight bytes per step.
using CCrcTables = std::array<std::array<uint32_t, 256>, 8>;

CCrcTables MakeCrcTables()
{
    CCrcTables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
        for (size_t k = 1; k < 8; ++k) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}

// Repeatable per device: a small hash of the name seeds the constants.
uint32_t NameSeed(const std::string& name)
{
    uint32_t h = 2166136261u;
    for (unsigned char c : name) h = (h ^ c) * 16777619u;
    return h;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc)
{
    static const CCrcTables t = MakeCrcTables();
    crc = ~crc;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, data + i, 4);
        std::memcpy(&hi, data + i + 4, 4);
        lo ^= crc;  // little-endian host
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; i < size; ++i) crc = t[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

CUnit::CUnit(const CDevice& device) : CUnit(device, true) {}

CUnit CUnit::Blank(const CDevice& device) { return CUnit(device, false); }

CUnit::CUnit(const CDevice& device, bool factoryFill) : Type(device), Mem(device.MemoryEnd(), 0xFF)
{
    if (factoryFill) FactoryFill();
}

void CUnit::FactoryFill()
{
    const uint32_t seed = NameSeed(Type.Name);
    for (const auto& r : Type.Regions) {
        uint8_t* seg = Mem.data() + r.Start;
        const uint32_t size = r.SegmentSize * r.SegmentCount;
        if (r.Type == kRegionCalibration && size >= 64) {
            // F2xx-style segment A: DCO calibration at its top (tag, length,
            // then CALDCO/CALBC1 pairs for 16, 12, 8 and 1 MHz), a checksum
            // word at its start over the rest.
            uint8_t* top = seg + size - 10;
            top[0] = 0x01;  // TAG_DCO_30
            top[1] = 0x08;
            const uint8_t cal[8] = {static_cast<uint8_t>(0x90 + (seed & 0x0F)), 0x8F,
                                    static_cast<uint8_t>(0x90 + ((seed >> 4) & 0x0F)), 0x8E,
                                    static_cast<uint8_t>(0x80 + ((seed >> 8) & 0x1F)), 0x8D,
                                    static_cast<uint8_t>(0x40 + ((seed >> 13) & 0x3F)), 0x87};
            std::memcpy(top + 2, cal, sizeof cal);
            uint16_t x = 0;
            for (uint32_t i = 2; i + 1 < size; i += 2) x ^= static_cast<uint16_t>(seg[i] | (seg[i + 1] << 8));
            const uint16_t check = static_cast<uint16_t>(0u - x);
            seg[0] = static_cast<uint8_t>(check & 0xFF);
            seg[1] = static_cast<uint8_t>(check >> 8);
        } else if (r.Type == kRegionTlv && size >= 8) {
            // Descriptor header: info length, CRC length, device id.
            seg[0] = 0x06;
            seg[1] = 0x06;
            seg[2] = static_cast<uint8_t>(seed & 0xFF);
            seg[3] = static_cast<uint8_t>((seed >> 8) & 0xFF);
            seg[4] = 0x80;
            seg[5] = 0x05;
            seg[6] = 0x10;
            seg[7] = 0x10;
        } else if (r.Type == kRegionBsl && size >= 4) {
            // A loader stub: "jmp $" at the entry, the signature words at the end.
            seg[0] = 0xFF;
            seg[1] = 0x3F;
            seg[size - 4] = 0x55;
            seg[size - 3] = 0x3C;
            seg[size - 2] = 0xAA;
            seg[size - 1] = 0xC3;
        }
    }
}

uint8_t CUnit::Read(uint32_t address) const { return address < Mem.size() ? Mem[address] : 0xFF; }

int32_t CUnit::EraseSegment(uint32_t address, uint32_t size)
{
    const int32_t r = Type.CheckSegment(address, size);
    if (r == kOk) std::memset(Mem.data() + address, 0xFF, size);
    return r;
}

uint32_t CUnit::EraseMain()
{
    uint32_t n = 0;
    for (const auto& r : Type.Regions)
        if (r.Type == kRegionMain) {
            std::memset(Mem.data() + r.Start, 0xFF, r.SegmentSize * r.SegmentCount);
            n += r.SegmentCount;
        }
    return n;
}

int32_t CUnit::CheckWritable(uint32_t address, uint32_t count) const { return Type.CheckWritable(address, count); }

int32_t CUnit::CheckReadable(uint32_t address, uint32_t count) const { return Type.CheckReadable(address, count); }

void CUnit::Program(uint32_t address, const uint8_t* bytes, size_t count)
{
    if (address >= Mem.size()) return;
    count = std::min<size_t>(count, Mem.size() - address);
    uint8_t* m = Mem.data() + address;
    for (size_t i = 0; i < count; ++i) m[i] &= bytes[i];
}

bool CUnit::Verify(uint32_t address, const uint8_t* bytes, size_t count, uint32_t* bad) const
{
    if (address < Mem.size() && count <= Mem.size() - address && std::memcmp(Mem.data() + address, bytes, count) == 0)
        return true;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t a = address + static_cast<uint32_t>(i);
        if (Read(a) != bytes[i]) {
            if (bad) *bad = a;
            return false;
        }
    }
    return true;
}

void CUnit::Restore(uint32_t address, const uint8_t* bytes, size_t count)
{
    if (address >= Mem.size()) return;
    count = std::min<size_t>(count, Mem.size() - address);
    std::memcpy(Mem.data() + address, bytes, count);
}

uint32_t CUnit::MainCrc() const
{
    uint32_t crc = 0;
    for (const auto& r : Type.Regions)
        if (r.Type == kRegionMain) crc = Crc32(Mem.data() + r.Start, r.SegmentSize * r.SegmentCount, crc);
    return crc;
}

std::vector<uint32_t> CUnit::NonBlankSegments() const
{
    std::vector<uint32_t> out;
    for (const auto& r : Type.Regions)
        for (uint32_t s = 0; s < r.SegmentCount; ++s) {
            const uint32_t a = r.Start + s * r.SegmentSize;
            const uint8_t* p = Mem.data() + a;
            if (std::any_of(p, p + r.SegmentSize, [](uint8_t b) { return b != 0xFF; })) out.push_back(a);
        }
    return out;
}

}  // namespace velk
