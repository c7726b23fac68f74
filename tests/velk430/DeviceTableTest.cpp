#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ScratchDir.h"
#include "DeviceTable.h"

using namespace velk;

namespace {

const char kGood[] =
    "# two devices\n"
    "device MSP430F112 1 0 3300 1800 3600 2700 256 12\n"
    "  region 3 0x1000 128 2   # info\n"
    "  region 1 0xF000 512 8\n"
    "device msp430g2553 2 0 3300 1800 3600 2200 512 12\n"
    "  region 3 0x01000 64 3\n"
    "  region 4 0x010C0 64 1\n"
    "  region 1 0x0C000 512 32\n";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TEST(DeviceTable, ParsesDevicesAndRegions) {
    CDeviceTable t;
    std::string err;
    ASSERT_TRUE(t.Parse(kGood, &err)) << err;
    ASSERT_EQ(t.Devices().size(), 2u);
    const CDevice* g = t.Find("MSP430G2553");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->Name, "MSP430G2553");  // upper-cased
    EXPECT_EQ(t.IndexOf("msp430f112"), 0);
    EXPECT_EQ(t.IndexOf("MSP430F11"), -1);
    ASSERT_EQ(g->Regions.size(), 3u);
    EXPECT_EQ(g->Regions[1].Type, kRegionCalibration);
    EXPECT_FALSE(g->Regions[1].Writable());
    int32_t v[8];
    g->Values(v);
    EXPECT_EQ(v[2], 3300);
    EXPECT_EQ(v[3], 1800);
    EXPECT_EQ(v[4], 3600);
    EXPECT_EQ(v[5], 2200);
    EXPECT_EQ(v[6], 16384);
    EXPECT_EQ(v[7], 512);
}

class DeviceTableBad : public ::testing::TestWithParam<const char*> {};

