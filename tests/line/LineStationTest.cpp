// Stations in a line against a real PostgreSQL server: station processes
// (corv_drill_station: the whole console, offscreen, the simulated library
// in fast timing), each with its own simulated unit folder, settings and
// local record, drawing from one pool.
// CORV_LINE_DRILL_UNITS: units per station (default 250).
#include "PgTestServer.h"

#include "LogTool.h"
#include "LineStation.h"
#include "SerialPool.h"

#include "SimStore.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>

namespace {

struct Station {
    QString dir;
    std::unique_ptr<QProcess> process;
};

// A station's folder: its simulator with one MSP430F112 in the socket, and
// settings in the line (a WORD serial at 1000, Erase Info, the fuse).
QString MakeStation(const QString& root, int index, const QString& conninfo, const QString& pool)
{
    const QString dir = QStringLiteral("%1/station%2").arg(root).arg(index);
    QDir(dir).removeRecursively();
    QDir().mkpath(dir + "/config/Quillfern");
    velk::CDeviceTable table;
    EXPECT_TRUE(velk::LoadDefaultDeviceTable(table));
    const velk::CSimStore sim((dir + "/sim").toStdString());
    velk::CSimSettings settings;
    settings.Timing = velk::ETiming::Fast;
    EXPECT_TRUE(sim.SaveSettings(settings));
    EXPECT_TRUE(sim.SaveUnit(velk::CUnit(*table.Find("MSP430F112"))));
    QFile conf(dir + "/config/Quillfern/Corvantis.conf");
    EXPECT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("[Options]\nCommPort=COM1\nBaud=115200\nDeviceName=MSP430F112\n"
                              "FileName=" CORV_SOURCE_DIR "/examples/blink-f112.txt\nVCC=3.3\nBlowFuse=1\n"
                              "EraseFlash=1\nSerialNumber=7\nSerialAddress=1000\nSerialType=2\nCount=0\n"
                              "CountUp=1\n[Line]\nDatabase=%1\nPool=%2\n")
                   .arg(conninfo, pool)
                   .toUtf8());
    return dir;
}

QString LogOf(const QString& dir)
{
    QFile log(dir + "/station.log");
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

QProcess* StartStation(const QString& dir, long units, int killAtCall = 0, bool patient = false)
{
    auto* p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir + "/config");
    env.insert("XDG_DATA_HOME", dir + "/data");
    env.insert("VELK430_SIM_DIR", dir + "/sim");
    env.insert("VELK430_SIM_TIMING", "fast");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("VELK430_SIM_KILL_AT");
    if (patient)
        env.insert("CORV_DRILL_PATIENT", "1");
    if (killAtCall > 0)  // the simulated library kills the station at that call
        env.insert("VELK430_SIM_KILL_AT", QString::number(killAtCall));
    p->setProcessEnvironment(env);
    // To a file: a pipe nobody reads would stop a station that says much.
    p->setProcessChannelMode(QProcess::MergedChannels);
    QFile::remove(dir + "/station.log");
    p->setStandardOutputFile(dir + "/station.log");
    p->start(QCoreApplication::applicationDirPath() + "/corv_drill_station", {QString::number(units)});
    return p;
}

uint32_t SerialOf(const velk::CTrayEntry& unit) { return unit.Read(0x1000) | (unit.Read(0x1001) << 8); }

class LineStations : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PgTestServer().Ok()) << qPrintable(PgTestServer().ErrorText());
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        schema = QStringLiteral("t_line_%1").arg(QString::fromLatin1(info->name()).toLower());
        conninfo = PgTestServer().NewLine(schema);
        ASSERT_FALSE(conninfo.isEmpty()) << qPrintable(PgTestServer().ErrorText());
        admin = PgTestServer().AdminConninfo(schema);
        // A folder of its own: another checkout's tests may run this one
        // beside it.
        scratch = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/corv-" + schema + "-XXXXXX");
        ASSERT_TRUE(scratch->isValid());
        root = scratch->path();
    }
    std::unique_ptr<QTemporaryDir> scratch;
    QString schema, conninfo, admin, root;
};

