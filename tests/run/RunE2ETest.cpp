// corvantis-run as a test station runs it: the real program against
// libVELK430.so, the unit set up and failures injected with velk430-sim,
// the settings and the production record in the test's own folder.
#include "ProductionRecord.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

#include <signal.h>

namespace {

class RunE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Env.insert("VELK430_SIM_DIR", Dir.filePath("sim"));
        Env.insert("VELK430_SIM_TIMING", "fast");
        Env.insert("XDG_CONFIG_HOME", Dir.filePath("config"));
        Env.insert("XDG_DATA_HOME", Dir.filePath("data"));
        Sim({"swap", "--device", "MSP430F149"});
        Sim({"feed", "auto"});
        QDir().mkpath(Dir.filePath("config/Quillfern"));
        CSettingsStore store = CSettingsStore::AtFile(Conf().toStdString());
        for (const auto& [name, value] : {std::pair{"DeviceName", "MSP430F149"}, {"SerialNumber", "100"},
                                          {"SerialType", "2"}, {"FileName", CORV_SOURCE_DIR "/examples/fill-f149.txt"}})
            store.WriteProfileString("Options", name, value);
        ASSERT_TRUE(store.Flush());
    }

    QString Conf() const { return Dir.filePath("config/Quillfern/Corvantis.conf"); }
    uint32_t Stored(const char* name) const
    {
        return CSettingsStore::AtFile(Conf().toStdString()).GetProfileInt("Options", name, 0);
    }

    void Sim(const QStringList& args)
    {
        QProcess sim;
        sim.setProcessEnvironment(Env);
        sim.start(QCoreApplication::applicationDirPath() + "/velk430-sim", args);
        ASSERT_TRUE(sim.waitForFinished(30000));
        ASSERT_EQ(sim.exitCode(), 0) << sim.readAllStandardError().toStdString();
    }

    // Runs corvantis-run to its end; its standard output, lines.
    QStringList Run(const QStringList& args, int& status)
    {
        QProcess run;
        run.setProcessEnvironment(Env);
        run.start(QCoreApplication::applicationDirPath() + "/corvantis-run", args);
        EXPECT_TRUE(run.waitForFinished(60000));
        status = run.exitStatus() == QProcess::NormalExit ? run.exitCode() : -1;
        Err = QString::fromUtf8(run.readAllStandardError());
        return QString::fromUtf8(run.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    }

    QList<CAttempt> Rows()
    {
        CProductionRecord record;
        EXPECT_TRUE(record.Open(Dir.filePath("data/Quillfern/Corvantis/production.db")));
        return record.Select({}).value_or(QList<CAttempt>{});
    }

    QTemporaryDir Dir;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    QString Err;
};

TEST_F(RunE2E, UnitsPassOneLineEachAndShareTheStoresNextNumber)
{
    // --vcc replaces a stored voltage that would be refused.
    CSettingsStore store = CSettingsStore::AtFile(Conf().toStdString());
    store.WriteProfileString("Options", "VCC", "2,5");
    ASSERT_TRUE(store.Flush());
    int status = -1;
    const QStringList lines = Run({"--units", "3", "--erase-info", "--vcc", "3.0"}, status);
    EXPECT_EQ(status, 0) << Err.toStdString();
    EXPECT_EQ(lines, (QStringList{"unit 1: passed, serial number 100", "unit 2: passed, serial number 101",
                                  "unit 3: passed, serial number 102"}));
    EXPECT_EQ(Stored("SerialNumber"), 103u);
    EXPECT_EQ(Stored("Count"), 3u);
    const QList<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 3);
    for (const CAttempt& row : rows) {
        EXPECT_EQ(row.Result, "passed");
        EXPECT_TRUE(row.EraseInfo);
    }
}

TEST_F(RunE2E, JsonStreamsEveryEventAndAFailedUnitGivesItsNumberBack)
{
    Sim({"fail", "VerifyFile", "-22"});
    int status = -1;
    const QStringList lines = Run({"--json", "--units", "2"}, status);
    EXPECT_EQ(status, 1);
    ASSERT_GT(lines.size(), 3);
    const QJsonObject first = QJsonDocument::fromJson(lines.front().toUtf8()).object();
    EXPECT_EQ(first.value("status").toString(), "Initializing VELK");
    EXPECT_TRUE(lines.contains(R"({"status":"Verifying file","unit":1})")) << lines.join('\n').toStdString();
    const QJsonObject last = QJsonDocument::fromJson(lines.back().toUtf8()).object();
    EXPECT_EQ(last.value("result").toString(), "failed");
    EXPECT_EQ(last.value("step").toString(), "Verify");
    EXPECT_EQ(last.value("code").toInt(), -22);
    EXPECT_EQ(last.value("serial").toInt(), 100);
    EXPECT_EQ(last.value("error").toString(), "Unable to verify (FFFFFFEA)");
    EXPECT_EQ(last.value("unit").toInt(), 1);  // the run stops at the failed unit
    EXPECT_EQ(Stored("SerialNumber"), 100u);
}

