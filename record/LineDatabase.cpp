#include "LineDatabase.h"
#include "ProductionRecord.h"

#include <QAtomicInt>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QMap>
#include <QStringList>
#include <QVariant>

#include <libpq-fe.h>

namespace {

QAtomicInt g_connections;

// Forward migrations of the pool's tables: entry i brings version i to i + 1.
//
// A pool's numbers get their rows in blocks (next_number is the first number
// without one), so that a station takes a free row with SKIP LOCKED and
// stations do not queue on the pool's row for every number; a number is
// "issued" once a committed reservation took it. The pool's next number, as
// shown, is one above its highest issued number (at least raised_to).
// Stands for the local record's own CREATE TABLE attempts statement.
constexpr const char* kAttemptsTable = "attempts";

const char* const kMigrations[][8] = {
    {
        "CREATE TABLE pool_schema (version INTEGER NOT NULL)",
        "INSERT INTO pool_schema (version) VALUES (0)",
        "CREATE TABLE serial_pool ("
        " name VARCHAR(64) PRIMARY KEY CHECK (name <> ''),"
        " first_number BIGINT NOT NULL CHECK (first_number BETWEEN 0 AND 4294967295),"
        " last_number BIGINT CHECK (last_number BETWEEN first_number AND 4294967295),"
        " next_number BIGINT NOT NULL,"
        " raised_to BIGINT NOT NULL,"
        " created_at TIMESTAMPTZ NOT NULL DEFAULT now(),"
        " CHECK (next_number >= first_number AND raised_to >= first_number"
        "        AND next_number <= COALESCE(last_number, 4294967295) + 1))",
        // state: free (never issued, or given back by an attempt it never
        // reached a unit in), reserved (held by a running attempt), passed /
        // rejected (on a unit for good).
        "CREATE TABLE serial_number ("
        " pool VARCHAR(64) NOT NULL REFERENCES serial_pool (name),"
        " number BIGINT NOT NULL,"
        " state VARCHAR(8) NOT NULL CHECK (state IN ('free', 'reserved', 'passed', 'rejected')),"
        " attempt VARCHAR(36),"
        " issued BOOLEAN NOT NULL DEFAULT false,"
        " changed_at TIMESTAMPTZ NOT NULL DEFAULT now(),"
        " PRIMARY KEY (pool, number),"
        " CHECK ((state = 'free') = (attempt IS NULL)),"
        " CHECK (state = 'free' OR issued))",
        "CREATE INDEX serial_number_free ON serial_number (pool, number) WHERE state = 'free'",
        // An attempt holds at most one number.
        "CREATE UNIQUE INDEX serial_number_attempt ON serial_number (attempt)",
        nullptr,
    },
    {
        // Every station's production record, the same rows as the local one.
        kAttemptsTable,
        "CREATE INDEX attempts_started ON attempts (started_at)",
        "CREATE INDEX attempts_serial ON attempts (serial_value)",
        nullptr,
    },
};
constexpr int kMigrationCount = sizeof kMigrations / sizeof kMigrations[0];
static_assert(kMigrationCount == CLineDatabase::SchemaVersion);

QString FirstLine(const QString& text)
{
    QString line = text.section(QLatin1Char('\n'), 0, 0).trimmed();
    return line.isEmpty() ? text.trimmed() : line;
}

QString Quoted(const QString& value)
{
    QString v = value;
    v.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    v.replace(QLatin1String("'"), QLatin1String("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

// What a line database setting says: the options handed to QPSQL and the
// server named in messages, or why the setting cannot be used.
struct CConnection {
    QString Options, Server, Error;
};

CConnection ReadConninfo(const QString& conninfo)
{
    // libpq's own reading of the string (keywords or URI) with its own
    // messages; QPSQL then gets it back as key='value' pairs.
    CConnection c;
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.toUtf8().constData(), &message);
    if (!options) {
        c.Error = QStringLiteral("The line database setting \"%1\" is not a connection string: %2")
                      .arg(conninfo, message ? FirstLine(QString::fromUtf8(message))
                                             : QStringLiteral("out of memory"));
        PQfreemem(message);
        return c;
    }
    QMap<QString, QString> given;
    QStringList pairs;
    for (PQconninfoOption* o = options; o->keyword && c.Error.isEmpty(); ++o) {
        if (!o->val)
            continue;
        const QString key = QString::fromUtf8(o->keyword);
        const QString val = QString::fromUtf8(o->val);
        if (val.contains(QLatin1Char(';')))  // QPSQL reads ';' as a separator between options.
            c.Error = QStringLiteral("The line database setting \"%1\" has a ';' in %2, "
                                     "which this station cannot pass on").arg(conninfo, key);
        else if (key == QLatin1String("password"))
            c.Error = QStringLiteral("The line database setting holds a password; keep it out of the "
                                     "settings, in ~/.pgpass (or PGPASSFILE, PGPASSWORD, a service file)");
        given[key] = val;
        pairs << key + QLatin1Char('=') + Quoted(val);
    }
    PQconninfoFree(options);
    if (!c.Error.isEmpty())
        return c;
    // A server that does not answer must not hold a station for libpq's
    // default of forever.
    if (!given.contains(QStringLiteral("connect_timeout")))
        pairs << QStringLiteral("connect_timeout=5");
    if (!given.contains(QStringLiteral("application_name")))
        pairs << QStringLiteral("application_name=corvantis");
    c.Options = pairs.join(QLatin1Char(' '));

    QString host = given.value(QStringLiteral("host"));
    if (host.isEmpty()) host = given.value(QStringLiteral("hostaddr"));
    if (host.isEmpty()) host = qEnvironmentVariable("PGHOST");
    if (host.isEmpty()) host = QStringLiteral("/run/postgresql");
    QString port = given.value(QStringLiteral("port"));
    if (port.isEmpty()) port = qEnvironmentVariable("PGPORT");
    if (port.isEmpty()) port = QStringLiteral("5432");
    c.Server = QStringLiteral("%1, port %2").arg(host, port);
    return c;
}

}  // namespace

CLineDatabase::CLineDatabase(const QString& conninfo)
    : m_conninfo(conninfo),
      m_name(QStringLiteral("corv_line_%1").arg(g_connections.fetchAndAddRelaxed(1)))
{
    const CConnection c = ReadConninfo(conninfo);
    m_error = c.Error;
    if (!m_error.isEmpty())
        return;
    m_options = c.Options;
    m_server = c.Server;
    m_valid = true;
}

CLineDatabase::~CLineDatabase()
{
    Close();
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase CLineDatabase::Database() const
{
    return QSqlDatabase::database(m_name, false);
}

bool CLineDatabase::IsOpen() const
{
    return m_valid && !m_lost && Database().isOpen();
}

void CLineDatabase::Close()
{
    m_prepared.clear();
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::database(m_name, false).close();
}

bool CLineDatabase::Open()
{
    if (!m_valid)
        return false;  // m_error says why, from the constructor
    if (m_lost)
        Close();
    m_lost = false;
    m_error.clear();
    if (Database().isOpen())
        return true;
    if (!QSqlDatabase::contains(m_name)) {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
            m_error = QStringLiteral("Qt's PostgreSQL driver (QPSQL) is not installed, so the "
                                     "line database on %1 cannot be used").arg(m_server);
            return false;
        }
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
        db.setConnectOptions(m_options);
    }
    QSqlDatabase db = Database();
    if (!db.open()) {
        m_error = QStringLiteral("Cannot reach the line database on %1: %2")
                      .arg(m_server, FirstLine(db.lastError().databaseText()));
        db.close();
        return false;
    }
    if (!Migrate()) {
        db.close();
        return false;
    }
    return true;
}

bool CLineDatabase::ConnectionLost() const
{
    const QVariant handle = Database().driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "PGconn*") != 0)
        return true;
    PGconn* connection = *static_cast<PGconn* const*>(handle.data());
    return !connection || PQstatus(connection) != CONNECTION_OK;
}