TEST_F(LineStations, FourStationsShareOnePoolWithoutADuplicate)
{
    const long units = qEnvironmentVariableIntValue("CORV_LINE_DRILL_UNITS") > 0
                           ? qEnvironmentVariableIntValue("CORV_LINE_DRILL_UNITS")
                           : 250;
    const int64_t first = 2000;
    {
        CLineDatabase db(admin);
        CSerialPool pool(db);
        ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
        ASSERT_TRUE(pool.Create("Sensor", first)) << qPrintable(pool.ErrorText());
        ASSERT_TRUE(pool.Create("Other", 100)) << qPrintable(pool.ErrorText());
    }
    std::vector<Station> stations(4);
    for (int i = 0; i < 4; ++i) {
        stations[i].dir = MakeStation(root, i, conninfo, "Sensor");
        stations[i].process.reset(StartStation(stations[i].dir, units));
    }
    std::multiset<uint32_t> onUnits;
    for (Station& s : stations) {
        ASSERT_TRUE(s.process->waitForFinished(-1));
        EXPECT_EQ(s.process->exitCode(), 0) << qPrintable(LogOf(s.dir));
        const auto tray = velk::CSimStore((s.dir + "/sim").toStdString()).LoadTray();
        EXPECT_EQ(tray.size(), static_cast<size_t>(units));
        for (const auto& unit : tray)
            onUnits.insert(SerialOf(unit));
        // The station's own next number stays as it was.
        QFile conf(s.dir + "/config/Quillfern/Corvantis.conf");
        ASSERT_TRUE(conf.open(QIODevice::ReadOnly));
        EXPECT_TRUE(conf.readAll().contains("SerialNumber=7\n"));
    }
    const std::set<uint32_t> distinct(onUnits.begin(), onUnits.end());
    EXPECT_EQ(distinct.size(), onUnits.size()) << "a serial number on two units";
    ASSERT_EQ(onUnits.size(), static_cast<size_t>(4 * units));
    EXPECT_EQ(*distinct.begin(), first);
    EXPECT_EQ(*distinct.rbegin(), first + 4 * units - 1);

    CLineDatabase db(admin);
    CSerialPool pool(db);
    ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
    SPoolStatus status, other;
    ASSERT_TRUE(pool.Show("Sensor", status)) << qPrintable(pool.ErrorText());
    EXPECT_EQ(status.Next, first + 4 * units);
    EXPECT_EQ(status.Passed, 4 * units);
    EXPECT_EQ(status.Reserved + status.Rejected + status.FreeAgain.size(), 0);
    ASSERT_TRUE(pool.Show("Other", other));
    EXPECT_EQ(other.Next, 100) << "another product's pool was touched";
    // Every number on a unit has exactly one passed row in the line's record,
    // held by the attempt the pool names.
    QSqlQuery q(db.Database());
    ASSERT_TRUE(q.exec("SELECT a.serial_value, count(*), bool_and(a.serial_written = 1),"
                       " bool_and(n.state = 'passed') FROM attempts a JOIN serial_number n"
                       " ON n.pool = 'Sensor' AND n.number = a.serial_value AND n.attempt = a.id"
                       " WHERE a.result = 'passed' GROUP BY a.serial_value"));
    std::map<int64_t, int> rows;
    while (q.next()) {
        EXPECT_TRUE(q.value(2).toBool() && q.value(3).toBool()) << q.value(0).toLongLong();
        rows[q.value(0).toLongLong()] = q.value(1).toInt();
    }
    EXPECT_EQ(rows.size(), distinct.size());
    for (const uint32_t serial : distinct)
        EXPECT_EQ(rows[serial], 1) << "serial " << serial;

    // corvantis-log reads the whole line.
    std::ostringstream out, err;
    EXPECT_EQ(RunLogTool({"--database", conninfo, "summary"}, out, err), 0) << err.str();
    EXPECT_NE(out.str().find(QStringLiteral("\nMSP430F112\t%1\t%1\t0\t0\t100.0%\t0\n").arg(4 * units).toStdString()),
              std::string::npos) << out.str();
    // --line: the line in a station's own settings.
    qputenv("XDG_CONFIG_HOME", (stations[0].dir + "/config").toUtf8());
    std::ostringstream shown;
    EXPECT_EQ(RunLogTool({"--line", "pool", "show", "Sensor"}, shown, err), 0) << err.str();
    EXPECT_NE(shown.str().find(std::to_string(first + 4 * units)), std::string::npos) << shown.str();
}

