#include <algorithm>
#include <functional>

#include "Recorders.h"

using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

const char* const Device = "MSP430F149";

// One device with two one-segment information-flash regions.
std::vector<CFakeDevice> TwoInfoSegments()
{
    return {CFakeDevice(Device, 3000, {{3, 0x1000, 128, 1}, {3, 0x1080, 128, 1}})};
}

}  // namespace

class BatchProgramTest : public SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        Fake.Devices(TwoInfoSegments());
    }
    int Run(int32_t blowFuse = 1, int32_t eraseFlash = 1, int32_t serialType = 2)
    {
        Record = MakeRecord(serialType, 0xABCD);
        return Session->BatchProgram(Device, 0, 3.3, "fw.txt", blowFuse, eraseFlash, &Record);
    }
    // The events that follow the last occurrence of a call.
    Timeline After(const std::string& call) const
    {
        const std::string entry = "call: " + call;
        for (size_t i = Events.size(); i-- > 0;)
            if (Events[i] == entry) return Timeline(Events.begin() + static_cast<long>(i) + 1, Events.end());
        ADD_FAILURE() << "no call " << call;
        return {};
    }
    std::vector<int32_t> Bars() const
    {
        return Progress.Positions;
    }
    CSerialNumber Record;
};

TEST_F(BatchProgramTest, FullRunFollowsTheProgressTable)
{
    ASSERT_EQ(Session->Open("COM1", 57600), 1);   // registers the window
    Events.clear();
    Fake.NotifyDuring("ProgramFile", {{17, 75}, {12, 90}});
    EXPECT_EQ(Run(), 1);
    EXPECT_THAT(Events, ElementsAreArray(std::vector<std::string>{
        "range: 0..1000", "bar: 0",
        "status: Executing batch programming",
        "bar: 1", "call: SetDeviceType(MSP430F149)",
        "bar: 2", "status: Setting VCC", "call: SetVcc(3300)",
        "bar: 3", "status: Initializing target", "call: InitTarget(MSP430F149)",
        "bar: 50", "status: Preparing flash erase",
        "call: GetDeviceCfgInfo(2, 0)", "call: GetDeviceCfgInfo(6, 0)",
        "call: GetDeviceCfgInfo(7, 0)", "bar: 60", "call: GetDeviceCfgInfo(7, 1)", "bar: 70",
        "bar: 100", "status: Erasing flash",
        "call: GetDeviceCfgInfo(7, 0)", "status: Erasing info flash",
        "call: Erase(0x1000, 128, 1)", "bar: 550",
        "call: GetDeviceCfgInfo(7, 1)", "status: Erasing info flash",
        "call: Erase(0x1080, 128, 1)", "bar: 1000",
        "status: Flash erased",
        "bar: 4", "status: Programming file", "call: ProgramFile(fw.txt, 0, 1, 0)",
        "bar: 500",   // the library's notification; type 12 moves nothing
        "bar: 5", "status: Verifying file", "call: VerifyFile(fw.txt, 0)",
        "bar: 6", "status: Programming serial number", "call: ProgramData(0x1000, 2, [CD AB])",
        "bar: 7", "status: Checking serial number", "call: VerifyData(0x1000, 2, [CD AB])",
        "bar: 8", "status: Blowing fuse", "call: BlowFuse()",
        "bar: 9", "status: Checking fuse", "call: Reset(1)",
        "bar: 10", "status: Releasing target", "call: ReleaseTarget()",
        "bar: 0", "status: Batch executed successfully", "call: SetVcc(0)"}));
    EXPECT_EQ(Error(), "No error");
    EXPECT_EQ(Session->DeviceNumber(), 0);
    EXPECT_TRUE(Session->SerialNumberSent());
}

