// The console against libVELK430.so in fast timing: a production run as an
// operator does it, button by button, with the units inspected through the
// simulator's state folder and a failure injected in the middle.
#include "ScratchDir.h"
#include "ConsoleProbe.h"
#include "RecipeFolder.h"
#include "Resources.h"
#include "ControlHelpers.h"
#include "MessageBox.h"

#include "Recipe.h"
#include "SimStore.h"
#include "Station.h"

#include <QApplication>
#include <QKeyEvent>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSysInfo>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <optional>
#include <string>

using namespace velk;
namespace fs = std::filesystem;

namespace {

class ConsoleE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A production record per test process: ctest runs these tests side
        // by side, and a station starting marks the running rows it finds
        // interrupted (one writer at a time is what a station is).
        qputenv("XDG_DATA_HOME", (Scratch / "data").c_str());
        const char* base = std::getenv("VELK430_SIM_DIR");
        Base = base ? base : "";
        // The console's library reads the folder named here at each open.
        Dir = Scratch / "sim";
        fs::create_directories(Dir);
        setenv("VELK430_SIM_DIR", Dir.c_str(), 1);
        setenv("VELK430_SIM_TIMING", "fast", 1);
        ASSERT_TRUE(LoadDefaultDeviceTable(Table));
        Store.emplace(Dir.string());

        QSettings settings(QStringLiteral("Quillfern"), QStringLiteral("Corvantis"));
        settings.clear();
        settings.sync();
    }

    void TearDown() override
    {
        if (Console && !Console->IsEnded())
            Console->DestroyWindow();
        Console.reset();
        setenv("VELK430_SIM_DIR", Base.c_str(), 1);
    }

    static void Store12(const std::map<QString, QString>& values)
    {
        QSettings settings(QStringLiteral("Quillfern"), QStringLiteral("Corvantis"));
        for (const auto& [name, value] : values)
            settings.setValue(QStringLiteral("Options/") + name, value);
        settings.sync();
    }

    static QString Stored(const char* name)
    {
        QSettings settings(QStringLiteral("Quillfern"), QStringLiteral("Corvantis"));
        return settings.value(QStringLiteral("Options/") + QLatin1String(name)).toString();
    }

    void Start()
    {
        Console = std::make_unique<CConsoleProbe>();
        ASSERT_TRUE(Console->Create());
    }

    void RunBatch() { Console->RunBatchButton->click(); }

    bool ShowsCross() const
    {
        return Console->FailBitmap &&
               Console->StatusPicture->pixmap().cacheKey() == Console->FailBitmap->cacheKey();
    }
    bool ShowsTick() const
    {
        return Console->PassBitmap &&
               Console->StatusPicture->pixmap().cacheKey() == Console->PassBitmap->cacheKey();
    }

    std::string Base;
    const CScratchDir Scratch{"console-e2e"};
    fs::path Dir;
    CDeviceTable Table;
    std::optional<CSimStore> Store;
    CMessageBoxRecorder Boxes;
    std::unique_ptr<CConsoleProbe> Console;
};

const std::string Firmware = std::string(CORV_SOURCE_DIR) + "/examples/fill-f149.txt";

}  // namespace

