// The settings store: defaults, load and save, the voltage text, and serial
// numbers that are never issued twice.
#include "ConsoleFixture.h"

#include "VccText.h"

#include <QDir>
#include <QFile>

#include <clocale>

using ::testing::ElementsAre;

TEST(VccText, ReadsLikePercentLfAndShowsOneDecimal)
{
    struct Case {
        std::string text;
        double volts;
    };
    for (const Case& c : {Case{"3.3", 3.3}, Case{"  2.8 \t", 2.8}, Case{"abc", 3.3}, Case{"", 3.3},
                          Case{"1e1", 10.0}, Case{".5", 0.5}, Case{"0", 0.0}})
        EXPECT_DOUBLE_EQ(ParseVccText(c.text), c.volts) << c.text;
    // Numbers that are no voltage, and numbers with anything but blanks
    // after them, count as no number: they never reach the library, and only
    // they are refused as typed text ("3,9" would otherwise run at 3 V).
    for (const char* text : {"nan", "-nan", "inf", "-inf", "1e999", "-1", "4294967.296", "3,9", "3.9,",
                             "  2.8V", "3.3 V", "3.3\n", "3.3x"}) {
        EXPECT_DOUBLE_EQ(ParseVccText(text), 3.3) << text;
        EXPECT_FALSE(IsAcceptableVccText(text)) << text;
    }
    for (const char* text : {"3.3", "abc", "", "4294967.295"})
        EXPECT_TRUE(IsAcceptableVccText(text)) << text;

    EXPECT_EQ(FormatVccText(3.3), "3.3");
    EXPECT_EQ(FormatVccText(3.36), "3.4");
    EXPECT_EQ(FormatVccText(0.0), "0.0");
    EXPECT_EQ(FormatVccText(1850 * 0.001), "1.9");
    EXPECT_EQ(FormatVccText(12.0), "12.0");
}

TEST(VccText, IgnoresACommaDecimalLocale)
{
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    // Whichever comma locale the machine has; the C one proves nothing new.
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name))
            break;
    EXPECT_DOUBLE_EQ(ParseVccText("3.6"), 3.6);
    EXPECT_EQ(FormatVccText(3.6), "3.6");
    // The comma is no decimal point here whatever the locale: refused, never 3 V.
    EXPECT_FALSE(IsAcceptableVccText("3,9"));
    EXPECT_DOUBLE_EQ(ParseVccText("3,9"), 3.3);
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST_F(ConsoleTest, FirstRunShowsTheDefaultsAndExitWritesAllTwelve)
{
    ASSERT_TRUE(StoredValues().empty());
    ASSERT_TRUE(Start());
    EXPECT_EQ(console->CommPort, "COM1");
    EXPECT_EQ(console->Baud, 57600);
    EXPECT_EQ(Text(IDC_DEVICE), "MSP430F112");
    EXPECT_EQ(Text(IDC_FILENAME), "");
    EXPECT_EQ(Text(IDC_VCC), "3.3");
    EXPECT_FALSE(console->BlowFuseCheck->isChecked());
    EXPECT_FALSE(console->EraseInfoCheck->isChecked());
    EXPECT_EQ(Text(IDC_SERIAL_NUMBER), "0");
    EXPECT_EQ(Text(IDC_SERIAL_ADDRESS), "1000");
    EXPECT_EQ(Text(IDC_SERIAL_TYPE), "(none)");
    EXPECT_EQ(Text(IDC_COUNT), "0");
    EXPECT_TRUE(console->CountUpCheck->isChecked());
    EXPECT_TRUE(StoredValues().empty());  // nothing written while running

    Click(IDC_EXIT);
    EXPECT_TRUE(console->IsEnded());
    console->DestroyWindow();
    EXPECT_EQ(StoredValues(), (Values{{"CommPort", "COM1"},
                                      {"Baud", "57600"},
                                      {"DeviceName", "MSP430F112"},
                                      {"FileName", ""},
                                      {"VCC", "3.3"},
                                      {"BlowFuse", "0"},
                                      {"EraseFlash", "0"},
                                      {"SerialNumber", "0"},
                                      {"SerialAddress", "1000"},
                                      {"SerialType", "0"},
                                      {"Count", "0"},
                                      {"CountUp", "1"}}));
    EXPECT_EQ(console->GetDlgItemAs<QComboBox>(IDC_DEVICE)->count(), 0);  // list emptied
}