TEST_F(BatchProgramTest, SkippedStepsMoveLaterPositionsDown)
{
    struct Case {
        int32_t Fuse, Erase, Type;
        std::vector<int32_t> Steps;   // positions of the step moments after bar 3
    };
    const Case cases[] = {
        {0, 0, 0, {4, 5, 6}},                 // program, verify, release
        {1, 0, 0, {4, 5, 6, 7, 8}},           // fuse moves down by two
        {0, 0, 1, {4, 5, 6, 7, 8}},
        {0, 1, 2, {4, 5, 6, 7, 8}},           // the erase takes no step
        {1, 0, 3, {4, 5, 6, 7, 8, 9, 10}},
    };
    for (const Case& c : cases) {
        Progress.Positions.clear();
        Fake.ClearLog();
        ASSERT_EQ(Run(c.Fuse, c.Erase, c.Type), 1);
        std::vector<int32_t> expected = {0, 1, 2, 3};
        if (c.Erase == 1) expected.insert(expected.end(), {50, 60, 70, 100, 550, 1000});
        expected.insert(expected.end(), c.Steps.begin(), c.Steps.end());
        expected.push_back(0);
        EXPECT_EQ(Bars(), expected) << c.Fuse << c.Erase << c.Type;
        EXPECT_EQ(Fake.Count("ProgramData"), c.Type == 0 ? 0u : 1u);
        EXPECT_EQ(Fake.Count("Reset"), c.Fuse == 1 ? 1u : 0u);
    }
}

TEST_F(BatchProgramTest, OnlyFlagOneTurnsEraseAndFuseOn)
{
    for (int32_t flag : {0, 2, -1, INT32_MIN, INT32_MAX}) {
        Fake.ClearLog();
        EXPECT_EQ(Run(flag, flag), 1);
        EXPECT_EQ(Fake.Count("GetDeviceCfgInfo"), 0u) << flag;
        EXPECT_EQ(Fake.Count("Erase"), 0u) << flag;
        EXPECT_EQ(Fake.Count("BlowFuse"), 0u) << flag;
        EXPECT_EQ(Fake.Count("Reset"), 0u) << flag;
    }
}

TEST_F(BatchProgramTest, NoSerialWidthWritesNothingSilently)
{
    EXPECT_EQ(Run(0, 0, 0), 1);
    EXPECT_THAT(Calls(), ElementsAre("SetDeviceType(MSP430F149)", "SetVcc(3300)", "InitTarget(MSP430F149)",
                                     "ProgramFile(fw.txt, 0, 1, 0)", "VerifyFile(fw.txt, 0)",
                                     "ReleaseTarget()", "SetVcc(0)"));
    EXPECT_EQ(std::count(Status.Texts.begin(), Status.Texts.end(), "Programming serial number"), 0);
    EXPECT_FALSE(Session->SerialNumberSent());
}

TEST_F(BatchProgramTest, SerialBytesAndAddressReachTheLibraryUnchanged)
{
    Record = MakeRecord(3, 0x12345678u, "21f");
    ASSERT_EQ(Session->BatchProgram(Device, 0, 2.8, "a b.txt", 0, 0, &Record), 1);
    EXPECT_EQ(Fake.CallsTo("SetVcc").at(0).Args.at(0), 2800);
    EXPECT_EQ(Fake.CallsTo("ProgramData").at(0).ToString(), "ProgramData(0x21F, 4, [78 56 34 12])");
    EXPECT_EQ(Fake.CallsTo("VerifyData").at(0).ToString(), "VerifyData(0x21F, 4, [78 56 34 12])");
}

TEST_F(BatchProgramTest, MissingRecordIsACriticalErrorOnly)
{
    EXPECT_EQ(Session->BatchProgram(Device, 4, 3.3, "fw.txt", 1, 1, nullptr), 0);
    ASSERT_EQ(Critical.size(), 1u);
    EXPECT_EQ(Critical[0].first, "CVELK Critical Error");
    EXPECT_EQ(Critical[0].second,
              "NULL Serial Number Instance in CVELK::BatchProgram()\n\nContact program vendor\n");
    EXPECT_EQ(Error(), Critical[0].second);
    EXPECT_TRUE(Events.empty());
    EXPECT_EQ(Session->DeviceNumber(), 0);
}

TEST_F(BatchProgramTest, SuccessWithFailingSupplyOffStillSucceeds)
{
    Fake.Script("SetVcc", {0, 6});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Status.Text, "Batch executed successfully");
    EXPECT_EQ(Error(), "Unable to set target VCC to 0.000000 volts (6)");
}

