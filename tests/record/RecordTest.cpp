// The production record on a real SQLite file, through Qt SQL.
#include "RecordSupport.h"

#include <QDir>
#include <QSqlError>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

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
    EXPECT_EQ(again.FoundVersion(), 2);
    again.Close();
    EXPECT_EQ(Pragma(Path, "PRAGMA journal_mode"), "wal");
    EXPECT_EQ(Pragma(Path, "SELECT version FROM record_schema"), "2");
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
    ASSERT_TRUE(RawExec(Path, "UPDATE record_schema SET version = 3"));
    const QByteArray before = FileBytes(Path);
    CProductionRecord record;
    EXPECT_FALSE(record.Open(Path));
    EXPECT_EQ(record.ErrorText(), "The production record was written by a newer station (schema 3; "
                                  "this station knows up to 2):\n" + Path);
    EXPECT_FALSE(record.Begin(SampleAttempt(4)).size());
    EXPECT_EQ(FileBytes(Path), before);
    EXPECT_EQ(Pragma(Path, "SELECT count(*) FROM attempts"), "1");
}

// A record of the first version (no recipe columns), read before any station
// of this version migrated it: its rows read as naming no recipe.
TEST_F(Record, AFirstVersionFileReadsWithoutRecipes)
{
    {
        CProductionRecord record;
        ASSERT_TRUE(record.Open(Path));
        ASSERT_TRUE(record.Insert(SampleAttempt(3)));
    }
    ASSERT_TRUE(RawExec(Path, "ALTER TABLE attempts DROP COLUMN recipe"));
    ASSERT_TRUE(RawExec(Path, "ALTER TABLE attempts DROP COLUMN recipe_version"));
    ASSERT_TRUE(RawExec(Path, "UPDATE record_schema SET version = 1"));
    CProductionRecord record;
    ASSERT_TRUE(record.Open(Path, 2000, true)) << record.ErrorText().toStdString();
    const auto rows = record.Select({});
    ASSERT_TRUE(rows && rows->size() == 1) << record.ErrorText().toStdString();
    EXPECT_TRUE(rows->front().Recipe.isEmpty());
    const auto summary = record.Summary(ESummaryBy::Recipe);
    ASSERT_TRUE(summary && summary->size() == 1);
    EXPECT_EQ(summary->front().Key, "");
}

TEST_F(Record, ADatabaseOfSomeoneElseIsRefusedAndLeftAlone)
{
    QDir().mkpath(Dir.filePath("data"));
    for (const char* table : {"CREATE TABLE attempts (x INTEGER)", "CREATE TABLE notes (x INTEGER)"}) {
        QFile::remove(Path);
        ASSERT_TRUE(RawExec(Path, table));
        const QByteArray before = FileBytes(Path);
        CProductionRecord record;
        EXPECT_FALSE(record.Open(Path)) << table;
        EXPECT_EQ(record.ErrorText(), "The production record is not one this station wrote:\n" + Path);
        EXPECT_EQ(FileBytes(Path), before) << table;
    }
}

// Files that are no record, read and written: each refused with its reason,
// and without Qt's warning about a connection still in use.
TEST_F(Record, ARefusedFileIsToldAndLeavesNoConnectionInUse)
{
    QDir().mkpath(Dir.filePath("data"));
    QFile empty(Path);
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    const QString garbage = Dir.filePath("garbage.db");
    QFile g(garbage);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly) && g.write(QByteArray(4096, 'x')) == 4096);
    g.close();
    struct CRow { QString File; bool ReadOnly; QString Error; };
    const CRow rows[] = {
        {Path, true, "The file is empty, not a production record:\n" + Path},
        {garbage, true, "The production record cannot be read:\n" + garbage + "\nfile is not a database"},
        {garbage, false, "The production record cannot be read:\n" + garbage + "\nfile is not a database"},
        {Dir.path(), false, "The production record is not a file:\n" + Dir.path()},
    };
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { warnings << text; });
    for (const CRow& row : rows) {
        CProductionRecord record;
        EXPECT_FALSE(record.Open(row.File, 2000, row.ReadOnly)) << row.Error.toStdString();
        EXPECT_EQ(record.ErrorText(), row.Error);
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(warnings, QStringList{});
    EXPECT_EQ(FileBytes(Path), QByteArray()) << "a read leaves the empty file empty";
}

