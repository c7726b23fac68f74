// The library through its C interface (libVELK430.so), in fast timing, with
// the unit inspected and failures injected through its state directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "Codes.h"
#include "Programmer.h"
#include "SimStore.h"
#include "velk430.h"

#include "../FileSizeLimit.h"
#include "../ImageFormats.h"
#include "TiTxt.h"

#include <sys/stat.h>

using namespace velk;
namespace fs = std::filesystem;

namespace {

struct CRecorder : VelkNotifyWindow {
    CRecorder() { Deliver = &CRecorder::Receive; }
    static void Receive(VelkNotifyWindow* self, uint32_t message, uintptr_t type, intptr_t value) {
        auto* r = static_cast<CRecorder*>(self);
        EXPECT_EQ(message, VELK_NOTIFY_MESSAGE);
        r->Seen[static_cast<uint32_t>(type)].push_back(static_cast<int>(value));
    }
    std::map<uint32_t, std::vector<int>> Seen;
};

char* S(std::string& s) { return s.data(); }

class Api : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("VELK430_SIM_DIR");
        Dir = fs::path(base && *base ? base : ::testing::TempDir()) /
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(Dir);
        setenv("VELK430_SIM_DIR", Dir.c_str(), 1);
        setenv("VELK430_SIM_TIMING", "fast", 1);
        unsetenv("VELK430_DEVICE_CFG");
        ReleaseCom();
        ASSERT_TRUE(LoadDefaultDeviceTable(Table));
        Store.emplace(Dir.string());
    }
    void TearDown() override {
        SetNotificationWnd(nullptr, VELK_NOTIFY_MESSAGE);
        ReleaseCom();
        unsetenv("VELK430_DEVICE_CFG");
    }

    void Feed(EFeed feed) {
        CSimSettings s = Store->LoadSettings();
        s.Feed = feed;
        ASSERT_TRUE(Store->SaveSettings(s));
    }
    void PutUnit(const char* device, bool blown = false) {
        CUnit u(*Table.Find(device));
        u.SetFuseBlown(blown);
        ASSERT_TRUE(Store->SaveUnit(u));
    }
    CUnit SavedUnit() {
        auto u = Store->LoadUnit(Table);
        EXPECT_TRUE(u.has_value());
        return u ? std::move(*u) : CUnit(*Table.Find(kDefaultDevice));
    }
    int32_t Open(int32_t baud = 115200) {
        std::string port = "COM1";
        return InitCom(S(port), baud);
    }
    // Port open, device selected, supply on, target initialised.
    void Ready(const char* device = "MSP430F112", uint32_t mv = 3300) {
        ASSERT_EQ(Open(), kOk);
        std::string name = device;
        ASSERT_EQ(SetDeviceType(S(name)), kOk);
        ASSERT_EQ(SetVcc(mv), kOk);
        ASSERT_EQ(InitTarget(S(name)), kOk);
    }
    std::string File(const std::string& name, const std::string& text) {
        const fs::path p = Dir / name;
        fs::create_directories(Dir);
        std::ofstream(p, std::ios::binary) << text;
        return p.string();
    }
    static std::string Example(const char* name) { return std::string(CORV_SOURCE_DIR "/examples/") + name; }

    fs::path Dir;
    CDeviceTable Table;
    std::optional<CSimStore> Store;
};

}  // namespace

TEST_F(Api, DeviceConfigurationAnswersWithoutAPort) {
    const int32_t n = GetDeviceCfgInfo(1, 0, nullptr);
    ASSERT_EQ(n, static_cast<int32_t>(Table.Devices().size()));
    const int32_t f112 = Table.IndexOf("MSP430F112");
    ASSERT_EQ(GetDeviceCfgInfo(2, f112, nullptr), kOk);
    char name[64];
    std::memset(name, 'x', sizeof name);
    ASSERT_EQ(GetDeviceCfgInfo(3, 0, name), kOk);
    EXPECT_STREQ(name, "MSP430F112");
    ASSERT_EQ(GetDeviceCfgInfo(6, 0, nullptr), 2);
    int32_t region[4];
    ASSERT_EQ(GetDeviceCfgInfo(7, 0, region), kOk);
    EXPECT_EQ(region[0], 3);
    EXPECT_EQ(region[1], 0x1000);
    EXPECT_EQ(region[2], 128);
    EXPECT_EQ(region[3], 2);
    ASSERT_EQ(GetDeviceCfgInfo(7, 1, region), kOk);
    EXPECT_EQ(region[0], 1);
    int32_t values[8];
    ASSERT_EQ(GetDeviceCfgInfo(10, 0, values), kOk);
    EXPECT_EQ(values[2], 3300);
    EXPECT_EQ(values[6], 4096);
}

