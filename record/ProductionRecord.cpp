#include "ProductionRecord.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUuid>
#include <QVariant>

#include <sqlite3.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

namespace {

// Each entry brings a file from version (index) to version (index + 1).
// The attempts table, as the local record and the line's database make it.
constexpr const char* AttemptsTable =
        "CREATE TABLE attempts ("
        " id VARCHAR(36) PRIMARY KEY, kind VARCHAR(8) NOT NULL,"
        " started_at VARCHAR(24) NOT NULL, ended_at VARCHAR(24),"
        " station VARCHAR(255) NOT NULL, settings TEXT NOT NULL, operator VARCHAR(255) NOT NULL,"
        " port VARCHAR(255) NOT NULL, baud INTEGER NOT NULL,"
        " device VARCHAR(255) NOT NULL, device_number INTEGER NOT NULL, vcc DOUBLE PRECISION NOT NULL,"
        " firmware TEXT NOT NULL, firmware_size BIGINT, firmware_sha256 VARCHAR(64),"
        " erase_info INTEGER NOT NULL, blow_fuse INTEGER NOT NULL,"
        " serial_value BIGINT, serial_width INTEGER, serial_address INTEGER, serial_written INTEGER,"
        " result VARCHAR(12) NOT NULL, step VARCHAR(32), error_text TEXT, error_code INTEGER,"
        " fuse_blown INTEGER)";

const char* const Migrations[][4] = {
    {
        "CREATE TABLE record_schema (version INTEGER NOT NULL)",
        AttemptsTable,
        "CREATE INDEX attempts_started ON attempts (started_at)",
        "CREATE INDEX attempts_serial ON attempts (serial_value)",
    },
    {
        // The recipe a station in production mode ran with; null without one.
        "ALTER TABLE attempts ADD COLUMN recipe VARCHAR(64)",
        "ALTER TABLE attempts ADD COLUMN recipe_version INTEGER",
        nullptr,
        nullptr,
    },
};
constexpr int KnownVersion = sizeof Migrations / sizeof Migrations[0];
static_assert(KnownVersion == CProductionRecord::SchemaVersion);

constexpr const char* Columns =
    "id, kind, started_at, ended_at, station, settings, operator, port, baud, device, device_number,"
    " vcc, firmware, firmware_size, firmware_sha256, erase_info, blow_fuse, serial_value, serial_width,"
    " serial_address, serial_written, result, step, error_text, error_code, fuse_blown, recipe, recipe_version";

template <typename T>
QVariant Optional(const std::optional<T>& value)
{
    if (!value)
        return QVariant();
    if constexpr (std::is_same_v<T, bool>)
        return QVariant(*value ? 1 : 0);
    else
        return QVariant::fromValue(*value);
}

QVariant TextOrNull(const QString& text) { return text.isEmpty() ? QVariant() : QVariant(text); }
// A null QString binds as SQL NULL: a NOT NULL text column gets '' instead.
QVariant Text(const QString& text) { return QVariant(text.isNull() ? QString("") : text); }

std::optional<qint64> OptionalInt(const QVariant& v)
{
    return v.isNull() ? std::nullopt : std::optional<qint64>(v.toLongLong());
}

std::optional<bool> OptionalBool(const QVariant& v)
{
    return v.isNull() ? std::nullopt : std::optional<bool>(v.toInt() != 0);
}

CAttempt ReadRow(const QSqlQuery& q)
{
    CAttempt a;
    int i = 0;
    a.Id = q.value(i++).toString();
    a.Kind = q.value(i++).toString();
    a.StartedAt = q.value(i++).toString();
    a.EndedAt = q.value(i++).toString();
    a.Station = q.value(i++).toString();
    a.Settings = q.value(i++).toString();
    a.Operator = q.value(i++).toString();
    a.Port = q.value(i++).toString();
    a.Baud = q.value(i++).toInt();
    a.Device = q.value(i++).toString();
    a.DeviceNumber = q.value(i++).toInt();
    a.Vcc = q.value(i++).toDouble();
    a.Firmware = q.value(i++).toString();
    a.FirmwareSize = OptionalInt(q.value(i++));
    a.FirmwareSha256 = q.value(i++).toString();
    a.EraseInfo = q.value(i++).toInt() != 0;
    a.BlowFuse = q.value(i++).toInt() != 0;
    a.SerialValue = OptionalInt(q.value(i++));
    a.SerialWidth = q.value(i++).toInt();
    a.SerialAddress = q.value(i++).toInt();
    a.SerialWritten = OptionalBool(q.value(i++));
    a.Result = q.value(i++).toString();
    a.Step = q.value(i++).toString();
    a.ErrorText = q.value(i++).toString();
    const auto code = OptionalInt(q.value(i++));
    if (code)
        a.ErrorCode = static_cast<qint32>(*code);
    a.FuseBlown = OptionalBool(q.value(i++));
    a.Recipe = q.value(i++).toString();
    const auto version = OptionalInt(q.value(i++));
    if (version)
        a.RecipeVersion = static_cast<qint32>(*version);
    return a;
}

// WHERE clause and its values for a filter.
QString Where(const CAttemptFilter& f, QVariantList& values)
{
    QStringList terms;
    auto add = [&](const char* term, const QVariant& v) {
        terms << QString::fromLatin1(term);
        values << v;
    };
    if (!f.Since.isEmpty()) add("started_at >= ?", f.Since);
    if (!f.Until.isEmpty()) add("started_at < ?", f.Until);
    if (f.Serial) add("serial_value = ?", QVariant::fromValue(*f.Serial));
    if (!f.Result.isEmpty()) add("result = ?", f.Result);
    if (!f.Device.isEmpty()) add("device = ?", f.Device);
    if (!f.Kind.isEmpty()) add("kind = ?", f.Kind);
    if (!f.Id.isEmpty()) add("id = ?", f.Id);
    if (!f.Station.isEmpty()) add("station = ?", f.Station);
    if (!f.Settings.isEmpty()) add("settings = ?", f.Settings);
    if (!f.Recipe.isEmpty()) add("recipe = ?", f.Recipe);
    if (f.RecipeVersion) add("recipe_version = ?", *f.RecipeVersion);
    return terms.isEmpty() ? QString() : " WHERE " + terms.join(" AND ");
}

// The device and inode of the file at path; none when nothing is there.
std::optional<std::pair<std::uint64_t, std::uint64_t>> FileIdentity(const QString& path)
{
    struct stat s {};
    if (::stat(QFile::encodeName(path).constData(), &s) != 0)
        return std::nullopt;
    return std::pair<std::uint64_t, std::uint64_t>(s.st_dev, s.st_ino);
}

}  // namespace