TEST_F(ConsoleTest, StoredValuesRoundTrip)
{
    const Values stored{{"CommPort", "COM12"},     {"Baud", "9600"},       {"DeviceName", "MSP430F149"},
                        {"FileName", "/fw/a.txt"}, {"VCC", "2.8"},         {"BlowFuse", "1"},
                        {"EraseFlash", "1"},       {"SerialNumber", "4294967295"},
                        {"SerialAddress", "0F00"}, {"SerialType", "3"},    {"Count", "-12"},
                        {"CountUp", "0"}};
    StoreValues(stored);
    ASSERT_TRUE(Start());
    EXPECT_EQ(console->CommPort, "COM12");
    EXPECT_EQ(console->Baud, 9600);
    EXPECT_DOUBLE_EQ(console->Vcc, 2.8);
    EXPECT_EQ(console->SerialNumber, 4294967295u);
    EXPECT_EQ(Text(IDC_COUNT), "-12");
    EXPECT_EQ(Text(IDC_SERIAL_TYPE), "DWORD");
    EXPECT_TRUE(console->BlowFuseCheck->isChecked());
    EXPECT_FALSE(console->CountUpCheck->isChecked());
    Click(IDC_EXIT);
    console->DestroyWindow();
    EXPECT_EQ(StoredValues(), stored);
}

// Closing the window by any way keeps what the fields show.
TEST_F(ConsoleTest, DestructionReadsTheFieldsBackBeforeSaving)
{
    ASSERT_TRUE(Start());
    SetText(IDC_VCC, "2.75");
    SetText(IDC_COUNT, "-4");
    SetText(IDC_SERIAL_ADDRESS, "21f");
    console->DestroyWindow();
    EXPECT_EQ(Stored("VCC"), "2.75");
    EXPECT_EQ(Stored("Count"), "-4");
    EXPECT_EQ(Stored("SerialAddress"), "21f");
}

// A stored voltage is shown with one decimal, or as 3.3 when it holds no
// number; one the field refuses is shown as it is, so that the first command
// refuses it as it refuses the same text typed, before a serial number is
// taken. Exit saves the text as the field holds it.
TEST_F(ConsoleTest, StoredVoltageIsShownWithOneDecimalOrRefusedAsTyped)
{
    const struct {
        const char* stored;
        const char* shown;
        int millivolts;  // 0: refused
    } rows[] = {
        {"3.30", "3.3", 3300}, {"abc", "3.3", 3300}, {"", "3.3", 3300}, {"2.5", "2.5", 2500},
        {"2,5", "2,5", 0},     {"5V", "5V", 0},      {"-1", "-1", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored);
        ClearStore();
        fake.ClearLog();
        boxes.Boxes.clear();
        StoreValues({{"VCC", row.stored}, {"SerialType", "2"}, {"SerialNumber", "500"}});
        ASSERT_TRUE(Start());
        EXPECT_EQ(Text(IDC_VCC), row.shown);
        Click(IDC_RUN_BATCH);
        if (row.millivolts) {
            ASSERT_FALSE(fake.CallsTo("SetVcc").empty());
            EXPECT_EQ(fake.CallsTo("SetVcc")[0].Args[0], row.millivolts);
            EXPECT_EQ(Stored("SerialNumber"), "501");
        } else {
            EXPECT_THAT(boxes.Texts(), ElementsAre("Please enter a supply voltage in volts."));
            EXPECT_EQ(console->focusWidget(), console->VccEdit);
            EXPECT_EQ(fake.Count("InitCom"), 0u);
            EXPECT_EQ(Stored("SerialNumber"), "500");
            EXPECT_EQ(Picture(), "pending");
        }
        console->DestroyWindow();
        EXPECT_EQ(Stored("VCC"), row.millivolts ? row.shown : row.stored);
    }
}

TEST_F(ConsoleTest, VoltageTypedWithoutANumberIsSavedAsTyped)
{
    ASSERT_TRUE(Start());
    SetText(IDC_VCC, "hot");
    Click(IDC_EXIT);
    console->DestroyWindow();
    EXPECT_EQ(Stored("VCC"), "hot");
}

TEST_F(ConsoleTest, CheckBoxValueOutsideZeroToTwoBecomesZero)
{
    StoreValues({{"BlowFuse", "5"}, {"EraseFlash", "2"}, {"CountUp", "-1"}});
    ASSERT_TRUE(Start());
    EXPECT_FALSE(console->BlowFuseCheck->isChecked());
    EXPECT_TRUE(console->EraseInfoCheck->isChecked());  // 2 shows as set
    EXPECT_FALSE(console->CountUpCheck->isChecked());
    Click(IDC_EXIT);
    console->DestroyWindow();
    EXPECT_EQ(Stored("BlowFuse"), "0");
    EXPECT_EQ(Stored("EraseFlash"), "1");
    EXPECT_EQ(Stored("CountUp"), "0");
}

TEST_F(ConsoleTest, StartWithoutADeviceListEndsAtOnceAndWritesNothing)
{
    StoreValues({{"SerialNumber", "77"}, {"VCC", "3.30"}});
    fake.ScriptConfig(1, {0});
    EXPECT_FALSE(Start());
    EXPECT_TRUE(console->IsEnded());
    EXPECT_EQ(console->GetResult(), IDCANCEL);
    EXPECT_FALSE(console->isVisible());
    EXPECT_THAT(boxes.Texts(), ElementsAre("Unable to initialize device names\nMake sure device.cfg "
                                           "is in the same\ndirectory as this application"));
    EXPECT_EQ(console->SettingsLoaded, 0);
    EXPECT_EQ(StoredValues(), (Values{{"SerialNumber", "77"}, {"VCC", "3.30"}}));
}