TEST_F(Api, DeviceConfigurationRefusesBadQueries) {
    int32_t buf[8];
    const int32_t n = GetDeviceCfgInfo(1, 0, nullptr);
    EXPECT_EQ(GetDeviceCfgInfo(0, 0, buf), kBadArgument);
    EXPECT_EQ(GetDeviceCfgInfo(4, 0, buf), kBadArgument);
    EXPECT_EQ(GetDeviceCfgInfo(-1, 0, buf), kBadArgument);
    EXPECT_EQ(GetDeviceCfgInfo(1, 1, nullptr), kBadArgument);
    EXPECT_EQ(GetDeviceCfgInfo(2, -1, nullptr), kBadArgument);
    EXPECT_EQ(GetDeviceCfgInfo(2, n, nullptr), kBadArgument);
    ASSERT_EQ(GetDeviceCfgInfo(2, 0, nullptr), kOk);
    EXPECT_EQ(GetDeviceCfgInfo(3, 0, nullptr), kBadArgument);
    EXPECT_EQ(GetDeviceCfgInfo(7, 0, nullptr), kBadArgument);
    EXPECT_EQ(GetDeviceCfgInfo(7, -1, buf), kBadArgument);
    EXPECT_EQ(GetDeviceCfgInfo(7, 64, buf), kBadArgument);
    EXPECT_EQ(GetDeviceCfgInfo(10, 0, nullptr), kBadArgument);
    EXPECT_EQ(GetDeviceCfgInfo(6, 1, nullptr), kBadArgument);
}

TEST_F(Api, MissingOrMalformedDeviceCfgFailsSelectorOne) {
    setenv("VELK430_DEVICE_CFG", (Dir / "absent.cfg").c_str(), 1);
    EXPECT_EQ(GetDeviceCfgInfo(1, 0, nullptr), kConfigError);
    EXPECT_EQ(GetDeviceCfgInfo(2, 0, nullptr), kConfigError);
    setenv("VELK430_DEVICE_CFG", File("bad.cfg", "device X 1 0 3300\n").c_str(), 1);
    EXPECT_EQ(GetDeviceCfgInfo(1, 0, nullptr), kConfigError);
    EXPECT_EQ(Open(), kConfigError);
    unsetenv("VELK430_DEVICE_CFG");
    EXPECT_GT(GetDeviceCfgInfo(1, 0, nullptr), 300);
}

TEST_F(Api, PortRateAndSecondOpen) {
    std::string other = "COM2";
    EXPECT_EQ(InitCom(S(other), 115200), kNoProgrammer);
    for (int32_t bad : {0, -9600, 14400, 230400}) EXPECT_EQ(Open(bad), kBadBaud) << bad;
    EXPECT_EQ(InitCom(nullptr, 9600), kBadArgument);
    char unterminated[32];
    std::memset(unterminated, 'C', sizeof unterminated);
    EXPECT_EQ(InitCom(unterminated, 9600), kBadArgument);
    for (int32_t baud : {9600, 19200, 38400, 57600, 115200}) {
        EXPECT_EQ(Open(baud), kOk) << baud;
        EXPECT_EQ(Open(baud), kAlreadyOpen);
        EXPECT_EQ(ReleaseCom(), kOk);
    }
    std::string lower = "com1";
    EXPECT_EQ(InitCom(S(lower), 9600), kOk);
    ReleaseCom();
    CSimSettings s;
    s.Port = "/dev/ttyUSB0";
    ASSERT_TRUE(Store->SaveSettings(s));
    EXPECT_EQ(Open(), kNoProgrammer);
    std::string usb = "/dev/ttyUSB0";
    EXPECT_EQ(InitCom(S(usb), 57600), kOk);
}

TEST_F(Api, TargetCallsNeedAnOpenPort) {
    std::string name = "MSP430F112";
    unsigned char b[1] = {0};
    EXPECT_EQ(SetDeviceType(S(name)), kNotOpen);
    EXPECT_EQ(SetVcc(3300), kNotOpen);
    EXPECT_EQ(InitTarget(S(name)), kNotOpen);
    EXPECT_EQ(Erase(0x1000, 128, 1), kNotOpen);
    EXPECT_EQ(ProgramData(0xF000, 1, b), kNotOpen);
    EXPECT_EQ(VerifyData(0xF000, 1, b), kNotOpen);
    EXPECT_EQ(Reset(1), kNotOpen);
    EXPECT_EQ(BlowFuse(), kNotOpen);
    EXPECT_EQ(ReleaseCom(), kNotOpen);
}

TEST_F(Api, DeviceTypeAndSupply) {
    ASSERT_EQ(Open(), kOk);
    std::string unknown = "MSP430F999", name = "msp430f112";
    EXPECT_EQ(SetVcc(3300), kNoDeviceType);
    EXPECT_EQ(SetDeviceType(S(unknown)), kUnknownDevice);
    EXPECT_EQ(SetDeviceType(nullptr), kBadArgument);
    char unterminated[128];
    std::memset(unterminated, 'M', sizeof unterminated);
    EXPECT_EQ(SetDeviceType(unterminated), kBadArgument);
    EXPECT_EQ(InitTarget(unterminated), kBadArgument);
    EXPECT_EQ(SetDeviceType(S(name)), kOk);
    EXPECT_EQ(SetVcc(0), kOk);
    EXPECT_EQ(InitTarget(S(name)), kNoSupply);
    EXPECT_EQ(SetVcc(3300), kOk);
    // Refused values leave the supply as it was.
    EXPECT_EQ(SetVcc(1799), kVccRange);
    EXPECT_EQ(SetVcc(3601), kVccRange);
    EXPECT_EQ(SetVcc(0xFFFFFFFFu), kVccRange);
    EXPECT_EQ(InitTarget(S(name)), kOk);
    // Within the supply range but below the programming range.
    EXPECT_EQ(SetVcc(2000), kOk);
    EXPECT_EQ(InitTarget(S(name)), kNoSupply);
}