CProductionRecord::CProductionRecord() : m_connection("corv-record-" + NewId()) {}

CProductionRecord::~CProductionRecord() { Close(); }

QString CProductionRecord::DefaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           "/Quillfern/Corvantis/production.db";
}

QString CProductionRecord::ToUtcText(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString CProductionRecord::NowUtc() { return ToUtcText(QDateTime::currentDateTimeUtc()); }

QString CProductionRecord::NewId() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

void CProductionRecord::FillStation(CAttempt& attempt)
{
    attempt.Station = QSysInfo::machineHostName();
    for (const char* name : {"USER", "LOGNAME", "USERNAME"}) {
        attempt.Operator = qEnvironmentVariable(name);
        if (!attempt.Operator.isEmpty())
            return;
    }
    // No login name in the environment (a service, a test): the home folder's name.
    attempt.Operator = QDir::home().dirName();
}

void CProductionRecord::FillFirmware(CAttempt& attempt, const QString& path)
{
    attempt.Firmware = path;
    attempt.FirmwareSize.reset();
    attempt.FirmwareSha256.clear();
    QFile file(path);
    // Only a regular file: a FIFO or device would block or never end.
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return;
    attempt.FirmwareSize = file.size();
    attempt.FirmwareSha256 = QString::fromLatin1(hash.result().toHex());
}

QString CProductionRecord::OnUnit(const CAttempt& a)
{
    if (a.Kind == "fuse")
        return a.FuseBlown ? (*a.FuseBlown ? "fuse blown" : "fuse not blown") : QString();
    if (!a.SerialValue)
        return {};
    return a.SerialWritten ? (*a.SerialWritten ? "number written" : "number not written") : "number unknown";
}

bool CProductionRecord::Fail(const QString& what, const QSqlError& error)
{
    QString reason = error.databaseText();
    if (reason.isEmpty())
        reason = error.driverText();
    m_error = what + "\n" + m_path + (reason.isEmpty() ? QString() : "\n" + reason);
    return false;
}

bool CProductionRecord::Exec(const QString& sql)
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(sql)) {
        q.finish();
        return true;
    }
    return Fail("The production record cannot be written:", q.lastError());
}

