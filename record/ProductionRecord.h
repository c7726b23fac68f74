#pragma once
// CProductionRecord: the station's production record, one row per Run Batch
// and per Check Fuse (schema and rules in record/README.md). Each instance
// owns one Qt SQL connection of its own; use it from one thread.
//
// Operations return false (or an empty id, or -1) on failure and leave a
// plain text in ErrorText() that names the file and the database's reason.

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <utility>

struct sqlite3;

struct CAttempt {
    QString Id;               // UUID text; Begin makes one when empty
    QString Kind = "batch";   // "batch" | "fuse"
    QString StartedAt;        // UTC ISO 8601 with ms; Begin sets it when empty
    QString EndedAt;
    QString Station;          // host name
    QString Settings;         // settings location
    QString Operator;         // login name
    QString Port;
    qint32 Baud = 0;
    QString Device;
    qint32 DeviceNumber = -1;
    double Vcc = 0.0;         // volts
    QString Firmware;
    std::optional<qint64> FirmwareSize;
    QString FirmwareSha256;   // empty: unknown
    bool EraseInfo = false;
    bool BlowFuse = false;
    std::optional<qint64> SerialValue;   // none: unnumbered
    qint32 SerialWidth = 0;              // bytes
    qint32 SerialAddress = 0;
    std::optional<bool> SerialWritten;
    QString Result = "running";  // running | passed | failed | interrupted | refused
    QString Step;
    QString ErrorText;
    std::optional<qint32> ErrorCode;
    std::optional<bool> FuseBlown;
    QString Recipe;                       // production mode's recipe; empty: none
    std::optional<qint32> RecipeVersion;
};

// How an attempt ended.
struct CAttemptEnd {
    QString Result;           // "passed" | "failed" | "refused"
    QString Step;             // failure only
    QString ErrorText;        // failure only
    std::optional<qint32> ErrorCode;
    std::optional<bool> FuseBlown;
    std::optional<bool> SerialWritten;
};

// Row filter; empty members do not filter. Times are UTC ISO 8601 (a date
// alone is midnight); Until is exclusive.
struct CAttemptFilter {
    QString Since, Until;
    std::optional<qint64> Serial;
    QString Result, Device, Kind;
    QString Id;
    QString Station, Settings;   // host name, settings location
    QString Recipe;              // recipe name
    std::optional<qint32> RecipeVersion;
};

// One cell as the database holds it: a number or a text, as UTF-8 text (a
// number in digits), or null.
struct CCell {
    enum EKind { Null, Number, Text } Kind = Null;
    std::string_view Value;
};

// Refused: batches the setup check stopped before a unit was touched;
// counted apart, never as failed units.
struct CTally {
    qint64 Passed = 0, Failed = 0, Interrupted = 0, Running = 0, Refused = 0;
};

enum class ESummaryBy { Day, Device, Firmware, Recipe };

struct CSummaryRow {
    QString Key;
    qint64 Attempts = 0, Passed = 0, Failed = 0, Interrupted = 0, Refused = 0;
};

class CProductionRecord {
public:
    static constexpr int SchemaVersion = 2;

    CProductionRecord();
    ~CProductionRecord();
    CProductionRecord(const CProductionRecord&) = delete;
    CProductionRecord& operator=(const CProductionRecord&) = delete;

    // $XDG_DATA_HOME/Quillfern/Corvantis/production.db (the platform's data
    // folder elsewhere).
    static QString DefaultPath();

    // Opens (creating the folder and the file), migrates and proves the file
    // writable. readOnly: neither creates nor migrates nor writes.
    // recordedBefore: the caller has written rows into this path before (the
    // station's [Record] File), so a missing file is refused, not begun anew.
    bool Open(const QString& path, int busyTimeoutMs = 2000, bool readOnly = false,
              bool recordedBefore = false);
    // Reads and writes the attempts table of a connection opened elsewhere
    // (a production line's database), named label in messages; the
    // connection stays open after Close.
    void Attach(const QString& connection, const QString& label);
    void Close();
    bool IsOpen() const { return m_open; }
    const QString& Path() const { return m_path; }
    const QString& ErrorText() const { return m_error; }
    // The schema version found in the file at the last Open (0: new file).
    int FoundVersion() const { return m_foundVersion; }