// A recipe is the administrator's: the station's login reads it and nothing
// more. Two stations drawing from its pool run it, whatever their own
// settings say, and program the same image; corvantis-run refuses to change it.
TEST_F(LineStations, StationsRunThePoolsRecipeAndCannotChangeIt)
{
    {
        CLineDatabase db(admin);
        ASSERT_TRUE(CSerialPool(db).Create("Sensor", 500)) << qPrintable(db.ErrorText());
    }
    // The recipe's image: the example with one byte changed.
    QFile example(CORV_SOURCE_DIR "/examples/blink-f112.txt");
    ASSERT_TRUE(example.open(QIODevice::ReadOnly));
    const QString image = root + "/sensor-fw.txt";
    QFile fw(image);
    ASSERT_TRUE(fw.open(QIODevice::WriteOnly));
    fw.write(example.readAll().replace("31 40 00 03", "31 40 00 02"));
    fw.close();
    const QStringList create{"recipe", "create", "sensor", "--firmware", image, "--device", "MSP430F112",
                             "--vcc", "3.0", "--erase-info", "--serial-type", "word", "--serial-address", "1000",
                             "--pool", "Sensor"};
    std::ostringstream out, err;
    ASSERT_EQ(RunLogTool(QStringList{"--database", admin} + create, out, err), 0) << err.str();

    // The station's login: refused, as a matter of permission.
    const char* const denied = "does not permit it to login \"corv_station\"";
    for (const QStringList& args : {create, QStringList{"recipe", "retire", "sensor"}}) {
        std::ostringstream o, e;
        EXPECT_EQ(RunLogTool(QStringList{"--database", conninfo} + args, o, e), 1) << args[1].toStdString();
        EXPECT_NE(e.str().find(denied), std::string::npos) << e.str();
    }
    {
        CLineDatabase db(conninfo);
        ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
        QSqlQuery q(db.Database());
        EXPECT_FALSE(q.exec("UPDATE recipe SET vcc = 3.6"));
        EXPECT_EQ(q.lastError().nativeErrorCode(), "42501");
        CLineDatabase owner(admin);
        ASSERT_TRUE(owner.Open());
        QSqlQuery a(owner.Database());
        EXPECT_FALSE(a.exec("UPDATE recipe SET vcc = 3.6")) << "an approved version changed";
    }

    std::vector<Station> stations(2);
    for (int i = 0; i < 2; ++i) {
        stations[i].dir = MakeStation(root, i, conninfo, "Sensor");
        stations[i].process.reset(StartStation(stations[i].dir, 5));
    }
    std::set<uint32_t> crcs, serials;
    for (Station& s : stations) {
        ASSERT_TRUE(s.process->waitForFinished(-1));
        EXPECT_EQ(s.process->exitCode(), 0) << qPrintable(LogOf(s.dir));
        const auto tray = velk::CSimStore((s.dir + "/sim").toStdString()).LoadTray();
        EXPECT_EQ(tray.size(), 5u);
        for (const auto& unit : tray) {
            crcs.insert(unit.MainCrc);
            serials.insert(SerialOf(unit));
        }
    }
    EXPECT_EQ(crcs.size(), 1u) << "the stations programmed different images";
    EXPECT_EQ(serials.size(), 10u);
    CLineDatabase db(admin);
    ASSERT_TRUE(db.Open());
    QSqlQuery q(db.Database());
    ASSERT_TRUE(q.exec("SELECT recipe, recipe_version, firmware, vcc, blow_fuse, count(*),"
                       " bool_and(firmware_sha256 = (SELECT firmware_sha256 FROM recipe WHERE name = 'sensor'))"
                       " FROM attempts WHERE result = 'passed' GROUP BY 1, 2, 3, 4, 5"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), "sensor");
    EXPECT_EQ(q.value(1).toInt(), 1);
    EXPECT_EQ(q.value(2).toString(), "sensor-fw.txt");
    EXPECT_EQ(q.value(3).toDouble(), 3.0);  // the settings say 3.3
    EXPECT_EQ(q.value(4).toInt(), 0);       // and that the fuse is blown
    EXPECT_EQ(q.value(5).toInt(), 10);
    EXPECT_TRUE(q.value(6).toBool()) << "an image other than the recipe's";
    EXPECT_FALSE(q.next());

    // corvantis-run follows the recipe and refuses to change it.
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", stations[0].dir + "/config");
    env.insert("XDG_DATA_HOME", stations[0].dir + "/data");
    env.insert("VELK430_SIM_DIR", stations[0].dir + "/sim");
    run.setProcessEnvironment(env);
    run.start(QCoreApplication::applicationDirPath() + "/corvantis-run", {"--vcc", "3.3"});
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitCode(), 2);
    EXPECT_TRUE(run.readAllStandardError().contains("--vcc cannot be used: this station runs in production mode "
                                                    "with Recipe sensor version 1"));

    // A gang on the line: each socket's number from the pool, the recipe's
    // image on both units, each row naming the recipe and its port.
    velk::CDeviceTable table;
    ASSERT_TRUE(velk::LoadDefaultDeviceTable(table));
    ASSERT_TRUE(velk::CSimStore((stations[0].dir + "/sim").toStdString(), 2)
                    .SaveUnit(velk::CUnit(*table.Find("MSP430F112"))));
    env.insert("VELK430_SIM_TIMING", "fast");
    run.setProcessEnvironment(env);
    run.start(QCoreApplication::applicationDirPath() + "/corvantis-run", {"--ports", "COM1,COM2"});
    ASSERT_TRUE(run.waitForFinished(60000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    const auto second = velk::CSimStore((stations[0].dir + "/sim").toStdString(), 2).LoadTray();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(crcs.count(second[0].MainCrc), 1u) << "the gang programmed another image";
    EXPECT_EQ(serials.count(SerialOf(second[0])), 0u) << "a serial number issued twice";
    ASSERT_TRUE(q.exec("SELECT count(DISTINCT serial_value), count(*) FILTER (WHERE recipe = 'sensor'),"
                       " count(DISTINCT port) FROM attempts WHERE result = 'passed'"));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 12);
    EXPECT_EQ(q.value(1).toInt(), 12);
    EXPECT_EQ(q.value(2).toInt(), 2);
}

