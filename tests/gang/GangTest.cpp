// The gang end to end: the station core in this process, one real worker
// process (corvantis-gang-worker) per socket against libVELK430.so in fast
// timing, the units set up and failures injected with velk430-sim, the
// settings and the record in the test's own folder.
#include "Gang.h"
#include "GangDlg.h"

#include "MessageBox.h"
#include "ProductionRecord.h"
#include "RecipeFolder.h"
#include "SettingsStore.h"

#include "SimStore.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QComboBox>

#include <algorithm>
#include <map>
#include <set>

namespace {

constexpr uint32_t First = 1000;

class GangTest : public ::testing::Test, protected CStationView, protected CGangView {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        setenv("VELK430_SIM_DIR", Dir.filePath("sim").toUtf8().constData(), 1);
        setenv("XDG_DATA_HOME", Dir.filePath("data").toUtf8().constData(), 1);
        setenv("VELK430_SIM_TIMING", "fast", 1);
        CSettingsStore store = CSettingsStore::AtFile(Conf());
        // Erase Info, 60 KB, a WORD serial at 1080, the fuse: the whole batch.
        for (const auto& [name, value] :
             {std::pair{"DeviceName", "MSP430F149"}, {"Baud", "115200"}, {"SerialNumber", "1000"},
              {"SerialType", "2"}, {"SerialAddress", "1080"}, {"EraseFlash", "1"}, {"BlowFuse", "1"},
              {"FileName", CORV_SOURCE_DIR "/examples/fill-f149.txt"}})
            store.WriteProfileString("Options", name, value);
        ASSERT_TRUE(store.Flush());
    }

    std::string Conf() const { return Dir.filePath("Corvantis.conf").toStdString(); }
    uint32_t Stored(const char* name) const { return CSettingsStore::AtFile(Conf()).GetProfileInt("Options", name, 0); }

    // velk430-sim on one programmer.
    void Sim(const QString& port, QStringList args)
    {
        QProcess sim;
        args = QStringList{"--port", port} + args;
        sim.start(QCoreApplication::applicationDirPath() + "/velk430-sim", args);
        ASSERT_TRUE(sim.waitForFinished(30000));
        ASSERT_EQ(sim.exitCode(), 0) << sim.readAllStandardError().toStdString();
    }
    void SetUpUnits(const std::vector<std::string>& ports)
    {
        for (const std::string& port : ports) {
            Sim(QString::fromStdString(port), {"swap", "--device", "MSP430F149"});
            Sim(QString::fromStdString(port), {"feed", "auto"});
        }
    }
    std::vector<velk::CTrayEntry> Tray(const std::string& port) const
    {
        // COM1's folder is the state directory, COMn's its subfolder COMn.
        const QString sim = Dir.filePath("sim");
        return velk::CSimStore((port == "COM1" ? sim : sim + "/" + QString::fromStdString(port)).toStdString())
            .LoadTray();
    }
    static uint32_t SerialOf(const velk::CTrayEntry& unit) { return unit.Read(0x1080) | (unit.Read(0x1081) << 8); }

    void Start()
    {
        Station = std::make_unique<CStation>(static_cast<CStationView&>(*this), nullptr, nullptr);
        Station->SetSettingsFile(Conf());
        Station->RecordPath = Dir.filePath("production.db");
        std::string message;
        ASSERT_TRUE(Station->Load(Station->OpenSettingsStore(), message)) << message;
        Gang = std::make_unique<CGang>(*Station, static_cast<CGangView&>(*this));
    }
    CStationSetup Setup() const
    {
        CStationSetup setup = LoadStationSetup(Station->OpenSettingsStore());
        setup.DeviceNumber = FindDeviceNumber(setup.DeviceName);
        return setup;
    }
    // One Run All (or Check Fuse) to its end.
    bool Run(const std::vector<std::string>& ports, bool fuse = false)
    {
        Finished.clear();
        const CStationSetup setup = Setup();
        const bool started = fuse ? Gang->CheckFuse(setup, ports) : Gang->RunAll(setup, ports);
        Gang->Wait();
        return started;
    }
    QList<CAttempt> Rows()
    {
        std::string message;
        CProductionRecord* record = Station->RecordForReading(message);
        EXPECT_TRUE(record) << message;
        return record ? record->Select({}).value_or(QList<CAttempt>{}) : QList<CAttempt>{};
    }

