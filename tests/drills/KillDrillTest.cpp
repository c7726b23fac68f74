// Kill drill: the station (corv_drill_station) is killed with SIGKILL at
// random moments while it programs units, and started again, until a set
// number of kills has landed; a last start without a kill must then program
// its units. Each start is asked for three more units only, so the work per
// kill is bounded on a fast machine and a busy one alike. Every unit that left must
// carry its own serial number, and the store's next serial number must lie
// above every serial number already shipped, after every kill. The
// production record must hold exactly one passed row for every unit that
// left, no serial number in two rows that wrote it, and at most the one
// row the last kill cut short still running.
//
// Kills come two ways: at the start of a random library call (the
// simulator's VELK430_SIM_KILL_AT, so they land inside batches), and after a
// random delay (anywhere: start-up, settings writes, between batches; on a
// busy machine mostly start-up, before the record exists, which must be
// survived as well). Environment: CORV_KILL_DRILL_KILLS (default 60),
// CORV_KILL_DRILL_SEED (default 1).
#include "ScratchDir.h"
#include "ProductionRecord.h"
#include "SettingsStore.h"

#include "SimStore.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>

using namespace velk;
namespace fs = std::filesystem;

namespace {

long EnvNumber(const char* name, long fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

fs::path BinDir() { return fs::read_symlink("/proc/self/exe").parent_path(); }

std::string FileText(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The station's next serial number as a restarted station would read it.
uint32_t StoredNextSerial(const fs::path& conf)
{
    const std::string text = FileText(conf);
    const CSettingsValues values = ParseSettingsText(text);
    uint32_t value = 0;
    const auto it = values.find("Options/SerialNumber");
    if (it == values.end() || !ParseStoredInt(it->second, value))
        ADD_FAILURE() << "no SerialNumber in " << conf << ":\n" << text;
    return value;
}

uint32_t SerialOf(const CTrayEntry& unit) { return unit.Read(0x1000) | (unit.Read(0x1001) << 8); }

// The record as a restarted station would find it, against the units that
// left: shipped[i] is the 32-bit serial number unit i was issued.
void CheckRecord(const fs::path& file, const fs::path& conf, const std::vector<uint32_t>& shipped,
                 int& interrupted, int& passedRows, int sockets = 1)
{
    interrupted = passedRows = 0;
    CProductionRecord record;
    if (!record.Open(QString::fromStdString(file.string()), 2000, true)) {
        // A kill before start-up had made the record: nothing was programmed
        // yet, and the settings must not name a record the next start would
        // then find missing.
        const bool unmade = !fs::exists(file) || record.ErrorText().startsWith("The file is empty");
        ASSERT_TRUE(unmade && shipped.empty()) << record.ErrorText().toStdString();
        const std::string text = FileText(conf);
        EXPECT_EQ(ParseSettingsText(text).count("Record/File"), 0u)
            << "the settings name a record that is not there:\n" << text;
        return;
    }
    const auto rows = record.Select({});
    ASSERT_TRUE(rows);
    std::map<int64_t, int> passed, written;
    int running = 0;
    for (const CAttempt& row : *rows) {
        running += row.Result == "running";
        interrupted += row.Result == "interrupted";
        if (!row.SerialValue)
            continue;
        passed[*row.SerialValue] += row.Result == "passed";
        written[*row.SerialValue] += row.SerialWritten.value_or(false);
    }
    for (const uint32_t serial : shipped)
        EXPECT_EQ(passed[serial], 1) << "serial " << serial << " left the station";
    for (const auto& [serial, n] : written)
        EXPECT_LE(n, 1) << "serial " << serial << " written by " << n << " rows";
    // A kill after the row was completed but before the port was let go
    // leaves a passed unit on the socket, which the next batch programs anew:
    // one passed row more than units that left, at most one per kill.
    for (const auto& entry : passed)
        passedRows += entry.second;
    EXPECT_LE(running, sockets) << "rows a start did not mark interrupted";
}

struct CRun {
    bool killed = false;
    int exitCode = -1;
};

// Starts the station; kills it after delayMs (< 0: never) unless it ends first.
// ports: corvantis-run as a gang on them instead of the console.
CRun RunStation(const fs::path& log, long units, long killAt, int delayMs, const std::string& ports = {})
{
    const std::string station = (BinDir() / (ports.empty() ? "corv_drill_station" : "corvantis-run")).string();
    const std::string count = std::to_string(units);
    const pid_t pid = fork();
    if (pid == 0) {
        if (killAt > 0)
            setenv("VELK430_SIM_KILL_AT", std::to_string(killAt).c_str(), 1);
        else
            unsetenv("VELK430_SIM_KILL_AT");
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        if (!ports.empty())
            execl(station.c_str(), station.c_str(), "--ports", ports.c_str(), "--units", count.c_str(),
                  static_cast<char*>(nullptr));
        else
            execl(station.c_str(), station.c_str(), count.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    CRun run;
    if (pid < 0)
        return run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
    int status = 0;
    for (;;) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            break;
        if (delayMs >= 0 && std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // A gang's workers die with their station; the drill, their subreaper,
    // waits until they are gone and their ports free.
    while (waitpid(-1, nullptr, 0) > 0) {
    }
    run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace

TEST(KillDrill, NoSerialNumberLeavesTheStationTwice)
{
    const long killsAsked = EnvNumber("CORV_KILL_DRILL_KILLS", 60);
    const auto seed = static_cast<uint32_t>(EnvNumber("CORV_KILL_DRILL_SEED", 1));
    int argc = 1;
    char name[] = "corv_kill_drill";
    char* argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv);  // Qt SQL finds its driver through it
    const CScratchDir scratch("kill-drill");
    const fs::path dir = scratch.Path();
    fs::create_directories(dir / "config/Quillfern");
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("VELK430_SIM_DIR", (dir / "sim").c_str(), 1);
    setenv("VELK430_SIM_TIMING", "fast", 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    const fs::path recordFile = dir / "data/Quillfern/Corvantis/production.db";
    std::vector<uint32_t> issuedSerials;
    int interrupted = 0;
    int extraPassed = 0;
    const fs::path conf = dir / "config/Quillfern/Corvantis.conf";
    const fs::path log = dir / "station.log";

    CDeviceTable table;
    ASSERT_TRUE(LoadDefaultDeviceTable(table));
    const CSimStore sim((dir / "sim").string());
    CSimSettings simSettings;
    simSettings.Timing = ETiming::Fast;
    ASSERT_TRUE(sim.SaveSettings(simSettings));
    ASSERT_TRUE(sim.SaveUnit(CUnit(*table.Find("MSP430F112"))));
    // Erase Info, a WORD serial at 1000, the fuse: the whole batch.
    const uint32_t firstSerial = 1080;
    std::ofstream(conf) << "[Options]\nCommPort=COM1\nBaud=115200\nDeviceName=MSP430F112\n"
                        << "FileName=" << CORV_SOURCE_DIR << "/examples/blink-f112.txt\n"
                        << "VCC=3.3\nBlowFuse=1\nEraseFlash=1\nSerialNumber=" << firstSerial
                        << "\nSerialAddress=1000\nSerialType=2\nCount=0\nCountUp=1\n";

    std::mt19937 random(seed);
    // Each start is asked for three more units. About 25 library calls per
    // batch: hook kills land within those three batches; delays span
    // start-up (about 0.3 s with the production record opened on an idle
    // machine, seconds on a busy one) and the first batches. A start that
    // ends before its kill must have programmed its units.
    const long unitsPerStart = 3;
    std::uniform_int_distribution<long> callPick(1, 25 * unitsPerStart);
    std::uniform_int_distribution<int> delayPick(0, 700);
    int hookKills = 0, timedKills = 0, rounds = 0, insideBatch = 0;
    uint32_t skipped = 0;
    std::map<long, int> unitsBeforeTimedKill;
    size_t shipped = 0;
    // Starts go on until the kills asked for have landed; the last start is
    // not killed: after every kill before it, the station must still start
    // and program.
    for (bool last = false; !last;) {
        last = hookKills + timedKills >= killsAsked;
        ASSERT_LT(rounds++, 4 * killsAsked) << "the kills do not land; see " << log;
        const bool byCall = !last && random() % 2 == 0;
        const long killAt = byCall ? callPick(random) : 0;
        const int delay = byCall || last ? -1 : delayPick(random);
        const CRun run = RunStation(log, static_cast<long>(shipped) + unitsPerStart, killAt, delay);
        if (!run.killed)
            ASSERT_EQ(run.exitCode, 0) << "the station failed at start " << rounds << "; see " << log;
        else if (byCall)
            ++hookKills;
        else
            ++timedKills;

        // What a restart would start from.
        const auto tray = sim.LoadTray();
        const uint32_t next = StoredNextSerial(conf);
        for (size_t i = shipped; i < tray.size(); ++i) {
            const uint32_t serial = SerialOf(tray[i]);
            // WORD bytes: compare modulo 65536 against the stored 32-bit number.
            const uint32_t issued = firstSerial + static_cast<uint32_t>((serial - firstSerial) & 0xFFFF);
            ASSERT_GT(next, issued) << "unit " << i << " left with " << serial
                                    << " but the store's next serial number is " << next;
            issuedSerials.push_back(issued);
        }
        int passedRows = 0;
        CheckRecord(recordFile, conf, issuedSerials, interrupted, passedRows);
        EXPECT_LE(passedRows, static_cast<int>(tray.size()) + hookKills + timedKills);
        extraPassed = passedRows - static_cast<int>(tray.size());
        ASSERT_FALSE(HasFailure()) << "after start " << rounds << "; see " << log;
        if (last) {
            EXPECT_EQ(tray.size(), shipped + unitsPerStart) << "the start after the last kill";
        }
        if (run.killed && !byCall)
            ++unitsBeforeTimedKill[static_cast<long>(tray.size() - shipped)];
        // A number reserved but never shipped: the kill hit a running batch.
        const uint32_t nowSkipped = next - firstSerial - static_cast<uint32_t>(tray.size());
        if (run.killed && nowSkipped > skipped)
            ++insideBatch;
        skipped = nowSkipped;
        shipped = tray.size();
    }

    const auto tray = sim.LoadTray();
    std::set<uint32_t> serials;
    for (const CTrayEntry& unit : tray) {
        EXPECT_TRUE(serials.insert(SerialOf(unit)).second) << "serial " << SerialOf(unit) << " twice";
        EXPECT_EQ(unit.Device, "MSP430F112");
    }
    EXPECT_EQ(serials.size(), tray.size());
    const uint32_t next = StoredNextSerial(conf);
    const uint32_t gaps = next - firstSerial - static_cast<uint32_t>(tray.size());

    std::map<std::string, int> where;
    std::ifstream kills(sim.KillsPath());
    for (std::string k, function; kills >> k >> function;)
        ++where[function];
    std::ostringstream report;
    report << "kill drill (seed " << seed << "): " << tray.size() << " units shipped, " << serials.size()
           << " distinct serial numbers, " << gaps << " skipped, " << rounds << " starts, "
           << hookKills + timedKills << " kills (" << hookKills << " at a library call, " << timedKills
           << " after a random delay), " << insideBatch << " of them inside a batch after its serial number "
           << "was reserved\n  kills at the start of:";
    for (const auto& [function, n] : where)
        report << " " << function << " " << n;
    report << "\n  record: " << issuedSerials.size() << " passed rows for " << tray.size()
           << " units that left and " << extraPassed << " for units a kill kept on the socket, "
           << interrupted << " rows interrupted by a kill";
    report << "\n  units finished by a start that a timed kill ended:";
    for (const auto& [n, times] : unitsBeforeTimedKill)
        report << " " << n << "x" << times;
    std::cout << report.str() << std::endl;
    RecordProperty("kills", hookKills + timedKills);
    EXPECT_GT(hookKills, 0);
    EXPECT_GT(timedKills, 0);
    // The first unit after a kill needs one more reservation at most.
    EXPECT_LE(gaps, static_cast<uint32_t>(hookKills + timedKills));
}

// The same for a gang: corvantis-run on four simulated programmers, killed
// after a random delay (inside a Run All, mostly), its workers dying with it.
// No serial number may be on two units of the four trays, the store's next
// number lies above every one shipped, and the record holds one passed row
// per unit that left. Environment: CORV_KILL_DRILL_GANG_KILLS (default 12),
// CORV_KILL_DRILL_SEED (default 1).
TEST(KillDrill, AGangKilledDuringARunAllShipsNoNumberTwice)
{
    const long killsAsked = EnvNumber("CORV_KILL_DRILL_GANG_KILLS", 12);
    std::mt19937 random(static_cast<uint32_t>(EnvNumber("CORV_KILL_DRILL_SEED", 1)));
    int argc = 1;
    char name[] = "corv_kill_drill";
    char* argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv);
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const char* base = std::getenv("XDG_CONFIG_HOME");
    const fs::path dir = fs::path(base && *base ? base : ::testing::TempDir()).parent_path() / "kill-drill-gang";
    fs::remove_all(dir);
    fs::create_directories(dir / "config/Quillfern");
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("VELK430_SIM_DIR", (dir / "sim").c_str(), 1);
    setenv("VELK430_SIM_TIMING", "fast", 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    const std::vector<std::string> ports{"COM1", "COM2", "COM3", "COM4"};
    for (const std::string& port : ports)
        for (const char* command : {"swap --device MSP430F112", "feed auto"})
            ASSERT_EQ(std::system(((BinDir() / "velk430-sim").string() + " --port " + port + " " + command +
                                   " >/dev/null").c_str()),
                      0);
    const fs::path conf = dir / "config/Quillfern/Corvantis.conf";
    const uint32_t firstSerial = 2000;
    std::ofstream(conf) << "[Options]\nBaud=115200\nDeviceName=MSP430F112\nFileName=" << CORV_SOURCE_DIR
                        << "/examples/blink-f112.txt\nVCC=3.3\nBlowFuse=1\nEraseFlash=1\nSerialNumber="
                        << firstSerial << "\nSerialAddress=1000\nSerialType=2\nCount=0\nCountUp=1\n";
    const fs::path log = dir / "station.log";
    std::uniform_int_distribution<int> delayPick(0, 1000);
    std::vector<uint32_t> issued;
    std::map<std::string, size_t> shipped;
    int kills = 0, rounds = 0, interrupted = 0, passedRows = 0;
    for (bool last = false; !last;) {
        last = kills >= killsAsked;
        // Four Run Alls a start take longer than the longest delay on an
        // idle machine and a busy one alike, so most kills land.
        ASSERT_LT(rounds++, 8 * killsAsked) << "the kills do not land; see " << log;
        const CRun run = RunStation(log, 4, 0, last ? -1 : delayPick(random), "COM1,COM2,COM3,COM4");
        if (!run.killed) {
            ASSERT_EQ(run.exitCode, 0) << "the gang failed at start " << rounds << "; see " << log;
        }
        kills += run.killed;
        const uint32_t next = StoredNextSerial(conf);
        for (const std::string& port : ports) {
            const auto tray = CSimStore(port == "COM1" ? (dir / "sim").string() : (dir / "sim" / port).string())
                                  .LoadTray();
            for (size_t i = shipped[port]; i < tray.size(); ++i) {
                const uint32_t serial = SerialOf(tray[i]);
                ASSERT_GT(next, serial) << port << " unit " << i << " left with " << serial;
                issued.push_back(serial);
            }
            shipped[port] = tray.size();
        }
        CheckRecord(dir / "data/Quillfern/Corvantis/production.db", conf, issued, interrupted, passedRows, 4);
        ASSERT_FALSE(HasFailure()) << "after start " << rounds << "; see " << log;
    }
    const std::set<uint32_t> distinct(issued.begin(), issued.end());
    EXPECT_EQ(distinct.size(), issued.size()) << "a serial number left on two units";
    std::cout << "gang kill drill: " << issued.size() << " units shipped from four sockets, " << kills << " kills in "
              << rounds << " starts, next serial number " << StoredNextSerial(conf) << ", " << interrupted
              << " rows interrupted" << std::endl;
    EXPECT_GE(issued.size(), 16u);  // the last start, not killed, ran four Run Alls
}