bool CProductionRecord::Open(const QString& path, int busyTimeoutMs, bool readOnly, bool recordedBefore)
{
    Close();
    m_path = path;
    m_error.clear();
    m_foundVersion = 0;
    m_oldColumns = false;
    m_identity.reset();
    const QFileInfo info(path);
    if (readOnly && !info.exists()) {
        m_error = "The production record does not exist:\n" + path;
        return false;
    }
    // Rows were written here before: an empty record in its place would hide them.
    if (recordedBefore && !info.exists()) {
        m_error = "The production record is missing:\n" + path +
                  "\nThis station has kept its record in this file: put the file back, or remove File from"
                  " [Record] in the station's settings to begin a new record.";
        return false;
    }
    if (!readOnly && !QDir().mkpath(info.absolutePath())) {
        m_error = "The production record's folder cannot be created:\n" + info.absolutePath();
        return false;
    }
    if (info.exists() && !info.isFile()) {
        m_error = "The production record is not a file:\n" + path;
        return false;
    }
    QString options = "QSQLITE_BUSY_TIMEOUT=" + QString::number(busyTimeoutMs);
    if (readOnly)
        options += ";QSQLITE_OPEN_READONLY";
    if (!Connect(options) || !ReadVersion()) {
        Close();
        return false;
    }
    if (m_foundVersion > KnownVersion) {
        m_error = QString("The production record was written by a newer station "
                          "(schema %1; this station knows up to %2):\n%3")
                      .arg(m_foundVersion).arg(KnownVersion).arg(path);
        Close();
        return false;
    }
    if (readOnly) {
        // A file of the first version, which no station of this version
        // has opened yet, reads with its rows naming no recipe.
        m_oldColumns = m_foundVersion == 1;
        if (m_foundVersion < 1) {
            m_error = "The file is empty, not a production record:\n" + path;
            Close();
            return false;
        }
        return true;
    }
    // WAL: readers never wait for the writer; FULL: each commit reaches the
    // disk before it returns, so a completed row survives a power cut.
    // The write probe takes the write lock once, so that a read-only, locked
    // or full file is refused here and not in the middle of a batch.
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=FULL") || !Migrate() ||
        !Exec("BEGIN IMMEDIATE") || !Exec("COMMIT")) {
        Close();
        return false;
    }
    m_identity = FileIdentity(path);
    return true;
}

// The connection of this record, opened on m_path. Its handle is released
// before returning, so that Close can remove the connection without a warning.
bool CProductionRecord::Connect(const QString& options)
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(options);
    if (!db.open())
        return Fail("The production record cannot be opened:", db.lastError());
    m_open = true;
    return true;
}

// A row may be written: the record is open and, for a file, the file at the
// path is still the one opened (not removed, nor replaced by another).
bool CProductionRecord::Writable()
{
    if (!m_open) {
        m_error = "The production record is not open:\n" + m_path;
        return false;
    }
    if (m_attached || FileIdentity(m_path) == m_identity)
        return true;
    // SQLite does not checkpoint a moved file when it closes: the log would
    // stay at the path, and the next file opened there would replay it as
    // its own. Its rows go into the moved file now, the log is emptied, and
    // the connection ends; the next Open takes what is at the path then.
    Exec("PRAGMA wal_checkpoint(TRUNCATE)");
    Close();
    m_error = "The production record was removed or replaced while this station had it open:\n" + m_path;
    return false;
}

bool CProductionRecord::ReadVersion()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    // The first statement reads the header: a file that is no database ends here.
    if (!q.exec("SELECT count(*) FROM sqlite_master"))
        return Fail("The production record cannot be read:", q.lastError());
    q.finish();
    const QStringList tables = db.tables();
    if (tables.contains("record_schema")) {
        if (!q.exec("SELECT version FROM record_schema") || !q.next())
            return Fail("The production record cannot be read:", q.lastError());
        m_foundVersion = q.value(0).toInt();
        q.finish();
    } else if (!tables.isEmpty()) {
        // Another program's database: none of its tables is touched.
        m_error = "The production record is not one this station wrote:\n" + m_path;
        return false;
    }
    return true;
}