    void AttemptStarted() override {}
    void AttemptPassed() override {}
    void AttemptFailed() override {}
    void Tell(const std::string& text) override { Told.push_back(text); }
    void SocketStarted(size_t, std::optional<uint32_t>) override {}
    void SocketStatus(size_t socket, const std::string& text) override
    {
        if (OnStatus)
            OnStatus(socket, text);
    }
    void SocketRange(size_t, int32_t, int32_t) override {}
    void SocketBar(size_t, int32_t) override {}
    void SocketFinished(size_t socket, const CUnitResult& result, const std::string&) override
    {
        EXPECT_EQ(Finished.count(socket), 0u) << "socket " << socket << " finished twice";
        Finished[socket] = result;
    }
    void AllFinished() override { ++Runs; }

    QTemporaryDir Dir;
    std::unique_ptr<CStation> Station;
    std::unique_ptr<CGang> Gang;
    std::vector<std::string> Told;
    std::map<size_t, CUnitResult> Finished;
    std::function<void(size_t, const std::string&)> OnStatus;
    int Runs = 0;
};

const std::vector<std::string> Four{"COM1", "COM2", "COM3", "COM4"};

}  // namespace

TEST_F(GangTest, FourSocketsTwentyFiveRunAllsShipAHundredDistinctNumbers)
{
    SetUpUnits(Four);
    Start();
    for (int run = 0; run < 25; ++run) {
        ASSERT_TRUE(Run(Four)) << (Told.empty() ? "" : Told.back());
        ASSERT_EQ(Finished.size(), 4u);
        for (const auto& [socket, result] : Finished)
            ASSERT_EQ(result.Result, "passed") << "run " << run << " socket " << socket << ": " << result.ErrorText;
    }
    EXPECT_EQ(Runs, 25);
    std::set<uint32_t> serials;
    for (const std::string& port : Four) {
        const auto tray = Tray(port);
        EXPECT_EQ(tray.size(), 25u) << port;
        for (const velk::CTrayEntry& unit : tray)
            serials.insert(SerialOf(unit));
    }
    EXPECT_EQ(serials.size(), 100u);
    EXPECT_EQ(*serials.begin(), First);
    EXPECT_EQ(*serials.rbegin(), First + 99);
    EXPECT_EQ(Stored("SerialNumber"), First + 100);
    EXPECT_EQ(Stored("Count"), 100u);
    const QList<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 100);
    std::map<QString, int> perPort;
    for (const CAttempt& row : rows) {
        EXPECT_EQ(row.Result, "passed");
        EXPECT_EQ(row.SerialWritten, true);
        ++perPort[row.Port];
    }
    EXPECT_EQ(perPort, (std::map<QString, int>{{"COM1", 25}, {"COM2", 25}, {"COM3", 25}, {"COM4", 25}}));
    EXPECT_TRUE(Told.empty()) << Told.front();
}

namespace {

struct CSocketFault {
    const char* Function;
    int32_t Count;
    const char* Step;  // the failed socket's step; null: the batch passes anyway
    bool Consumed;     // its number may be on the unit
};

void PrintTo(const CSocketFault& c, std::ostream* os) { *os << c.Function << " x" << c.Count; }

class GangFault : public GangTest, public ::testing::WithParamInterface<CSocketFault> {};

}  // namespace

// The last of three sockets fails at each library call in turn, as in the
// single station's fault drill: the other two pass, the failed socket's
// number is given back unless it may have reached the unit, and the next
// Run All passes on all three.
TEST_P(GangFault, FailsItsSocketOnly)
{
    const CSocketFault& c = GetParam();
    const std::vector<std::string> ports{"COM1", "COM2", "COM3"};
    SetUpUnits(ports);
    Sim("COM3", {"fail", c.Function, "-25", QString::number(c.Count)});
    Start();
    ASSERT_TRUE(Run(ports));
    ASSERT_EQ(Finished.size(), 3u);
    EXPECT_EQ(Finished[0].Result, "passed");
    EXPECT_EQ(Finished[1].Result, "passed");
    EXPECT_EQ(Finished[2].Result, c.Step ? "failed" : "passed") << Finished[2].ErrorText;
    EXPECT_EQ(Finished[2].Step, c.Step ? c.Step : "");
    const bool kept = !c.Step || c.Consumed;
    EXPECT_EQ(Stored("SerialNumber"), kept ? First + 3 : First + 2);
    const QList<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 3);
    for (const CAttempt& row : rows) {
        const bool failed = row.Port == "COM3" && c.Step;
        EXPECT_EQ(row.Result, failed ? "failed" : "passed") << row.Port.toStdString();
        EXPECT_EQ(row.SerialWritten, !failed || c.Consumed) << row.Port.toStdString();
    }
    EXPECT_EQ(Tray("COM3").size(), c.Step ? 0u : 1u);
    Sim("COM3", {"swap", "--device", "MSP430F149"});  // a locked reject is put aside
    ASSERT_TRUE(Run(ports));
    for (const auto& [socket, result] : Finished)
        EXPECT_EQ(result.Result, "passed") << socket << ": " << result.ErrorText;
}