// The server stopped: the station says so, naming the server, and programs
// nothing; started again, the station first delivers a completion it kept
// (a pass the line never heard of) and then goes on from the pool.
TEST_F(LineStations, ServerAwayRefusesThenKeptCompletionsAreDeliveredFirst)
{
    CLineDatabase db(admin);
    CSerialPool pool(db);
    ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
    ASSERT_TRUE(pool.Create("Sensor", 500)) << qPrintable(pool.ErrorText());
    db.Close();
    const QString dir = MakeStation(root, 0, conninfo, "Sensor");
    const velk::CSimStore sim((dir + "/sim").toStdString());

    ASSERT_TRUE(PgTestServer().Stop()) << qPrintable(PgTestServer().ErrorText());
    std::unique_ptr<QProcess> away(StartStation(dir, 1));
    ASSERT_TRUE(away->waitForFinished(-1));
    const QString said = LogOf(dir);
    ASSERT_TRUE(PgTestServer().Resume()) << qPrintable(PgTestServer().ErrorText());
    EXPECT_EQ(away->exitCode(), 4) << qPrintable(said);
    EXPECT_TRUE(said.contains(QStringLiteral("box: Cannot reach the line database on %1, port 5432")
                                  .arg(PgTestServer().Folder()))) << qPrintable(said);
    // Whether the pool has a recipe is the line's to say: nothing runs before.
    EXPECT_TRUE(said.contains("The station does not know whether pool \"Sensor\" has a recipe: no unit is "
                              "programmed until the line database answers.")) << qPrintable(said);
    EXPECT_TRUE(sim.LoadTray().empty());

    // A pass the station kept: its row is complete locally, running in the line.
    CLineStation line(conninfo, "Sensor");
    CAttempt kept;
    CProductionRecord::FillStation(kept);
    kept.Device = "MSP430F112";
    kept.SerialWidth = 2;
    kept.SerialAddress = 0x1000;
    ASSERT_TRUE(line.Begin(kept)) << qPrintable(line.ErrorText());
    ASSERT_EQ(kept.SerialValue, 500);
    kept.Result = "passed";
    kept.EndedAt = CProductionRecord::NowUtc();
    kept.SerialWritten = true;
    {
        CProductionRecord local;
        ASSERT_TRUE(local.Open(dir + "/data/Quillfern/Corvantis/production.db")) << qPrintable(local.ErrorText());
        ASSERT_TRUE(local.Insert(kept)) << qPrintable(local.ErrorText());
    }
    const QString confPath = dir + "/config/Quillfern/Corvantis.conf";
    CSettingsStore store = CSettingsStore::AtFile(confPath.toStdString());
    store.WriteProfileString("Line", "Undelivered", kept.Id.toStdString());
    ASSERT_TRUE(store.Flush());

    std::unique_ptr<QProcess> back(StartStation(dir, 2));
    ASSERT_TRUE(back->waitForFinished(-1));
    EXPECT_EQ(back->exitCode(), 0) << qPrintable(LogOf(dir));
    const auto tray = sim.LoadTray();
    ASSERT_EQ(tray.size(), 2u);
    EXPECT_EQ(SerialOf(tray[0]), 501u);
    EXPECT_EQ(SerialOf(tray[1]), 502u);
    EXPECT_EQ(CSettingsStore::AtFile(confPath.toStdString()).GetProfileString("Line", "Undelivered", "?"), "");
    ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
    QSqlQuery delivered(db.Database());
    ASSERT_TRUE(delivered.exec("SELECT result FROM attempts WHERE serial_value = 500") && delivered.next());
    EXPECT_EQ(delivered.value(0).toString(), "passed");
    delivered.finish();

    // Delivered again (a station killed before it noted the delivery): no change.
    EXPECT_TRUE(line.Complete(kept)) << qPrintable(line.ErrorText());
    SPoolStatus status;
    ASSERT_TRUE(pool.Show("Sensor", status)) << qPrintable(pool.ErrorText());
    EXPECT_EQ(status.Passed, 3);
    EXPECT_EQ(status.Next, 503);
    QSqlQuery q(db.Database());
    ASSERT_TRUE(q.exec("SELECT serial_value, result, count(*) FROM attempts GROUP BY serial_value, result"
                       " ORDER BY serial_value"));
    QStringList rows;
    while (q.next())
        rows << QStringLiteral("%1 %2 %3").arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString());
    EXPECT_EQ(rows, QStringList({"500 passed 1", "501 passed 1", "502 passed 1"}));
}