TEST_F(Api, InitTargetChecksNameUnitTypeAndFuse) {
    ASSERT_EQ(Open(), kOk);
    std::string f112 = "MSP430F112", g2553 = "MSP430G2553";
    EXPECT_EQ(InitTarget(S(f112)), kNoDeviceType);
    ASSERT_EQ(SetDeviceType(S(f112)), kOk);
    ASSERT_EQ(SetVcc(3300), kOk);
    EXPECT_EQ(InitTarget(S(g2553)), kNameMismatch);
    ReleaseCom();

    PutUnit("MSP430G2553");
    ASSERT_EQ(Open(), kOk);
    ASSERT_EQ(SetDeviceType(S(f112)), kOk);
    ASSERT_EQ(SetVcc(3300), kOk);
    EXPECT_EQ(InitTarget(S(f112)), kWrongDevice);
    ASSERT_EQ(SetDeviceType(S(g2553)), kOk);
    EXPECT_EQ(InitTarget(S(g2553)), kOk);
    ReleaseCom();

    PutUnit("MSP430F112", true);
    ASSERT_EQ(Open(), kOk);
    ASSERT_EQ(SetDeviceType(S(f112)), kOk);
    ASSERT_EQ(SetVcc(3300), kOk);
    EXPECT_EQ(InitTarget(S(f112)), kFuseBlown);
    EXPECT_EQ(Reset(1), kFuseBlown);
}

TEST_F(Api, TargetOperationsNeedInitTarget) {
    ASSERT_EQ(Open(), kOk);
    std::string f112 = "MSP430F112";
    ASSERT_EQ(SetDeviceType(S(f112)), kOk);
    unsigned char b[1] = {0};
    std::string path = Example("blink-f112.txt");
    EXPECT_EQ(Erase(0x1000, 128, 1), kTargetNotReady);
    EXPECT_EQ(ProgramFile(S(path), 0, 1, 0), kTargetNotReady);
    EXPECT_EQ(VerifyFile(S(path), 0), kTargetNotReady);
    EXPECT_EQ(ProgramData(0xF000, 1, b), kTargetNotReady);
    EXPECT_EQ(Reset(1), kTargetNotReady);
    ASSERT_EQ(SetVcc(3300), kOk);
    ASSERT_EQ(InitTarget(S(f112)), kOk);
    EXPECT_EQ(SetVcc(0), kOk);  // switching off drops the target
    EXPECT_EQ(Erase(0x1000, 128, 1), kTargetNotReady);
}

TEST_F(Api, EraseOneSegment) {
    PutUnit("MSP430G2553");
    Feed(EFeed::Manual);
    Ready("MSP430G2553");
    unsigned char zeros[4] = {0, 0, 0, 0};
    ASSERT_EQ(ProgramData(0x1040, 4, zeros), kDone);
    ASSERT_EQ(ProgramData(0x1080, 4, zeros), kDone);
    EXPECT_EQ(Erase(0x1040, 64, 1), kOk);
    EXPECT_EQ(Erase(0x1044, 64, 1), kNotSegmentStart);
    EXPECT_EQ(Erase(0x1040, 128, 1), kNotSegmentStart);
    EXPECT_EQ(Erase(0x10C0, 64, 1), kProtected);
    EXPECT_EQ(Erase(0x0200, 64, 1), kNotFlash);
    EXPECT_EQ(Erase(0x1040, 64, 0), kBadArgument);
    EXPECT_EQ(Erase(-1, 64, 1), kBadArgument);
    EXPECT_EQ(Erase(0x1040, -64, 1), kBadArgument);
    EXPECT_EQ(Erase(INT32_MAX, 512, 1), kNotFlash);
    ReleaseCom();
    const CUnit u = SavedUnit();
    EXPECT_EQ(u.Read(0x1040), 0xFF);  // erased
    EXPECT_EQ(u.Read(0x1080), 0x00);  // the next segment kept
    EXPECT_EQ(u.Read(0x10F6), 0x01);  // calibration kept
}

