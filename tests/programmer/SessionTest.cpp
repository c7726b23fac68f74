#include <cmath>
#include <limits>

#include "Recorders.h"

using testing::ElementsAre;

TEST_F(SessionTest, FreshSessionHasNoErrorAndCallsNothing)
{
    EXPECT_EQ(Error(), "No error");
    EXPECT_EQ(Session->DeviceNumber(), 0);
    Session.reset();
    EXPECT_TRUE(Fake.Calls().empty());
}

TEST_F(SessionTest, OpenRegistersTheWindowAfterInitCom)
{
    EXPECT_EQ(Session->Open("COM1", 57600), 1);
    EXPECT_THAT(Calls(), ElementsAre("InitCom(COM1, 57600)", "SetNotificationWnd(window, 1129)"));
    EXPECT_EQ(Fake.Window(), &Window);
    EXPECT_EQ(Status.Text, "Initializing VELK");
    EXPECT_EQ(Error(), "No error");
}

TEST_F(SessionTest, FailingOpenReportsPortBaudAndResult)
{
    Fake.Script("InitCom", {-7});
    EXPECT_EQ(Session->Open("COM1", 57600), 0);
    EXPECT_EQ(Error(), "Unable to open VELK on COM1 at 57600 (-7)");
    EXPECT_THAT(Status.Texts, ElementsAre("Initializing VELK", "Comm failed"));
    EXPECT_EQ(Fake.Count("SetNotificationWnd"), 0u);
}

TEST_F(SessionTest, CloseStopsNotificationsThenSupplyThenPort)
{
    ASSERT_EQ(Session->Open("COM2", 9600), 1);
    Fake.ClearLog();
    Session->Close();
    EXPECT_THAT(Calls(), ElementsAre("SetNotificationWnd(null, 1129)", "SetVcc(0)", "ReleaseCom()"));
    EXPECT_EQ(Fake.Window(), nullptr);
    EXPECT_EQ(Error(), "No error");
}

TEST_F(SessionTest, CloseReleasesThePortEvenWhenSupplyOffFails)
{
    ASSERT_EQ(Session->Open("COM2", 9600), 1);
    Fake.ClearLog();
    Fake.Script("SetVcc", {4});
    Session->Close();
    EXPECT_THAT(Calls(), ElementsAre("SetNotificationWnd(null, 1129)", "SetVcc(0)", "ReleaseCom()"));
    EXPECT_EQ(Error(), "Unable to set target VCC to 0.000000 volts (4)");
}

TEST_F(SessionTest, WrappersFormatTheirErrors)
{
    Fake.SetDefault("SetDeviceType", 3);
    Fake.SetDefault("InitTarget", -12);
    Fake.SetDefault("SetVcc", -9);
    Fake.SetDefault("ReleaseTarget", 77);

    EXPECT_EQ(Session->SelectDeviceType("MSP430F149"), 0);
    EXPECT_EQ(Error(), "Unable to set device type MSP430F149 (3)");
    EXPECT_EQ(Session->InitializeTarget("MSP430F1232"), 0);
    EXPECT_EQ(Error(), "Unable to initialize target MSP430F1232 (-12)");
    EXPECT_EQ(Session->SetTargetVcc(3300), 0);
    EXPECT_EQ(Error(), "Unable to set target VCC to 3.300000 volts (-9)");
    EXPECT_EQ(Session->SetTargetVcc(UINT32_MAX), 0);
    EXPECT_EQ(Error(), "Unable to set target VCC to 4294967.295000 volts (-9)");
    EXPECT_EQ(Session->FinishTarget(), 1);
    EXPECT_EQ(Error(), "Unable to set target VCC to 4294967.295000 volts (-9)");
    // Wrappers leave the controls alone.
    EXPECT_TRUE(Status.Texts.empty());
    EXPECT_TRUE(Progress.Positions.empty());
}

