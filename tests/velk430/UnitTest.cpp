#include <gtest/gtest.h>

#include "Codes.h"
#include "DeviceTable.h"
#include "Unit.h"

using namespace velk;

namespace {

CDevice G2553() {
    CDeviceTable t;
    EXPECT_TRUE(t.Parse("device MSP430G2553 2 0 3300 1800 3600 2200 512 12\n"
                        " region 3 0x01000 64 3\n region 4 0x010C0 64 1\n region 1 0x0C000 512 32\n"));
    return t.Devices().front();
}

}  // namespace

TEST(Unit, FreshUnitIsErasedWithRepeatableCalibration) {
    const CUnit a(G2553()), b(G2553());
    EXPECT_EQ(a.Read(0xC000), 0xFF);
    EXPECT_EQ(a.Read(0xFFFF), 0xFF);
    EXPECT_EQ(a.Read(0x1000), 0xFF);
    EXPECT_FALSE(a.FuseBlown());
    ASSERT_EQ(a.NonBlankSegments(), std::vector<uint32_t>{0x10C0});
    EXPECT_TRUE(std::equal(a.Memory().begin(), a.Memory().end(), b.Memory().begin()));
    EXPECT_EQ(a.Read(0x10F6), 0x01);  // DCO calibration tag
    // The checksum word at the start is minus the XOR of the segment's other words.
    uint16_t x = 0;
    for (uint32_t i = 0x10C2; i < 0x1100; i += 2) x ^= static_cast<uint16_t>(a.Read(i) | (a.Read(i + 1) << 8));
    const uint16_t check = static_cast<uint16_t>(a.Read(0x10C0) | (a.Read(0x10C1) << 8));
    EXPECT_EQ(static_cast<uint16_t>(x + check), 0);
}

TEST(Unit, ProgrammingOnlyClearsBits) {
    CUnit u(G2553());
    const uint8_t first[2] = {0x0F, 0xAA};
    const uint8_t second[2] = {0xF0, 0xAA};
    u.Program(0xC000, first, 2);
    EXPECT_TRUE(u.Verify(0xC000, first, 2));
    u.Program(0xC000, second, 2);  // would need 0 -> 1 for the first byte
    uint32_t bad = 0;
    EXPECT_FALSE(u.Verify(0xC000, second, 2, &bad));
    EXPECT_EQ(bad, 0xC000u);
    EXPECT_EQ(u.Read(0xC000), 0x00);
    EXPECT_EQ(u.EraseSegment(0xC000, 512), kOk);
    u.Program(0xC000, second, 2);
    EXPECT_TRUE(u.Verify(0xC000, second, 2));
}

TEST(Unit, EraseRules) {
    CUnit u(G2553());
    const uint8_t z = 0;
    u.Program(0x1040, &z, 1);
    u.Program(0xC200, &z, 1);
    EXPECT_EQ(u.EraseSegment(0x1040, 64), kOk);
    EXPECT_EQ(u.Read(0x1040), 0xFF);
    EXPECT_EQ(u.EraseSegment(0x1020, 64), kNotSegmentStart);
    EXPECT_EQ(u.EraseSegment(0x1000, 128), kNotSegmentStart);
    EXPECT_EQ(u.EraseSegment(0x10C0, 64), kProtected);
    EXPECT_EQ(u.EraseSegment(0x0200, 64), kNotFlash);
    EXPECT_EQ(u.EraseSegment(0xFFFFF, 512), kNotFlash);
    EXPECT_EQ(u.EraseMain(), 32u);
    EXPECT_EQ(u.Read(0xC200), 0xFF);
    EXPECT_NE(u.Read(0x10F6), 0xFF);  // calibration survives
}

TEST(Unit, WritableRanges) {
    const CUnit u(G2553());
    EXPECT_EQ(u.CheckWritable(0xC000, 0x4000), kOk);
    EXPECT_EQ(u.CheckWritable(0x1000, 0xC0), kOk);
    EXPECT_EQ(u.CheckWritable(0x10BF, 2), kProtected);
    EXPECT_EQ(u.CheckWritable(0xBFFF, 2), kNotFlash);
    EXPECT_EQ(u.CheckWritable(0xFFFF, 2), kNotFlash);
    EXPECT_EQ(u.CheckWritable(0x0200, 1), kNotFlash);
    EXPECT_EQ(u.CheckReadable(0x10C0, 64), kOk);
    EXPECT_EQ(u.CheckReadable(0x1100, 1), kNotFlash);
}

TEST(Unit, CrcCoversMainFlashOnly) {
    CUnit u(G2553());
    const uint32_t blank = u.MainCrc();
    const uint8_t z = 0;
    u.Program(0x1000, &z, 1);
    EXPECT_EQ(u.MainCrc(), blank);
    u.Program(0xFFFE, &z, 1);
    EXPECT_NE(u.MainCrc(), blank);
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
}