bool CProductionRecord::Migrate()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    for (int version = m_foundVersion; version < KnownVersion; ++version) {
        if (!db.transaction())
            return Fail("The production record cannot be written:", db.lastError());
        for (const char* statement : Migrations[version]) {
            if (statement && !Exec(QString::fromLatin1(statement))) {
                db.rollback();
                return false;
            }
        }
        const QString mark = version == 0 ? "INSERT INTO record_schema (version) VALUES (%1)"
                                          : "UPDATE record_schema SET version = %1";
        if (!Exec(mark.arg(version + 1))) {
            db.rollback();
            return false;
        }
        if (!db.commit())
            return Fail("The production record cannot be written:", db.lastError());
    }
    return true;
}

void CProductionRecord::Attach(const QString& connection, const QString& label)
{
    Close();
    m_connection = connection;
    m_path = label;
    m_error.clear();
    m_attached = true;
    m_open = true;
}

void CProductionRecord::Close()
{
    if (m_attached) {
        m_attached = false;
        m_open = false;
        m_connection = "corv-record-" + NewId();
        return;
    }
    if (QSqlDatabase::contains(m_connection)) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }
    m_open = false;
}

CAttemptFilter CProductionRecord::Leftovers(const QString& settings)
{
    CAttempt own;
    FillStation(own);
    CAttemptFilter filter;
    filter.Result = "running";
    filter.Station = own.Station;
    filter.Settings = settings;
    return filter;
}

int CProductionRecord::MarkInterrupted(const CAttemptFilter& which)
{
    if (!Writable())
        return -1;
    CAttemptFilter running = which;
    running.Result = "running";
    QVariantList values;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare("UPDATE attempts SET result = 'interrupted'" + Where(running, values));
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        Fail("The production record cannot be written:", q.lastError());
        return -1;
    }
    return q.numRowsAffected();
}

QString CProductionRecord::Begin(CAttempt attempt)
{
    if (attempt.Id.isEmpty())
        attempt.Id = NewId();
    if (attempt.StartedAt.isEmpty())
        attempt.StartedAt = NowUtc();
    attempt.EndedAt.clear();
    attempt.Result = "running";
    return Insert(attempt) ? attempt.Id : QString();
}

bool CProductionRecord::Insert(const CAttempt& a)
{
    if (!Writable())
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    PrepareInsert(q, a);
    if (!q.exec())
        return Fail("The production record cannot be written:", q.lastError());
    return true;
}

void CProductionRecord::PrepareInsert(QSqlQuery& q, const CAttempt& a, const QString& tail)
{
    q.prepare(QString("INSERT INTO attempts (%1) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")
                  .arg(Columns) + tail);
    const bool numbered = a.SerialValue.has_value();
    for (const QVariant& v : QVariantList{
             Text(a.Id), Text(a.Kind), Text(a.StartedAt), TextOrNull(a.EndedAt), Text(a.Station),
             Text(a.Settings), Text(a.Operator), Text(a.Port), a.Baud, Text(a.Device), a.DeviceNumber, a.Vcc,
             Text(a.Firmware), Optional(a.FirmwareSize),
             TextOrNull(a.FirmwareSha256), a.EraseInfo ? 1 : 0, a.BlowFuse ? 1 : 0,
             Optional(a.SerialValue), numbered ? QVariant(a.SerialWidth) : QVariant(),
             numbered ? QVariant(a.SerialAddress) : QVariant(), Optional(a.SerialWritten), Text(a.Result),
             TextOrNull(a.Step), TextOrNull(a.ErrorText), Optional(a.ErrorCode), Optional(a.FuseBlown),
             TextOrNull(a.Recipe), Optional(a.RecipeVersion)})
        q.addBindValue(v);
}

const char* CProductionRecord::AttemptsTableSql() { return AttemptsTable; }

bool CProductionRecord::InsertAll(const QList<CAttempt>& rows)
{
    if (!Writable())
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return Fail("The production record cannot be written:", db.lastError());
    for (const CAttempt& row : rows) {
        if (!Insert(row)) {
            db.rollback();
            return false;
        }
    }
    if (!db.commit())
        return Fail("The production record cannot be written:", db.lastError());
    return true;
}