TEST_F(SessionTest, WrappersSucceedOnZero)
{
    EXPECT_EQ(Session->SelectDeviceType("MSP430F149"), 1);
    EXPECT_EQ(Session->InitializeTarget("MSP430F149"), 1);
    EXPECT_EQ(Session->SetTargetVcc(2800), 1);
    EXPECT_THAT(Calls(), ElementsAre("SetDeviceType(MSP430F149)", "InitTarget(MSP430F149)", "SetVcc(2800)"));
    EXPECT_EQ(Error(), "No error");
}

// Names are refused before the library sees them when they do not fit the
// buffers of 32, 128 and 1024 characters; the longest that fit pass whole.
TEST_F(SessionTest, OverlongNamesAreRefusedWithoutCallingTheLibrary)
{
    EXPECT_EQ(Session->Open(std::string(32, 'P'), 9600), 0);
    EXPECT_EQ(Error(), "Port name too long (32 characters)");
    EXPECT_EQ(Status.Text, "Comm failed");
    EXPECT_EQ(Session->SelectDeviceType(std::string(128, 'D')), 0);
    EXPECT_EQ(Error(), "Device name too long (128 characters)");
    EXPECT_EQ(Session->InitializeTarget(std::string(500, 'D')), 0);
    EXPECT_EQ(Error(), "Device name too long (500 characters)");
    EXPECT_EQ(Session->ProgramAndVerifyFile(std::string(1024, 'F'), 1), 0);
    EXPECT_EQ(Error(), "File name too long (1024 characters)");
    EXPECT_TRUE(Fake.Calls().empty());

    EXPECT_EQ(Session->Open(std::string(31, 'P'), 9600), 1);
    EXPECT_EQ(Session->SelectDeviceType(std::string(127, 'D')), 1);
    EXPECT_EQ(Session->ProgramAndVerifyFile(std::string(1023, 'F'), 1), 1);
    EXPECT_EQ(Fake.CallsTo("InitCom").at(0).Text, std::string(31, 'P'));
    EXPECT_EQ(Fake.CallsTo("SetDeviceType").at(0).Text, std::string(127, 'D'));
    EXPECT_EQ(Fake.CallsTo("VerifyFile").at(0).Text, std::string(1023, 'F'));
}

// The library would read such a name only up to the NUL, so another file
// than the one the operator chose would be programmed.
TEST_F(SessionTest, NamesWithANulInsideAreRefused)
{
    using namespace std::string_literals;
    EXPECT_EQ(Session->Open("COM1\0COM2"s, 9600), 0);
    EXPECT_EQ(Error(), "Port name contains a NUL character");
    EXPECT_EQ(Session->SelectDeviceType("MSP430F149\0X"s), 0);
    EXPECT_EQ(Error(), "Device name contains a NUL character");
    EXPECT_EQ(Session->ProgramAndVerifyFile("good.txt\0.bad"s, 1), 0);
    EXPECT_EQ(Error(), "File name contains a NUL character");
    EXPECT_TRUE(Fake.Calls().empty());
}

TEST_F(SessionTest, OverlongNamesTakeTheProceduresFailurePaths)
{
    CSerialNumber record = MakeRecord(2);
    EXPECT_EQ(Session->BatchProgram(std::string(200, 'D'), 0, 3.3, "fw.txt", 1, 1, &record), 0);
    EXPECT_EQ(Status.Text, "Could not set device type");
    EXPECT_EQ(Progress.Pos, 0);
    EXPECT_EQ(Error(), "Device name too long (200 characters)");
    EXPECT_EQ(Fake.Count("SetDeviceType"), 0u);

    Fake.ClearLog();
    EXPECT_EQ(Session->BatchProgram("MSP430F149", 0, 3.3, std::string(2000, 'F'), 1, 0, &record), 0);
    EXPECT_EQ(Status.Text, "Batch program failed");
    EXPECT_EQ(Error(), "File name too long (2000 characters)");
    EXPECT_THAT(Calls(), ElementsAre("SetDeviceType(MSP430F149)", "SetVcc(3300)", "InitTarget(MSP430F149)",
                                     "ReleaseTarget()", "SetVcc(0)"));

    Fake.ClearLog();
    int32_t blown = 5;
    EXPECT_EQ(Session->CheckFuse(std::string(128, 'D'), 3.3, blown), 0);
    EXPECT_EQ(blown, 0);
    EXPECT_EQ(Status.Text, "Unable to set device type");
    EXPECT_TRUE(Fake.Calls().empty());
}