// ---- every row of the failure table --------------------------------------

struct FailureRow {
    const char* Name;
    std::function<void(CFakeVelk&)> Arrange;
    std::string FailingCall;          // its last occurrence is the failure
    std::string Status;
    std::string Error;
    Timeline Undo;                    // everything after the failing call
    bool Sent = false;                // the serial number may have reached the unit
};

void PrintTo(const FailureRow& row, std::ostream* out)
{
    *out << row.Name;
}

static Timeline ReleasePath(const char* status)
{
    return {"call: ReleaseTarget()", "bar: 0", std::string("status: ") + status, "call: SetVcc(0)"};
}

class BatchFailure : public BatchProgramTest, public testing::WithParamInterface<FailureRow> {};

TEST_P(BatchFailure, LeavesStatusErrorAndUndoInOrder)
{
    const FailureRow& row = GetParam();
    row.Arrange(Fake);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Status.Text, row.Status);
    EXPECT_EQ(Error(), row.Error);
    EXPECT_EQ(Progress.Pos, 0);
    EXPECT_THAT(After(row.FailingCall), ElementsAreArray(row.Undo));
    EXPECT_TRUE(Critical.empty());
    EXPECT_EQ(Session->SerialNumberSent(), row.Sent);
}

INSTANTIATE_TEST_SUITE_P(Rows, BatchFailure, testing::Values(
    FailureRow{"DeviceType", [](CFakeVelk& f) { f.Script("SetDeviceType", {3}); },
               "SetDeviceType(MSP430F149)", "Could not set device type",
               "Unable to set device type MSP430F149 (3)",
               {"status: Could not set device type", "bar: 0"}},
    FailureRow{"SupplyOn", [](CFakeVelk& f) { f.Script("SetVcc", {-5}); },
               "SetVcc(3300)", "Could not set VCC", "Unable to set target VCC to 3.300000 volts (-5)",
               {"status: Could not set VCC", "bar: 0"}},
    FailureRow{"InitTarget", [](CFakeVelk& f) { f.Script("InitTarget", {-12}); },
               "InitTarget(MSP430F149)", "Could not initialize target",
               "Unable to initialize target MSP430F149 (-12)",
               {"status: Could not initialize target", "bar: 0", "call: SetVcc(0)"}},
    FailureRow{"InitTargetAndSupplyOff", [](CFakeVelk& f) { f.Script("InitTarget", {2}); f.Script("SetVcc", {0, 8}); },
               "InitTarget(MSP430F149)", "Could not initialize target",
               "Unable to set target VCC to 0.000000 volts (8)",
               {"status: Could not initialize target", "bar: 0", "call: SetVcc(0)"}},
    FailureRow{"EraseSelectDevice", [](CFakeVelk& f) { f.ScriptConfig(2, {-1}); },
               "GetDeviceCfgInfo(2, 0)", "Flash erase failed", "Could not read config file",
               ReleasePath("Flash erase failed")},
    FailureRow{"EraseFirstPassRegion", [](CFakeVelk& f) { f.ScriptConfig(7, {0, 4}); },
               "GetDeviceCfgInfo(7, 1)", "Flash erase failed", "Could not read config file",
               ReleasePath("Flash erase failed")},
    FailureRow{"EraseSecondPassRegion",
               [](CFakeVelk& f) {
                   int seen = 0;
                   f.SetOverride([seen](const CFakeCall& c, size_t) mutable -> std::optional<int32_t> {
                       if (c.Function == "GetDeviceCfgInfo" && c.Args[0] == 7 && ++seen == 3) return 1;
                       return std::nullopt;
                   });
               },
               "GetDeviceCfgInfo(7, 0)", "Flash erase failed", "Could not read config file",
               ReleasePath("Flash erase failed")},
    FailureRow{"EraseSegment", [](CFakeVelk& f) { f.Script("Erase", {0, 1, 2, 3}); },
               "Erase(0x1080, 128, 1)", "Flash erase failed", "Could not erase segment 1080",
               ReleasePath("Flash erase failed")},
    FailureRow{"Program", [](CFakeVelk& f) { f.Script("ProgramFile", {0}); },
               "ProgramFile(fw.txt, 0, 1, 0)", "Batch program failed", "Unable to program (0)",
               ReleasePath("Batch program failed")},
    FailureRow{"ProgramAndSupplyOff", [](CFakeVelk& f) { f.Script("ProgramFile", {-77}); f.Script("SetVcc", {0, 3}); },
               "ProgramFile(fw.txt, 0, 1, 0)", "Batch program failed",
               "Unable to set target VCC to 0.000000 volts (3)", ReleasePath("Batch program failed")},
    FailureRow{"Verify", [](CFakeVelk& f) { f.Script("VerifyFile", {-2}); },
               "VerifyFile(fw.txt, 0)", "Batch program failed", "Unable to verify (FFFFFFFE)",
               ReleasePath("Batch program failed")},
    FailureRow{"SerialWrite", [](CFakeVelk& f) { f.Script("ProgramData", {0x1A}); },
               "ProgramData(0x1000, 2, [CD AB])", "Serial number failed",
               "Unable to program serial number (001A)", ReleasePath("Serial number failed"), true},
    FailureRow{"SerialVerify", [](CFakeVelk& f) { f.Script("VerifyData", {0x12345}); },
               "VerifyData(0x1000, 2, [CD AB])", "Serial number failed",
               "Unable to verify serial number (12345)", ReleasePath("Serial number failed"), true},
    FailureRow{"Fuse", [](CFakeVelk& f) { f.Script("Reset", {0}); },
               "Reset(1)", "Fuse blow failed", "Fuse blow failed", ReleasePath("Fuse blow failed"), true}),
    [](const testing::TestParamInfo<FailureRow>& info) { return std::string(info.param.Name); });