TEST_F(Api, ProgramAndVerifyTheExampleFirmware) {
    Feed(EFeed::Manual);
    PutUnit("MSP430F149");
    Ready("MSP430F149");
    std::string path = Example("fill-f149.txt");
    EXPECT_EQ(ProgramFile(S(path), 0, 1, 0), kDone);
    EXPECT_EQ(VerifyFile(S(path), 0), kDone);
    ReleaseCom();
    const CUnit u = SavedUnit();
    const auto image = ReadTiTxtFile(path);
    ASSERT_TRUE(image.Ok());
    for (const auto& s : image.Image.Sections)
        EXPECT_TRUE(u.Verify(s.Start, s.Bytes.data(), s.Bytes.size())) << std::hex << s.Start;
    EXPECT_EQ(u.Read(0x1100), 0x31);
    EXPECT_EQ(u.Read(0xFFFE), 0x00);
    EXPECT_EQ(u.Read(0xFFFF), 0x11);
}

// Each example converted by srec_cat, and written as an ELF with one segment
// per section, leaves the unit byte for byte as its TI-TXT original does.
// The S-records go under a .txt name: the content decides the format.
TEST_F(Api, EveryFormatProgramsTheExamplesAsTheirTiTxtDoes) {
    if (!imagefmt::HaveSrecCat()) GTEST_SKIP() << "srec_cat not installed";
    Feed(EFeed::Manual);
    fs::create_directories(Dir);
    const std::pair<const char*, const char*> examples[] = {{"blink-f112.txt", "MSP430F112"}, {"fill-f149.txt", "MSP430F149"}};
    for (const auto& [example, device] : examples) {
        std::string original = Example(example);
        auto programmed = [&](std::string path) {
            PutUnit(device);
            Ready(device);
            EXPECT_EQ(ProgramFile(S(path), 0, 1, 0), kDone) << path;
            EXPECT_EQ(VerifyFile(S(path), 0), kDone) << path;
            ReleaseCom();
            const CUnit u = SavedUnit();
            return std::vector<uint8_t>(u.Memory().begin(), u.Memory().end());
        };
        const std::vector<uint8_t> expected = programmed(original);
        std::vector<imagefmt::CSegment> segments;
        for (const auto& s : ReadTiTxtFile(original).Image.Sections) segments.push_back({s.Start, s.Bytes});
        const std::string hex = (Dir / "fw.hex").string(), srec = (Dir / "fw-srec.txt").string(), elf = (Dir / "fw.elf").string();
        ASSERT_TRUE(imagefmt::ConvertTiTxt(original, hex, "-intel"));
        ASSERT_TRUE(imagefmt::ConvertTiTxt(original, srec, "-motorola"));
        File("fw.elf", imagefmt::ElfBytes(segments));
        for (const std::string& file : {hex, srec, elf}) EXPECT_TRUE(programmed(file) == expected) << example << " as " << file;
    }
}

TEST_F(Api, ProgramFileErasesMainFlashOnlyWhenAsked) {
    Feed(EFeed::Manual);
    Ready();
    std::string a = File("a.txt", "@F000\n0F\n@1000\n0F\nq\n");
    std::string b = File("b.txt", "@F000\nF0\n@1000\nF0\nq\n");
    ASSERT_EQ(ProgramFile(S(a), 0, 1, 0), kDone);
    ASSERT_EQ(VerifyFile(S(a), 0), kDone);
    // Without an erase, F0 over 0F reads 00: programming cannot set bits.
    ASSERT_EQ(ProgramFile(S(b), 0, 0, 0), kDone);
    EXPECT_EQ(VerifyFile(S(b), 0), kVerifyMismatch);
    // With it, main flash takes the new byte; information flash is not erased.
    ASSERT_EQ(ProgramFile(S(b), 0, 1, 0), kDone);
    EXPECT_EQ(VerifyFile(S(b), 0), kVerifyMismatch);
    ASSERT_EQ(Erase(0x1000, 128, 1), kOk);
    ASSERT_EQ(ProgramFile(S(b), 0, 1, 0), kDone);
    EXPECT_EQ(VerifyFile(S(b), 0), kDone);
}