TEST_F(ConsoleE2E, TwentyUnitsWithEraseWordSerialAndFuse)
{
    CSimSettings sim;
    sim.Feed = EFeed::Auto;
    ASSERT_TRUE(Store->SaveSettings(sim));
    ASSERT_TRUE(Store->SaveUnit(CUnit(*Table.Find("MSP430F149"))));
    Store12({{"CommPort", "COM1"},
             {"Baud", "115200"},
             {"DeviceName", "MSP430F149"},
             {"FileName", QString::fromStdString(Firmware)},
             {"VCC", "3.3"},
             {"BlowFuse", "1"},
             {"EraseFlash", "1"},
             {"SerialNumber", "65510"},  // the last WORD serials: 65535 is the largest
             {"SerialAddress", "1080"},
             {"SerialType", "2"},
             {"Count", "0"},
             {"CountUp", "1"}});
    Start();
    ASSERT_EQ(Console->DeviceName, "MSP430F149");
    ASSERT_NE(GetCurSel(Console->DeviceList), CB_ERR);

    uint32_t serial = 65510;
    int failures = 0;
    for (uint32_t unit = 0; unit < 20; ++unit, ++serial) {
        SCOPED_TRACE("unit " + std::to_string(unit));
        if (unit == 9) {
            // The serial number's verify fails once on this unit.
            ASSERT_TRUE(Store->InjectFault("VerifyData", -22, 1));
            RunBatch();
            ++failures;
            EXPECT_TRUE(ShowsCross());
            ASSERT_EQ(Boxes.Boxes.size(), 1u);
            EXPECT_NE(Boxes.Boxes[0].text, "No error");
            EXPECT_NE(Boxes.Boxes[0].text.find("FFEA"), std::string::npos) << Boxes.Boxes[0].text;
            // The rejected unit holds the number: it is consumed.
            EXPECT_EQ(Console->SerialNumber, serial + 1);
            EXPECT_EQ(Stored("SerialNumber").toUInt(), serial + 1);
            EXPECT_EQ(Console->Count, static_cast<int32_t>(unit));
            EXPECT_TRUE(Console->IsWindowEnabled(IDC_RUN_BATCH));
            // The unit stays on the socket; the operator presses again.
            ++serial;
        }
        RunBatch();
        ASSERT_TRUE(ShowsTick()) << (Boxes.Boxes.empty() ? "" : Boxes.Boxes.back().text);
        EXPECT_EQ(Console->GetDlgItemText(IDC_OPERATION), "Batch executed successfully");

        // Auto feed took the finished unit off the socket.
        const auto done = Store->LoadUnitFrom(Store->PreviousUnitPath(), Table);
        ASSERT_TRUE(done.has_value());
        EXPECT_EQ(done->Read(0x1080), serial & 0xFF);
        EXPECT_EQ(done->Read(0x1081), (serial >> 8) & 0xFF);
        EXPECT_TRUE(done->FuseBlown());
        EXPECT_EQ(Console->SerialNumber, serial + 1);
        EXPECT_EQ(Console->Count, static_cast<int32_t>(unit + 1));
        // What a power cut right now would leave for the next start.
        EXPECT_EQ(Stored("SerialNumber").toUInt(), serial + 1);
        EXPECT_EQ(Stored("Count").toInt(), static_cast<int32_t>(unit + 1));
    }
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Console->GetDlgItemText(IDC_SERIAL_NUMBER), "65531");
    EXPECT_EQ(Console->GetDlgItemText(IDC_COUNT), "20");

    Console->ExitButton->click();
    ASSERT_TRUE(Console->IsEnded());
    Console->DestroyWindow();
    EXPECT_EQ(Stored("SerialNumber"), QStringLiteral("65531"));
    EXPECT_EQ(Stored("Count"), QStringLiteral("20"));
    EXPECT_EQ(Stored("SerialAddress"), QStringLiteral("1080"));
}

TEST_F(ConsoleE2E, CheckFuseAndAPortWithNoProgrammer)
{
    CSimSettings sim;
    ASSERT_TRUE(Store->SaveSettings(sim));
    CUnit blown(*Table.Find("MSP430F112"));
    blown.BlowFuse();
    ASSERT_TRUE(Store->SaveUnit(blown));
    Store12({{"Baud", "9600"}});
    Start();
    Console->CheckFuseButton->click();
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_EQ(Boxes.Boxes[0].text, "Fuse is blown");
    EXPECT_TRUE(ShowsTick());

    Console->CommPort = "COM4";
    // A firmware file, so that the setup check lets the batch reach the port.
    Console->SetDlgItemText(IDC_FILENAME, CORV_SOURCE_DIR "/examples/blink-f112.txt");
    RunBatch();
    ASSERT_EQ(Boxes.Boxes.size(), 2u);
    EXPECT_EQ(Boxes.Boxes[1].text.rfind("Error opening VELK\nUnable to open VELK on COM4 at 9600", 0), 0u)
        << Boxes.Boxes[1].text;
}