TEST_P(DeviceTableBad, IsRefusedAndLeavesTheTableEmpty) {
    CDeviceTable t;
    ASSERT_TRUE(t.Parse(kGood));
    std::string err;
    EXPECT_FALSE(t.Parse(GetParam(), &err));
    EXPECT_TRUE(t.Empty());
    EXPECT_FALSE(err.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceTableBad,
    ::testing::Values(
        "", "# only a comment\n",
        "region 1 0xF000 512 8\n",                                              // region before device
        "device A 1 0 3300 1800 3600 2700 256 12\n",                            // no regions
        "device A 1 0 3300 1800 3600 2700 256 12\n region 3 0x1000 128 2\n",    // no main flash
        "device A 1 0 3300 1800 3600 2700 256\n region 1 0xF000 512 8\n",       // short device line
        "device A 3 0 3300 1800 3600 2700 256 12\n region 1 0xF000 512 8\n",    // family
        "device A 1 0 3700 1800 3600 2700 256 12\n region 1 0xF000 512 8\n",    // default above max
        "device A 1 0 3300 1800 3600 1700 256 12\n region 1 0xF000 512 8\n",    // prog min below min
        "device A 1 0 3300 1800 3600 2700 256 12\n region 2 0xF000 512 8\n",    // region type
        "device A 1 0 3300 1800 3600 2700 256 12\n region 1 0xFFE00 512 2\n",   // beyond 20 bits
        "device A 1 0 3300 1800 3600 2700 256 12\n region 1 0xF000 0 8\n",      // zero segment size
        "device A 1 0 3300 1800 3600 2700 256 12\n region 1 0xF000 512 8\n region 3 0xF100 128 2\n",  // overlap
        "device A 1 0 3300 1800 3600 2700 256 12\n region 1 0xF000 512 8\n"
        "device a 1 0 3300 1800 3600 2700 256 12\n region 1 0xF000 512 8\n",   // duplicate name
        "device A 1 0 3300 1800 3600 2700 256 12\n region 1 0xF000 512 8x\n",   // number
        "device A 1 0 3300 1800 3600 2700 256 12\n region 1 0xF000 512 99999999999999\n",
        "device A 1 0 3300 1800 3600 2700 256 12\n region 1 0xF000 512 8\nbogus 1\n",
        "device A\xC3\xA9 1 0 3300 1800 3600 2700 256 12\n region 1 0xF000 512 8\n",
        "device ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKL 1 0 3300 1800 3600 2700 256 12\n"
        " region 1 0xF000 512 8\n"));  // 64-character name

TEST(DeviceTable, ShippedTableDescribesTheFamilies) {
    CDeviceTable t;
    std::string err;
    ASSERT_TRUE(t.Load(CORV_SOURCE_DIR "/velk430/device.cfg", &err)) << err;
    EXPECT_GT(t.Devices().size(), 300u);
    const CDevice* f112 = t.Find("MSP430F112");
    ASSERT_NE(f112, nullptr);
    EXPECT_EQ(f112->Supply, 3300);
    // F1xx: information flash 2 x 128 at 0x1000.
    EXPECT_EQ(f112->Regions[0].Type, kRegionInfo);
    EXPECT_EQ(f112->Regions[0].Start, 0x1000u);
    EXPECT_EQ(f112->Regions[0].SegmentSize, 128u);
    EXPECT_EQ(f112->Regions[0].SegmentCount, 2u);
    // F2xx: 3 x 64 information flash, segment A calibration of its own type.
    const CDevice* g = t.Find("MSP430G2553");
    ASSERT_NE(g, nullptr);
    ASSERT_NE(g->RegionAt(0x10C0), nullptr);
    EXPECT_EQ(g->RegionAt(0x10C0)->Type, kRegionCalibration);
    EXPECT_EQ(g->RegionAt(0x1000)->Type, kRegionInfo);
    // F5xx: 4 x 128 at 0x1800, far flash in 512-byte segments, BSL protected.
    const CDevice* f5 = t.Find("MSP430F5438A");
    ASSERT_NE(f5, nullptr);
    EXPECT_EQ(f5->RegionAt(0x1800)->SegmentCount, 4u);
    EXPECT_EQ(f5->RegionAt(0x1000)->Type, kRegionBsl);
    EXPECT_EQ(f5->RegionAt(0x20000)->Type, kRegionMain);
    EXPECT_EQ(f5->RegionAt(0x20000)->SegmentSize, 512u);
    // Every device: main segments never cross a 512-byte boundary.
    for (const auto& d : t.Devices())
        for (const auto& r : d.Regions)
            if (r.Type == kRegionMain && r.SegmentSize == 512) {
                EXPECT_EQ(r.Start % 512, 0u) << d.Name;
            }
}

// The committed table is what the generator makes from the installed msp430mcu.
TEST(DeviceTable, GeneratedTableMatchesMsp430mcu) {
    if (std::system("test -d /usr/msp430/lib/ldscripts") != 0) GTEST_SKIP() << "msp430mcu not installed";
    if (std::system("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not installed";
    const CScratchDir scratch("device-cfg");
    const std::string out = (scratch / "device.cfg.regenerated").string();
    const std::string cmd = "python3 " CORV_SOURCE_DIR "/tools/gen-device-cfg.py > " + out;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_TRUE(ReadAll(out) == ReadAll(CORV_SOURCE_DIR "/velk430/device.cfg"))
        << "velk430/device.cfg is stale: run tools/gen-device-cfg.py > velk430/device.cfg";
}

// The committed example firmware is what its generator writes.
TEST(Examples, MatchTheirGenerator) {
    if (std::system("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not installed";
    const CScratchDir scratch("examples");
    const std::string dir = scratch.Path().string();
    ASSERT_EQ(std::system(("python3 " CORV_SOURCE_DIR "/tools/make-examples.py " + dir).c_str()), 0);
    for (const char* name : {"blink-f112.txt", "fill-f149.txt"})
        EXPECT_TRUE(ReadAll(dir + "/" + name) == ReadAll(std::string(CORV_SOURCE_DIR "/examples/") + name)) << name;
}