TEST_F(Api, BadFilesAreRefusedBeforeAnythingIsWritten) {
    Feed(EFeed::Manual);
    Ready();
    struct Case {
        std::string Path;
        int32_t Code;
    };
    const std::vector<Case> cases = {
        {(Dir / "absent.txt").string(), kFileOpen},
        {Dir.string(), kFileOpen},
        {File("syntax.txt", "@F000\n01 02\n@F100\n0X\nq\n"), kFileSyntax},
        {File("truncated.txt", "@F000\n01 02\n"), kFileTruncated},
        {File("ram.txt", "@F000\n01 02\n@0200\n01\nq\n"), kFileRange},
        {File("high.txt", "@F000\n01\n@10000\n01\nq\n"), kFileRange},
        {File("gap.txt", "@F000\n01\n@1100\n01\nq\n"), kFileRange},
        {Example("malformed.txt"), kFileSyntax},
        {File("checksum.hex", ":02F0000001020C\n:00000001FF\n"), kFileSyntax},
        {File("short.hex", ":02F0000001\n:00000001FF\n"), kFileSyntax},
        {File("noend.hex", ":02F0000001020B\n"), kFileTruncated},
        {File("ram.hex", ":0102000001FC\n:00000001FF\n"), kFileRange},
        {File("overlap.srec", "S105F000010207\nS104F0010901\nS9030000FC\n"), kFileSyntax},
        {File("noend.srec", "S105F000010207\n"), kFileTruncated},
        {File("arm.elf", imagefmt::ElfBytes({{0xF000, {1}}}, EM_ARM)), kFileSyntax},
    };
    for (auto c : cases) {
        EXPECT_EQ(ProgramFile(S(c.Path), 0, 1, 0), c.Code) << c.Path;
        EXPECT_EQ(VerifyFile(S(c.Path), 0), c.Code) << c.Path;
    }
    std::string good = Example("blink-f112.txt");
    EXPECT_EQ(ProgramFile(S(good), 1, 1, 0), kBadArgument);
    EXPECT_EQ(ProgramFile(S(good), 0, 2, 0), kBadArgument);
    EXPECT_EQ(ProgramFile(S(good), 0, 1, 1), kBadArgument);
    EXPECT_EQ(VerifyFile(S(good), 1), kBadArgument);
    EXPECT_EQ(ProgramFile(nullptr, 0, 1, 0), kBadArgument);
    std::vector<char> unterminated(1024, 'a');
    EXPECT_EQ(ProgramFile(unterminated.data(), 0, 1, 0), kBadArgument);
    EXPECT_EQ(VerifyFile(unterminated.data(), 0), kBadArgument);
    ReleaseCom();
    EXPECT_TRUE(SavedUnit().NonBlankSegments().empty());
}

TEST_F(Api, ProgramAndVerifyData) {
    Feed(EFeed::Manual);
    PutUnit("MSP430G2553");
    Ready("MSP430G2553");
    unsigned char serial[16] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(ProgramData(0x1000, 4, serial), kDone);
    EXPECT_EQ(VerifyData(0x1000, 4, serial), kDone);
    unsigned char other[4] = {0x12, 0x34, 0x56, 0x79};
    EXPECT_EQ(VerifyData(0x1000, 4, other), kVerifyMismatch);
    EXPECT_EQ(ProgramData(0x1000, 4, other), kDone);  // 0x78 -> 0x79 needs a 0 -> 1 change
    EXPECT_EQ(VerifyData(0x1000, 4, other), kVerifyMismatch);
    for (int32_t count : {0, -1, 17, INT32_MIN}) {
        EXPECT_EQ(ProgramData(0xC000, count, serial), kBadArgument) << count;
        EXPECT_EQ(VerifyData(0xC000, count, serial), kBadArgument) << count;
    }
    EXPECT_EQ(ProgramData(0xC000, 16, serial), kDone);
    EXPECT_EQ(VerifyData(0xC000, 16, serial), kDone);
    EXPECT_EQ(ProgramData(0xC000, 1, nullptr), kBadArgument);
    EXPECT_EQ(ProgramData(-2, 4, serial), kBadArgument);
    EXPECT_EQ(ProgramData(0x0200, 2, serial), kNotFlash);
    EXPECT_EQ(ProgramData(0xBFFF, 2, serial), kNotFlash);   // straddles the start of flash
    EXPECT_EQ(ProgramData(0xFFFF, 2, serial), kNotFlash);   // runs past the end
    EXPECT_EQ(ProgramData(0x10BE, 4, serial), kProtected);  // into the calibration segment
    EXPECT_EQ(ProgramData(INT32_MAX, 16, serial), kNotFlash);
    std::string calibration = File("calibration.txt", "@C000\n01\n@10C0\n01\nq\n");
    EXPECT_EQ(ProgramFile(S(calibration), 0, 1, 0), kProtected);
    unsigned char cal[2] = {0x01, 0x08};
    EXPECT_EQ(VerifyData(0x10F6, 2, cal), kDone);  // calibration reads fine
    EXPECT_EQ(VerifyData(0x0200, 2, cal), kNotFlash);
}

TEST_F(Api, BlownFuseIsForGood) {
    Feed(EFeed::Manual);
    Ready();
    EXPECT_EQ(Reset(1), kOk);
    EXPECT_EQ(Reset(0), kBadArgument);
    EXPECT_EQ(BlowFuse(), kOk);
    EXPECT_EQ(Reset(1), kFuseBlown);
    unsigned char b[1] = {0};
    EXPECT_EQ(ProgramData(0xF000, 1, b), kFuseBlown);
    ReleaseTarget();
    ReleaseCom();
    EXPECT_TRUE(SavedUnit().FuseBlown());
    ASSERT_EQ(Open(), kOk);
    std::string name = "MSP430F112";
    ASSERT_EQ(SetDeviceType(S(name)), kOk);
    ASSERT_EQ(SetVcc(3300), kOk);
    EXPECT_EQ(InitTarget(S(name)), kFuseBlown);
}