INSTANTIATE_TEST_SUITE_P(
    EveryCall, GangFault,
    ::testing::Values(CSocketFault{"InitCom", 1, "Open", false}, CSocketFault{"SetNotificationWnd", 1, nullptr, false},
                      CSocketFault{"SetDeviceType", 1, "Device type", false},
                      CSocketFault{"SetVcc", 1, "Supply", false}, CSocketFault{"InitTarget", 1, "Target", false},
                      CSocketFault{"GetDeviceCfgInfo", 1, "Erase", false}, CSocketFault{"Erase", 1, nullptr, false},
                      CSocketFault{"Erase", 3, "Erase", false}, CSocketFault{"ProgramFile", 1, "Program", false},
                      CSocketFault{"VerifyFile", 1, "Verify", false},
                      CSocketFault{"ProgramData", 1, "Serial number", true},
                      CSocketFault{"VerifyData", 1, "Serial verify", true}, CSocketFault{"BlowFuse", 1, "Fuse", true},
                      CSocketFault{"Reset", 1, "Fuse", true}, CSocketFault{"ReleaseTarget", 1, nullptr, false},
                      CSocketFault{"ReleaseCom", 1, nullptr, false}),
    [](const ::testing::TestParamInfo<CSocketFault>& info) {
        return std::string(info.param.Function) + "x" + std::to_string(info.param.Count);
    });

// A worker killed with SIGKILL in the middle of its batch (the simulator
// kills it at the start of a library call) fails its own socket; the number
// stays consumed exactly when the kill came once the number could be on
// the unit. The port is free again for the next Run All.
TEST_F(GangTest, AWorkerKilledMidBatchFailsItsSocketOnly)
{
    const std::vector<std::string> ports{"COM1", "COM2", "COM3"};
    SetUpUnits(ports);
    Start();
    const struct {
        long KillAt;
        bool Consumed;
    } kills[] = {{17, false}, {18, true}};  // VerifyFile, ProgramData
    uint32_t next = First;
    for (const auto& kill : kills) {
        Gang->PrepareWorker = [&](size_t socket, QProcess& worker) {
            if (socket != 1)
                return;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("VELK430_SIM_KILL_AT", QString::number(kill.KillAt));
            worker.setProcessEnvironment(env);
        };
        ASSERT_TRUE(Run(ports));
        EXPECT_EQ(Finished[0].Result, "passed");
        EXPECT_EQ(Finished[2].Result, "passed");
        EXPECT_EQ(Finished[1].Result, "failed");
        EXPECT_EQ(Finished[1].Step, "Worker");
        EXPECT_EQ(Finished[1].SerialSent, kill.Consumed) << "kill at call " << kill.KillAt;
        EXPECT_EQ(Finished[1].SerialNumber, next + 1);
        next += 3;  // the third socket's number was consumed above the second's
        EXPECT_EQ(Stored("SerialNumber"), next);
        Sim("COM2", {"swap", "--device", "MSP430F149"});
    }
    Gang->PrepareWorker = nullptr;
    ASSERT_TRUE(Run(ports));
    for (const auto& [socket, result] : Finished)
        EXPECT_EQ(result.Result, "passed") << socket << ": " << result.ErrorText;
    EXPECT_EQ(Tray("COM2").size(), 1u);
}

// A worker that hangs (a stand-in that says one line, or nothing, and then
// sleeps: the real worker cannot be made to hang on demand) is killed once
// silent past the limit; its number is consumed only if it said it may
// have reached the unit.
TEST_F(GangTest, ASilentWorkerIsKilledPastTheLimit)
{
    Start();
    Gang->SilenceLimitMs = 300;
    for (const bool sent : {false, true}) {
        Gang->PrepareWorker = [sent](size_t, QProcess& worker) {
            worker.setProgram("/bin/sh");
            worker.setArguments({"-c", sent ? "read r; echo '{\"sent\":true}'; exec sleep 600" : "exec sleep 600"});
        };
        const uint32_t before = Stored("SerialNumber");
        ASSERT_TRUE(Run({"COM1"}));
        ASSERT_EQ(Finished.size(), 1u);
        EXPECT_EQ(Finished[0].Result, "failed");
        EXPECT_EQ(Finished[0].Step, "Worker");
        EXPECT_EQ(Finished[0].ErrorText, "The worker of socket COM1 said nothing for 0.3 s and was stopped.");
        EXPECT_EQ(Stored("SerialNumber"), sent ? before + 1 : before);
        const QList<CAttempt> rows = Rows();
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const CAttempt& r) { return r.SerialValue == before; });
        ASSERT_NE(row, rows.end());
        EXPECT_EQ(row->SerialWritten, sent);
        EXPECT_EQ(row->Result, "failed");
    }
}