bool CProductionRecord::TakeEnding(const CAttempt& row)
{
    if (!m_open) {
        m_error = "The production record is not open:\n" + m_path;
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare("UPDATE attempts SET ended_at = ?, result = ?, step = ?, error_text = ?, error_code = ?,"
              " fuse_blown = ?, serial_written = ? WHERE id = ? AND result IN ('running', 'interrupted')");
    for (const QVariant& v : QVariantList{TextOrNull(row.EndedAt), row.Result, TextOrNull(row.Step),
                                          TextOrNull(row.ErrorText), Optional(row.ErrorCode),
                                          Optional(row.FuseBlown), Optional(row.SerialWritten), row.Id})
        q.addBindValue(v);
    if (!q.exec())
        return Fail("The production record cannot be written:", q.lastError());
    return true;
}

bool CProductionRecord::Complete(const QString& id, const CAttemptEnd& end)
{
    if (!Writable())
        return false;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare("UPDATE attempts SET ended_at = ?, result = ?, step = ?, error_text = ?, error_code = ?,"
              " fuse_blown = ?,"
              " serial_written = CASE WHEN serial_value IS NULL THEN NULL ELSE ? END"
              " WHERE id = ? AND result = 'running'");
    for (const QVariant& v : QVariantList{NowUtc(), end.Result, TextOrNull(end.Step), TextOrNull(end.ErrorText),
                                          Optional(end.ErrorCode), Optional(end.FuseBlown),
                                          Optional(end.SerialWritten), id})
        q.addBindValue(v);
    if (!q.exec())
        return Fail("The production record cannot be written:", q.lastError());
    if (q.numRowsAffected() != 1) {
        m_error = "The production record holds no running attempt " + id + ":\n" + m_path;
        return false;
    }
    return true;
}

// Runs a read with its bound values; false (and the error text) on failure.
bool CProductionRecord::Read(QSqlQuery& q, const QString& sql, const QVariantList& values)
{
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    return q.exec() || Fail("The production record cannot be read:", q.lastError());
}

std::optional<QList<CAttempt>> CProductionRecord::Select(const CAttemptFilter& filter, int limit)
{
    if (!m_open)
        return std::nullopt;
    QVariantList values;
    QString sql = QString("SELECT %1 FROM attempts").arg(SelectedColumns()) + Where(filter, values) +
                  " ORDER BY started_at DESC, id DESC";
    if (limit >= 0)
        sql += " LIMIT " + QString::number(limit);
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!Read(q, sql, values))
        return std::nullopt;
    QList<CAttempt> rows;
    while (q.next())
        rows.append(ReadRow(q));
    return rows;
}

QString CProductionRecord::SelectedColumns() const
{
    QString columns = QString::fromLatin1(Columns);
    if (m_oldColumns)
        columns.replace(", recipe, recipe_version", ", NULL, NULL");
    return columns;
}

const QStringList& CProductionRecord::ColumnNames()
{
    static const QStringList names = QString::fromLatin1(Columns).split(", ");
    return names;
}

bool CProductionRecord::EachRow(const CAttemptFilter& filter, const std::function<bool(const CCell* cells)>& take)
{
    if (!m_open)
        return false;
    QVariantList values;
    const QString sql =
        QString("SELECT %1 FROM attempts").arg(SelectedColumns()) + Where(filter, values) + " ORDER BY started_at, id";
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    // A file's rows come straight from SQLite, in its own UTF-8: an export of
    // a million rows spends its time writing, not converting.
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        return EachSqliteRow(*static_cast<sqlite3* const*>(handle.constData()), sql, values, take);
    QSqlQuery q(db);
    if (!Read(q, sql, values))
        return false;
    const qsizetype count = ColumnNames().size();
    std::vector<QByteArray> texts(count);
    std::vector<CCell> cells(count);
    while (q.next()) {
        for (qsizetype i = 0; i < count; ++i) {
            const QVariant v = q.value(static_cast<int>(i));
            if (v.isNull()) {
                cells[i] = {};
                continue;
            }
            const bool number = v.typeId() != QMetaType::QString && v.typeId() != QMetaType::QByteArray;
            texts[i] = v.toString().toUtf8();
            cells[i] = {number ? CCell::Number : CCell::Text, std::string_view(texts[i].constData(), texts[i].size())};
        }
        if (!take(cells.data()))
            return true;
    }
    // A read that fails half-way ends next() as the last row would.
    return !q.lastError().isValid() || Fail("The production record cannot be read:", q.lastError());
}