// The file is removed or replaced under an open record: no row goes into
// the file that is no longer at the path, nor into its replacement.
TEST_F(Record, ARowIsRefusedOnceTheFileIsRemovedOrReplaced)
{
    const QString aside = Dir.filePath("aside.db");
    auto replace = [&] {
        CProductionRecord other;
        const bool made = other.Open(aside) && other.Insert(SampleAttempt(9));
        other.Close();
        return made && ::rename(qPrintable(aside), qPrintable(Path)) == 0;
    };
    // The file put aside keeps its rows; the one renamed over gets none of them.
    struct CRow { const char* Name; std::function<bool()> Fault; QStringList AtPath, AtAside; };
    const CRow rows[] = {
        {"removed", [&] { return QFile::rename(Path, aside); }, {}, {"01"}},
        {"replaced", replace, {"09"}, {}},
    };
    for (const CRow& row : rows) {
        QDir(Dir.filePath("data")).removeRecursively();
        QFile::remove(aside);
        CProductionRecord record;
        ASSERT_TRUE(record.Open(Path));
        const QString running = record.Begin(SampleAttempt(1));
        ASSERT_FALSE(running.isEmpty());
        ASSERT_TRUE(row.Fault()) << row.Name;
        const QString gone = "The production record was removed or replaced while this station had it open:\n" + Path;
        EXPECT_EQ(record.Begin(SampleAttempt(2)), "") << row.Name;
        EXPECT_EQ(record.ErrorText().toStdString(), gone.toStdString()) << row.Name;
        EXPECT_FALSE(record.IsOpen()) << "the next Open takes what is at the path then";
        EXPECT_FALSE(record.Complete(running, {"passed", {}, {}, {}, {}, true})) << row.Name;
        EXPECT_FALSE(record.InsertAll({SampleAttempt(3)})) << row.Name;
        EXPECT_EQ(record.MarkInterrupted({}), -1) << row.Name;
        for (const auto& [file, ids] : {std::pair(Path, row.AtPath), std::pair(aside, row.AtAside)}) {
            CProductionRecord reader;
            EXPECT_EQ(Ids(reader.Open(file, 2000, true) ? reader.Select({}) : std::nullopt), ids) << row.Name;
        }
    }
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
    EXPECT_EQ(record.MarkInterrupted({}), 1);
    EXPECT_EQ(record.MarkInterrupted({}), 0);
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
        {{"2026-03-02T08:00:10.000Z", {}, {}, {}, {}, {}, {}, {}, {}, {}, {}}, {"13", "12", "11", "10"}},
        {{{}, "2026-03-02T08:00:03.000Z", {}, {}, {}, {}, {}, {}, {}, {}, {}}, {"02", "01"}},  // until excludes
        {{{}, {}, 1005, {}, {}, {}, {}, {}, {}, {}, {}}, {"05"}},
        {{{}, {}, {}, "failed", {}, {}, {}, {}, {}, {}, {}}, {"10", "05"}},
        {{"2026-03-02", "2026-03-02T08:00:06.000Z", {}, {}, "MSP430F112", {}, {}, {}, {}, {}, {}}, {"04", "02"}},
        {{{}, {}, {}, {}, {}, {}, "00000000-0000-4000-8000-000000000011", {}, {}, {}, {}}, {"11"}},
        {{{}, {}, {}, "passed", {}, {}, "00000000-0000-4000-8000-000000000010", {}, {}, {}, {}}, {}},  // id and result both hold
        {{{}, {}, 1005, {}, {}, {}, {}, "line-3, bay \"B\"", "/home/op/.config/Quillfern/Corvantis.conf", {}, {}}, {"05"}},
        {{{}, {}, 1005, {}, {}, {}, {}, "bay-9", {}, {}, {}}, {}},
        {{{}, {}, 1005, {}, {}, {}, {}, {}, "/home/op2/Corvantis.conf", {}, {}}, {}},
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
