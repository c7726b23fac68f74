// Run Batch, Check Fuse, Browse, Exit and the keys, over the fake library.
#include "ConsoleFixture.h"

#include <QTest>

#include <algorithm>

using ::testing::ElementsAre;

namespace {

bool Logged(const CFakeVelk& fake, const std::string& call)
{
    const auto log = fake.LogStrings();
    return std::find(log.begin(), log.end(), call) != log.end();
}

}  // namespace

TEST_F(ConsoleTest, StartShowsTheFieldsPendingPictureAndFocusOnRunBatch)
{
    ASSERT_TRUE(Start());
    EXPECT_EQ(Picture(), "pending");
    EXPECT_TRUE(AllInputsEnabled());
    EXPECT_EQ(console->focusWidget(), console->RunBatchButton);
    EXPECT_EQ(Text(IDC_DEVICE), "MSP430F112");
    EXPECT_EQ(Text(IDC_VCC), "3.3");
    EXPECT_TRUE(boxes.Boxes.empty());
    EXPECT_EQ(console->windowTitle(), QStringLiteral("MSP430 VELK Serializing Shell"));
    EXPECT_FALSE(console->windowIcon().isNull());
}

TEST_F(ConsoleTest, TypeNoneLeavesSerialAndCountAlone)
{
    ASSERT_TRUE(Start());
    SetText(IDC_SERIAL_NUMBER, "41");
    SetText(IDC_COUNT, "7");
    Click(IDC_RUN_BATCH);
    EXPECT_TRUE(boxes.Boxes.empty());
    EXPECT_EQ(Picture(), "pass");
    EXPECT_EQ(console->SerialNumber, 41u);
    EXPECT_EQ(console->Count, 7);
    EXPECT_EQ(Text(IDC_SERIAL_NUMBER), "41");
    EXPECT_EQ(Text(IDC_COUNT), "7");
    EXPECT_EQ(fake.Count("ProgramData"), 0u);
    EXPECT_EQ(Text(IDC_OPERATION), "Batch executed successfully");
}

TEST_F(ConsoleTest, SuccessAdvancesSerialAndCounter)
{
    struct Case {
        int type;
        bool up;
        std::string serial, count;
        std::string data;  // the ProgramData call
        uint32_t nextSerial;
        int32_t nextCount;
    };
    const Case cases[] = {
        {1, true, "41", "7", "ProgramData(0x1000, 1, [29])", 42, 8},
        {1, false, "0", "0", "ProgramData(0x1000, 1, [00])", 1, -1},
        {2, true, "65535", "2147483647", "ProgramData(0x1000, 2, [FF FF])", 65536, -2147483647 - 1},
        {3, false, "4294967294", "-2147483648", "ProgramData(0x1000, 4, [FE FF FF FF])", 4294967295u,
         2147483647},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data + (c.up ? " up" : " down"));
        fake.ClearLog();
        ASSERT_TRUE(Start());
        SelectType(c.type);
        Check(IDC_COUNT_UP, c.up);
        SetText(IDC_SERIAL_NUMBER, c.serial);
        SetText(IDC_COUNT, c.count);
        Click(IDC_RUN_BATCH);
        EXPECT_EQ(Picture(), "pass");
        EXPECT_TRUE(Logged(fake, c.data));
        EXPECT_EQ(console->SerialNumber, c.nextSerial);
        EXPECT_EQ(console->Count, c.nextCount);
        EXPECT_EQ(Text(IDC_SERIAL_NUMBER), std::to_string(c.nextSerial));
        EXPECT_EQ(Text(IDC_COUNT), std::to_string(c.nextCount));
        console->DestroyWindow();
    }
}

// A width the list does not offer reads as the default, (none): the batch
// writes no serial and consumes none, and Exit saves the default.
TEST_F(ConsoleTest, StoredTypeOutsideTheListReadsAsNone)
{
    for (const char* stored : {"7", "4", "-1"}) {
        SCOPED_TRACE(stored);
        StoreValues({{"SerialType", stored}, {"SerialNumber", "10"}, {"Count", "3"}});
        ASSERT_TRUE(Start());
        EXPECT_EQ(GetCurSel(console->SerialTypeList), 0);
        Click(IDC_RUN_BATCH);
        EXPECT_EQ(console->SerialType, 0);
        EXPECT_EQ(fake.Count("ProgramData"), 0u);
        EXPECT_EQ(Picture(), "pass");
        EXPECT_EQ(console->SerialNumber, 10u);
        EXPECT_EQ(console->Count, 3);
        console->DestroyWindow();
        EXPECT_EQ(Stored("SerialType"), "0");
    }
}

