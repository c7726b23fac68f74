// The production record cannot be used: a corrupt file, a newer station's
// file, a folder in its place, locked by another process, a full disk (a
// file-size limit), a read-only folder, the file removed or replaced while
// the station runs, or gone when a station that kept it starts. The station says so, naming the file,
// calls no library function, keeps what was recorded, and records again by
// itself once the cause is gone.
#include "DrillFixture.h"

#include "ProductionRecord.h"
#include "resource.h"
#include "RecordSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>

#include <csignal>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

class RecordFault;

struct CRecordFaultCase {
    const char* Name;
    bool BeforeStart;                                  // the fault is there when the station starts
    std::function<bool(RecordFault&)> Make, Clear;
    const char* First;                                 // the message's first line
    const char* Reason;                                // the database's reason; null: none
};

class RecordFault : public ::testing::TestWithParam<CRecordFaultCase>, protected CDrillFixture {
public:
    void SetUp() override { SetUpDrill(); }
    void TearDown() override
    {
        if (Locker.state() != QProcess::NotRunning) {
            Locker.closeWriteChannel();
            Locker.waitForFinished(5000);
        }
        setrlimit(RLIMIT_FSIZE, &Limit);
        TearDownDrill();
    }

    QString File() const { return QString::fromStdString(RecordFile); }

    // Another process holds the write lock until its standard input closes.
    bool Lock()
    {
        Locker.start("python3", {"-c", "import sqlite3, sys\n"
                                       "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                                       "c.execute('BEGIN EXCLUSIVE')\n"
                                       "print('locked', flush=True)\n"
                                       "sys.stdin.read()\n",
                                 File()});
        return Locker.waitForReadyRead(10000) && Locker.readAll().startsWith("locked");
    }
    bool Unlock()
    {
        Locker.closeWriteChannel();
        return Locker.waitForFinished(10000) && Locker.exitCode() == 0;
    }
    // A disk that takes no more: no file of this process may grow past 1 KiB
    // (the record's file is far larger already, so every new page is refused).
    bool Fill()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = Limit;
        small.rlim_cur = 1024;
        return setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    bool Unfill() { return setrlimit(RLIMIT_FSIZE, &Limit) == 0; }

    // The station starts and ends once (and notes its record).
    bool RunOnce()
    {
        if (!Start())
            return false;
        Console->DestroyWindow();
        Console.reset();
        return true;
    }

    QProcess Locker;
    rlimit Limit = [] {
        rlimit r{};
        getrlimit(RLIMIT_FSIZE, &r);
        return r;
    }();
};

void PrintTo(const CRecordFaultCase& c, std::ostream* os) { *os << c.Name; }

std::string PrintCase(const ::testing::TestParamInfo<CRecordFaultCase>& info) { return info.param.Name; }

bool Garbage(RecordFault& t)
{
    QFile f(t.File());
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(QByteArray(8192, 'x')) == 8192;
}
bool Remove(RecordFault& t) { return QFile::remove(t.File()); }
QString Aside(RecordFault& t) { return t.File() + ".aside"; }
bool PutAside(RecordFault& t) { return QFile::rename(t.File(), Aside(t)); }
bool PutBack(RecordFault& t) { return QFile::rename(Aside(t), t.File()); }
// Another record, renamed over the open one (holding a copy of its rows).
bool RenameOver(RecordFault& t)
{
    return QFile::copy(t.File(), Aside(t)) && ::rename(qPrintable(Aside(t)), qPrintable(t.File())) == 0;
}
// The station has run once (and noted its record), then the file went.
bool RanThenPutAside(RecordFault& t) { return t.RunOnce() && PutAside(t); }

}  // namespace