TEST_F(Api, AutoFeedReplacesAUnitThatPassed) {
    Ready();
    std::string path = Example("blink-f112.txt");
    ASSERT_EQ(ProgramFile(S(path), 0, 1, 0), kDone);
    ASSERT_EQ(VerifyFile(S(path), 0), kDone);
    unsigned char serial[2] = {0x01, 0x02};
    ASSERT_EQ(ProgramData(0x1000, 2, serial), kDone);
    ASSERT_EQ(VerifyData(0x1000, 2, serial), kDone);
    ASSERT_EQ(BlowFuse(), kOk);
    ASSERT_EQ(Reset(1), kFuseBlown);
    ReleaseTarget();
    ASSERT_EQ(SetVcc(0), kOk);
    ReleaseCom();
    const CUnit fresh = SavedUnit();
    EXPECT_TRUE(fresh.NonBlankSegments().empty());
    EXPECT_FALSE(fresh.FuseBlown());
    const auto previous = Store->LoadUnitFrom(Store->PreviousUnitPath(), Table);
    ASSERT_TRUE(previous.has_value());
    EXPECT_TRUE(previous->FuseBlown());
    EXPECT_EQ(previous->Read(0xF000), 0x31);
    EXPECT_EQ(previous->Read(0x1001), 0x02);

    // The tray keeps every unit that left, the newest last; a unit that
    // failed stays on the socket and adds nothing.
    unsigned char second[2] = {0x03, 0x04};
    for (bool pass : {true, false}) {
        Ready();
        ASSERT_EQ(ProgramFile(S(path), 0, 1, 0), kDone);
        ASSERT_EQ(VerifyFile(S(path), 0), kDone);
        ASSERT_EQ(ProgramData(0x1000, 2, second), kDone);
        if (!pass) {
            EXPECT_EQ(VerifyData(0x1000, 2, serial), kVerifyMismatch);
        }
        ReleaseCom();
    }
    const auto tray = Store->LoadTray();
    ASSERT_EQ(tray.size(), 2u);
    EXPECT_EQ(tray[0].Device, "MSP430F112");
    EXPECT_EQ(tray[0].MainCrc, previous->MainCrc());
    EXPECT_EQ(tray[0].Read(0x1000), 0x01);
    EXPECT_EQ(tray[0].Read(0x1001), 0x02);
    EXPECT_EQ(tray[0].Read(0x10FF), 0xFF);
    EXPECT_EQ(tray[1].Read(0x1000), 0x03);
    EXPECT_EQ(tray[1].Read(0xF000), 0xFF);  // main flash is not logged, only its CRC
    ASSERT_EQ(tray[0].Info.size(), 1u);
    EXPECT_EQ(tray[0].Info[0].second.size(), 256u);
    // A torn or hand-damaged line is skipped, the others still read.
    std::ofstream(Store->TrayPath(), std::ios::app) << "MSP430F112 main 1234";
    EXPECT_EQ(Store->LoadTray().size(), 2u);
    EXPECT_FALSE(ParseTrayEntry("MSP430F112 main 0000000G").has_value());
    EXPECT_FALSE(ParseTrayEntry("MSP430F112 main 00000000 info 0x01000 ABC").has_value());
}

TEST_F(Api, AutoFeedKeepsAUnitThatFailedAfterVerify) {
    Ready();
    std::string path = Example("blink-f112.txt");
    ASSERT_EQ(ProgramFile(S(path), 0, 1, 0), kDone);
    ASSERT_EQ(VerifyFile(S(path), 0), kDone);
    unsigned char serial[2] = {0x01, 0x02};
    ASSERT_EQ(VerifyData(0x1000, 2, serial), kVerifyMismatch);
    ReleaseCom();
    EXPECT_EQ(SavedUnit().Read(0xF000), 0x31);  // still on the socket
}

TEST_F(Api, CorruptStateFileMeansAFreshUnit) {
    fs::create_directories(Dir);
    std::ofstream(Store->UnitPath()) << "velk430-unit 1\ndevice MSP430F112\nfuse blown\nend 00000000\n";
    Ready();
    ReleaseCom();
    EXPECT_FALSE(SavedUnit().FuseBlown());
}