TEST_F(ConsoleE2E, DeviceListComesFromDeviceCfg)
{
    Start();
    EXPECT_GT(GetCount(Console->DeviceList), 300);
    for (int i = 1; i < GetCount(Console->DeviceList); ++i)
        EXPECT_LE(GetLBText(Console->DeviceList, i - 1), GetLBText(Console->DeviceList, i));
    const int f149 = FindString(Console->DeviceList, "MSP430F149");
    ASSERT_NE(f149, CB_ERR);
    EXPECT_EQ(GetItemData(Console->DeviceList, f149), Table.IndexOf("MSP430F149"));
}

namespace {

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

// The station unchanged on mspdebug's simulated target: the flash mspdebug
// holds at the end of the session (kept by the library's snapshot) equals
// srec_cat's reading of the file, with the serial number in information flash.
TEST_F(ConsoleE2E, MspdebugSimTargetGetsTheFileAndTheSerialNumber)
{
    const fs::path snapshot = Dir / "snapshot";
    setenv("VELK430_MSPDEBUG_SNAPSHOT", snapshot.c_str(), 1);
    const fs::path expected = Dir / "expected.bin";
    const std::string srec = "srec_cat '" + Firmware + "' -TI_TXT -fill 0xFF 0x1100 0x10000 -crop 0x1100 0x10000 "
                             "-offset -0x1100 -o '" + expected.string() + "' -binary";
    ASSERT_EQ(std::system(srec.c_str()), 0) << srec;
    Store12({{"CommPort", "mspdebug:sim"},
             {"Baud", "115200"},
             {"DeviceName", "MSP430F149"},
             {"FileName", QString::fromStdString(Firmware)},
             {"VCC", "3.3"},
             {"BlowFuse", "0"},
             {"EraseFlash", "1"},
             {"SerialNumber", "4660"},
             {"SerialAddress", "1080"},
             {"SerialType", "2"}});
    Start();
    RunBatch();
    unsetenv("VELK430_MSPDEBUG_SNAPSHOT");
    ASSERT_TRUE(ShowsTick()) << (Boxes.Boxes.empty() ? "" : Boxes.Boxes.back().text);
    EXPECT_EQ(Console->GetDlgItemText(IDC_OPERATION), "Batch executed successfully");
    EXPECT_EQ(Console->SerialNumber, 4661u);

    // Main flash is two regions: a 256-byte first segment, then 512-byte ones.
    const std::string main = ReadBytes(snapshot / "01100.bin") + ReadBytes(snapshot / "01200.bin");
    ASSERT_EQ(main.size(), 0xEF00u);
    EXPECT_TRUE(main == ReadBytes(expected)) << "main flash differs from srec_cat's reading";
    std::string info(256, '\xFF');
    info[0x80] = '\x34';
    info[0x81] = '\x12';
    EXPECT_TRUE(ReadBytes(snapshot / "01000.bin") == info);

    // mspdebug 0.22 cannot blow the fuse: refused before the unit is
    // touched, so the serial number stays unused.
    Console->BlowFuseCheck->setChecked(true);
    RunBatch();
    EXPECT_TRUE(ShowsCross());
    EXPECT_EQ(Console->SerialNumber, 4661u);
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    EXPECT_NE(Boxes.Boxes[0].text.find("\n-47: this programmer cannot blow the security fuse."), std::string::npos)
        << Boxes.Boxes[0].text;

    // A driver this mspdebug does not have: the library's code and reason in the box.
    Console->BlowFuseCheck->setChecked(false);
    Console->CommPort = "mspdebug:ezfet";
    RunBatch();
    ASSERT_EQ(Boxes.Boxes.size(), 2u);
    EXPECT_NE(Boxes.Boxes[1].text.find("Unable to open VELK on mspdebug:ezfet at 115200 (-42)\nport "), std::string::npos)
        << Boxes.Boxes[1].text;
}

// Production mode from a recipe folder: the window shows the recipe and its
// fields take no input; ten units get the recipe's image and setup and the
// record names it; one byte of the image changed on disk refuses the next
// unit before the programmer is opened, and no number is used.
TEST_F(ConsoleE2E, ProductionModeRunsTheRecipeAndRefusesAChangedImage)
{
    CSimSettings sim;
    sim.Feed = EFeed::Auto;
    ASSERT_TRUE(Store->SaveSettings(sim));
    ASSERT_TRUE(Store->SaveUnit(CUnit(*Table.Find("MSP430F149"))));
    // The operator's own settings say otherwise: the recipe wins.
    Store12({{"CommPort", "COM1"}, {"Baud", "115200"}, {"DeviceName", "MSP430F112"}, {"FileName", "/nowhere.txt"},
             {"VCC", "2.2"}, {"BlowFuse", "1"}, {"SerialNumber", "40"}, {"SerialType", "0"}});
    const std::string conf = (Dir / "station.conf").string();
    QString error;
    const CRecipe recipe = MakeF149Recipe(QString::fromStdString((Dir / "recipes").string()),
                                          QString::fromStdString(conf), error);
    ASSERT_EQ(recipe.Version, 1) << error.toStdString();

    Console = std::make_unique<CConsoleProbe>();
    Console->Station->ConfPath = conf;
    Console->Station->OperatorUid = 65534;  // an operator's account, not the one that made the recipe
    Console->Station->RecordPath = QString::fromStdString((Dir / "production.db").string());
    ASSERT_TRUE(Console->Create());
    ASSERT_TRUE(Boxes.Boxes.empty()) << Boxes.Boxes[0].text;
    EXPECT_EQ(Console->GetDlgItemText(IDC_OPERATION).rfind("Recipe f149 version 1 (firmware fill-f149.txt)", 0), 0u);
    EXPECT_EQ(Console->DeviceList->currentText(), "MSP430F149");
    for (QLineEdit* edit : {Console->VccEdit, Console->FileNameEdit, Console->SerialAddressEdit,
                            Console->SerialNumberEdit, Console->CountEdit}) {
        const QString before = edit->text();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_7, Qt::NoModifier, "7");
        QApplication::sendEvent(edit, &key);
        EXPECT_EQ(edit->text(), before) << edit->objectName().toStdString();
    }
    EXPECT_EQ(Console->GetDlgItemText(IDC_VCC), "3.0");
    EXPECT_EQ(Console->GetDlgItemText(IDC_SERIAL_ADDRESS), "1080");
    for (int id : {IDC_DEVICE, IDC_VCC, IDC_BROWSE, IDC_ERASE_INFO, IDC_BLOW_FUSE, IDC_SERIAL_TYPE, IDC_COUNT_UP})
        EXPECT_FALSE(Console->IsWindowEnabled(id)) << id;
    for (int id : {IDC_RUN_BATCH, IDC_CHECK_FUSE, IDC_PORT, IDC_EXIT})
        EXPECT_TRUE(Console->IsWindowEnabled(id)) << id;