// A station killed inside a batch leaves its number reserved; its next start
// tells the line the attempt was interrupted, and the number counts as on a
// unit (it may be), before the station takes a number of its own.
TEST_F(LineStations, AStationKilledInABatchSettlesItsNumberAtItsNextStart)
{
    CLineDatabase db(admin);
    CSerialPool pool(db);
    ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
    ASSERT_TRUE(pool.Create("Sensor", 40)) << qPrintable(pool.ErrorText());
    const QString dir = MakeStation(root, 0, conninfo, "Sensor");
    std::unique_ptr<QProcess> killed(StartStation(dir, 1, 8));
    ASSERT_TRUE(killed->waitForFinished(-1));
    EXPECT_EQ(killed->exitStatus(), QProcess::CrashExit) << qPrintable(LogOf(dir));
    QString state, attempt;
    ASSERT_TRUE(pool.State("Sensor", 40, state, attempt)) << qPrintable(pool.ErrorText());
    EXPECT_EQ(state, "reserved");

    // Started and closed without a batch: the start alone settles it.
    std::unique_ptr<QProcess> started(StartStation(dir, 0));
    ASSERT_TRUE(started->waitForFinished(-1));
    EXPECT_EQ(started->exitCode(), 0) << qPrintable(LogOf(dir));
    QString settled, by;
    ASSERT_TRUE(pool.State("Sensor", 40, settled, by)) << qPrintable(pool.ErrorText());
    EXPECT_EQ(settled, "rejected");

    std::unique_ptr<QProcess> again(StartStation(dir, 1));
    ASSERT_TRUE(again->waitForFinished(-1));
    EXPECT_EQ(again->exitCode(), 0) << qPrintable(LogOf(dir));
    const auto tray = velk::CSimStore((dir + "/sim").toStdString()).LoadTray();
    ASSERT_EQ(tray.size(), 1u);
    EXPECT_EQ(SerialOf(tray[0]), 41u);
    QString holder;
    ASSERT_TRUE(pool.State("Sensor", 40, state, holder));
    EXPECT_EQ(state, "rejected");
    EXPECT_EQ(holder, attempt);
    QSqlQuery q(db.Database());
    ASSERT_TRUE(q.exec("SELECT serial_value, result FROM attempts ORDER BY serial_value"));
    QStringList rows;
    while (q.next())
        rows << q.value(0).toString() + " " + q.value(1).toString();
    EXPECT_EQ(rows, QStringList({"40 interrupted", "41 passed"}));
}

