// The fake library's own behaviour, which the session and console tests rely on.

#include "Recorders.h"

using testing::ElementsAre;

TEST_F(SessionTest, FakeAnswersScriptThenDefault)
{
    Fake.Script("InitCom", {3, 4});
    Fake.SetDefault("InitCom", 9);
    char port[] = "COM3";
    EXPECT_EQ(InitCom(port, 1), 3);
    EXPECT_EQ(InitCom(port, 2), 4);
    EXPECT_EQ(InitCom(port, 3), 9);
    EXPECT_EQ(ProgramFile(port, 0, 1, 0), -1);
    EXPECT_EQ(Reset(1), -12);
    EXPECT_EQ(Erase(0, 0, 1), 0);
    Fake.FailCall(Fake.Calls().size(), 42);
    EXPECT_EQ(Erase(0, 0, 1), 42);
    EXPECT_EQ(Erase(0, 0, 1), 0);
    Fake.Reset();
    EXPECT_EQ(InitCom(port, 3), 0);
    EXPECT_THAT(Fake.LogStrings(), ElementsAre("InitCom(COM3, 3)"));
}

TEST_F(SessionTest, FakeCopiesTextsAndBytes)
{
    char name[] = "MSP430F149";
    unsigned char bytes[3] = {1, 2, 0xFE};
    SetDeviceType(name);
    ProgramData(0x1000, 3, bytes);
    name[0] = 'X';
    bytes[0] = 9;
    EXPECT_THAT(Fake.LogStrings(), ElementsAre("SetDeviceType(MSP430F149)", "ProgramData(0x1000, 3, [01 02 FE])"));
}

TEST_F(SessionTest, FakeDeviceTableAnswersTheSelectors)
{
    Fake.Devices({CFakeDevice("C9", 3300), CFakeDevice("A1", 1800, {{1, 0x8000, 512, 64}, {3, 0x1000, 128, 2}})});
    int32_t values[8] = {};
    char name[64] = {};
    int32_t region[4] = {};
    EXPECT_EQ(GetDeviceCfgInfo(1, 0, nullptr), 2);
    EXPECT_EQ(GetDeviceCfgInfo(3, 0, name), -1);          // nothing current yet
    EXPECT_EQ(GetDeviceCfgInfo(2, 2, nullptr), -1);
    EXPECT_EQ(GetDeviceCfgInfo(2, 1, nullptr), 0);
    EXPECT_EQ(Fake.CurrentDevice(), 1);
    EXPECT_EQ(GetDeviceCfgInfo(3, 0, name), 0);
    EXPECT_STREQ(name, "A1");
    EXPECT_EQ(GetDeviceCfgInfo(10, 0, values), 0);
    EXPECT_EQ(values[2], 1800);
    EXPECT_EQ(GetDeviceCfgInfo(6, 0, nullptr), 2);
    EXPECT_EQ(GetDeviceCfgInfo(7, 1, region), 0);
    EXPECT_THAT(region, ElementsAre(3, 0x1000, 128, 2));
    EXPECT_EQ(GetDeviceCfgInfo(7, 2, region), -1);
    EXPECT_EQ(GetDeviceCfgInfo(99, 0, nullptr), -1);
    Fake.ScriptConfig(1, {-5});
    EXPECT_EQ(GetDeviceCfgInfo(1, 0, nullptr), -5);
    EXPECT_EQ(GetDeviceCfgInfo(1, 0, nullptr), 2);
}

TEST_F(SessionTest, FakeDeliversNotificationsDuringTheChosenCall)
{
    ASSERT_EQ(Session->Open("COM1", 57600), 1);
    Fake.NotifyDuring("VerifyFile", {{19, 60}, {19, 100}});
    char path[] = "x.txt";
    ProgramFile(path, 0, 1, 0);
    EXPECT_TRUE(Progress.Positions.empty());
    VerifyFile(path, 0);
    EXPECT_THAT(Progress.Positions, ElementsAre(200, 1000));
    VerifyFile(path, 0);   // one batch per call
    EXPECT_EQ(Progress.Positions.size(), 2u);
}