struct NotificationCase {
    uint32_t Type;
    int32_t Value;
    bool Moves;
    int32_t Position;
};

TEST_F(SessionTest, NotificationsMapToBarPositions)
{
    const NotificationCase cases[] = {
        {11, 75, true, 500},  {17, 50, true, 0},     {19, 100, true, 1000}, {21, 0, true, -1000},
        {11, 60, true, 200},  {12, 75, false, 0},    {13, 75, false, 0},    {14, 75, false, 0},
        {15, 75, false, 0},   {16, 75, false, 0},    {18, 75, false, 0},    {20, 75, false, 0},
        {10, 75, false, 0},   {22, 75, false, 0},    {0, 75, false, 0},     {UINT32_MAX, 75, false, 0},
        // 32-bit wrap-around instead of overflow.
        {11, INT32_MAX, true, static_cast<int32_t>(0xFFFFFFECu - 1000u + 0u)},
        {11, INT32_MIN, true, -1000},
        {17, 107374233, true, static_cast<int32_t>(20u * 107374233u - 1000u)},
        {17, -107374233, true, static_cast<int32_t>(0u - 20u * 107374233u - 1000u)},
    };
    for (const auto& c : cases) {
        Progress.Positions.clear();
        Progress.Pos = 12345;
        EXPECT_EQ(Session->OnNotification(c.Type, c.Value), 0);
        if (c.Moves) {
            EXPECT_THAT(Progress.Positions, ElementsAre(c.Position)) << c.Type << " " << c.Value;
        } else {
            EXPECT_TRUE(Progress.Positions.empty()) << c.Type;
        }
    }
    // INT32_MAX * 20 wraps to -20; minus 1000 is -1020.
    Session->OnNotification(11, INT32_MAX);
    EXPECT_EQ(Progress.Pos, -1020);
}

TEST_F(SessionTest, NotificationsArriveThroughTheRegisteredWindow)
{
    ASSERT_EQ(Session->Open("COM1", 57600), 1);
    Fake.Notify(11, 75);
    EXPECT_EQ(Window.LastMessage, VELK_NOTIFY_MESSAGE);
    EXPECT_EQ(Progress.Pos, 500);
    Session->Close();
    Fake.Notify(11, 100);   // no window registered any more
    EXPECT_EQ(Progress.Pos, 500);
}

TEST_F(SessionTest, ProgressStepsCountFromOne)
{
    Session->BeginProgress(1000);
    EXPECT_EQ(Progress.Low, 0);
    EXPECT_EQ(Progress.High, 1000);
    EXPECT_EQ(Progress.Pos, 0);
    EXPECT_EQ(Session->SetProgress(40), 0);
    EXPECT_EQ(Session->SetProgress(7), 40);
    EXPECT_THAT(Events, ElementsAre("range: 0..1000", "bar: 0", "bar: 40", "bar: 7"));
}

TEST_F(SessionTest, WithoutControlsProgressAndStatusAreDropped)
{
    CVELK bare(nullptr, VELK_NOTIFY_MESSAGE, nullptr, nullptr);
    bare.BeginProgress(1000);
    EXPECT_EQ(bare.SetProgress(500), 0);
    bare.SetStatusText("anything");
    EXPECT_EQ(bare.OnNotification(11, 75), 0);
    // A whole run still works and reports through its result and error text.
    CSerialNumber record = MakeRecord(2);
    EXPECT_EQ(bare.BatchProgram("MSP430F149", 0, 3.3, "fw.txt", 1, 0, &record), 1);
    int32_t blown = 0;
    EXPECT_EQ(bare.CheckFuse("MSP430F149", 3.3, blown), 1);
    EXPECT_EQ(Fake.Count("Reset"), 1u);
    EXPECT_EQ(Fake.Count("InitTarget"), 2u);
    EXPECT_TRUE(Status.Texts.empty());
    EXPECT_TRUE(Progress.Positions.empty());
}