// A number that does not fit its width would write the bytes of one already
// issued: refused before the port opens, nothing reserved or advanced.
TEST_F(ConsoleTest, SerialNumberThatDoesNotFitItsWidthIsRefused)
{
    const std::string range = "Please enter an integer between 0 and 4294967295.";
    const struct {
        int type;
        std::string typed, box;
    } rows[] = {
        {1, "256",
         "Serial number 256 does not fit a BYTE serial number: the largest is 255.\n"
         "Choose a wider type or another number."},
        {2, "65536",
         "Serial number 65536 does not fit a WORD serial number: the largest is 65535.\n"
         "Choose a wider type or another number."},
        {3, "4294967295",
         "Serial number 4294967295 is the largest a DWORD holds, and no number can follow it:\n"
         "the station does not issue it, so that the numbering never starts again at 0."},
        {3, "4294967296", range},
        {3, "5000000000", range},
        {3, std::string(1 << 20, '9'), range},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed.substr(0, 12));
        StoreValues({{"SerialNumber", "77"}});
        fake.ClearLog();
        boxes.Boxes.clear();
        ASSERT_TRUE(Start());
        SelectType(row.type);
        SetText(IDC_SERIAL_NUMBER, row.typed);
        Click(IDC_RUN_BATCH);
        ASSERT_EQ(boxes.Boxes.size(), 1u);
        EXPECT_EQ(boxes.Boxes[0].text, row.box);
        EXPECT_EQ(fake.Count("InitCom"), 0u);
        EXPECT_EQ(Stored("SerialNumber"), "77");
        EXPECT_TRUE(AllInputsEnabled());
        console->DestroyWindow();
    }
}

// Both commands use the device the Device text names, whatever the list
// showed before: a stale entry's number would erase another part's layout.
TEST_F(ConsoleTest, DeviceTextPicksTheDeviceNumber)
{
    struct Row {
        const char* stored;
        const char* typed;     // null: the stored name as it starts
        const char* library;   // the name the library gets
        int number;            // the device number the batch uses
        const char* shown;     // the Device text afterwards
    };
    const Row rows[] = {
        {"MSP430F149", nullptr, "MSP430F149", 1, "MSP430F149"},
        {"MSP430F112", "msp430f149", "MSP430F149", 1, "MSP430F149"},   // typed over, any case
        {"MSP430F112", "MSP430F2274", "MSP430F2274", -1, "MSP430F2274"},
        // A beginning names no entry; showing the fields afterwards selects
        // the first entry it begins, as it does at start-up.
        {"MSP430F112", "MSP430F14", "MSP430F14", -1, "MSP430F149"},
        {"XYZ", nullptr, "XYZ", -1, "XYZ"},
    };
    for (const Row& r : rows) {
        for (int command : {IDC_RUN_BATCH, IDC_CHECK_FUSE}) {
            SCOPED_TRACE(std::string(r.typed ? r.typed : r.stored) + (command == IDC_RUN_BATCH ? " batch" : " fuse"));
            ClearStore();
            StoreValues({{"DeviceName", r.stored}, {"EraseFlash", "1"}});
            ASSERT_TRUE(Start());
            if (r.typed)
                SetText(IDC_DEVICE, r.typed);
            fake.ClearLog();
            Click(command);
            EXPECT_EQ(fake.CallsTo("SetDeviceType").at(0).Text, r.library);
            if (command == IDC_RUN_BATCH) {
                EXPECT_TRUE(Logged(fake, "GetDeviceCfgInfo(2, " + std::to_string(r.number) + ")"));
            }
            EXPECT_EQ(Text(IDC_DEVICE), r.shown);
            if (r.number >= 0) {
                EXPECT_EQ(GetLBText(console->DeviceList, GetCurSel(console->DeviceList)), r.shown);
            }
            console->DestroyWindow();
        }
    }
}