// State files the unit cannot be read from or kept in: the port does not
// open (at once: a pipe without a writer must not hold the call), and
// nothing is read from a device or an oversized file.
TEST_F(Api, UnusableStateFilesRefuseTheOpen) {
    struct CRow {
        const char* Name;
        const char* File;  // "unit" or "settings"
        void (*Make)(const fs::path&);
    };
    const CRow rows[] = {
        {"fifo unit", "unit", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
        {"fifo settings", "settings", [](const fs::path& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
        {"unit links to /dev/zero", "unit", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
        {"unit is a folder", "unit", [](const fs::path& p) { fs::create_directories(p); }},
        {"unit over 8 MiB", "unit",
         [](const fs::path& p) {
             std::ofstream(p).flush();
             fs::resize_file(p, (8u << 20) + 1);
         }},
    };
    for (const CRow& row : rows) {
        fs::remove_all(Dir);
        fs::create_directories(Dir);
        if (std::string(row.File) == "unit") {
            ASSERT_TRUE(Store->SaveSettings(CSimSettings{}));
        }
        row.Make(Dir / row.File);
        EXPECT_EQ(Open(), kStateFile) << row.Name;
        EXPECT_EQ(ReleaseCom(), kNotOpen) << row.Name;
    }
}

TEST_F(Api, AUnitThatCannotBeKeptFailsTheOpenNotTheBatch) {
    PutUnit("MSP430F112");
    {
        const CFileSizeLimit full(16);
        ASSERT_TRUE(full.Active());
        EXPECT_EQ(Open(), kStateFile);
    }
    // Space again: the open works; a save that fails at the release says so.
    ASSERT_EQ(Open(), kOk);
    const CFileSizeLimit full(16);
    EXPECT_EQ(ReleaseCom(), kStateFile);
}

// Two programs on one simulated programmer: the second finds the port busy
// until the first lets go (CProgrammer objects stand for the two processes:
// the lock belongs to each one's own open file).
TEST_F(Api, OneProgramAtATimeHoldsTheProgrammer) {
    CProgrammer first, second;
    const char* port = "COM1";
    ASSERT_EQ(first.InitCom(port, 9600), kOk);
    EXPECT_EQ(second.InitCom(port, 9600), kPortBusy);
    EXPECT_EQ(Open(), kPortBusy);
    EXPECT_EQ(first.ReleaseCom(), kOk);
    EXPECT_EQ(second.InitCom(port, 9600), kOk);
    EXPECT_EQ(second.ReleaseCom(), kOk);
}

// Programmers on several ports of one state directory: each its own unit,
// failures, feed and lock; a port with no programmer answers -4.
TEST_F(Api, EachPortHasItsOwnProgrammer) {
    const CSimStore com2(Dir.string(), 2);
    ASSERT_TRUE(com2.SaveUnit(CUnit(*Table.Find("MSP430F149"))));
    ASSERT_TRUE(com2.InjectFault("Erase", -5, 1));
    CProgrammer first, second, third;
    ASSERT_EQ(first.InitCom("COM1", 9600), kOk);
    ASSERT_EQ(second.InitCom("com2", 9600), kOk);
    EXPECT_EQ(third.InitCom("COM2", 9600), kPortBusy);
    EXPECT_EQ(third.InitCom("COM3", 9600), kNoProgrammer);
    for (CProgrammer* p : {&first, &second}) {
        ASSERT_EQ(p->SetDeviceType("MSP430F149"), kOk);
        ASSERT_EQ(p->SetVcc(3300), kOk);
    }
    EXPECT_EQ(first.InitTarget("MSP430F149"), kWrongDevice);  // COM1 still holds the default F112
    ASSERT_EQ(second.InitTarget("MSP430F149"), kOk);
    EXPECT_EQ(second.Erase(0x1000, 128, 1), -5);  // COM2's failure, taken once
    EXPECT_EQ(second.Erase(0x1000, 128, 1), kOk);
    const std::string file = Example("fill-f149.txt");
    ASSERT_EQ(second.ProgramFile(file.c_str(), 0, 1, 0), kDone);
    ASSERT_EQ(second.VerifyFile(file.c_str(), 0), kDone);
    EXPECT_EQ(first.ReleaseCom(), kOk);
    EXPECT_EQ(second.ReleaseCom(), kOk);
    // The unit that passed went to COM2's tray; COM1's stayed empty.
    EXPECT_EQ(com2.LoadTray().size(), 1u);
    EXPECT_TRUE(Store->LoadTray().empty());
    EXPECT_TRUE(Store->LoadSettings().Faults.empty());
    // "port none" takes a programmer off its port; COM1's name may move.
    CSimSettings off = com2.LoadSettings();
    off.Port = "none";
    ASSERT_TRUE(com2.SaveSettings(off));
    EXPECT_EQ(third.InitCom("COM2", 9600), kNoProgrammer);
    EXPECT_EQ(third.InitCom("none", 9600), kNoProgrammer);
    CSimSettings moved;
    moved.Port = "COM3";
    ASSERT_TRUE(Store->SaveSettings(moved));
    EXPECT_EQ(third.InitCom("COM1", 9600), kNoProgrammer);
    ASSERT_EQ(third.InitCom("COM3", 9600), kOk);
    ASSERT_NE(third.Unit(), nullptr);
    EXPECT_EQ(third.Unit()->Device().Name, "MSP430F112");
    EXPECT_EQ(third.ReleaseCom(), kOk);
}

TEST_F(Api, NotificationsRiseFrom50To100) {
    CRecorder window;
    Ready();
    SetNotificationWnd(&window, VELK_NOTIFY_MESSAGE);
    std::string path = Example("blink-f112.txt");
    ASSERT_EQ(ProgramFile(S(path), 0, 1, 0), kDone);
    ASSERT_EQ(VerifyFile(S(path), 0), kDone);
    unsigned char b[2] = {1, 2};
    ASSERT_EQ(ProgramData(0x1000, 2, b), kDone);
    ASSERT_EQ(Erase(0x1000, 128, 1), kOk);
    ASSERT_EQ(BlowFuse(), kOk);
    for (uint32_t type : {11u, 17u, 19u, 21u}) {
        const auto& v = window.Seen[type];
        ASSERT_GE(v.size(), 2u) << type;
        EXPECT_EQ(v.front(), 50) << type;
        EXPECT_EQ(v.back(), 100) << type;
        // Each operation starts again at 50 and only rises until it ends.
        for (size_t i = 1; i < v.size(); ++i)
            EXPECT_TRUE(v[i] > v[i - 1] || (v[i] == 50 && v[i - 1] == 100)) << type << " at " << i;
    }
    EXPECT_FALSE(window.Seen[kNotifyBusy].empty());  // a type the station ignores
    SetNotificationWnd(nullptr, VELK_NOTIFY_MESSAGE);
    const size_t before = window.Seen[21].size();
    ASSERT_EQ(SetVcc(0), kOk);
    ReleaseCom();
    EXPECT_EQ(window.Seen[21].size(), before);
}

// A window that calls back into the library while it is being notified.
struct CMeddler : VelkNotifyWindow {
    CMeddler() { Deliver = &CMeddler::Receive; }
    static void Receive(VelkNotifyWindow* self, uint32_t, uintptr_t, intptr_t) {
        auto* m = static_cast<CMeddler*>(self);
        m->Results.push_back(ReleaseCom());
        m->Results.push_back(SetNotificationWnd(nullptr, 0));
    }
    std::vector<int32_t> Results;
};

TEST_F(Api, CallsFromInsideANotificationAreRefused) {
    CMeddler window;
    Ready();
    SetNotificationWnd(&window, VELK_NOTIFY_MESSAGE);
    std::string path = Example("blink-f112.txt");
    EXPECT_EQ(ProgramFile(S(path), 0, 1, 0), kDone);
    ASSERT_FALSE(window.Results.empty());
    for (int32_t r : window.Results) EXPECT_EQ(r, kBusy);
    EXPECT_EQ(VerifyFile(S(path), 0), kDone);
}

TEST_F(Api, InjectedEraseFailuresAreTakenInOrder) {
    ASSERT_TRUE(Store->InjectFault("Erase", -5, 2));
    Ready();
    EXPECT_EQ(Erase(0x1000, 128, 1), -5);
    EXPECT_EQ(Erase(0x1000, 128, 1), -5);
    EXPECT_EQ(Erase(0x1000, 128, 1), kOk);
    // A failure added while the port is open is seen at the next call.
    ASSERT_TRUE(Store->InjectFault("VerifyData", -77, 1));
    unsigned char b[1] = {0xFF};
    EXPECT_EQ(VerifyData(0xF000, 1, b), -77);
    EXPECT_EQ(VerifyData(0xF000, 1, b), kDone);
    ReleaseCom();
    ASSERT_TRUE(Store->InjectFault("InitCom", -30, 1));
    EXPECT_EQ(Open(), -30);
    EXPECT_EQ(Open(), kOk);
}

// The timing model, in-process: what the link would take, whether slept or not.
TEST(Programmer, ModelledTimeFollowsBytesAndErases) {
    const auto dir = fs::path(::testing::TempDir()) / "velk430-model";
    fs::remove_all(dir);
    setenv("VELK430_SIM_DIR", dir.c_str(), 1);
    setenv("VELK430_SIM_TIMING", "fast", 1);
    CProgrammer p;
    std::string port = "COM1", name = "MSP430F112";
    ASSERT_EQ(p.InitCom(port.c_str(), 9600), kOk);
    ASSERT_EQ(p.SetDeviceType(name.c_str()), kOk);
    ASSERT_EQ(p.SetVcc(3300), kOk);
    ASSERT_EQ(p.InitTarget(name.c_str()), kOk);
    const double before = p.ModelledSeconds();
    unsigned char b[16] = {};
    ASSERT_EQ(p.ProgramData(0xF000, 16, b), kDone);
    EXPECT_NEAR(p.ModelledSeconds() - before, (8 + 16) * 10.0 / 9600, 1e-9);
    const double beforeErase = p.ModelledSeconds();
    ASSERT_EQ(p.Erase(0xF000, 512, 1), kOk);
    EXPECT_NEAR(p.ModelledSeconds() - beforeErase, 8 * 10.0 / 9600 + 0.012, 1e-9);
    p.ReleaseCom();
    fs::remove_all(dir);
}

TEST(Programmer, DeviceQueriesNeedACurrentDevice) {
    CProgrammer p;
    char name[64];
    int32_t values[8];
    EXPECT_EQ(p.GetDeviceCfgInfo(3, 0, name), kNoCurrentDevice);
    EXPECT_EQ(p.GetDeviceCfgInfo(6, 0, nullptr), kNoCurrentDevice);
    EXPECT_EQ(p.GetDeviceCfgInfo(7, 0, values), kNoCurrentDevice);
    EXPECT_EQ(p.GetDeviceCfgInfo(10, 0, values), kNoCurrentDevice);
    ASSERT_EQ(p.GetDeviceCfgInfo(2, 0, nullptr), kOk);
    EXPECT_EQ(p.GetDeviceCfgInfo(3, 0, name), kOk);
}
