// The velk430-sim command, run as the operator would.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "DeviceTable.h"
#include "SimStore.h"

using namespace velk;
namespace fs = std::filesystem;

namespace {

class SimCommand : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::path(::testing::TempDir()) /
              ("velk430-cmd-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(Dir);
    }
    void TearDown() override { fs::remove_all(Dir); }

    // Runs velk430-sim (beside this test) with the state in Dir; exit code and output.
    int Run(const std::string& args, std::string* out = nullptr, const std::string& env = "") {
        const std::string cmd = "VELK430_SIM_DIR='" + Dir.string() + "' " + env + " ./velk430-sim " + args + " 2>&1";
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return -1;
        std::string text;
        std::array<char, 4096> buf;
        size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
        const int status = pclose(p);
        if (out) *out = text;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    fs::path Dir;
};

}  // namespace

TEST_F(SimCommand, StatusOfAFreshSocket) {
    std::string out;
    ASSERT_EQ(Run("status", &out), 0) << out;
    EXPECT_NE(out.find("port:     COM1"), std::string::npos) << out;
    EXPECT_NE(out.find("unit:     MSP430F112"), std::string::npos) << out;
    EXPECT_NE(out.find("fuse:     intact"), std::string::npos) << out;
    EXPECT_NE(out.find("non-blank segments: none"), std::string::npos) << out;
    EXPECT_NE(out.find("main flash CRC-32:"), std::string::npos) << out;
}

// A pipe in the unit's place: status answers at once, naming the file.
TEST_F(SimCommand, StatusRefusesAStateFileThatIsNoRegularFile) {
    fs::create_directories(Dir);
    ASSERT_EQ(mkfifo((Dir / "unit").c_str(), 0644), 0);
    std::string out;
    EXPECT_EQ(Run("status", &out), 3) << out;
    EXPECT_NE(out.find((Dir / "unit").string() + " is not a regular file of at most 8 MiB"), std::string::npos) << out;
}

TEST_F(SimCommand, SettingsCommandsReachTheStateDirectory) {
    EXPECT_EQ(Run("feed manual"), 0);
    EXPECT_EQ(Run("timing fast"), 0);
    EXPECT_EQ(Run("port COM4"), 0);
    EXPECT_EQ(Run("fail Erase -5 2"), 0);
    EXPECT_EQ(Run("fail reset"), 0);
    const CSimSettings s = CSimStore(Dir.string()).LoadSettings();
    EXPECT_EQ(s.Feed, EFeed::Manual);
    EXPECT_EQ(s.Timing, ETiming::Fast);
    EXPECT_EQ(s.Port, "COM4");
    ASSERT_EQ(s.Faults.size(), 2u);
    EXPECT_EQ(s.Faults[0].Function, "Erase");
    EXPECT_EQ(s.Faults[0].Code, -5);
    EXPECT_EQ(s.Faults[0].Count, 2);
    EXPECT_EQ(s.Faults[1].Code, -25);
    EXPECT_EQ(s.Faults[1].Count, 1);
    EXPECT_EQ(Run("fail clear"), 0);
    EXPECT_TRUE(CSimStore(Dir.string()).LoadSettings().Faults.empty());
}

