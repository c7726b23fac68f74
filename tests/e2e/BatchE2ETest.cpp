// CVELK::BatchProgram and CVELK::CheckFuse against libVELK430.so.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ScratchDir.h"
#include "Codes.h"
#include "ControlRecorders.h"
#include "SerialNumber.h"
#include "SimStore.h"
#include "TiTxt.h"
#include "VELK.h"

using namespace velk;
namespace fs = std::filesystem;

namespace {

class BatchE2E : public ::testing::Test {
protected:
    void SetUp() override {
        Window.OnlyMessage = VELK_NOTIFY_MESSAGE;  // the console's handler takes only this one
        Dir = Scratch / "sim";
        setenv("VELK430_SIM_DIR", Dir.c_str(), 1);
        setenv("VELK430_SIM_TIMING", "fast", 1);
        ASSERT_TRUE(LoadDefaultDeviceTable(Table));
        Store.emplace(Dir.string());
    }

    void Setup(const char* device, EFeed feed) {
        CSimSettings s;
        s.Feed = feed;
        ASSERT_TRUE(Store->SaveSettings(s));
        ASSERT_TRUE(Store->SaveUnit(CUnit(*Table.Find(device))));
    }

    // One Run Batch as the console does it: open, procedure, error text, close.
    int RunBatch(const std::string& device, const std::string& file, int32_t blow, int32_t erase,
                 CSerialNumber* record) {
        CVELK session(&Window, VELK_NOTIFY_MESSAGE, &Status, &Bar);
        Window.Session = &session;
        int result = session.Open("COM1", 115200);
        if (result) {
            result = session.BatchProgram(device, Table.IndexOf(device), 3.3, file, blow, erase, record);
            session.GetErrorText(Error);
            session.Close();
        } else {
            session.GetErrorText(Error);
        }
        Window.Session = nullptr;
        return result;
    }

    int RunCheckFuse(const std::string& device, int32_t& blown) {
        CVELK session(&Window, VELK_NOTIFY_MESSAGE, &Status, &Bar);
        Window.Session = &session;
        int result = session.Open("COM1", 115200);
        if (result) {
            result = session.CheckFuse(device, 3.3, blown);
            session.GetErrorText(Error);
            session.Close();
        }
        Window.Session = nullptr;
        return result;
    }

    CUnit Unit(const std::string& path = {}) {
        auto u = Store->LoadUnitFrom(path.empty() ? Store->UnitPath() : path, Table);
        EXPECT_TRUE(u.has_value());
        return u ? std::move(*u) : CUnit(*Table.Find(kDefaultDevice));
    }

    static CSerialNumber Serial(uint32_t value, int32_t type, const char* address) {
        CSerialNumber s;
        s.Value = value;
        s.Type = type;
        s.AddressText = address;
        EXPECT_EQ(s.Convert(), 1);
        return s;
    }

    static void ExpectImage(const CUnit& unit, const std::string& file) {
        const auto r = ReadTiTxtFile(file);
        ASSERT_TRUE(r.Ok());
        for (const auto& s : r.Image.Sections)
            EXPECT_TRUE(unit.Verify(s.Start, s.Bytes.data(), s.Bytes.size())) << std::hex << s.Start;
    }

    const std::string F149 = CORV_SOURCE_DIR "/examples/fill-f149.txt";
    const CScratchDir Scratch{"batch-e2e"};
    fs::path Dir;
    CDeviceTable Table;
    std::optional<CSimStore> Store;
    CSessionWindow Window;
    CStatusRecorder Status;
    CProgressRecorder Bar;
    std::string Error;
};

}  // namespace

