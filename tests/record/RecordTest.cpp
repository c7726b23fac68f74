// The production record on a real SQLite file, through Qt SQL.
#include "RecordSupport.h"

#include <QDir>
#include <QSqlError>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Record : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    QString Path = Dir.filePath("data/production.db");
};

QString Pragma(const QString& path, const char* sql)
{
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "pragma");
        db.setDatabaseName(path);
        QSqlQuery q(db);
        if (db.open() && q.exec(sql) && q.next())
            value = q.value(0).toString();
    }
    QSqlDatabase::removeDatabase("pragma");
    return value;
}

QStringList Ids(const std::optional<QList<CAttempt>>& rows)
{
    QStringList ids;
    if (rows)
        for (const CAttempt& a : *rows)
            ids << a.Id.right(2);
    return ids;
}

}  // namespace

TEST_F(Record, NewFileGetsTheSchemaInWalMode)
{
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(Path)) << record.ErrorText().toStdString();
        EXPECT_EQ(record.FoundVersion(), 0);
    }
    CProductionRecord again;
    ASSERT_TRUE(again.Open(Path));
    EXPECT_EQ(again.FoundVersion(), 1);
    again.Close();
    EXPECT_EQ(Pragma(Path, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(Pragma(Path, "SELECT version FROM record_schema"), "1");
}

TEST_F(Record, AnEmptyFileIsMigratedFromNothing)
{
    QDir().mkpath(Dir.filePath("data"));
    QFile(Path).open(QIODevice::WriteOnly);
    CProductionRecord record;
    ASSERT_TRUE(record.Open(Path)) << record.ErrorText().toStdString();
    EXPECT_EQ(record.FoundVersion(), 0);
    EXPECT_EQ(record.Begin(SampleAttempt(1)).right(2), "01");
}

TEST_F(Record, ANewerStationsFileIsRefusedAndLeftAlone)
{
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(Path));
        ASSERT_TRUE(record.Insert(SampleAttempt(3)));
    }
    ASSERT_TRUE(RawExec(Path, "UPDATE record_schema SET version = 2"));
    const QByteArray before = FileBytes(Path);
    CProductionRecord record;
    EXPECT_FALSE(record.Open(Path));
    EXPECT_EQ(record.ErrorText(), "The production record was written by a newer station (schema 2; "
                                  "this station knows up to 1):\n" + Path);
    EXPECT_FALSE(record.Begin(SampleAttempt(4)).size());
    EXPECT_EQ(FileBytes(Path), before);
    EXPECT_EQ(Pragma(Path, "SELECT count(*) FROM attempts"), "1");
}

TEST_F(Record, ATableOfSomeoneElseIsRefused)
{
    QDir().mkpath(Dir.filePath("data"));
    ASSERT_TRUE(RawExec(Path, "CREATE TABLE attempts (x INTEGER)"));
    CProductionRecord record;
    EXPECT_FALSE(record.Open(Path));
    EXPECT_EQ(record.ErrorText(), "The production record is not one this station wrote:\n" + Path);
}

TEST_F(Record, RunningRowsBecomeInterruptedAtTheNextOpen)
{
    QString done, left;
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(Path));
        done = record.Begin(SampleAttempt(1));
        left = record.Begin(SampleAttempt(2));
        ASSERT_TRUE(record.Complete(done, {"passed", {}, {}, {}, {}, true}));
        // No Complete for `left`: the station died here.
    }
    CProductionRecord record;
    ASSERT_TRUE(record.Open(Path));
    EXPECT_EQ(record.MarkInterrupted(), 1);
    EXPECT_EQ(record.MarkInterrupted(), 0);
    const auto rows = record.Select({});
    ASSERT_TRUE(rows && rows->size() == 2);
    EXPECT_EQ((*rows)[0].Result, "interrupted");
    EXPECT_TRUE((*rows)[0].EndedAt.isEmpty());
    EXPECT_EQ((*rows)[1].Result, "passed");
    EXPECT_FALSE((*rows)[1].EndedAt.isEmpty());
    // An interrupted attempt cannot be completed afterwards.
    EXPECT_FALSE(record.Complete(left, {"passed", {}, {}, {}, {}, true}));
}

TEST_F(Record, FiltersNewestFirstAndTally)
{
    CProductionRecord record;
    ASSERT_TRUE(record.Open(Path));
    for (int i = 1; i <= 12; ++i)
        ASSERT_TRUE(record.Insert(SampleAttempt(i)));
    CAttempt nextDay = SampleAttempt(13);
    nextDay.StartedAt = "2026-03-03T00:00:00.000Z";
    ASSERT_TRUE(record.Insert(nextDay));

    struct CRow { CAttemptFilter Filter; QStringList Ids; };
    const CRow rows[] = {
        {{"2026-03-02T08:00:10.000Z", {}, {}, {}, {}, {}}, {"13", "12", "11", "10"}},
        {{{}, "2026-03-02T08:00:03.000Z", {}, {}, {}, {}}, {"02", "01"}},  // until excludes
        {{{}, {}, 1005, {}, {}, {}}, {"05"}},
        {{{}, {}, {}, "failed", {}, {}}, {"10", "05"}},
        {{"2026-03-02", "2026-03-02T08:00:06.000Z", {}, {}, "MSP430F112", {}}, {"04", "02"}},
    };
    for (const CRow& row : rows)
        EXPECT_EQ(Ids(record.Select(row.Filter)), row.Ids) << row.Ids.join(' ').toStdString();
    EXPECT_EQ(Ids(record.Select({}, 2)), (QStringList{"13", "12"}));
    // Batches of one UTC day; the summaries are read through corvantis-log's tests.
    const auto tally = record.Tally("2026-03-02", "2026-03-03");
    ASSERT_TRUE(tally);
    EXPECT_EQ(tally->Passed, 10);
    EXPECT_EQ(tally->Failed, 2);
}

TEST_F(Record, FirmwareIsHashedOnlyWhenItIsARegularFile)
{
    const QString file = Dir.filePath("fw.txt");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("abc");
    f.close();
    CAttempt a;
    CProductionRecord::FillFirmware(a, file);
    EXPECT_EQ(a.FirmwareSize, 3);
    EXPECT_EQ(a.FirmwareSha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    for (const QString& odd : {Dir.path(), Dir.filePath("missing.txt")}) {
        CProductionRecord::FillFirmware(a, odd);
        EXPECT_EQ(a.Firmware, odd);
        EXPECT_EQ(a.FirmwareSize, std::nullopt);
        EXPECT_TRUE(a.FirmwareSha256.isEmpty());
    }
}
