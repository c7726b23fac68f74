// Hand-edited settings files through the real start-up (LoadSettings,
// ShowFields) and the exit save: the station starts with sound values, shows
// no box at start-up, and a batch run on such values fails with its own
// message instead of crashing or sending an overlong text to the library.
#include "DrillFixture.h"

#include "resource.h"
#include "ControlHelpers.h"

#include <QComboBox>

#include <functional>

namespace {

// The setup check refuses these batches before the port opens.
constexpr const char* Refused = "Batch not started: this setup cannot succeed, and no unit was touched.\n";
const std::string NoFirmware = std::string(Refused) + "firmware \"\": cannot open the file\n-18: ";

class HostileSettings : public ::testing::Test, protected CDrillFixture {
protected:
    void SetUp() override { SetUpDrill(); }
    void TearDown() override { TearDownDrill(); }

    // Start-up, no box, then the fields as the Part's defaults give them.
    void ExpectDefaults()
    {
        ASSERT_TRUE(Start());
        EXPECT_TRUE(Boxes.Texts().empty());
        EXPECT_EQ(Console->CommPort, "COM1");
        EXPECT_EQ(Console->Baud, 57600);
        EXPECT_EQ(Console->DeviceName, "MSP430F112");
        EXPECT_EQ(GetLBText(Console->DeviceList, GetCurSel(Console->DeviceList)), "MSP430F112");
        EXPECT_EQ(Console->GetDlgItemText(IDC_VCC), "3.3");
        EXPECT_EQ(Console->SerialNumber, 0u);
        EXPECT_EQ(Console->SerialType, 0);
        EXPECT_EQ(Console->SerialAddress, "1000");
        EXPECT_EQ(Console->Count, 0);
        EXPECT_EQ(Console->CountUp, 1);
        EXPECT_EQ(Console->EraseFlash, 0);
        EXPECT_EQ(Console->BlowFuse, 0);
    }

    // Exit saves without a box; the saved file starts the station again.
    void ExitAndRestart()
    {
        Console->ExitButton->click();
        ASSERT_TRUE(Console->IsEnded());
        Console->DestroyWindow();
        EXPECT_TRUE(Boxes.Texts().empty());
        ASSERT_TRUE(Start());
        EXPECT_TRUE(Boxes.Texts().empty());
    }

    // One batch on the loaded values: a cross (the question mark when the
    // port did not open) and exactly one message, no serial number consumed,
    // the station usable again.
    void RunBatchFails(const std::string& message)
    {
        const uint32_t serial = Console->SerialNumber;
        Console->RunBatchButton->click();
        const bool portFailed = message.rfind("Error opening VELK", 0) == 0;
        EXPECT_TRUE(Shows(portFailed ? Console->PendingBitmap : Console->FailBitmap));
        ASSERT_EQ(Boxes.Texts().size(), 1u);
        EXPECT_EQ(Boxes.Texts()[0].substr(0, message.size()), message) << Boxes.Texts()[0].substr(0, 200);
        EXPECT_EQ(Console->SerialNumber, serial);
        EXPECT_TRUE(Console->IsWindowEnabled(IDC_RUN_BATCH));
        Boxes.Boxes.clear();
    }

    // A stored voltage that is no supply is shown as it is (its first
    // characters, for a long one): the first batch refuses it with the
    // field's message before anything runs. Then the operator types 3.3.
    void VccRefused(const std::string& shown)
    {
        EXPECT_EQ(Console->GetDlgItemText(IDC_VCC).substr(0, shown.size()), shown);
        Console->RunBatchButton->click();
        EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Please enter a supply voltage in volts."});
        EXPECT_TRUE(Shows(Console->PendingBitmap));
        Boxes.Boxes.clear();
        Console->SetDlgItemText(IDC_VCC, "3.3");
    }
};

}  // namespace

TEST_F(HostileSettings, GarbageReadsAsDefaults)
{
    std::string garbage = "\xff\xfe\x00\x01[Options\nBaud\nSerialNumber==7\n=COM9\n[\n]]]\n";
    garbage += std::string("\0\0\r\r\n\x7f", 6);
    for (int i = 0; i < 256; ++i)
        garbage += static_cast<char>((i * 73) & 0xFF);
    WriteConf(garbage);
    ExpectDefaults();
    ExitAndRestart();
    EXPECT_EQ(Console->Baud, 57600);
}

TEST_F(HostileSettings, MissingSectionReadsAsDefaults)
{
    WriteConf("Baud=9600\nCommPort=COM7\n[Other]\nSerialNumber=77\nSerialType=2\n[options ]x\nCount=5\n");
    ExpectDefaults();
}

TEST_F(HostileSettings, HugeNumbers)
{
    WriteConf("[Options]\nBaud=99999999999999999999\nCount=2147483648\n"
              "SerialType=4294967295\nBlowFuse=123456789\nEraseFlash=3\nCountUp=77\nVCC=1e308\n"
              "SerialAddress=FFFFFFFFFFFFFFFFFFFF\n");
    ASSERT_TRUE(Start());
    EXPECT_TRUE(Boxes.Texts().empty());
    EXPECT_EQ(Console->Baud, 57600);        // beyond 32 bits: the default
    EXPECT_EQ(Console->SerialNumber, 0u);
    EXPECT_EQ(Console->Count, INT32_MIN);   // a 32-bit pattern
    EXPECT_EQ(GetCurSel(Console->SerialTypeList), 0);  // no width the list offers: (none)
    EXPECT_EQ(Console->BlowFuse, 0);        // outside 0..2: cleared
    VccRefused("1e308");  // no supply: never reaches the unit
    RunBatchFails(NoFirmware);  // no firmware file was stored
    ExitAndRestart();
    EXPECT_EQ(Console->Count, INT32_MIN);
    EXPECT_EQ(Console->SerialType, 0);
}