TEST_F(BatchE2E, FirmwareAndSerialNumberLandInTheUnit) {
    Setup("MSP430F149", EFeed::Manual);
    CSerialNumber serial = Serial(0x12345678, 4, "1000");
    ASSERT_EQ(RunBatch("MSP430F149", F149, 0, 1, &serial), 1) << Error;
    EXPECT_EQ(Status.Texts.back(), "Batch executed successfully");
    const CUnit u = Unit();
    ExpectImage(u, F149);
    const uint8_t bytes[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_TRUE(u.Verify(0x1000, bytes, 4));
    EXPECT_FALSE(u.FuseBlown());
    // The library's notifications moved the bar between the session's own steps.
    EXPECT_NE(std::find(Bar.Positions.begin(), Bar.Positions.end(), 1000), Bar.Positions.end());
    EXPECT_NE(std::find(Bar.Positions.begin(), Bar.Positions.end(), 0), Bar.Positions.end());
    EXPECT_GT(Bar.Positions.size(), 20u);
}

TEST_F(BatchE2E, InjectedEraseFailuresAreRetried) {
    Setup("MSP430F149", EFeed::Manual);
    ASSERT_TRUE(Store->InjectFault("Erase", -5, 2));
    CSerialNumber serial = Serial(7, 1, "1080");
    ASSERT_EQ(RunBatch("MSP430F149", F149, 0, 1, &serial), 1) << Error;
    EXPECT_TRUE(Store->LoadSettings().Faults.empty());

    ASSERT_TRUE(Store->InjectFault("Erase", -5, 3));
    EXPECT_EQ(RunBatch("MSP430F149", F149, 0, 1, &serial), 0);
    EXPECT_EQ(Error, "Could not erase segment 1000");
    EXPECT_EQ(Status.Texts.back(), "Flash erase failed");
}

TEST_F(BatchE2E, BlownFuseIsReportedByCheckFuse) {
    Setup("MSP430F149", EFeed::Manual);
    int32_t blown = 7;
    ASSERT_EQ(RunCheckFuse("MSP430F149", blown), 1) << Error;
    EXPECT_EQ(blown, 0);
    CSerialNumber serial = Serial(1, 2, "1000");
    ASSERT_EQ(RunBatch("MSP430F149", F149, 1, 1, &serial), 1) << Error;
    ASSERT_EQ(RunCheckFuse("MSP430F149", blown), 1) << Error;
    EXPECT_EQ(blown, 1);
    EXPECT_EQ(Status.Texts.back(), "Fuse is blown");
    // A second batch on the same unit cannot reach it.
    EXPECT_EQ(RunBatch("MSP430F149", F149, 0, 1, &serial), 0);
    EXPECT_EQ(Error, "Unable to initialize target MSP430F149 (-12)");
}

TEST_F(BatchE2E, AutoFeedPutsABlankUnitOnTheSocket) {
    Setup("MSP430F149", EFeed::Auto);
    CSerialNumber serial = Serial(0xBEEF, 2, "1000");
    ASSERT_EQ(RunBatch("MSP430F149", F149, 1, 1, &serial), 1) << Error;
    ExpectImage(Unit(Store->PreviousUnitPath()), F149);
    EXPECT_TRUE(Unit(Store->PreviousUnitPath()).FuseBlown());
    EXPECT_TRUE(Unit().NonBlankSegments().empty());
    int32_t blown = 1;
    ASSERT_EQ(RunCheckFuse("MSP430F149", blown), 1);
    EXPECT_EQ(blown, 0);
}

TEST_F(BatchE2E, LibraryFailuresReachTheErrorText) {
    Setup("MSP430F112", EFeed::Manual);
    CSerialNumber serial = Serial(1, 1, "1000");
    EXPECT_EQ(RunBatch("MSP430F149", F149, 0, 1, &serial), 0);
    EXPECT_EQ(Error, "Unable to initialize target MSP430F149 (-13)");
    int32_t blown = 1;  // the wrong device tells nothing about the fuse
    EXPECT_EQ(RunCheckFuse("MSP430F149", blown), 0);
    EXPECT_EQ(blown, 0);
    EXPECT_EQ(Error, "Unable to initialize target MSP430F149 (-13)");
    EXPECT_EQ(Status.Texts.back(), "Unable to initialize target");
    EXPECT_EQ(RunBatch("MSP430F112", F149, 0, 1, &serial), 0);  // F149 image does not fit an F112
    EXPECT_EQ(Error, "Unable to program (-21)");
    EXPECT_EQ(RunBatch("MSP430F112", CORV_SOURCE_DIR "/examples/malformed.txt", 0, 1, &serial), 0);
    EXPECT_EQ(Error, "Unable to program (-19)");
    EXPECT_EQ(RunBatch("MSP430F112", CORV_SOURCE_DIR "/examples/blink-f112.txt", 0, 1, &serial), 1) << Error;
    // 0x0200 is RAM: the serial number cannot be written there.
    CSerialNumber ram = Serial(1, 2, "200");
    EXPECT_EQ(RunBatch("MSP430F112", CORV_SOURCE_DIR "/examples/blink-f112.txt", 0, 1, &ram), 0);
    EXPECT_EQ(Error, "Unable to program serial number (FFFFFFEF)");
}