TEST_F(SessionTest, CriticalErrorGoesThroughTheHookAndStays)
{
    Session->CriticalError("Something odd", "Operation");
    ASSERT_EQ(Critical.size(), 1u);
    EXPECT_EQ(Critical[0].first, "CVELK Critical Error");
    EXPECT_EQ(Critical[0].second, "Something odd in CVELK::Operation()\n\nContact program vendor\n");
    EXPECT_EQ(Error(), Critical[0].second);
}

TEST_F(SessionTest, CriticalErrorWithoutHookWritesToStandardError)
{
    SetCriticalErrorHook(nullptr);
    testing::internal::CaptureStderr();
    Session->CriticalError("Bad", "Op");
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("CVELK Critical Error"), std::string::npos);
    EXPECT_NE(out.find("Bad in CVELK::Op()"), std::string::npos);
}

TEST(VoltsToMillivolts, KeepsDecimalVoltagesExact)
{
    EXPECT_EQ(CVELK::VoltsToMillivolts(3.3), 3300u);
    EXPECT_EQ(CVELK::VoltsToMillivolts(2.8), 2800u);
    EXPECT_EQ(CVELK::VoltsToMillivolts(1.8), 1800u);
    EXPECT_EQ(CVELK::VoltsToMillivolts(5.0), 5000u);
    EXPECT_EQ(CVELK::VoltsToMillivolts(3.6), 3600u);
    EXPECT_EQ(CVELK::VoltsToMillivolts(0.0), 0u);
    EXPECT_EQ(CVELK::VoltsToMillivolts(-0.0), 0u);
    EXPECT_EQ(CVELK::VoltsToMillivolts(0.0009), 0u);      // truncated toward zero
    EXPECT_EQ(CVELK::VoltsToMillivolts(-0.0009), 0u);
    EXPECT_EQ(CVELK::VoltsToMillivolts(3.3009), 3300u);
    EXPECT_EQ(CVELK::VoltsToMillivolts(4294967.295), 4294967295u);
    // Every tenth of a volt the console can show comes out exact.
    for (int tenths = 0; tenths <= 100; ++tenths)
        EXPECT_EQ(CVELK::VoltsToMillivolts(tenths / 10.0), static_cast<uint32_t>(tenths * 100)) << tenths;
}

TEST(VoltsToMillivolts, AbsurdSuppliesBecomeTheLargestValue)
{
    const double absurd[] = {
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        -0.001, -3.3, -1e300, 4294967.296, 1e10, std::numeric_limits<double>::max(),
        -std::numeric_limits<double>::max()};
    for (double volts : absurd) EXPECT_EQ(CVELK::VoltsToMillivolts(volts), UINT32_MAX) << volts;
}

TEST_F(SessionTest, AbsurdSupplyReachesTheLibraryWhichRefusesIt)
{
    Fake.SetOverride([](const CFakeCall& call, size_t) -> std::optional<int32_t> {
        if (call.Function == "SetVcc" && call.Args.at(0) > 5000) return 22;
        return std::nullopt;
    });
    CSerialNumber record = MakeRecord(2);
    EXPECT_EQ(Session->BatchProgram("MSP430F149", 0, std::nan(""), "fw.txt", 0, 0, &record), 0);
    EXPECT_EQ(Status.Text, "Could not set VCC");
    EXPECT_EQ(Error(), "Unable to set target VCC to 4294967.295000 volts (22)");
    EXPECT_EQ(Fake.Count("InitTarget"), 0u);
}
