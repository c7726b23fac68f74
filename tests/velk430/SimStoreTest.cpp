#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ScratchDir.h"
#include "SimStore.h"

using namespace velk;

namespace {

class SimStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = Scratch / "sim";
        ASSERT_TRUE(Table.Parse("device MSP430F112 1 0 3300 1800 3600 2700 256 12\n"
                                " region 3 0x1000 128 2\n region 1 0xF000 512 8\n"
                                "device MSP430G2553 2 0 3300 1800 3600 2200 512 12\n"
                                " region 3 0x01000 64 3\n region 4 0x010C0 64 1\n region 1 0x0C000 512 32\n"));
    }
    const CScratchDir Scratch{"sim-store"};
    std::filesystem::path Dir;
    CDeviceTable Table;
};

}  // namespace

TEST_F(SimStoreTest, MissingStateIsDefaultsAndAFreshDefaultUnit) {
    CSimStore store(Dir.string());
    const CSimSettings s = store.LoadSettings();
    EXPECT_EQ(s.Port, "COM1");
    EXPECT_EQ(s.Feed, EFeed::Auto);
    EXPECT_EQ(s.Timing, ETiming::Realistic);
    EXPECT_FALSE(store.LoadUnit(Table).has_value());
    EXPECT_EQ(store.LoadUnitOrFresh(Table).Device().Name, "MSP430F112");
}

TEST_F(SimStoreTest, UnitRoundTrips) {
    CSimStore store(Dir.string() + "/nested/dir");
    CUnit u(*Table.Find("MSP430G2553"));
    const uint8_t bytes[3] = {0x12, 0x34, 0x00};
    u.Program(0xFFFD, bytes, 3);
    u.BlowFuse();
    ASSERT_TRUE(store.SaveUnit(u));
    const auto back = store.LoadUnit(Table);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->Device().Name, "MSP430G2553");
    EXPECT_TRUE(back->FuseBlown());
    EXPECT_TRUE(std::equal(u.Memory().begin(), u.Memory().end(), back->Memory().begin(), back->Memory().end()));
}

TEST_F(SimStoreTest, CorruptUnitFileReadsAsAFreshUnit) {
    CSimStore store(Dir.string());
    CUnit u(*Table.Find("MSP430G2553"));
    const uint8_t z = 0;
    u.Program(0xC000, &z, 1);
    ASSERT_TRUE(store.SaveUnit(u));
    std::string text;
    {
        std::ifstream in(store.UnitPath());
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::vector<std::string> corruptions = {
        "", "garbage", text.substr(0, text.size() / 2),
        [&] { std::string t = text; t[text.find("seg") + 12] ^= 1; return t; }(),
        [&] { std::string t = text; t.replace(t.find("MSP430G2553"), 11, "MSP430XXXXX"); return t; }(),
        std::string(100, '\0')};
    for (const auto& bad : corruptions) {
        std::ofstream(store.UnitPath(), std::ios::binary | std::ios::trunc) << bad;
        EXPECT_FALSE(store.LoadUnit(Table).has_value());
        EXPECT_EQ(store.LoadUnitOrFresh(Table).Device().Name, "MSP430F112");
    }
}

TEST_F(SimStoreTest, SettingsRoundTripAndFaultsAreConsumed) {
    CSimStore store(Dir.string());
    CSimSettings s;
    s.Port = "COM7";
    s.Feed = EFeed::Manual;
    s.Timing = ETiming::Fast;
    ASSERT_TRUE(store.SaveSettings(s));
    ASSERT_TRUE(store.InjectFault("erase", -5, 2));
    EXPECT_FALSE(store.InjectFault("NoSuchFunction", -5, 1));
    const CSimSettings back = store.LoadSettings();
    EXPECT_EQ(back.Port, "COM7");
    EXPECT_EQ(back.Feed, EFeed::Manual);
    EXPECT_EQ(back.Timing, ETiming::Fast);
    ASSERT_EQ(back.Faults.size(), 1u);
    EXPECT_EQ(back.Faults[0].Function, "Erase");
    int32_t code = 0;
    EXPECT_FALSE(store.ConsumeFault("Reset", code));
    EXPECT_TRUE(store.ConsumeFault("Erase", code));
    EXPECT_EQ(code, -5);
    EXPECT_TRUE(store.ConsumeFault("Erase", code));
    EXPECT_FALSE(store.ConsumeFault("Erase", code));
    EXPECT_EQ(store.LoadSettings().Port, "COM7");
}

TEST_F(SimStoreTest, MalformedSettingsReadAsDefaults) {
    CSimStore store(Dir.string());
    std::filesystem::create_directories(Dir);
    std::ofstream(store.SettingsPath()) << "port COM3\nfeed sideways\n";
    EXPECT_EQ(store.LoadSettings().Port, "COM1");
    std::ofstream(store.SettingsPath(), std::ios::trunc) << "fail Erase -5 -1\n";
    EXPECT_TRUE(store.LoadSettings().Faults.empty());
}
