// Run Batch checks the whole setup before the port opens: a setup bound to
// fail is refused with the cross, a 'refused' row and a message, and no
// library call and no serial number. The check is the library's own
// (velk430_core's bodies of its additions, on the real device.cfg),
// installed beside the fake library, which has none.
#include "ConsoleFixture.h"

#include "LibraryAdditions.h"
#include "ProductionRecord.h"
#include "Setup.h"

#include <QFile>
#include <QTemporaryDir>

using ::testing::ElementsAre;

namespace {

class SetupRefusalTest : public ConsoleTest {
protected:
    void SetUp() override
    {
        ConsoleTest::SetUp();
        Previous = SetLibraryAdditions({&velk::CheckSetupCall, &velk::LastErrorTextCall, &velk::ResultTextCall});
    }
    void TearDown() override
    {
        ConsoleTest::TearDown();
        SetLibraryAdditions(Previous);
    }
    std::string Firmware(const char* name, const char* text)
    {
        const QString path = Dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return path.toStdString();
    }

    CLibraryAdditions Previous;
    QTemporaryDir Dir;
};

}  // namespace

TEST_F(SetupRefusalTest, SetupBoundToFailIsRefusedBeforeThePortOpens)
{
    // MSP430F112: information flash 0x1000..0x10FF, main flash 0xF000..0xFFFF.
    const std::string good = Firmware("good.txt", "@F000\n01 02\n@FFFE\n00 F0\nq\n");
    const struct {
        const char* what;
        Values settings;
        int32_t code;
        std::string reason;   // the box's second line
    } rows[] = {
        {"no file", {{"FileName", Dir.filePath("none.txt").toStdString()}}, -18,
         "firmware \"" + Dir.filePath("none.txt").toStdString() + "\": cannot open the file"},
        {"bad line", {{"FileName", Firmware("bad.txt", "@F000\n01\nG1\nq\n")}}, -19,
         "firmware \"" + Dir.filePath("bad.txt").toStdString() + "\", line 3: not a hex byte"},
        {"baud", {{"FileName", good}, {"Baud", "300"}}, -5,
         "the programmer takes 2400, 4800, 9600, 19200, 38400, 57600, 115200 baud, not 300"},
        {"fuse", {{"FileName", good}, {"CommPort", "mspdebug:sim"}, {"BlowFuse", "1"}}, -47,
         "port \"mspdebug:sim\": mspdebug cannot blow the security fuse, and Blow Fuse is on"},
        {"serial on the file", {{"FileName", good}, {"SerialAddress", "FFFE"}}, -30,
         "the serial number's 2 bytes at 0x0FFFE overlap the file's byte at 0x0FFFE"},
        {"info not erased", {{"FileName", Firmware("info.txt", "@1000\n01\nq\n")}, {"SerialAddress", "F100"}},
         -29, "the file's byte at 0x01000 lies in information flash, which this batch does not erase (Erase Info is off)"},
    };
    int refusals = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ClearStore();
        Values settings = {{"SerialType", "2"}, {"SerialNumber", "500"}, {"SerialAddress", "F800"}};
        for (const auto& [key, value] : row.settings)
            settings[key] = value;
        StoreValues(settings);
        boxes.Boxes.clear();
        ASSERT_TRUE(Start());
        fake.ClearLog();   // the device list's queries at start
        console->RecordPath = Dir.filePath("production.db");
        Click(IDC_RUN_BATCH);
        ++refusals;
        EXPECT_TRUE(fake.Calls().empty());
        ASSERT_EQ(boxes.Boxes.size(), 1u);
        const std::string& box = boxes.Boxes[0].text;
        EXPECT_EQ(box.substr(0, box.find('\n')), "Batch not started: this setup cannot succeed, and no unit was touched.");
        EXPECT_NE(box.find("\n" + row.reason + "\n" + std::to_string(row.code) + ": "), std::string::npos) << box;
        EXPECT_EQ(Picture(), "fail");
        EXPECT_EQ(console->SerialNumber, 500u);
        EXPECT_TRUE(AllInputsEnabled());
        const auto recorded = console->Record->Select({}, 1);
        ASSERT_TRUE(recorded && recorded->size() == 1);
        EXPECT_EQ(recorded->front().Result, "refused");
        EXPECT_EQ(recorded->front().Step, "Check");
        EXPECT_EQ(recorded->front().ErrorCode, row.code);
        EXPECT_EQ(recorded->front().SerialWritten, false);
        // Counted apart: a refusal is no failed unit.
        const auto tally = console->Record->Tally("2000-01-01", "9999-01-01");
        ASSERT_TRUE(tally);
        EXPECT_EQ(tally->Refused, refusals);
        EXPECT_EQ(tally->Failed, 0);
        console->DestroyWindow();
        EXPECT_EQ(Stored("SerialNumber"), "500");
    }

    // The same station with a sound setup goes on to the library.
    ClearStore();
    StoreValues({{"FileName", good}, {"SerialAddress", "F800"}, {"Baud", "57600"}, {"BlowFuse", "0"}});
    ASSERT_TRUE(Start());
    fake.ClearLog();
    console->RecordPath = Dir.filePath("production.db");
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(fake.LogStrings().front(), "InitCom(COM1, 57600)");
    EXPECT_EQ(Picture(), "pass");
}

// Under the message the session gives, the code's meaning in decimal.
TEST_F(SetupRefusalTest, LibraryCodeIsExplainedUnderTheMessage)
{
    StoreValues({{"FileName", Firmware("good.txt", "@F000\n01\nq\n")}});
    ASSERT_TRUE(Start());
    fake.Script("VerifyFile", {-22});
    Click(IDC_RUN_BATCH);
    EXPECT_THAT(boxes.Texts(), ElementsAre("Unable to verify (FFFFFFEA)\n-22: the unit's memory differs from the file "
                                           "after programming. Replace the unit, or check that the file did not "
                                           "change."));
    fake.Script("InitTarget", {-12});
    Click(IDC_CHECK_FUSE);
    fake.Script("InitTarget", {-13});
    Click(IDC_CHECK_FUSE);
    EXPECT_EQ(boxes.Boxes.back().text, "Unable to initialize target MSP430F112 (-13)\n-13: the unit on the socket is "
                                       "not the chosen device. Seat the right unit, or choose its type in Device.");
}