// What a station kept for the line, delivered by the line's functions: a
// number is settled in the pool that issued it, whatever the settings say
// now; a row the line holds as finished keeps its ending, and that ending
// is the answer; a reservation never confirmed is given back.
TEST_F(LineStations, KeptDeliveriesSettleInTheIssuingPoolAndTheLinesWordStands)
{
    CLineDatabase db(admin);
    CSerialPool pool(db);
    ASSERT_TRUE(pool.Create("A", 100)) << qPrintable(pool.ErrorText());
    ASSERT_TRUE(pool.Create("C", 5000)) << qPrintable(pool.ErrorText());
    CLineStation a(conninfo, "A"), c(conninfo, "C");
    CAttempt row, unsure;
    CProductionRecord::FillStation(row);
    unsure = row;
    ASSERT_TRUE(a.Begin(row)) << qPrintable(a.ErrorText());
    ASSERT_TRUE(a.Begin(unsure)) << qPrintable(a.ErrorText());
    ASSERT_EQ(row.SerialValue, 100);

    CAttempt passed = row, interrupted = row, failed = row, answer;
    passed.Result = "passed";
    passed.EndedAt = CProductionRecord::NowUtc();
    passed.SerialWritten = true;
    interrupted.Result = "interrupted";
    failed.Result = "failed";
    failed.SerialWritten = false;
    struct { const char* what; CLineStation* by; const CAttempt* row; } deliveries[] = {
        {"the pass, by a station now set to pool C", &c, &passed},
        {"the same pass again", &a, &passed},
        {"marked interrupted by a later start", &c, &interrupted},
        {"a failure before the number was sent", &a, &failed},
    };
    for (const auto& d : deliveries) {
        SCOPED_TRACE(d.what);
        ASSERT_TRUE(d.by->Complete(*d.row, &answer)) << qPrintable(d.by->ErrorText());
        EXPECT_EQ(answer.Result, "passed");
        EXPECT_EQ(answer.SerialWritten, true);
        QString state, holder;
        ASSERT_TRUE(pool.State("A", 100, state, holder)) << qPrintable(pool.ErrorText());
        EXPECT_EQ(state, "passed");
        EXPECT_EQ(holder, row.Id);
    }

    for (int round = 0; round < 2; ++round)  // twice: the second finds nothing to do
        ASSERT_TRUE(a.Abandon(unsure.Id)) << qPrintable(a.ErrorText());
    ASSERT_TRUE(c.Abandon(CProductionRecord::NewId())) << "a reservation that never committed";
    QString state, holder;
    ASSERT_TRUE(pool.State("A", 101, state, holder)) << qPrintable(pool.ErrorText());
    EXPECT_EQ(state, "free");
    QSqlQuery q(db.Database());
    ASSERT_TRUE(q.exec("SELECT serial_value, result, step FROM attempts ORDER BY serial_value"));
    QStringList rows;
    while (q.next())
        rows << QStringLiteral("%1 %2 %3").arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString());
    EXPECT_EQ(rows, QStringList({"100 passed ", "101 failed Reservation"}));
}

// A station whose local completion failed (record locked, disk full) after
// the line took the pass: its next start neither refuses for good nor calls
// the unit interrupted; the local record takes the line's word. And one
// that died before it learnt whether its reservation committed gives the
// number back at its next start.
TEST_F(LineStations, AFailedLocalWriteOrAnUnconfirmedReservationIsSettledAtTheNextStart)
{
    CLineDatabase db(admin);
    CSerialPool pool(db);
    ASSERT_TRUE(pool.Create("Sensor", 700)) << qPrintable(pool.ErrorText());
    const QString dir = MakeStation(root, 0, conninfo, "Sensor");
    std::unique_ptr<QProcess> first(StartStation(dir, 1));
    ASSERT_TRUE(first->waitForFinished(-1));
    ASSERT_EQ(first->exitCode(), 0) << qPrintable(LogOf(dir));

    // The local completion that did not happen: a running row, as a write
    // that failed leaves it (set by hand; no real lock holds still for this).
    const QString recordPath = dir + "/data/Quillfern/Corvantis/production.db";
    {
        QSqlDatabase local = QSqlDatabase::addDatabase("QSQLITE", "rewind");
        local.setDatabaseName(recordPath);
        ASSERT_TRUE(local.open());
        QSqlQuery q(local);
        ASSERT_TRUE(q.exec("UPDATE attempts SET result = 'running', ended_at = NULL WHERE serial_value = 700"));
        EXPECT_EQ(q.numRowsAffected(), 1);
    }
    QSqlDatabase::removeDatabase("rewind");
    // A reservation under way when the station died.
    CLineStation line(conninfo, "Sensor");
    CAttempt unsure;
    CProductionRecord::FillStation(unsure);
    ASSERT_TRUE(line.Begin(unsure)) << qPrintable(line.ErrorText());
    ASSERT_EQ(unsure.SerialValue, 701);
    const QString confPath = dir + "/config/Quillfern/Corvantis.conf";
    CSettingsStore store = CSettingsStore::AtFile(confPath.toStdString());
    store.WriteProfileString("Line", "Reserving", unsure.Id.toStdString());
    ASSERT_TRUE(store.Flush());

    std::unique_ptr<QProcess> next(StartStation(dir, 2));
    ASSERT_TRUE(next->waitForFinished(-1));
    EXPECT_EQ(next->exitCode(), 0) << qPrintable(LogOf(dir));
    const auto tray = velk::CSimStore((dir + "/sim").toStdString()).LoadTray();
    ASSERT_EQ(tray.size(), 2u);
    EXPECT_EQ(SerialOf(tray[1]), 701u) << "the number given back is the next one issued";
    CProductionRecord local;
    ASSERT_TRUE(local.Open(recordPath)) << qPrintable(local.ErrorText());
    QStringList rows;
    for (const CAttempt& a : local.Select({}).value_or(QList<CAttempt>()))
        rows.prepend(QStringLiteral("%1 %2").arg(a.SerialValue.value_or(-1)).arg(a.Result));
    EXPECT_EQ(rows, QStringList({"700 passed", "701 passed"}));
    ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
    QSqlQuery q(db.Database());
    ASSERT_TRUE(q.exec("SELECT serial_value, result FROM attempts ORDER BY started_at"));
    rows.clear();
    while (q.next())
        rows << q.value(0).toString() + " " + q.value(1).toString();
    EXPECT_EQ(rows, QStringList({"700 passed", "701 failed", "701 passed"}));
    EXPECT_EQ(CSettingsStore::AtFile(confPath.toStdString()).GetProfileString("Line", "Reserving", "?"), "");
}