// ---- information-flash erase ---------------------------------------------

class EraseTest : public BatchProgramTest {
protected:
    int Erase(std::vector<CFakeRegion> regions)
    {
        Fake.Devices({CFakeDevice("A"), CFakeDevice(Device, 3000, std::move(regions))});
        Session->BeginProgress(1000);
        Session->BatchProgram(Device, 1, 3.3, "fw.txt", 0, 0, &Record);   // stores device 1
        Progress.Positions.clear();
        Status.Texts.clear();
        Fake.ClearLog();
        return Session->EraseInfoFlash();
    }
};

TEST_F(EraseTest, SevenSegmentsStepBy128AndEndAt996)
{
    ASSERT_EQ(Erase({{3, 0x1000, 64, 4}, {1, 0x8000, 512, 10}, {3, 0x1100, 64, 3}}), 1);
    EXPECT_EQ(Bars(), (std::vector<int32_t>{50, 60, 70, 80, 100, 228, 356, 484, 612, 740, 868, 996}));
    EXPECT_EQ(Fake.CallsTo("GetDeviceCfgInfo").at(0).ToString(), "GetDeviceCfgInfo(2, 1)");
    std::vector<std::string> erased;
    for (const auto& c : Fake.CallsTo("Erase")) erased.push_back(c.ToString());
    EXPECT_THAT(erased, ElementsAre("Erase(0x1000, 64, 1)", "Erase(0x1040, 64, 1)", "Erase(0x1080, 64, 1)",
                                    "Erase(0x10C0, 64, 1)", "Erase(0x1100, 64, 1)", "Erase(0x1140, 64, 1)",
                                    "Erase(0x1180, 64, 1)"));
    EXPECT_THAT(Status.Texts, ElementsAre("Preparing flash erase", "Erasing flash", "Erasing info flash",
                                          "Erasing info flash", "Flash erased"));
}