TEST_F(ConsoleTest, AddressIsNormalisedAfterTheRun)
{
    ASSERT_TRUE(Start());
    SelectType(2);
    SetText(IDC_SERIAL_ADDRESS, "abc");
    SetText(IDC_SERIAL_NUMBER, "258");
    Click(IDC_RUN_BATCH);
    EXPECT_TRUE(Logged(fake, "ProgramData(0xABC, 2, [02 01])"));
    EXPECT_EQ(Text(IDC_SERIAL_ADDRESS), "0ABC");
    EXPECT_EQ(console->SerialAddress, "0ABC");
}

TEST_F(ConsoleTest, BadAddressShowsTheCrossAndOpensNoSession)
{
    ASSERT_TRUE(Start());
    SelectType(1);
    SetText(IDC_SERIAL_ADDRESS, "zz12");
    SetText(IDC_SERIAL_NUMBER, "5");
    Click(IDC_RUN_BATCH);
    EXPECT_THAT(boxes.Texts(), ElementsAre("Unable to convert serial number address"));
    EXPECT_EQ(Picture(), "fail");
    EXPECT_EQ(fake.Count("InitCom"), 0u);
    EXPECT_TRUE(AllInputsEnabled());
    EXPECT_EQ(Text(IDC_SERIAL_ADDRESS), "zz12");
    EXPECT_EQ(console->SerialNumber, 5u);
    EXPECT_EQ(Stored("SerialNumber"), "<absent>");
}

TEST_F(ConsoleTest, VccWithoutANumberUses3Point3)
{
    ASSERT_TRUE(Start());
    SetText(IDC_VCC, "abc");
    Click(IDC_RUN_BATCH);
    ASSERT_FALSE(fake.CallsTo("SetVcc").empty());
    EXPECT_EQ(fake.CallsTo("SetVcc")[0].Args[0], 3300);
    EXPECT_EQ(Text(IDC_VCC), "abc");  // kept as typed after Run Batch

    fake.ClearLog();
    Click(IDC_CHECK_FUSE);
    EXPECT_EQ(fake.CallsTo("SetVcc")[0].Args[0], 3300);
    EXPECT_EQ(Text(IDC_VCC), "3.3");  // rewritten after Check Fuse
}

TEST_F(ConsoleTest, TypedVoltageIsUsedAndRoundedOnlyByTheNextShow)
{
    ASSERT_TRUE(Start());
    SetText(IDC_VCC, "3.36");
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(fake.CallsTo("SetVcc")[0].Args[0], 3360);
    EXPECT_EQ(Text(IDC_VCC), "3.36");
    Click(IDC_CHECK_FUSE);
    EXPECT_EQ(Text(IDC_VCC), "3.4");
    fake.ClearLog();
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(fake.CallsTo("SetVcc")[0].Args[0], 3400);
}

// A typed "nan" would otherwise reach the library as an absurd supply.
TEST_F(ConsoleTest, AVccThatIsNoVoltageIsRefusedBeforeAnythingRuns)
{
    ASSERT_TRUE(Start());
    const uint32_t serial = console->SerialNumber;
    for (const char* text : {"nan", "inf", "-2"}) {
        boxes.Boxes.clear();
        SetText(IDC_VCC, text);
        Click(IDC_RUN_BATCH);
        EXPECT_THAT(boxes.Texts(), ElementsAre("Please enter a supply voltage in volts.")) << text;
        EXPECT_EQ(console->focusWidget(), console->VccEdit) << text;
        Click(IDC_EXIT);
        EXPECT_FALSE(console->IsEnded()) << text;
    }
    EXPECT_EQ(fake.Count("InitCom"), 0u);
    EXPECT_EQ(console->SerialNumber, serial);
    EXPECT_DOUBLE_EQ(console->Vcc, 3.3);
}