// A pool past what the station's WORD serial holds: the number is refused
// and goes back unused, never written cut short as 0 (issued long ago).
TEST_F(LineStations, ANumberTheWidthCannotHoldGoesBackUnused)
{
    CLineDatabase db(admin);
    CSerialPool pool(db);
    ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
    ASSERT_TRUE(pool.Create("Wide", 65536)) << qPrintable(pool.ErrorText());
    const QString dir = MakeStation(root, 0, conninfo, "Wide");
    std::unique_ptr<QProcess> station(StartStation(dir, 1));
    ASSERT_TRUE(station->waitForFinished(-1));
    EXPECT_EQ(station->exitCode(), 4);
    EXPECT_TRUE(LogOf(dir).contains("box: Serial number 65536 does not fit a WORD serial number: the largest is 65535."))
        << qPrintable(LogOf(dir));
    EXPECT_TRUE(velk::CSimStore((dir + "/sim").toStdString()).LoadTray().empty());
    QString state, attempt;
    ASSERT_TRUE(pool.State("Wide", 65536, state, attempt)) << qPrintable(pool.ErrorText());
    EXPECT_EQ(state, "free");
    EXPECT_EQ(attempt, "");
}

// Four stations killed (SIGKILL, by the simulated library at a random call
// of theirs) again and again and started again until each has shipped its
// units: no number on two units, every unit's number passed in the line's
// record exactly once, and every number of the pool in exactly one state.
TEST_F(LineStations, StationsKilledAtRandomShipNoDuplicate)
{
    const long units = 20;
    {
        CLineDatabase db(admin);
        CSerialPool pool(db);
        ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
        ASSERT_TRUE(pool.Create("Sensor", 3000)) << qPrintable(pool.ErrorText());
    }
    std::mt19937 random(11);
    std::vector<Station> stations(4);
    for (int i = 0; i < 4; ++i)
        stations[i].dir = MakeStation(root, i, conninfo, "Sensor");
    int kills = 0, running = 4;
    for (int round = 0; running > 0 && round < 4000; ++round) {
        running = 0;
        for (Station& s : stations) {
            // No event loop here: QProcess learns of an end only while it waits.
            if (s.process && !s.process->waitForFinished(20) && s.process->state() != QProcess::NotRunning) {
                ++running;
                continue;
            }
            if (s.process) {
                kills += s.process->exitStatus() == QProcess::CrashExit;
                if (s.process->exitStatus() == QProcess::NormalExit && s.process->exitCode() == 0)
                    continue;  // shipped all its units
            }
            // About 25 library calls a batch: most starts die within three.
            const int killAt = random() % 8 ? int(random() % 75) + 1 : 0;
            s.process.reset(StartStation(s.dir, units, killAt, true));
            ++running;
        }
    }
    ASSERT_EQ(running, 0) << "the stations did not finish";
    std::cout << kills << " kills\n";
    EXPECT_GT(kills, 0);
    std::multiset<uint32_t> onUnits;
    for (const Station& s : stations)
        for (const auto& unit : velk::CSimStore((s.dir + "/sim").toStdString()).LoadTray())
            onUnits.insert(SerialOf(unit));
    const std::set<uint32_t> distinct(onUnits.begin(), onUnits.end());
    EXPECT_EQ(distinct.size(), onUnits.size()) << "a serial number on two units";
    EXPECT_GE(onUnits.size(), static_cast<size_t>(4 * units));

    CLineDatabase db(admin);
    ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
    QSqlQuery q(db.Database());
    ASSERT_TRUE(q.exec("SELECT a.serial_value, count(*) FROM attempts a JOIN serial_number n"
                       " ON n.pool = 'Sensor' AND n.number = a.serial_value AND n.attempt = a.id"
                       " WHERE a.result = 'passed' AND n.state = 'passed' GROUP BY a.serial_value"));
    std::map<int64_t, int> passed;
    while (q.next())
        passed[q.value(0).toLongLong()] = q.value(1).toInt();
    for (const uint32_t serial : distinct)
        EXPECT_EQ(passed[serial], 1) << "serial " << serial << " has no single passed row";
    // A number that went back to the pool never reached a unit.
    ASSERT_TRUE(q.exec("SELECT number FROM serial_number WHERE pool = 'Sensor' AND state = 'free'"));
    while (q.next())
        EXPECT_EQ(distinct.count(static_cast<uint32_t>(q.value(0).toLongLong())), 0u)
            << q.value(0).toLongLong() << " is free again but on a unit";
}