TEST_F(RunE2E, RefusalsBeforeAnyUnitExitTwoAndTouchNothing)
{
    QLockFile held(Conf() + ".running");
    struct Row {
        const char* what;
        QStringList args;
        const char* message;
        const char* vcc = "3.3";  // stored
    };
    const Row rows[] = {
        {"unknown option", {"--fast"}, "unknown option or missing value: --fast"},
        {"bad width", {"--serial-type", "qword"}, "--serial-type takes none, byte, word or dword"},
        {"missing settings", {"--settings", Dir.filePath("nope.conf")}, "no settings file"},
        {"decimal comma", {"--vcc", "3,3"}, "--vcc takes a supply voltage in volts"},
        {"stored decimal comma", {}, "VCC \"2,5\" in the settings", "2,5"},
        {"stored unit", {}, "Please enter a supply voltage in volts.", "5V"},
        {"stored negative", {}, "Please enter a supply voltage in volts.", "-1"},
        {"station running", {}, "Another station is already running with these settings"},
    };
    for (const Row& row : rows) {
        if (QString(row.what) == "station running") {
            ASSERT_TRUE(held.tryLock(0));
        }
        CSettingsStore store = CSettingsStore::AtFile(Conf().toStdString());
        store.WriteProfileString("Options", "VCC", row.vcc);
        ASSERT_TRUE(store.Flush());
        int status = -1;
        Run(row.args, status);
        EXPECT_EQ(status, 2) << row.what;
        EXPECT_TRUE(Err.contains(row.message)) << row.what << ": " << Err.toStdString();
    }
    EXPECT_EQ(Stored("SerialNumber"), 100u);
    EXPECT_FALSE(QFile::exists(Dir.filePath("data/Quillfern/Corvantis/production.db")));
}

TEST_F(RunE2E, SigtermStopsTheUnitRecordsItInterruptedAndReleasesThePort)
{
    Sim({"timing", "realistic"});
    Env.remove("VELK430_SIM_TIMING");
    QProcess run;
    run.setProcessEnvironment(Env);
    run.start(QCoreApplication::applicationDirPath() + "/corvantis-run", {"--json", "--units", "5"});
    ASSERT_TRUE(run.waitForStarted());
    QString out;
    while (!out.contains("Executing batch programming") && run.waitForReadyRead(30000))
        out += QString::fromUtf8(run.readAllStandardOutput());
    ::kill(static_cast<pid_t>(run.processId()), SIGTERM);
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitCode(), 3);
    out += QString::fromUtf8(run.readAllStandardOutput());
    EXPECT_TRUE(out.contains(R"("result":"interrupted","serial":100,"step":"Interrupted")")) << out.toStdString();
    EXPECT_TRUE(out.contains(R"({"status":"Batch interrupted","unit":1})"));
    EXPECT_FALSE(out.contains(R"("unit":2)"));
    const QList<CAttempt> rows = Rows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].Result, "interrupted");
    EXPECT_EQ(Stored("SerialNumber"), 100u);  // never sent: given back
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// --ports: a Run All on every port; each event names its socket's port, a
// failed socket lets the others pass and makes the status 1.
TEST_F(RunE2E, PortsRunAGangAndNameEachSocket)
{
    for (const QString port : {"COM2", "COM3"}) {
        Sim({"--port", port, "swap", "--device", "MSP430F149"});
        Sim({"--port", port, "feed", "auto"});
    }
    Sim({"--port", "COM2", "fail", "VerifyFile", "-22"});
    int status = -1;
    const QStringList lines = Run({"--ports", "COM1,COM2,COM3", "--json"}, status);
    EXPECT_EQ(status, 1) << Err.toStdString();
    std::map<QString, QJsonObject> results;
    for (const QString& line : lines) {
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
        EXPECT_TRUE(object.contains("port")) << line.toStdString();
        if (object.contains("result"))
            results[object.value("port").toString()] = object;
    }
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results["COM1"].value("result").toString(), "passed");
    EXPECT_EQ(results["COM1"].value("serial").toInt(), 100);
    EXPECT_EQ(results["COM2"].value("step").toString(), "Verify");
    EXPECT_EQ(results["COM2"].value("serial").toInt(), 101);
    EXPECT_EQ(results["COM3"].value("result").toString(), "passed");
    EXPECT_EQ(Stored("SerialNumber"), 103u);  // 101 lies below 102, which is on a unit
    Run({"--ports", "COM1,COM2,COM3"}, status);
    EXPECT_EQ(status, 0) << Err.toStdString();
    EXPECT_EQ(Stored("SerialNumber"), 106u);
}