// The console's own exchange reads Vcc, the serial number and the counter in
// this order: the first bad one is named, the fields before it are read in,
// those after it are not.
TEST_F(ConsoleTest, ExchangeStopsAtTheFirstBadFieldInItsOrder)
{
    ASSERT_TRUE(Start());
    SetText(IDC_FILENAME, "/srv/fw/a.txt");
    SetText(IDC_VCC, "nan");
    SetText(IDC_SERIAL_NUMBER, "-1");
    SetText(IDC_DEVICE, "MSP430F149");
    SetText(IDC_COUNT, "x");
    const std::pair<int, const char*> rows[] = {
        {IDC_VCC, "Please enter a supply voltage in volts."},
        {IDC_SERIAL_NUMBER, "Please enter a positive integer."},
        {IDC_COUNT, "Please enter an integer."},
    };
    const std::pair<int, const char*> fixes[] = {{IDC_VCC, "2.5"}, {IDC_SERIAL_NUMBER, "7"}, {IDC_COUNT, "3"}};
    for (size_t i = 0; i < std::size(rows); ++i) {
        boxes.Boxes.clear();
        Click(IDC_RUN_BATCH);
        EXPECT_THAT(boxes.Texts(), ElementsAre(rows[i].second));
        EXPECT_EQ(console->focusWidget(), console->GetDlgItem(rows[i].first));
        SetText(fixes[i].first, fixes[i].second);
    }
    EXPECT_EQ(console->FileName, "/srv/fw/a.txt");   // before the first bad field
    EXPECT_EQ(console->DeviceName, "MSP430F149");      // between the last two
    EXPECT_EQ(fake.Count("InitCom"), 0u);
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(console->Count, 3);
    EXPECT_EQ(fake.Count("InitCom"), 1u);
}

TEST_F(ConsoleTest, InvalidCountStopsEveryCommandAndKeepsTheWindowOpen)
{
    ASSERT_TRUE(Start());
    SetText(IDC_COUNT, "x");
    Click(IDC_RUN_BATCH);
    EXPECT_THAT(boxes.Texts(), ElementsAre("Please enter an integer."));
    EXPECT_EQ(console->focusWidget(), console->CountEdit);
    Click(IDC_CHECK_FUSE);
    EXPECT_EQ(fake.Count("InitCom"), 0u);
    EXPECT_EQ(boxes.Boxes.size(), 2u);

    Click(IDC_EXIT);
    EXPECT_FALSE(console->IsEnded());
    console->close();  // the close box
    EXPECT_FALSE(console->IsEnded());
    EXPECT_EQ(boxes.Boxes.size(), 4u);
    for (const auto& box : boxes.Boxes) {
        EXPECT_EQ(box.caption, "Corvantis");
        EXPECT_EQ(box.owner, console.get());
    }

    SetText(IDC_COUNT, "-3");
    console->close();
    EXPECT_TRUE(console->IsEnded());
    EXPECT_EQ(console->GetResult(), IDOK);
}

TEST_F(ConsoleTest, SerialNumberMustBeAPositiveInteger)
{
    ASSERT_TRUE(Start());
    SetText(IDC_SERIAL_NUMBER, "-1");
    Click(IDC_RUN_BATCH);
    EXPECT_THAT(boxes.Texts(), ElementsAre("Please enter a positive integer."));
    EXPECT_EQ(console->focusWidget(), console->SerialNumberEdit);
    EXPECT_EQ(fake.Count("InitCom"), 0u);
}

TEST_F(ConsoleTest, EscAndEnterNeverCloseTheWindow)
{
    ASSERT_TRUE(Start());
    console->GotoDlgCtrl(IDC_VCC);
    QTest::keyClick(console->VccEdit, Qt::Key_Escape);
    QTest::keyClick(console->VccEdit, Qt::Key_Return);
    QTest::keyClick(console.get(), Qt::Key_Escape);
    EXPECT_FALSE(console->IsEnded());
    EXPECT_TRUE(console->isVisible());
    EXPECT_EQ(fake.Count("InitCom"), 0u);
}

TEST_F(ConsoleTest, FocusReturnsToRunBatchSoEnterRunsTheNextUnit)
{
    ASSERT_TRUE(Start());
    console->GotoDlgCtrl(IDC_VCC);
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(console->focusWidget(), console->RunBatchButton);
    QTest::keyClick(console->RunBatchButton, Qt::Key_Return);
    EXPECT_EQ(fake.Count("InitCom"), 2u);
    EXPECT_EQ(console->focusWidget(), console->RunBatchButton);
}