// The server stopped (immediate mode) for two seconds while four stations
// run: they refuse while it is away and go on by themselves after, with no
// number on two units and every unit's pass in the line's record.
TEST_F(LineStations, FourStationsRideOutAServerOutage)
{
    const long units = 60;
    CLineDatabase db(admin);
    CSerialPool pool(db);
    ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
    ASSERT_TRUE(pool.Create("Sensor", 300)) << qPrintable(pool.ErrorText());
    db.Close();
    std::vector<Station> stations(4);
    for (int i = 0; i < 4; ++i) {
        stations[i].dir = MakeStation(root, i, conninfo, "Sensor");
        stations[i].process.reset(StartStation(stations[i].dir, units, 0, true));
    }
    QThread::msleep(1500);
    ASSERT_TRUE(PgTestServer().Stop()) << qPrintable(PgTestServer().ErrorText());
    QThread::msleep(2000);
    ASSERT_TRUE(PgTestServer().Resume()) << qPrintable(PgTestServer().ErrorText());
    std::multiset<uint32_t> onUnits;
    int refused = 0;
    for (Station& s : stations) {
        ASSERT_TRUE(s.process->waitForFinished(-1));
        const QString log = LogOf(s.dir);
        EXPECT_EQ(s.process->exitCode(), 0) << qPrintable(log);
        refused += log.contains(QStringLiteral("box: Cannot reach the line database on %1, port 5432")
                                    .arg(PgTestServer().Folder()));
        for (const auto& unit : velk::CSimStore((s.dir + "/sim").toStdString()).LoadTray())
            onUnits.insert(SerialOf(unit));
    }
    EXPECT_GT(refused, 0) << "no station saw the server away";
    const std::set<uint32_t> distinct(onUnits.begin(), onUnits.end());
    EXPECT_EQ(distinct.size(), onUnits.size()) << "a serial number on two units";
    EXPECT_EQ(onUnits.size(), static_cast<size_t>(4 * units));
    ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
    for (const uint32_t serial : distinct) {
        QString state, attempt;
        ASSERT_TRUE(pool.State("Sensor", serial, state, attempt)) << qPrintable(pool.ErrorText());
        EXPECT_EQ(state, "passed") << serial;
        QSqlQuery q(db.Database());
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT count(*) FROM attempts WHERE serial_value = %1 AND result = "
                                          "'passed' AND id = '%2'").arg(serial).arg(attempt)) && q.next());
        EXPECT_EQ(q.value(0).toInt(), 1) << "serial " << serial;
    }
    SPoolStatus status;
    ASSERT_TRUE(pool.Show("Sensor", status)) << qPrintable(pool.ErrorText());
    EXPECT_EQ(status.Passed, 4 * units);
    EXPECT_EQ(status.Reserved, 0);
    EXPECT_EQ(status.Rejected, 0);
    std::cout << "outage: " << refused << " of 4 stations refused while the server was away; next "
              << status.Next << ", " << status.FreeAgain.size() << " numbers free again\n";
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