TEST_F(EraseTest, NothingToEraseSucceedsQuietly)
{
    struct Case {
        const char* Name;
        std::vector<CFakeRegion> Regions;
        int32_t RegionCount;   // scripted selector 6 answer, or 0 for the table's
        std::vector<int32_t> Bars;
    };
    const Case cases[] = {
        {"no regions", {}, 0, {50}},
        {"negative region count", {{3, 0x1000, 64, 2}}, -3, {50}},
        {"no type-3 region", {{1, 0x1000, 64, 2}, {2, 0x1100, 64, 2}}, 0, {50, 60, 70}},
        {"empty type-3 regions", {{3, 0x1000, 64, 0}, {3, 0x1100, 64, 0}}, 0, {50, 60, 70}},
        {"negative segment counts", {{3, 0x1000, 64, -5}, {3, 0x1100, 64, INT32_MIN}}, 0, {50, 60, 70}},
    };
    for (const Case& c : cases) {
        if (c.RegionCount < 0) Fake.ScriptConfig(6, {c.RegionCount});
        EXPECT_EQ(Erase(c.Regions), 1) << c.Name;
        EXPECT_EQ(Bars(), c.Bars) << c.Name;
        EXPECT_THAT(Status.Texts, ElementsAre("Preparing flash erase")) << c.Name;
        EXPECT_EQ(Fake.Count("Erase"), 0u) << c.Name;
        EXPECT_EQ(Error(), "No error");
    }
}

TEST_F(EraseTest, NegativeSegmentCountErasesNothingBesideAGoodRegion)
{
    ASSERT_EQ(Erase({{3, 0x1000, 64, -1000}, {3, 0x1080, 128, 2}}), 1);
    EXPECT_EQ(Fake.Count("Erase"), 2u);
    EXPECT_EQ(Bars(), (std::vector<int32_t>{50, 60, 70, 100, 550, 1000}));
}

TEST_F(EraseTest, RetriesEachSegmentAtMostThreeTimes)
{
    Fake.Script("Erase", {7, 7, 0, 5, 0});
    ASSERT_EQ(Erase({{3, 0x1000, 128, 2}}), 1);
    std::vector<std::string> erased;
    for (const auto& c : Fake.CallsTo("Erase")) erased.push_back(c.ToString());
    EXPECT_THAT(erased, ElementsAre("Erase(0x1000, 128, 1)", "Erase(0x1000, 128, 1)", "Erase(0x1000, 128, 1)",
                                    "Erase(0x1080, 128, 1)", "Erase(0x1080, 128, 1)"));

    Fake.Script("Erase", {1, 1, 1});
    EXPECT_EQ(Erase({{3, 0x1080, 128, 2}}), 0);
    EXPECT_EQ(Fake.Count("Erase"), 3u);
    EXPECT_EQ(Error(), "Could not erase segment 1080");
    EXPECT_NE(Status.Texts.back(), "Flash erased");
}

TEST_F(EraseTest, ManySegmentsGiveStepZero)
{
    ASSERT_EQ(Erase({{3, 0x1000, 2, 901}}), 1);
    EXPECT_EQ(Fake.Count("Erase"), 901u);
    EXPECT_EQ(Progress.Pos, 100);
    EXPECT_EQ(Status.Texts.back(), "Flash erased");
}

TEST_F(EraseTest, HugeCountsAndAddressesStayWithin32Bits)
{
    // The total of these counts does not fit 32 bits; the third segment's
    // address would pass INT32_MAX. Nothing is erased: the layout is refused
    // while the segments are counted.
    EXPECT_EQ(Erase({{3, 0x7FFFFF00, 128, INT32_MAX}, {3, 0x1000, 128, INT32_MAX}}), 0);
    EXPECT_EQ(Fake.Count("Erase"), 0u);
    EXPECT_EQ(Error(), "Segment address out of range (2147483648)");
    EXPECT_EQ(Bars(), (std::vector<int32_t>{50, 60}));

    // A bad region after a good one stops before the good one is erased;
    // downward segments are bounded too.
    EXPECT_EQ(Erase({{3, 0x1000, 128, 2}, {3, INT32_MIN + 64, -64, 3}}), 0);
    EXPECT_EQ(Fake.Count("Erase"), 0u);
    EXPECT_EQ(Error(), "Segment address out of range (-2147483712)");
    EXPECT_EQ(Bars(), (std::vector<int32_t>{50, 60, 70}));

    // The last segment may end exactly at the top.
    EXPECT_EQ(Erase({{3, 0x7FFFFF00, 128, 2}}), 1);
    EXPECT_EQ(Fake.Count("Erase"), 2u);
}