// Refusals change nothing: a second Run All while the first runs, no socket
// in use, a setup the check refuses (told once, one refused row).
TEST_F(GangTest, RefusalsReserveNothing)
{
    SetUpUnits({"COM1", "COM2"});
    Start();
    const CStationSetup setup = Setup();
    ASSERT_TRUE(Gang->RunAll(setup, {"COM1", "COM2"}));
    EXPECT_FALSE(Gang->RunAll(setup, {"COM1", "COM2"}));
    EXPECT_FALSE(Gang->CheckFuse(setup, {"COM1"}));
    Gang->Wait();
    ASSERT_EQ(Told.size(), 2u);
    EXPECT_EQ(Told[0], "The sockets are still running: the next run starts once every socket has finished.");
    EXPECT_EQ(Stored("SerialNumber"), First + 2);
    EXPECT_FALSE(Gang->RunAll(setup, {}));
    EXPECT_EQ(Told.back(), "No socket is in use: tick \"in use\" on the sockets to program.");
    CStationSetup bad = setup;
    bad.SerialAddress = "1100";  // on the firmware's bytes
    bad.SerialNumber = First + 2;
    EXPECT_FALSE(Gang->RunAll(bad, {"COM1", "COM2"}));
    EXPECT_EQ(Told.size(), 4u);
    EXPECT_EQ(Stored("SerialNumber"), First + 2);
    const QList<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [](const CAttempt& r) { return r.Result == "refused" && r.Step == "Check"; }),
              1);
}

// Check Fuse runs on every socket, each with its own row and answer.
TEST_F(GangTest, CheckFuseAnswersPerSocket)
{
    SetUpUnits({"COM1", "COM2"});
    Sim("COM2", {"swap", "--device", "MSP430F149", "--fuse", "blown"});
    Start();
    ASSERT_TRUE(Run({"COM1", "COM2"}, true));
    EXPECT_EQ(Finished[0].FuseBlown, 0);
    EXPECT_EQ(Finished[1].FuseBlown, 1);
    const QList<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].Kind, "fuse");
    EXPECT_EQ(Stored("SerialNumber"), First);
}

// The window: four sockets in use, the third one's unit fails to verify.
// Each row shows its own picture, number and text; the setup and sockets
// are kept in [Gang]. With CORV_GANG_SCREENSHOT set, the window after the
// run is saved there (tools/screenshot-gang.sh).
TEST_F(GangTest, TheWindowShowsEachSocketsOwnResult)
{
    SetUpUnits(Four);
    Sim("COM3", {"fail", "VerifyFile", "-22"});
    CMessageBoxRecorder boxes;
    CGangDlg window(nullptr, Conf());
    ASSERT_TRUE(window.Load());
    EXPECT_EQ(window.Rows[2].Port->text(), "COM3");
    EXPECT_EQ(window.SerialNumberEdit->text(), "1000");
    for (size_t i = 0; i < 4; ++i)
        window.Rows[i].InUse->setChecked(true);
    window.show();
    window.RunAllButton->click();
    EXPECT_FALSE(window.RunAllButton->isEnabled());
    window.WaitForRun();
    using EShown = CGangDlg::CRow::EShown;
    const EShown shown[] = {EShown::Pass, EShown::Pass, EShown::Fail, EShown::Pass, EShown::None};
    const char* serials[] = {"1000", "1001", "1002 (not written)", "1003", ""};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(window.Rows[i].Shown, shown[i]) << "socket " << i + 1;
        EXPECT_EQ(window.Rows[i].Serial->text().toStdString(), serials[i]) << "socket " << i + 1;
    }
    EXPECT_EQ(window.Rows[2].Status->text(), "Unable to verify (FFFFFFEA)");
    EXPECT_EQ(window.Rows[0].Status->text(), "Batch executed successfully");
    EXPECT_EQ(window.Summary->text(), "3 passed, 1 failed");
    EXPECT_EQ(window.SerialNumberEdit->text(), "1004");
    EXPECT_TRUE(window.RunAllButton->isEnabled());
    EXPECT_TRUE(boxes.Boxes.empty());
    if (const char* shot = std::getenv("CORV_GANG_SCREENSHOT")) {
        EXPECT_TRUE(window.grab().save(QString::fromLocal8Bit(shot)));
    }
    window.close();
    const CSettingsStore store = CSettingsStore::AtFile(Conf());
    EXPECT_EQ(store.GetProfileInt("Gang", "InUse3", 0), 1u);
    EXPECT_EQ(store.GetProfileInt("Gang", "InUse5", 1), 0u);
    EXPECT_EQ(store.GetProfileString("Gang", "Port4", ""), "COM4");
    EXPECT_EQ(store.GetProfileString("Gang", "DeviceName", ""), "MSP430F149");
}