TEST_F(HostileSettings, NegativeValues)
{
    WriteConf("[Options]\nBaud=-9600\nSerialNumber=-1\nCount=-5\nSerialType=-2\nVCC=-3.3\n"
              "EraseFlash=-1\nBlowFuse=-1\nCountUp=-1\nSerialAddress=-1000\n");
    ASSERT_TRUE(Start());
    EXPECT_TRUE(Boxes.Texts().empty());
    EXPECT_EQ(Console->Baud, -9600);
    EXPECT_EQ(Console->SerialNumber, 4294967295u);
    EXPECT_EQ(Console->Count, -5);
    EXPECT_EQ(GetCurSel(Console->SerialTypeList), 0);
    EXPECT_EQ(Console->EraseFlash, 0);
    VccRefused("-3.3");  // no supply below zero
    RunBatchFails(std::string(Refused) +
                  "the programmer takes 2400, 4800, 9600, 19200, 38400, 57600, 115200 baud, not -9600\n-5: ");
    EXPECT_EQ(Console->SerialAddress, "FFFFF000");  // '-1000' taken modulo 2^32
    Console->Baud = 115200;
    RunBatchFails(NoFirmware);  // no firmware file was stored
    ExitAndRestart();
    EXPECT_EQ(Console->Count, -5);
}

TEST_F(HostileSettings, VeryLongTexts)
{
    const std::string mega(1 << 20, 'A');
    WriteConf("[Options]\nDeviceName=" + mega + "\nFileName=/" + mega + "\nCommPort=" + std::string(10000, 'C') +
              "\nSerialAddress=" + std::string(100000, '1') + "\nVCC=" + std::string(1 << 20, '9') +
              "\nSerialType=2\nSerialNumber=42\n");
    ASSERT_TRUE(Start());
    EXPECT_TRUE(Boxes.Texts().empty());
    EXPECT_EQ(GetCurSel(Console->DeviceList), CB_ERR);  // begins no entry
    EXPECT_EQ(Console->CommPort.size(), 10000u);
    VccRefused("99999999");  // a million nines: no voltage
    // The port and device names do not fit the library's buffers: refused
    // before the library sees them.
    RunBatchFails("Error opening VELK\nPort name too long (10000 characters)");
    Console->CommPort = "COM1";
    RunBatchFails("Device name too long");
    EXPECT_EQ(Console->SerialAddress, "11111111");  // the low 32 bits
    EXPECT_EQ(Stored("SerialNumber"), "42");
    ExitAndRestart();
    EXPECT_LE(Console->DeviceName.size(), mega.size());
    EXPECT_LE(Console->FileName.size(), mega.size() + 1);
}

// Settings the station cannot read, or a next serial number that is there
// but no number: starting on the defaults would issue serial numbers from 0
// again, so the station says why and does not start; the file stays as it
// was. (Root reads any file whatever its mode: a folder in the file's place
// and a link loop stay unreadable for every user.)
TEST_F(HostileSettings, UnreadableSettingsStopTheStart)
{
    const std::string unreadable = "Unable to read the settings\n" + Conf + "\n(";
    const std::string notANumber = "The next serial number in the settings\n" + Conf + "\nis \"";
    const struct {
        const char* name;
        std::function<void()> make;
        std::string box;  // start of the one box
    } rows[] = {
        {"folder", [&] { std::filesystem::create_directories(Conf); }, unreadable + "it is a folder)"},
        {"link loop",
         [&] {
             std::filesystem::create_symlink(Conf + ".b", Conf);
             std::filesystem::create_symlink(Conf, Conf + ".b");
         },
         unreadable + "Too many levels of symbolic links)"},
        {"beyond 32 bits", [&] { WriteConf("[Options]\nSerialNumber=5000000000\n"); },
         notANumber + "5000000000\", which is no number from 0 to 4294967295."},
        {"a megabyte of digits", [&] { WriteConf("[Options]\nSerialNumber=" + std::string(1 << 20, '7') + "\n"); },
         notANumber + std::string(40, '7') + "...\""},
        {"text", [&] { WriteConf("[Options]\nSerialNumber=12x\nSerialType=2\n"); }, notANumber + "12x\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove_all(Conf);
        std::filesystem::remove(Conf + ".b");
        row.make();
        Boxes.Boxes.clear();
        EXPECT_FALSE(Start());
        ASSERT_EQ(Boxes.Texts().size(), 1u);
        EXPECT_EQ(Boxes.Texts()[0].substr(0, row.box.size()), row.box);
        Console->DestroyWindow();
        EXPECT_EQ(Boxes.Texts().size(), 1u);  // nothing saved, nothing more said
    }
    std::ifstream last(Conf, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(last), {}), "[Options]\nSerialNumber=12x\nSerialType=2\n");
}