bool CProductionRecord::EachSqliteRow(sqlite3* db, const QString& sql, const QVariantList& values,
                                      const std::function<bool(const CCell* cells)>& take)
{
    auto fail = [&] {
        return Fail("The production record cannot be read:",
                    QSqlError({}, QString::fromUtf8(sqlite3_errmsg(db)), QSqlError::StatementError));
    };
    sqlite3_stmt* statement = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), static_cast<int>(text.size()), &statement, nullptr) != SQLITE_OK)
        return fail();
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> finalize(statement, sqlite3_finalize);
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& v = values[i];
        const QByteArray bound = v.toString().toUtf8();
        const int rc = v.typeId() == QMetaType::QString
                           ? sqlite3_bind_text(statement, i + 1, bound.constData(), static_cast<int>(bound.size()),
                                               SQLITE_TRANSIENT)
                           : sqlite3_bind_int64(statement, i + 1, v.toLongLong());
        if (rc != SQLITE_OK)
            return fail();
    }
    const int count = sqlite3_column_count(statement);
    std::vector<CCell> cells(count);
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        for (int i = 0; i < count; ++i) {
            const int type = sqlite3_column_type(statement, i);
            if (type == SQLITE_NULL) {
                cells[i] = {};
                continue;
            }
            // The text first, then its length: the order SQLite asks for.
            const char* cell = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
            const bool number = type == SQLITE_INTEGER || type == SQLITE_FLOAT;
            cells[i] = {number ? CCell::Number : CCell::Text,
                        std::string_view(cell ? cell : "", static_cast<size_t>(sqlite3_column_bytes(statement, i)))};
        }
        if (!take(cells.data()))
            return true;
    }
    return rc == SQLITE_DONE || fail();
}

std::optional<CTally> CProductionRecord::Tally(const QString& sinceUtc, const QString& untilUtc)
{
    if (!m_open)
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare("SELECT result, count(*) FROM attempts WHERE kind = 'batch' AND started_at >= ?"
              " AND started_at < ? GROUP BY result");
    q.addBindValue(sinceUtc);
    q.addBindValue(untilUtc);
    if (!q.exec()) {
        Fail("The production record cannot be read:", q.lastError());
        return std::nullopt;
    }
    CTally tally;
    while (q.next()) {
        const QString result = q.value(0).toString();
        const qint64 n = q.value(1).toLongLong();
        if (result == "passed") tally.Passed = n;
        else if (result == "failed") tally.Failed = n;
        else if (result == "interrupted") tally.Interrupted = n;
        else if (result == "running") tally.Running = n;
        else if (result == "refused") tally.Refused = n;
    }
    return tally;
}

std::optional<QList<CSummaryRow>> CProductionRecord::Summary(ESummaryBy by, const CAttemptFilter& filter)
{
    if (!m_open)
        return std::nullopt;
    const char* key = by == ESummaryBy::Day      ? "substr(started_at, 1, 10)"
                      : by == ESummaryBy::Device ? "device"
                      : by == ESummaryBy::Recipe ? (m_oldColumns ? "''"
                                                    : "COALESCE(recipe || ' version ' || recipe_version, '')")
                                                 : "COALESCE(firmware_sha256, '')";
    CAttemptFilter batches = filter;
    batches.Kind = "batch";
    QVariantList values;
    const QString sql =
        QString("SELECT %1 AS k, count(*),"
                " SUM(CASE WHEN result = 'passed' THEN 1 ELSE 0 END),"
                " SUM(CASE WHEN result = 'failed' THEN 1 ELSE 0 END),"
                " SUM(CASE WHEN result = 'interrupted' THEN 1 ELSE 0 END),"
                " SUM(CASE WHEN result = 'refused' THEN 1 ELSE 0 END)"
                " FROM attempts")
            .arg(key) +
        Where(batches, values) + " GROUP BY k ORDER BY k";
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!Read(q, sql, values))
        return std::nullopt;
    QList<CSummaryRow> rows;
    while (q.next())
        rows.append({q.value(0).toString(), q.value(1).toLongLong(), q.value(2).toLongLong(),
                     q.value(3).toLongLong(), q.value(4).toLongLong(), q.value(5).toLongLong()});
    return rows;
}