void CLineDatabase::Fail(const QString& what, const QString& reason)
{
    if (ConnectionLost()) {
        m_lost = true;
        m_error = QStringLiteral("%1: the connection to the line database on %2 was lost (%3)")
                      .arg(what, m_server, FirstLine(reason));
    } else {
        m_error = QStringLiteral("%1: %2").arg(what, FirstLine(reason));
    }
}

bool CLineDatabase::Exec(QSqlQuery& query, const QString& what)
{
    if (query.exec())
        return true;
    const QSqlError e = query.lastError();
    Fail(what, e.databaseText().isEmpty() ? e.text() : e.databaseText());
    return false;
}

QSqlQuery* CLineDatabase::Prepared(const QString& sql)
{
    auto it = m_prepared.find(sql);
    if (it != m_prepared.end())
        return it->second.get();
    auto query = std::make_unique<QSqlQuery>(Database());
    if (!query->prepare(sql)) {
        const QSqlError e = query->lastError();
        Fail(QStringLiteral("Cannot prepare a statement for the line database"),
             e.databaseText().isEmpty() ? e.text() : e.databaseText());
        return nullptr;
    }
    return m_prepared.emplace(sql, std::move(query)).first->second.get();
}

bool CLineDatabase::Exec(QSqlQuery& query, const QString& sql, const QString& what)
{
    if (query.exec(sql))
        return true;
    const QSqlError e = query.lastError();
    Fail(what, e.databaseText().isEmpty() ? e.text() : e.databaseText());
    return false;
}

