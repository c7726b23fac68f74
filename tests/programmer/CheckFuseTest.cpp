#include "Recorders.h"

using testing::ElementsAre;

class CheckFuseTest : public SessionTest {
protected:
    int Check(int32_t initial = 7)
    {
        Blown = initial;
        return Session->CheckFuse("MSP430F1232", 3.3, Blown);
    }
    int32_t Blown = 0;
};

TEST_F(CheckFuseTest, BlownFuseIsReportedAndTheTargetReleased)
{
    Fake.Script("InitTarget", {-12});
    EXPECT_EQ(Check(), 1);
    EXPECT_EQ(Blown, 1);
    EXPECT_EQ(Status.Text, "Fuse is blown");
    EXPECT_EQ(Error(), "No error");
    EXPECT_THAT(Events, ElementsAre(
        "range: 0..1000", "bar: 0", "status: Checking fuse",
        "bar: 251", "status: Setting device type", "call: SetDeviceType(MSP430F1232)",
        "bar: 501", "status: Setting VCC", "call: SetVcc(3300)",
        "bar: 751", "call: InitTarget(MSP430F1232)",
        "bar: 1001", "call: ReleaseTarget()",
        "status: Fuse is blown", "bar: 0"));
}

TEST_F(CheckFuseTest, InitResultZeroMeansNotBlown)
{
    EXPECT_EQ(Check(1), 1);
    EXPECT_EQ(Blown, 0);
    EXPECT_EQ(Status.Text, "Fuse is NOT blown");
    EXPECT_EQ(Error(), "No error");
    EXPECT_THAT(Progress.Positions, ElementsAre(0, 251, 501, 751, 1001, 0));
}

// No unit on the socket, no supply, another device: nothing is known about
// the fuse, so the check fails instead of calling the fuse open.
TEST_F(CheckFuseTest, AnyOtherInitResultIsAFailure)
{
    const std::pair<int32_t, const char*> rows[] = {
        {-1, "Unable to initialize target MSP430F1232 (-1)"},
        {-11, "Unable to initialize target MSP430F1232 (-11)"},
        {-13, "Unable to initialize target MSP430F1232 (-13)"},
        {1, "Unable to initialize target MSP430F1232 (1)"},
        {12, "Unable to initialize target MSP430F1232 (12)"},
        {INT32_MIN, "Unable to initialize target MSP430F1232 (-2147483648)"},
        {INT32_MAX, "Unable to initialize target MSP430F1232 (2147483647)"},
    };
    for (const auto& [result, error] : rows) {
        Fake.ClearLog();
        Progress.Positions.clear();
        Fake.Script("InitTarget", {result});
        EXPECT_EQ(Check(1), 0) << result;
        EXPECT_EQ(Blown, 0) << result;
        EXPECT_EQ(Status.Text, "Unable to initialize target") << result;
        EXPECT_EQ(Error(), error);
        EXPECT_THAT(Progress.Positions, ElementsAre(0, 251, 501, 751, 1001, 0)) << result;
        EXPECT_THAT(Calls(), ElementsAre("SetDeviceType(MSP430F1232)", "SetVcc(3300)",
                                         "InitTarget(MSP430F1232)", "ReleaseTarget()"));
    }
}

TEST_F(CheckFuseTest, FailingDeviceTypeStopsBeforeTheSupply)
{
    Fake.Script("SetDeviceType", {9});
    EXPECT_EQ(Check(1), 0);
    EXPECT_EQ(Blown, 0);
    EXPECT_EQ(Status.Text, "Unable to set device type");
    EXPECT_EQ(Error(), "Unable to set device type MSP430F1232 (9)");
    EXPECT_EQ(Progress.Pos, 0);
    EXPECT_THAT(Calls(), ElementsAre("SetDeviceType(MSP430F1232)"));
}

TEST_F(CheckFuseTest, FailingSupplyLeavesTheTargetAlone)
{
    Fake.Script("SetVcc", {-4});
    EXPECT_EQ(Check(-1), 0);
    EXPECT_EQ(Blown, 0);
    EXPECT_EQ(Status.Text, "Unable to set VCC");
    EXPECT_EQ(Error(), "Unable to set target VCC to 3.300000 volts (-4)");
    EXPECT_THAT(Progress.Positions, ElementsAre(0, 251, 501, 0));
    EXPECT_THAT(Calls(), ElementsAre("SetDeviceType(MSP430F1232)", "SetVcc(3300)"));
}

TEST_F(CheckFuseTest, LeavesTheSupplyOnForClose)
{
    ASSERT_EQ(Session->Open("COM1", 57600), 1);
    EXPECT_EQ(Check(), 1);
    Session->Close();
    EXPECT_THAT(Calls(), ElementsAre("InitCom(COM1, 57600)", "SetNotificationWnd(window, 1129)",
                                     "SetDeviceType(MSP430F1232)", "SetVcc(3300)", "InitTarget(MSP430F1232)",
                                     "ReleaseTarget()", "SetNotificationWnd(null, 1129)", "SetVcc(0)",
                                     "ReleaseCom()"));
}
