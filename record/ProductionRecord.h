#pragma once
// CProductionRecord: the station's production record, one row per Run Batch
// and per Check Fuse (schema and rules in record/README.md). Each instance
// owns one Qt SQL connection of its own; use it from one thread.
//
// Operations return false (or an empty id, or -1) on failure and leave a
// plain text in ErrorText() that names the file and the database's reason.

#include <QList>
#include <QString>

#include <optional>

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
};

// Refused: batches the setup check stopped before a unit was touched;
// counted apart, never as failed units.
struct CTally {
    qint64 Passed = 0, Failed = 0, Interrupted = 0, Running = 0, Refused = 0;
};

enum class ESummaryBy { Day, Device, Firmware };

struct CSummaryRow {
    QString Key;
    qint64 Attempts = 0, Passed = 0, Failed = 0, Interrupted = 0, Refused = 0;
};

class CProductionRecord {
public:
    static constexpr int SchemaVersion = 1;

    CProductionRecord();
    ~CProductionRecord();
    CProductionRecord(const CProductionRecord&) = delete;
    CProductionRecord& operator=(const CProductionRecord&) = delete;

    // $XDG_DATA_HOME/Quillfern/Corvantis/production.db (the platform's data
    // folder elsewhere).
    static QString DefaultPath();

    // Opens (creating the folder and the file), migrates and proves the file
    // writable. readOnly: neither creates nor migrates nor writes.
    bool Open(const QString& path, int busyTimeoutMs = 2000, bool readOnly = false);
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

    // 'running' rows -> 'interrupted'. Rows changed, -1 on failure.
    int MarkInterrupted();
    // A 'running' row, committed. Returns its id; empty on failure.
    QString Begin(CAttempt attempt);
    // Completes a running row (ended_at = now). false on failure or when
    // no running row has that id.
    bool Complete(const QString& id, const CAttemptEnd& end);
    // A whole row as given (Id and StartedAt must be set).
    bool Insert(const CAttempt& row);
    // Many whole rows in one transaction: all or none.
    bool InsertAll(const QList<CAttempt>& rows);

    // Rows, newest first; limit < 0: all. nullopt on failure.
    std::optional<QList<CAttempt>> Select(const CAttemptFilter& filter, int limit = -1);
    // Batches that started in [sinceUtc, untilUtc).
    std::optional<CTally> Tally(const QString& sinceUtc, const QString& untilUtc);
    // Batches per UTC day, device or firmware SHA-256, in key order.
    std::optional<QList<CSummaryRow>> Summary(ESummaryBy by, const CAttemptFilter& filter = {});

    // Helpers for the fields a caller fills in.
    static QString NowUtc();                            // 2026-12-07T13:05:00.123Z
    static QString ToUtcText(const class QDateTime& time);
    static QString NewId();
    static void FillStation(CAttempt& attempt);          // host and operator
    static void FillFirmware(CAttempt& attempt, const QString& path);  // path, size, SHA-256

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

    QString m_connection;
    QString m_path;
    QString m_error;
    bool m_open = false;
    bool m_attached = false;
    int m_foundVersion = 0;
};