TEST_F(ConsoleTest, PortThatCannotBeOpenedLeavesTheQuestionMark)
{
    ASSERT_TRUE(Start());
    console->ShowPass();
    fake.Script("InitCom", {5, 5});
    SetText(IDC_SERIAL_ADDRESS, "abc");
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(console->SerialAddress, "0ABC");
    EXPECT_EQ(Text(IDC_SERIAL_ADDRESS), "abc");  // nothing shown after a failed open
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].text, "Error opening VELK\nUnable to open VELK on COM1 at 57600 (5)");
    EXPECT_EQ(Picture(), "pending");
    EXPECT_TRUE(AllInputsEnabled());
    EXPECT_EQ(console->focusWidget(), console->RunBatchButton);
    EXPECT_EQ(console->Session, nullptr);
    EXPECT_EQ(fake.Count("ReleaseCom"), 0u);  // no Close after a failed open

    Click(IDC_CHECK_FUSE);
    EXPECT_EQ(boxes.Boxes.size(), 2u);
    EXPECT_EQ(console->focusWidget(), console->CheckFuseButton);
    EXPECT_EQ(Picture(), "pending");
}

TEST_F(ConsoleTest, ProcedureFailureShowsTheErrorWhileTheSessionIsOpen)
{
    StoreValues({{"SerialType", "2"}, {"SerialNumber", "100"}, {"Count", "5"}});
    ASSERT_TRUE(Start());
    fake.Script("VerifyFile", {3});
    bool sessionOpen = false, controlsDisabled = false;
    boxes.OnShow = [&](const CMessageBoxRecorder::Box&) {
        sessionOpen = console->Session != nullptr && fake.Count("ReleaseCom") == 0;
        controlsDisabled = !console->IsWindowEnabled(IDC_RUN_BATCH);
    };
    Click(IDC_RUN_BATCH);
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_NE(boxes.Boxes[0].text, "No error");
    EXPECT_NE(boxes.Boxes[0].text.find("(0003)"), std::string::npos) << boxes.Boxes[0].text;
    EXPECT_TRUE(sessionOpen);
    EXPECT_TRUE(controlsDisabled);
    EXPECT_EQ(Picture(), "fail");
    EXPECT_EQ(console->SerialNumber, 100u);
    EXPECT_EQ(console->Count, 5);
    EXPECT_EQ(fake.Count("ReleaseCom"), 1u);
    EXPECT_EQ(console->Session, nullptr);
    EXPECT_TRUE(AllInputsEnabled());
    EXPECT_EQ(console->focusWidget(), console->RunBatchButton);
}

TEST_F(ConsoleTest, CheckFuseReportsTheAnswer)
{
    ASSERT_TRUE(Start());
    std::vector<bool> disabledDuringBox;
    boxes.OnShow = [&](const CMessageBoxRecorder::Box&) {
        disabledDuringBox.push_back(!console->IsWindowEnabled(IDC_CHECK_FUSE) &&
                                    !console->IsWindowEnabled(IDC_RUN_BATCH) && !console->IsWindowEnabled(IDC_VCC));
    };
    Click(IDC_CHECK_FUSE);
    fake.Script("InitTarget", {-12});
    Click(IDC_CHECK_FUSE);
    EXPECT_THAT(boxes.Texts(), ElementsAre("Fuse is NOT blown", "Fuse is blown"));
    EXPECT_THAT(disabledDuringBox, ElementsAre(true, true));
    EXPECT_EQ(Picture(), "pass");
    EXPECT_EQ(console->focusWidget(), console->CheckFuseButton);
    EXPECT_TRUE(AllInputsEnabled());

    // No unit on the socket: a failure, never "NOT blown".
    fake.Script("InitTarget", {-3});
    Click(IDC_CHECK_FUSE);
    EXPECT_EQ(boxes.Boxes.back().text, "Unable to initialize target MSP430F112 (-3)");
    EXPECT_EQ(Picture(), "fail");
    boxes.Boxes.pop_back();

    fake.Script("SetDeviceType", {4});
    Click(IDC_CHECK_FUSE);
    ASSERT_EQ(boxes.Boxes.size(), 3u);
    EXPECT_EQ(boxes.Boxes[2].text, "Unable to set device type MSP430F112 (4)");
    EXPECT_EQ(Picture(), "fail");
    EXPECT_EQ(fake.Count("ProgramFile"), 0u);
}