bool CLineDatabase::Begin()
{
    if (!IsOpen() && !Open())
        return false;
    if (Database().transaction())
        return true;
    Fail(QStringLiteral("Cannot begin a transaction"), Database().lastError().text());
    // A connection that died while idle (the server was restarted) shows
    // only now: connect once more before calling the server away.
    if (!m_lost || !Open())
        return false;
    if (Database().transaction())
        return true;
    Fail(QStringLiteral("Cannot begin a transaction"), Database().lastError().text());
    return false;
}

bool CLineDatabase::Commit()
{
    if (Database().commit())
        return true;
    Fail(QStringLiteral("Cannot commit to the line database"), Database().lastError().text());
    Rollback();
    return false;
}

void CLineDatabase::Rollback()
{
    if (!m_lost)
        Database().rollback();
}

bool CLineDatabase::Migrate()
{
    QSqlDatabase db = Database();
    if (!db.transaction()) {
        Fail(QStringLiteral("Cannot set up the line database"), db.lastError().text());
        return false;
    }
    QSqlQuery q(db);
    // One station migrates at a time; the others wait here and then find
    // the tables up to date.
    if (!Exec(q, QStringLiteral("SELECT pg_advisory_xact_lock(1131376241)"),
              QStringLiteral("Cannot set up the line database"))) {
        Rollback();
        return false;
    }
    int version = 0;
    if (!Exec(q, QStringLiteral("SELECT to_regclass('pool_schema') IS NOT NULL"),
              QStringLiteral("Cannot read the line database's schema")) || !q.next()) {
        Rollback();
        return false;
    }
    if (q.value(0).toBool()) {
        if (!Exec(q, QStringLiteral("SELECT version FROM pool_schema"),
                  QStringLiteral("Cannot read the line database's schema")) || !q.next()) {
            if (m_error.isEmpty())
                m_error = QStringLiteral("The line database on %1 has no schema version").arg(m_server);
            Rollback();
            return false;
        }
        version = q.value(0).toInt();
    }
    if (version > SchemaVersion) {
        m_error = QStringLiteral("The line database on %1 was set up by a newer station "
                                 "(schema %2, this one knows %3); update this station")
                      .arg(m_server).arg(version).arg(SchemaVersion);
        Rollback();
        return false;
    }
    for (; version < SchemaVersion; ++version) {
        for (const char* const* sql = kMigrations[version]; *sql; ++sql) {
            const char* statement = *sql == kAttemptsTable ? CProductionRecord::AttemptsTableSql() : *sql;
            if (!Exec(q, QString::fromUtf8(statement),
                      QStringLiteral("Cannot set up the line database on %1").arg(m_server))) {
                Rollback();
                return false;
            }
        }
        if (!Exec(q, QStringLiteral("UPDATE pool_schema SET version = %1").arg(version + 1),
                  QStringLiteral("Cannot set up the line database on %1").arg(m_server))) {
            Rollback();
            return false;
        }
    }
    if (!db.commit()) {
        Fail(QStringLiteral("Cannot set up the line database on %1").arg(m_server),
             db.lastError().text());
        return false;
    }
    return true;
}