// Without a [Gang] Vcc the window takes the main window's stored text as it
// is: one that is no voltage is refused by Run All, which takes no number;
// picking a device brings its default supply.
TEST_F(GangTest, AStoredVccThatIsNoVoltageIsShownAndRefused)
{
    SetUpUnits({"COM1"});
    CSettingsStore::AtFile(Conf()).WriteProfileString("Options", "VCC", "2,5");
    CMessageBoxRecorder boxes;
    CGangDlg window(nullptr, Conf());
    ASSERT_TRUE(window.Load());
    EXPECT_EQ(window.VccEdit->text(), "2,5");
    window.RunAllButton->click();
    window.WaitForRun();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Please enter a supply voltage in volts."});
    EXPECT_EQ(window.SerialNumberEdit->text(), "1000");
    EXPECT_EQ(Stored("SerialNumber"), 1000u);
    emit window.DeviceList->activated(window.DeviceList->currentIndex());
    EXPECT_EQ(window.VccEdit->text(), "3.3");
    window.close();
}

// In production mode every socket runs the recipe whatever the window sent:
// the recipe's image on every unit and rows naming it; the image changed on
// disk by one byte refuses the next Run All before any number is taken.
TEST_F(GangTest, ProductionModeRunsTheRecipeOnEverySocket)
{
    SetUpUnits({"COM1", "COM2"});
    CSettingsStore::AtFile(Conf()).WriteProfileString("Options", "FileName", "/nowhere.txt");
    const QString folder = Dir.filePath("recipes");
    QString error;
    const CRecipe recipe = MakeF149Recipe(folder, Dir.filePath("station.conf"), error);
    ASSERT_EQ(recipe.Version, 1) << error.toStdString();
    Station = std::make_unique<CStation>(static_cast<CStationView&>(*this), nullptr, nullptr);
    Station->SetSettingsFile(Conf());
    Station->RecordPath = Dir.filePath("production.db");
    Station->ConfPath = Dir.filePath("station.conf").toStdString();
    Station->OperatorUid = 65534;  // an operator's account, not the one that made the recipe
    std::string message;
    ASSERT_TRUE(Station->Load(Station->OpenSettingsStore(), message)) << message;
    Gang = std::make_unique<CGang>(*Station, static_cast<CGangView&>(*this));

    ASSERT_TRUE(Run({"COM1", "COM2"}));
    ASSERT_EQ(Finished.size(), 2u);
    EXPECT_EQ(Finished[0].Result, "passed") << Finished[0].ErrorText;
    EXPECT_EQ(Finished[1].Result, "passed") << Finished[1].ErrorText;
    ASSERT_EQ(Tray("COM1").size(), 1u);
    ASSERT_EQ(Tray("COM2").size(), 1u);
    EXPECT_EQ(Tray("COM1")[0].MainCrc, Tray("COM2")[0].MainCrc);
    const QList<CAttempt> rows = Rows();
    EXPECT_EQ(rows.size(), 2);
    for (const CAttempt& row : rows) {
        EXPECT_EQ(row.Recipe, "f149");
        EXPECT_EQ(row.RecipeVersion, 1);
    }

    QFile approved(folder + "/f149/1.firmware");
    ASSERT_TRUE(approved.open(QIODevice::ReadWrite));
    ASSERT_TRUE(approved.seek(20));
    ASSERT_TRUE(approved.putChar('0' == approved.peek(1).at(0) ? '1' : '0'));
    approved.close();
    const uint32_t next = Stored("SerialNumber");
    EXPECT_FALSE(Run({"COM1", "COM2"}));
    ASSERT_FALSE(Told.empty());
    EXPECT_NE(Told.back().find("Approved SHA-256: " + recipe.FirmwareSha256.toStdString()), std::string::npos)
        << Told.back();
    EXPECT_EQ(Stored("SerialNumber"), next);
    EXPECT_EQ(Tray("COM1").size(), 1u);
}