// While a unit gets serial number N, the store already holds N + 1: a station
// that dies at any moment restarts past every number it may have written.
TEST_F(ConsoleTest, StoreHoldsTheNextSerialNumberBeforeTheUnitGetsItsOwn)
{
    StoreValues({{"SerialType", "2"}, {"SerialNumber", "500"}, {"Count", "9"}, {"CountUp", "1"}});
    ASSERT_TRUE(Start());
    std::string storedWhileWriting;
    fake.SetObserver([&](const CFakeCall& call) {
        if (call.Function == "ProgramData")
            storedWhileWriting = Stored("SerialNumber");
    });
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(storedWhileWriting, "501");
    // The console is never destroyed: what a crash right now would leave.
    EXPECT_EQ(Stored("SerialNumber"), "501");
    EXPECT_EQ(Stored("Count"), "10");
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(Stored("SerialNumber"), "502");
    EXPECT_EQ(Stored("Count"), "11");
    // Only the serial number and the counter are written early.
    EXPECT_EQ(Stored("VCC"), "<absent>");
}

// A failed batch gives its number back only while the number never reached
// the unit: once ProgramData was called, the reject may carry it.
TEST_F(ConsoleTest, FailedBatchGivesItsSerialNumberBackOnlyBeforeItWasSent)
{
    const std::pair<const char*, uint32_t> rows[] = {
        {"InitTarget", 500}, {"ProgramFile", 500}, {"VerifyFile", 500},
        {"ProgramData", 501}, {"VerifyData", 501}, {"Reset", 501},
    };
    for (const auto& [failing, next] : rows) {
        SCOPED_TRACE(failing);
        ClearStore();
        StoreValues({{"SerialType", "2"}, {"SerialNumber", "500"}, {"Count", "9"}, {"BlowFuse", "1"}});
        ASSERT_TRUE(Start());
        fake.Script(failing, {7});
        Click(IDC_RUN_BATCH);
        EXPECT_EQ(Picture(), "fail");
        EXPECT_EQ(Stored("SerialNumber"), std::to_string(next));
        EXPECT_EQ(console->SerialNumber, next);
        EXPECT_EQ(Text(IDC_SERIAL_NUMBER), std::to_string(next));
        EXPECT_EQ(Stored("Count"), "9");
        console->DestroyWindow();
    }
}

TEST_F(ConsoleTest, SerialNumberTypedByTheOperatorIsWhatGetsReserved)
{
    StoreValues({{"SerialType", "3"}, {"SerialNumber", "500"}});
    ASSERT_TRUE(Start());
    SetText(IDC_SERIAL_NUMBER, "4294967294");
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(Stored("SerialNumber"), "4294967295");
    fake.Script("InitTarget", {9});
    SetText(IDC_SERIAL_NUMBER, "1000");
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(Stored("SerialNumber"), "1000");  // the typed number, given back
}

TEST_F(ConsoleTest, NoSerialTypeTouchesNothingInTheStoreDuringARun)
{
    StoreValues({{"SerialNumber", "500"}, {"Count", "9"}});
    ASSERT_TRUE(Start());
    Click(IDC_RUN_BATCH);
    fake.Script("InitTarget", {9});
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(StoredValues(), (Values{{"SerialNumber", "500"}, {"Count", "9"}}));
}

TEST_F(ConsoleTest, PortFailureReservesNothing)
{
    StoreValues({{"SerialType", "2"}, {"SerialNumber", "500"}});
    ASSERT_TRUE(Start());
    fake.Script("InitCom", {2});
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(Stored("SerialNumber"), "500");
}

TEST_F(ConsoleTest, SerialNumberThatCannotBeReservedIsNotWritten)
{
    StoreValues({{"SerialType", "2"}, {"SerialNumber", "500"}});
    ASSERT_TRUE(Start());
    // A folder where the settings file should be: the store cannot be written.
    const QString file = QSettings(QStringLiteral("Quillfern"), QStringLiteral("Corvantis")).fileName();
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QDir().mkpath(file));
    Click(IDC_RUN_BATCH);
    QDir().rmdir(file);
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].text.rfind("Unable to reserve serial number 500\n", 0), 0u) << boxes.Boxes[0].text;
    EXPECT_EQ(Picture(), "fail");
    EXPECT_EQ(fake.Count("ProgramFile"), 0u);
    EXPECT_EQ(fake.Count("ReleaseCom"), 1u);
    EXPECT_EQ(console->SerialNumber, 500u);
    EXPECT_TRUE(AllInputsEnabled());
}