    for (uint32_t unit = 0; unit < 10; ++unit) {
        RunBatch();
        ASSERT_TRUE(ShowsTick()) << (Boxes.Boxes.empty() ? "" : Boxes.Boxes.back().text);
        const auto done = Store->LoadUnitFrom(Store->PreviousUnitPath(), Table);
        ASSERT_TRUE(done.has_value());
        EXPECT_EQ(done->Read(0x1080), 40 + unit);
        EXPECT_FALSE(done->FuseBlown()) << "blown as the settings say, not as the recipe says";
    }
    const auto rows = Console->Station->RecordFile()->Select({});
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 10u) << qPrintable(Console->Station->RecordFile()->Path()) << " "
                                 << qPrintable(rows->front().Result) << " " << qPrintable(rows->back().Result);
    for (const CAttempt& row : *rows) {
        EXPECT_EQ(row.Result, "passed");
        EXPECT_EQ(row.Recipe, "f149");
        EXPECT_EQ(row.RecipeVersion, 1);
        EXPECT_EQ(row.Firmware, "fill-f149.txt");
        EXPECT_EQ(row.FirmwareSha256, recipe.FirmwareSha256);
        EXPECT_EQ(row.Vcc, 3.0);
    }

    // One byte of the approved image changed on disk. InitCom would now
    // fail: the refusal must come before it.
    QFile changed(CRecipeBook(QString::fromStdString((Dir / "recipes").string())).FirmwarePath("f149", 1));
    ASSERT_TRUE(changed.open(QIODevice::ReadWrite));
    QByteArray bytes = changed.readAll();
    bytes[bytes.indexOf("FF") >= 0 ? bytes.indexOf("FF") : 1] = 'E';
    changed.seek(0);
    changed.write(bytes);
    changed.close();
    ASSERT_TRUE(Store->InjectFault("InitCom", -1, 1));
    RunBatch();
    EXPECT_TRUE(ShowsCross());
    ASSERT_EQ(Boxes.Boxes.size(), 1u);
    const std::string& text = Boxes.Boxes[0].text;
    EXPECT_EQ(text.rfind("Batch not started: the firmware image is not the one recipe f149 version 1 approved", 0), 0u)
        << text;
    EXPECT_NE(text.find("Approved SHA-256: " + recipe.FirmwareSha256.toStdString()), std::string::npos) << text;
    EXPECT_NE(text.find("Image SHA-256:    " + Sha256Hex(bytes).toStdString()), std::string::npos) << text;
    EXPECT_EQ(Console->SerialNumber, 50u);
    EXPECT_EQ(Stored("SerialNumber"), "50");
    const auto refused = Console->Station->RecordFile()->Select({}, 1);
    ASSERT_TRUE(refused && refused->size() == 1);
    EXPECT_EQ(refused->front().Result, "refused");
    EXPECT_EQ(refused->front().Step, "Check");
    EXPECT_EQ(refused->front().Recipe, "f149");

    // The user's settings keep their own setup: production mode wrote none of it.
    Console->ExitButton->click();
    ASSERT_TRUE(Console->IsEnded());
    EXPECT_EQ(Stored("DeviceName"), "MSP430F112");
    EXPECT_EQ(Stored("VCC"), "2.2");
}