TEST_F(ConsoleTest, NotificationsMoveTheBarOnlyDuringACommand)
{
    ASSERT_TRUE(Start());
    EXPECT_EQ(console->SendMessage(1129, 17, 55), 0);  // no session: ignored
    EXPECT_EQ(console->ProgressBar->value(), 0);

    std::vector<int> bar;
    QObject::connect(console->ProgressBar, &QProgressBar::valueChanged,
                     [&](int value) { bar.push_back(value); });
    fake.NotifyDuring("ProgramFile", {{17, 55}, {19, 57}, {12, 60}});
    Click(IDC_RUN_BATCH);
    // 20 * value - 1000 for types 11, 17, 19, 21; type 12 moves nothing.
    EXPECT_NE(std::find(bar.begin(), bar.end(), 100), bar.end());
    EXPECT_NE(std::find(bar.begin(), bar.end(), 140), bar.end());
    EXPECT_EQ(std::find(bar.begin(), bar.end(), 200), bar.end());
    EXPECT_EQ(fake.WindowMessage(), 1129u);
}

TEST_F(ConsoleTest, BrowseCancelChangesNothing)
{
    StoreValues({{"FileName", "/srv/fw/old.txt"}});
    ASSERT_TRUE(Start());
    SetText(IDC_VCC, "3.36");
    SetText(IDC_COUNT, "12");
    Click(IDC_BROWSE);
    EXPECT_EQ(console->Count, 12);  // read in before the dialog
    ASSERT_EQ(fileDialogs.size(), 1u);
    EXPECT_EQ(fileDialogs[0].path, "/srv/fw/old.txt");
    EXPECT_EQ(fileDialogs[0].filter, "Firmware Files (*.txt *.hex *.ihx *.srec *.s19 *.s28 *.s37 *.elf)|*.txt;*.hex;*.ihx;*.srec;*.s19;*.s28;*.s37;*.elf|All Files (*)|*||");
    EXPECT_EQ(fileDialogs[0].flags, 4102u);
    EXPECT_EQ(console->FileName, "/srv/fw/old.txt");
    EXPECT_EQ(Text(IDC_FILENAME), "/srv/fw/old.txt");
    EXPECT_EQ(Text(IDC_VCC), "3.36");  // no exchange out after a cancel
}

TEST_F(ConsoleTest, BrowseChoiceReplacesAVoltageTypedSinceTheLastCommand)
{
    ASSERT_TRUE(Start());
    SetText(IDC_VCC, "3.36");
    SetText(IDC_COUNT, "12");
    chosenFile = "/srv/fw/new.txt";
    Click(IDC_BROWSE);
    EXPECT_EQ(Text(IDC_FILENAME), "/srv/fw/new.txt");
    EXPECT_EQ(Text(IDC_VCC), "3.3");
    EXPECT_EQ(Text(IDC_COUNT), "12");  // read in before the choice was shown
    Click(IDC_RUN_BATCH);
    EXPECT_TRUE(Logged(fake, "ProgramFile(/srv/fw/new.txt, 0, 1, 0)"));
}

TEST_F(ConsoleTest, EnableControlsLeavesExitAndTheDisplaysAlone)
{
    ASSERT_TRUE(Start());
    console->EnableControls(0);
    for (int id : {IDC_BLOW_FUSE, IDC_CHECK_FUSE, IDC_BROWSE, IDC_COUNT_UP, IDC_ERASE_INFO, IDC_PORT,
                   IDC_RUN_BATCH, IDC_COUNT, IDC_DEVICE, IDC_SERIAL_NUMBER, IDC_SERIAL_ADDRESS,
                   IDC_SERIAL_TYPE, IDC_VCC})
        EXPECT_FALSE(console->IsWindowEnabled(id)) << id;
    for (int id : {IDC_EXIT, IDC_FILENAME, IDC_OPERATION, IDC_PROGRESS, IDC_STATUS_PICTURE, IDC_LOGO})
        EXPECT_TRUE(console->IsWindowEnabled(id)) << id;
    console->EnableControls(1);
    EXPECT_TRUE(AllInputsEnabled());
}