TEST_P(RecordFault, NoUnitIsProgrammedAndTheRowsStay)
{
    const CRecordFaultCase& c = GetParam();
    if (std::string(c.Name) == "ReadOnlyFolder" && geteuid() == 0)
        GTEST_SKIP() << "root writes into a read-only folder";
    WriteConf(FullBatchConf(500));
    // One unit recorded before the fault.
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(File()));
        ASSERT_TRUE(record.Insert(SampleAttempt(1)));
    }
    if (c.BeforeStart) {
        ASSERT_TRUE(c.Make(*this));
    }
    Console = std::make_unique<CConsoleProbe>();
    Console->RecordBusyTimeoutMs = 0;  // a locked file answers at once
    ASSERT_TRUE(Console->Create() && !Console->IsEnded());
    if (!c.BeforeStart) {
        ASSERT_TRUE(c.Make(*this));
    }
    const bool existed = QFileInfo::exists(File());
    const QByteArray before = FileBytes(File());

    Console->RunBatchButton->click();
    std::string expected = c.First + std::string(":\n") + RecordFile;
    if (c.Reason)
        expected += std::string("\n") + c.Reason;
    expected += "\nNo unit is programmed until the record can be written.";
    ASSERT_FALSE(Boxes.Boxes.empty());
    EXPECT_EQ(Boxes.Boxes.back().text, expected);
    if (c.BeforeStart) {
        EXPECT_EQ(Boxes.Boxes.front().text, expected) << "the start says so";
    }
    // The session was never opened: no library call, no reservation, no unit.
    EXPECT_EQ(Console->GetDlgItemText(IDC_OPERATION), "");
    EXPECT_TRUE(Shows(Console->PendingBitmap));
    EXPECT_EQ(Stored("SerialNumber"), "500");
    EXPECT_EQ(Sim->LoadTray().size(), 0u);
    EXPECT_TRUE(Console->IsWindowEnabled(IDC_RUN_BATCH));
    EXPECT_EQ(FileBytes(File()), before);
    EXPECT_EQ(QFileInfo::exists(File()), existed) << "no empty record in its place";

    ASSERT_TRUE(c.Clear(*this));
    Boxes.Boxes.clear();
    Console->RunBatchButton->click();
    EXPECT_TRUE(Boxes.Boxes.empty()) << Boxes.Boxes.front().text;
    EXPECT_TRUE(Shows(Console->PassBitmap));
    const auto rows = Console->Record->Select({});
    ASSERT_TRUE(rows);
    ASSERT_FALSE(rows->empty());
    EXPECT_EQ(rows->front().Result, "passed");
    EXPECT_EQ(rows->front().SerialValue, 500);
    // The earlier row is still there, unless the file was garbage from the start.
    EXPECT_EQ(rows->size(), std::string(c.Name) == "Corrupt" ||
                                    std::string(c.Name) == "FolderInItsPlace" ? 1u : 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Record, RecordFault,
    ::testing::Values(
        CRecordFaultCase{"Corrupt", true, Garbage, Remove,
                         "The production record cannot be read", "file is not a database"},
        CRecordFaultCase{"NewerSchema", true,
                         [](RecordFault& t) { return RawExec(t.File(), "UPDATE record_schema SET version = 3"); },
                         [](RecordFault& t) { return RawExec(t.File(), "UPDATE record_schema SET version = 2"); },
                         "The production record was written by a newer station (schema 3; this station knows up to 2)",
                         nullptr},
        CRecordFaultCase{"FolderInItsPlace", true,
                         [](RecordFault& t) { return QFile::remove(t.File()) && QDir().mkdir(t.File()); },
                         [](RecordFault& t) { return QDir(t.File()).removeRecursively(); },
                         "The production record is not a file", nullptr},
        CRecordFaultCase{"Locked", false, [](RecordFault& t) { return t.Lock(); },
                         [](RecordFault& t) { return t.Unlock(); },
                         "The production record cannot be written", "database is locked"},
        CRecordFaultCase{"Full", false, [](RecordFault& t) { return t.Fill(); },
                         [](RecordFault& t) { return t.Unfill(); },
                         "The production record cannot be written", "disk I/O error"},
        CRecordFaultCase{"ReadOnlyFolder", true,
                         [](RecordFault& t) {
                             const QString dir = QFileInfo(t.File()).absolutePath();
                             return QFile::setPermissions(t.File(), QFile::ReadOwner) &&
                                    QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
                         },
                         [](RecordFault& t) {
                             const QString dir = QFileInfo(t.File()).absolutePath();
                             return QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
                                    QFile::setPermissions(t.File(), QFile::ReadOwner | QFile::WriteOwner);
                         },
                         "The production record cannot be written", "attempt to write a readonly database"},
        CRecordFaultCase{"RemovedWhileOpen", false, PutAside, PutBack,
                         "The production record was removed or replaced while this station had it open", nullptr},
        CRecordFaultCase{"ReplacedWhileOpen", false, RenameOver, [](RecordFault&) { return true; },
                         "The production record was removed or replaced while this station had it open", nullptr},
        CRecordFaultCase{"GoneAtStart", true, RanThenPutAside, PutBack, "The production record is missing",
                         "This station has kept its record in this file: put the file back, or remove File from"
                         " [Record] in the station's settings to begin a new record."}),
    PrintCase);

namespace {

class SharedRecord : public ::testing::Test, protected CDrillFixture {
protected:
    void SetUp() override { SetUpDrill(); }
    void TearDown() override { TearDownDrill(); }
};

}  // namespace

// Two stations keep one record (one data folder): a start marks only the
// rows this station left running (this host, this settings file); the other
// station's unit is running now. In a line, only its own wait for delivery.
TEST_F(SharedRecord, AStartMarksOnlyItsOwnLeftoverRows)
{
    WriteConf(FullBatchConf(500) + "[Line]\nDatabase=host=" + (SimDir / "no-server").string() + "\nPool=A\n");
    QList<CAttempt> rows;
    for (int i = 1; i <= 3; ++i) {
        rows << SampleAttempt(i);
        rows.back().Result = "running";
        rows.back().EndedAt.clear();
        rows.back().Station = QSysInfo::machineHostName();
        rows.back().Settings = QString::fromStdString(Conf);
    }
    rows[1].Settings = QString::fromStdString((SimDir / "other/Corvantis.conf").string());
    rows[2].Station = "bay-2";
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(QString::fromStdString(RecordFile)));
        ASSERT_TRUE(record.InsertAll(rows));
    }
    ASSERT_TRUE(Start());
    const auto found = Console->Record->Select({});
    ASSERT_TRUE(found);
    QStringList results;
    for (const CAttempt& a : *found)
        results << a.Result;
    EXPECT_EQ(results, (QStringList{"running", "running", "interrupted"}));
    EXPECT_EQ(CSettingsStore::AtFile(Conf).GetProfileString("Line", "Undelivered", ""), rows[0].Id.toStdString());
}
