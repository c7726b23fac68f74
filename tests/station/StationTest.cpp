// The station core without a window: one unit's attempt against the fake
// library (the only way to fail a chosen call on demand) with a real
// production record and settings file in the test's own folder.
#include "Station.h"

#include "FakeVelk.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct CSilentView : CStationView {
    std::vector<std::string> Events;
    void AttemptStarted() override { Events.push_back("started"); }
    void AttemptPassed() override { Events.push_back("passed"); }
    void AttemptFailed() override { Events.push_back("failed"); }
    void Tell(const std::string& text) override { Events.push_back("tell: " + text); }
};

struct Row {
    const char* name;
    const char* failingCall;  // null: nothing fails
    bool stop;                // the stop flag is set before the batch
    const char* result;
    const char* step;
    uint32_t storedNext;      // the store's next serial number afterwards
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class StationTest : public ::testing::TestWithParam<Row> {};

TEST_P(StationTest, SettlesTheNumberAndRecordsTheOutcome)
{
    const Row& row = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CFakeVelk& fake = CFakeVelk::Instance();
    fake.Reset();
    for (const char* call : {"ProgramFile", "VerifyFile", "ProgramData", "VerifyData"})
        fake.SetDefault(call, -1);  // done
    if (row.failingCall)
        fake.SetDefault(row.failingCall, -25);
    CSilentView view;
    CStation station(view, nullptr, nullptr);
    station.SetSettingsFile(dir.filePath("Corvantis.conf").toStdString());
    station.RecordPath = dir.filePath("production.db");
    const std::atomic<bool> stop{row.stop};
    station.SetStopFlag(&stop);
    std::string message;
    ASSERT_TRUE(station.Load(station.OpenSettingsStore(), message)) << message;

    CStationSetup setup;
    setup.DeviceName = "MSP430F149";
    setup.DeviceNumber = 0;
    setup.FileName = "/srv/fw/unit.txt";
    setup.SerialType = 2;
    setup.SerialNumber = 100;
    const CUnitResult result = station.RunBatch(setup);

    EXPECT_EQ(result.Result, row.result);
    EXPECT_EQ(result.Step, row.step);
    EXPECT_EQ(station.OpenSettingsStore().GetProfileInt("Options", "SerialNumber", 0), row.storedNext);
    EXPECT_EQ(setup.SerialNumber, row.storedNext);
    EXPECT_EQ(fake.Count("ReleaseCom"), 1u);  // the port is released whatever happened
    const auto rows = station.RecordFile()->Select({});
    ASSERT_TRUE(rows && rows->size() == 1);
    EXPECT_EQ(rows->front().Result.toStdString(), row.result);
    EXPECT_EQ(rows->front().Step.toStdString(), row.step);
    EXPECT_EQ(view.Events.front(), "started");
    fake.Reset();
}

INSTANTIATE_TEST_SUITE_P(
    Batch, StationTest,
    ::testing::Values(Row{"Pass", nullptr, false, "passed", "", 101},
                      Row{"VerifyFails", "VerifyFile", false, "failed", "Verify", 100},
                      Row{"SerialVerifyFails", "VerifyData", false, "failed", "Serial verify", 101},
                      Row{"Stopped", nullptr, true, "interrupted", "Interrupted", 100}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