TEST_F(SimCommand, PortAddressesOneProgrammer) {
    std::string out;
    ASSERT_EQ(Run("--port COM3 status", &out), 0) << out;
    EXPECT_NE(out.find("port:     none (no programmer in slot COM3 yet)"), std::string::npos) << out;
    ASSERT_EQ(Run("--port com3 swap --device MSP430F149", &out), 0) << out;
    EXPECT_EQ(Run("--port COM3 fail Erase"), 0);
    EXPECT_EQ(Run("--port COM3 timing fast"), 0);  // shared: lands in COM1's settings
    ASSERT_EQ(Run("--port COM3 status", &out), 0) << out;
    EXPECT_NE(out.find("port:     COM3\ntiming:   fast"), std::string::npos) << out;
    EXPECT_NE(out.find("unit:     MSP430F149"), std::string::npos) << out;
    EXPECT_NE(out.find("pending failure: Erase returns -25"), std::string::npos) << out;
    ASSERT_EQ(Run("status", &out), 0) << out;
    EXPECT_NE(out.find("port:     COM1\ntiming:   fast"), std::string::npos) << out;
    EXPECT_NE(out.find("unit:     MSP430F112"), std::string::npos) << out;
    EXPECT_EQ(out.find("pending failure"), std::string::npos) << out;
    EXPECT_TRUE(fs::is_regular_file(Dir / "COM3" / "unit"));
    for (const char* bad : {"--port COM9 status", "--port COM0 status", "--port COM10 status", "--port", "--port COM2"})
        EXPECT_EQ(Run(bad), 2) << bad;
}

TEST_F(SimCommand, SwapAndDump) {
    std::string out;
    ASSERT_EQ(Run("swap --device msp430g2553 --fuse blown", &out), 0) << out;
    ASSERT_EQ(Run("status", &out), 0);
    EXPECT_NE(out.find("unit:     MSP430G2553"), std::string::npos) << out;
    EXPECT_NE(out.find("fuse:     blown"), std::string::npos) << out;
    EXPECT_NE(out.find("non-blank segments: 010C0"), std::string::npos) << out;
    ASSERT_EQ(Run("dump 0x10F6 4", &out), 0);
    EXPECT_EQ(out.substr(0, 13), "010F6: 01 08 ") << out;
    EXPECT_EQ(Run("dump 0x0200 4", &out), 1) << out;
    EXPECT_EQ(Run("swap --device NOPE", &out), 1) << out;
}

TEST_F(SimCommand, CheckNamesTheFirstError) {
    std::string out;
    ASSERT_EQ(Run(CORV_SOURCE_DIR "/examples/blink-f112.txt", &out), 2);
    ASSERT_EQ(Run("check " CORV_SOURCE_DIR "/examples/blink-f112.txt", &out), 0) << out;
    EXPECT_NE(out.find("@0F000..0F01B  28 bytes"), std::string::npos) << out;
    ASSERT_EQ(Run("check " CORV_SOURCE_DIR "/examples/malformed.txt", &out), 1) << out;
    EXPECT_NE(out.find("malformed.txt:3: not a hex byte"), std::string::npos) << out;
}

TEST_F(SimCommand, UsageErrorsAndMissingDeviceCfg) {
    for (const char* bad : {"", "bogus", "feed sometimes", "timing slow", "dump", "dump 0x100000 1",
                            "dump 0 0", "fail NoSuchFunction", "fail Erase x", "fail Erase -5 -1", "swap --fuse maybe",
                            "port ''"})
        EXPECT_EQ(Run(bad), 2) << bad;
    std::string out;
    EXPECT_EQ(Run("status", &out, "VELK430_DEVICE_CFG=/nonexistent/device.cfg"), 3) << out;
}

// The library exports the 15 functions of velk430.h, its three additions and nothing else.
TEST(Library, ExportsExactlyTheFifteenFunctionsAndTheAdditions) {
    if (std::system("command -v nm >/dev/null 2>&1") != 0) GTEST_SKIP() << "nm not installed";
    FILE* p = popen("nm -D --defined-only ./libVELK430.so | awk '{print $3}' | sort", "r");
    ASSERT_NE(p, nullptr);
    std::string text;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
    ASSERT_EQ(pclose(p), 0);
    EXPECT_EQ(text,
              "BlowFuse\nCheckSetup\nErase\nGetDeviceCfgInfo\nGetLastErrorText\nGetResultText\nInitCom\nInitTarget\n"
              "ProgramData\nProgramFile\nReleaseCom\nReleaseTarget\nReset\nSetDeviceType\nSetNotificationWnd\nSetVcc\n"
              "VerifyData\nVerifyFile\n");
}