// A recipe the operator's account could change is refused at start, the
// message naming the path.
TEST_F(ConsoleE2E, ARecipeTheOperatorCanChangeIsRefusedAtStart)
{
    CSimSettings sim;
    ASSERT_TRUE(Store->SaveSettings(sim));
    const QString folder = QString::fromStdString((Dir / "recipes").string());
    const std::string conf = (Dir / "station.conf").string();
    QString error;
    ASSERT_EQ(MakeF149Recipe(folder, QString::fromStdString(conf), error).Version, 1) << error.toStdString();
    const CRecipeBook book(folder);
    struct CRow {
        std::string Path;
        mode_t Mode;  // added to the path's mode
        uint32_t Uid;
        bool Own;     // the path is given to the operator's account (as root only)
    };
    const CRow rows[] = {
        {conf, S_IWOTH, 65534, false},
        {folder.toStdString(), S_IWOTH, 65534, false},
        {book.RecipePath("f149", 1).toStdString(), S_IWOTH, 65534, false},
        {book.FirmwarePath("f149", 1).toStdString(), S_IWOTH, 65534, false},
        {Dir.string(), S_IWOTH, 65534, false},  // a folder above, not sticky
        {folder.toStdString() + "/f149", 0, 65534, true},
        {conf, 0, 0, false},  // the station runs as root
    };
    for (const CRow& row : rows) {
        SCOPED_TRACE(row.Path);
        if (row.Own && ::geteuid() != 0)
            continue;
        struct stat st {};
        ASSERT_EQ(::stat(row.Path.c_str(), &st), 0);
        ASSERT_EQ(::chmod(row.Path.c_str(), st.st_mode | row.Mode), 0);
        ASSERT_EQ(::chown(row.Path.c_str(), row.Own ? 65534 : st.st_uid, -1), 0);
        Boxes.Boxes.clear();
        Console = std::make_unique<CConsoleProbe>();
        Console->Station->ConfPath = conf;
        Console->Station->OperatorUid = row.Uid;
        Console->Create();
        EXPECT_TRUE(Console->IsEnded());
        ASSERT_EQ(Boxes.Boxes.size(), 1u);
        EXPECT_EQ(Boxes.Boxes[0].text.rfind("The operator's account can change ", 0), 0u) << Boxes.Boxes[0].text;
        EXPECT_NE(Boxes.Boxes[0].text.find(row.Path), std::string::npos) << Boxes.Boxes[0].text;
        ASSERT_EQ(::chmod(row.Path.c_str(), st.st_mode & 07777), 0);
        ASSERT_EQ(::chown(row.Path.c_str(), st.st_uid, -1), 0);
        Console.reset();
    }
}