    // 'running' rows that match which -> 'interrupted'. Rows changed, -1 on
    // failure. A station passes Leftovers(): another station that shares
    // the file may be running a unit right now.
    int MarkInterrupted(const CAttemptFilter& which);
    // The filter for this station's own rows (this host, this settings
    // location) still 'running'.
    static CAttemptFilter Leftovers(const QString& settings);
    // A 'running' row, committed. Returns its id; empty on failure.
    QString Begin(CAttempt attempt);
    // Completes a running row (ended_at = now). false on failure or when
    // no running row has that id.
    bool Complete(const QString& id, const CAttemptEnd& end);
    // The ending of row.Id as the line holds it, over a running or
    // interrupted one (the line's word stands for a row it finished).
    bool TakeEnding(const CAttempt& row);
    // A whole row as given (Id and StartedAt must be set).
    bool Insert(const CAttempt& row);
    // Many whole rows in one transaction: all or none.
    bool InsertAll(const QList<CAttempt>& rows);

    // Rows, newest first; limit < 0: all. nullopt on failure.
    std::optional<QList<CAttempt>> Select(const CAttemptFilter& filter, int limit = -1);
    // Every matching row, oldest first, as its cells in column order
    // (ColumnNames()), handed to take one at a time as the query yields it:
    // nothing is held, and the cells are valid only during the call. take
    // returns false to stop. false on failure, also half-way.
    bool EachRow(const CAttemptFilter& filter, const std::function<bool(const CCell* cells)>& take);
    // The attempts table's columns, in the order EachRow gives them.
    static const QStringList& ColumnNames();
    // Batches that started in [sinceUtc, untilUtc).
    std::optional<CTally> Tally(const QString& sinceUtc, const QString& untilUtc);
    // Batches per UTC day, device, firmware SHA-256 or recipe ("NAME version
    // N"; "" without one), in key order.
    std::optional<QList<CSummaryRow>> Summary(ESummaryBy by, const CAttemptFilter& filter = {});

    // Helpers for the fields a caller fills in.
    static QString NowUtc();                            // 2026-12-07T13:05:00.123Z
    static QString ToUtcText(const class QDateTime& time);
    static QString NewId();
    static void FillStation(CAttempt& attempt);          // host and operator
    static void FillFirmware(CAttempt& attempt, const QString& path);  // path, size, SHA-256
    // What the attempt left on the unit, in words: "number written", "number
    // not written", "number unknown" (a numbered batch); "fuse blown", "fuse
    // not blown" (a fuse check's answer); empty otherwise.
    static QString OnUnit(const CAttempt& attempt);

    // The statement that makes the attempts table (the line's database has
    // the same one), and an INSERT of one whole row with its values bound,
    // tail appended (say, an ON CONFLICT clause).
    static const char* AttemptsTableSql();
    static void PrepareInsert(class QSqlQuery& query, const CAttempt& row, const QString& tail = {});

private:
    bool Fail(const QString& what, const class QSqlError& error);
    bool Read(class QSqlQuery& q, const QString& sql, const QVariantList& values);
    bool ReadVersion();
    bool Migrate();
    bool Exec(const QString& sql);
    bool Connect(const QString& options);
    bool Writable();
    // The columns a read selects: a first-version file opened read-only
    // has no recipe columns, and reads as naming none.
    QString SelectedColumns() const;
    bool EachSqliteRow(sqlite3* db, const QString& sql, const QVariantList& values,
                       const std::function<bool(const CCell* cells)>& take);

    QString m_connection;
    QString m_path;
    QString m_error;
    bool m_open = false;
    bool m_attached = false;
    int m_foundVersion = 0;
    bool m_oldColumns = false;  // read-only, first version: no recipe columns
    // The open file's device and inode: a row is written only while the
    // file at m_path is still this one.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> m_identity;
};
