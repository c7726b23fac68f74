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

// The SQLSTATE of a refusal in the line's own words (a used-up pool, say).
constexpr const char* kRefusal = "CV001";

// Forward migrations of the pool's tables: entry i brings version i to i + 1.
//
// A pool's numbers get their rows in blocks (next_number is the first number
// without one), so that a station takes a free row with SKIP LOCKED and
// stations do not queue on the pool's row for every number; a number is
// "issued" once a committed reservation took it. The pool's next number, as
// shown, is one above its highest issued number (at least raised_to).
// Stands for the local record's own CREATE TABLE attempts statement.
constexpr const char* kAttemptsTable = "attempts";

const char* const kMigrations[][9] = {
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
    {
        // Stations work through these functions only (line setup grants
        // them); they run as the administrator who owns the tables, with
        // the search_path that setup fixes. A refusal a station should show
        // as it is has SQLSTATE CV001.
        "ALTER TABLE attempts ADD COLUMN line_login VARCHAR(63)",
        // The lowest free number, else a new block's first, for attempt.
        "CREATE FUNCTION corv_reserve(p_pool VARCHAR, p_attempt VARCHAR) RETURNS BIGINT"
        " LANGUAGE plpgsql SECURITY DEFINER AS $f$"
        " DECLARE taken BIGINT; from_n BIGINT; last_n BIGINT; to_n BIGINT;"
        " BEGIN"
        "  IF p_attempt IS NULL OR length(p_attempt) NOT BETWEEN 1 AND 36 THEN"
        "   RAISE EXCEPTION USING ERRCODE = 'CV001',"
        "    MESSAGE = format('An attempt id has 1 to 36 characters: \"%s\"', p_attempt);"
        "  END IF;"
        "  FOR tries IN 1..2 LOOP"
        // One that another station is taking right now is passed over.
        "   UPDATE serial_number SET state = 'reserved', attempt = p_attempt, issued = true, changed_at = now()"
        "    WHERE pool = p_pool AND number = (SELECT number FROM serial_number"
        "     WHERE pool = p_pool AND state = 'free' ORDER BY number LIMIT 1 FOR UPDATE SKIP LOCKED)"
        "    RETURNING number INTO taken;"
        "   IF taken IS NOT NULL THEN RETURN taken; END IF;"
        "   EXIT WHEN tries = 2;"
        // None free: lock the pool's row; a block made meanwhile is
        // committed once the lock is ours.
        "   SELECT next_number, COALESCE(last_number, 4294967295) INTO from_n, last_n"
        "    FROM serial_pool WHERE name = p_pool FOR NO KEY UPDATE;"
        "   IF NOT FOUND THEN"
        "    RAISE EXCEPTION USING ERRCODE = 'CV001', MESSAGE = format('There is no pool named \"%s\"', p_pool);"
        "   END IF;"
        "  END LOOP;"
        "  IF from_n > last_n THEN"
        "   RAISE EXCEPTION USING ERRCODE = 'CV001', MESSAGE = format("
        "    'Pool \"%s\" is used up: every number up to its last, %s, has been issued', p_pool, last_n);"
        "  END IF;"
        "  to_n := least(from_n + 31, last_n);"
        "  INSERT INTO serial_number (pool, number, state, attempt, issued)"
        "   SELECT p_pool, g, CASE WHEN g = from_n THEN 'reserved' ELSE 'free' END,"
        "    CASE WHEN g = from_n THEN p_attempt END, g = from_n FROM generate_series(from_n, to_n) AS g;"
        "  UPDATE serial_pool SET next_number = to_n + 1 WHERE name = p_pool;"
        "  RETURN from_n;"
        " END $f$",
        // The number held by attempt goes to p_state ('free': given back).
        // Settling again what is settled so succeeds; so does giving back a
        // number the attempt no longer holds. Anything else is refused.
        "CREATE FUNCTION corv_settle(p_pool VARCHAR, p_number BIGINT, p_attempt VARCHAR, p_state VARCHAR)"
        " RETURNS VOID LANGUAGE plpgsql SECURITY DEFINER AS $f$"
        " DECLARE what TEXT; first_n BIGINT; last_n BIGINT; raised_n BIGINT; now_state VARCHAR; holder VARCHAR;"
        " BEGIN"
        "  IF p_state = 'free' THEN"
        "   what := format('Cannot give serial number %s back to pool \"%s\"', p_number, p_pool);"
        "   UPDATE serial_number SET state = 'free', attempt = NULL, changed_at = now()"
        "    WHERE pool = p_pool AND number = p_number AND state = 'reserved' AND attempt = p_attempt;"
        "  ELSE"
        "   what := format('Cannot record serial number %s of pool \"%s\" as used', p_number, p_pool);"
        "   UPDATE serial_number SET state = p_state, changed_at = now() WHERE pool = p_pool"
        "    AND number = p_number AND state IN ('reserved', p_state) AND attempt = p_attempt;"
        "  END IF;"
        "  IF FOUND THEN RETURN; END IF;"
        "  SELECT p.first_number, COALESCE(p.last_number, 4294967295), p.raised_to, s.state, s.attempt"
        "   INTO first_n, last_n, raised_n, now_state, holder"
        "   FROM serial_pool p LEFT JOIN serial_number s ON s.pool = p.name AND s.number = p_number"
        "   WHERE p.name = p_pool;"
        "  IF NOT FOUND THEN"
        "   RAISE EXCEPTION USING ERRCODE = 'CV001', MESSAGE = format('There is no pool named \"%s\"', p_pool);"
        "  END IF;"
        "  IF now_state IS NULL THEN"
        "   IF p_number < first_n OR p_number > last_n THEN"
        "    RAISE EXCEPTION USING ERRCODE = 'CV001', MESSAGE = format("
        "     '%s is not a number of pool \"%s\" (%s to %s)', p_number, p_pool, first_n, last_n);"
        "   END IF;"
        "   now_state := CASE WHEN p_number < raised_n THEN 'skipped' ELSE 'free' END;"
        "  END IF;"
        "  IF p_state = 'free' AND holder IS DISTINCT FROM p_attempt THEN RETURN; END IF;"
        "  RAISE EXCEPTION USING ERRCODE = 'CV001', MESSAGE = format('%s: it is %s%s, not reserved by attempt %s',"
        "   what, now_state, COALESCE(' by attempt ' || holder, ''), p_attempt);"
        " END $f$",
        // A station's numbered attempt: its number and its running row, in
        // one transaction. The row is the station's as given, but running.
        "CREATE FUNCTION corv_begin(p_pool VARCHAR, p_row JSON) RETURNS BIGINT"
        " LANGUAGE plpgsql SECURITY DEFINER AS $f$"
        " DECLARE r attempts;"
        " BEGIN"
        "  r := json_populate_record(NULL::attempts, p_row);"
        "  r.serial_value := corv_reserve(p_pool, r.id);"
        "  r.result := 'running'; r.ended_at := NULL; r.serial_written := NULL; r.step := NULL;"
        "  r.error_text := NULL; r.error_code := NULL; r.fuse_blown := NULL; r.line_login := session_user;"
        "  INSERT INTO attempts SELECT (r).*;"
        "  RETURN r.serial_value;"
        " END $f$",
        // A finished attempt, and its number settled in the pool that
        // issued it: consumed when it may be on the unit, else given back.
        // A row the line holds as finished stays as it is; the answer is
        // the line's row either way.
        "CREATE FUNCTION corv_complete(p_row JSON) RETURNS JSON"
        " LANGUAGE plpgsql SECURITY DEFINER AS $f$"
        " DECLARE r attempts; held_row attempts; held serial_number; on_unit BOOLEAN; had_row BOOLEAN;"
        " BEGIN"
        "  r := json_populate_record(NULL::attempts, p_row);"
        "  IF r.result IS NULL OR r.result NOT IN ('passed', 'failed', 'interrupted') THEN"
        "   RAISE EXCEPTION USING ERRCODE = 'CV001', MESSAGE = format("
        "    'An attempt ends passed, failed or interrupted, not \"%s\"', r.result);"
        "  END IF;"
        "  SELECT * INTO held_row FROM attempts WHERE id = r.id FOR UPDATE;"
        "  had_row := FOUND;"
        "  IF had_row AND held_row.result <> 'running' THEN RETURN row_to_json(held_row); END IF;"
        "  IF had_row AND held_row.line_login <> session_user THEN"
        "   RAISE EXCEPTION USING ERRCODE = '42501', MESSAGE = format("
        "    'attempt %s was begun by another login', r.id);"
        "  END IF;"
        "  on_unit := COALESCE(r.serial_written <> 0, r.result = 'interrupted');"
        "  SELECT * INTO held FROM serial_number WHERE attempt = r.id FOR UPDATE;"
        "  IF FOUND THEN"
        "   IF r.serial_value IS DISTINCT FROM held.number THEN"
        "    RAISE EXCEPTION USING ERRCODE = 'CV001', MESSAGE = format("
        "     'Attempt %s holds serial number %s of pool \"%s\", not %s', r.id, held.number, held.pool,"
        "     r.serial_value);"
        "   END IF;"
        "   PERFORM corv_settle(held.pool, held.number, r.id, CASE WHEN NOT on_unit THEN 'free'"
        "    WHEN r.result = 'passed' THEN 'passed' ELSE 'rejected' END);"
        "  ELSIF on_unit THEN"
        "   RAISE EXCEPTION USING ERRCODE = 'CV001', MESSAGE = format("
        "    'Attempt %s holds no serial number in the line', r.id);"
        "  END IF;"
        "  IF had_row THEN"
        "   UPDATE attempts SET ended_at = r.ended_at, result = r.result, step = r.step,"
        "    error_text = r.error_text, error_code = r.error_code, fuse_blown = r.fuse_blown,"
        "    serial_written = r.serial_written WHERE id = r.id RETURNING * INTO held_row;"
        "  ELSE"
        "   r.line_login := session_user;"
        "   INSERT INTO attempts SELECT (r).* RETURNING * INTO held_row;"
        "  END IF;"
        "  RETURN row_to_json(held_row);"
        " END $f$",
        // A reservation whose commit the station never saw confirmed: the
        // batch never ran, so its number goes back and its row says so.
        "CREATE FUNCTION corv_abandon(p_attempt VARCHAR) RETURNS VOID"
        " LANGUAGE plpgsql SECURITY DEFINER AS $f$"
        " BEGIN"
        "  UPDATE attempts SET result = 'failed', step = 'Reservation', serial_written = 0,"
        "   error_text = 'The line database did not confirm the reservation',"
        "   ended_at = to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')"
        "   WHERE id = p_attempt AND result = 'running' AND COALESCE(line_login = session_user, true);"
        "  IF FOUND THEN"
        "   UPDATE serial_number SET state = 'free', attempt = NULL, changed_at = now()"
        "    WHERE attempt = p_attempt AND state = 'reserved';"
        "  END IF;"
        " END $f$",
        nullptr,
    },
    {
        // Recipes: approved production setups. Only the administrator
        // writes them; a station's login reads them (line setup grants
        // SELECT on every table). A version never changes once made.
        "ALTER TABLE attempts ADD COLUMN recipe VARCHAR(64)",
        "ALTER TABLE attempts ADD COLUMN recipe_version INTEGER",
        "CREATE TABLE recipe ("
        " name VARCHAR(64) NOT NULL CHECK (name ~ '^[A-Za-z0-9][A-Za-z0-9._-]*$'),"
        " version INTEGER NOT NULL CHECK (version >= 1),"
        " device VARCHAR(64) NOT NULL, vcc DOUBLE PRECISION NOT NULL,"
        " firmware BYTEA NOT NULL, firmware_name TEXT NOT NULL,"
        " firmware_sha256 VARCHAR(64) NOT NULL CHECK (firmware_sha256 = encode(sha256(firmware), 'hex')),"
        " erase_info BOOLEAN NOT NULL, blow_fuse BOOLEAN NOT NULL,"
        " serial_type INTEGER NOT NULL CHECK (serial_type BETWEEN 0 AND 3), serial_address VARCHAR(8),"
        " pool VARCHAR(64) REFERENCES serial_pool (name),"
        " created_at TIMESTAMPTZ NOT NULL DEFAULT now(), created_by VARCHAR(63) NOT NULL DEFAULT session_user,"
        " PRIMARY KEY (name, version))",
        // Retiring marks the name: every version, and the rows keep naming it.
        "CREATE TABLE recipe_retired (name VARCHAR(64) PRIMARY KEY,"
        " retired_at TIMESTAMPTZ NOT NULL DEFAULT now(), retired_by VARCHAR(63) NOT NULL DEFAULT session_user)",
        "CREATE FUNCTION corv_recipe_frozen() RETURNS trigger LANGUAGE plpgsql AS $f$"
        " BEGIN"
        "  RAISE EXCEPTION USING ERRCODE = 'CV001', MESSAGE = format("
        "   'Recipe %s version %s is approved and never changes: make a new version', OLD.name, OLD.version);"
        " END $f$",
        "CREATE TRIGGER recipe_frozen BEFORE UPDATE OR DELETE ON recipe"
        " FOR EACH ROW EXECUTE FUNCTION corv_recipe_frozen()",
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
    QString Options, Server, User, Error;
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
    // The login as libpq picks it: given, else PGUSER, else the account's.
    c.User = given.value(QStringLiteral("user"));
    if (c.User.isEmpty()) c.User = qEnvironmentVariable("PGUSER");
    if (c.User.isEmpty()) c.User = qEnvironmentVariable("USER");
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
    m_user = c.User;
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
    m_inTransaction = false;
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::database(m_name, false).close();
}

bool CLineDatabase::Open(bool checkSchema)
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
    if (checkSchema && !CheckSchema()) {
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

void CLineDatabase::Fail(const QString& what, const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    QString reason = FirstLine(error.databaseText().isEmpty() ? error.text() : error.databaseText());
    // QPSQL gives "ERROR:  <message>(<SQLSTATE>)".
    if (reason.startsWith(QLatin1String("ERROR:")))
        reason = reason.mid(6).trimmed();
    if (!code.isEmpty() && reason.endsWith(QLatin1Char('(') + code + QLatin1Char(')')))
        reason.chop(code.size() + 2);
    if (code == QLatin1String(kRefusal)) {
        m_error = reason;  // the line's own words, whole
        return;
    }
    if (code == QLatin1String("42501")) {
        m_error = QStringLiteral("%1: the line database on %2 does not permit it to login \"%3\" (%4). A station's "
                                 "login only reserves, records and settles; setting up the line and its pools "
                                 "needs the line's administrator").arg(what, m_server, m_user, reason);
        return;
    }
    Fail(what, reason);
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
    Fail(what, query.lastError());
    return false;
}

QSqlQuery* CLineDatabase::Run(const QString& sql, const QVariantList& values, const QString& what)
{
    for (int round = 0;; ++round) {
        if (!IsOpen() && !Open())
            return nullptr;
        QSqlQuery* q = Prepared(sql);
        if (!q)
            return nullptr;
        for (const QVariant& value : values)
            q->addBindValue(value);
        if (q->exec())
            return q;
        const QSqlError e = q->lastError();
        // After a fast server restart a statement this connection prepared
        // can be gone ("prepared statement ... does not exist") while the
        // connection still looks sound. Outside a transaction nothing was
        // done: run it once more on a fresh connection.
        if (round == 0 && !m_inTransaction && e.nativeErrorCode() == QLatin1String("26000")) {
            m_lost = true;
            continue;
        }
        Fail(what, e);
        return nullptr;
    }
}

QSqlQuery* CLineDatabase::Prepared(const QString& sql)
{
    auto it = m_prepared.find(sql);
    if (it != m_prepared.end())
        return it->second.get();
    auto query = std::make_unique<QSqlQuery>(Database());
    if (!query->prepare(sql)) {
        Fail(QStringLiteral("Cannot prepare a statement for the line database"), query->lastError());
        return nullptr;
    }
    return m_prepared.emplace(sql, std::move(query)).first->second.get();
}

bool CLineDatabase::Exec(QSqlQuery& query, const QString& sql, const QString& what)
{
    if (query.exec(sql))
        return true;
    Fail(what, query.lastError());
    return false;
}

bool CLineDatabase::Begin()
{
    if (!IsOpen() && !Open())
        return false;
    if (Database().transaction())
        return m_inTransaction = true;
    Fail(QStringLiteral("Cannot begin a transaction"), Database().lastError().text());
    // A connection that died while idle (the server was restarted) shows
    // only now: connect once more before calling the server away.
    if (!m_lost || !Open())
        return false;
    if (Database().transaction())
        return m_inTransaction = true;
    Fail(QStringLiteral("Cannot begin a transaction"), Database().lastError().text());
    return false;
}

bool CLineDatabase::Commit()
{
    m_inTransaction = false;
    if (Database().commit())
        return true;
    Fail(QStringLiteral("Cannot commit to the line database"), Database().lastError().text());
    Rollback();
    return false;
}

void CLineDatabase::Rollback()
{
    m_inTransaction = false;
    if (!m_lost)
        Database().rollback();
}

bool CLineDatabase::ReadVersion(QSqlQuery& q, int& version)
{
    version = 0;
    if (!Exec(q, QStringLiteral("SELECT to_regclass('pool_schema') IS NOT NULL"),
              QStringLiteral("Cannot read the line database's schema")) || !q.next())
        return false;
    if (!q.value(0).toBool())
        return true;
    if (!Exec(q, QStringLiteral("SELECT version FROM pool_schema"),
              QStringLiteral("Cannot read the line database's schema")))
        return false;
    if (!q.next()) {
        m_error = QStringLiteral("The line database on %1 has no schema version").arg(m_server);
        return false;
    }
    version = q.value(0).toInt();
    if (version > SchemaVersion) {
        m_error = QStringLiteral("The line database on %1 was set up by a newer station "
                                 "(schema %2, this one knows %3); update this station")
                      .arg(m_server).arg(version).arg(SchemaVersion);
        return false;
    }
    return true;
}

bool CLineDatabase::CheckSchema()
{
    QSqlQuery q(Database());
    int version = 0;
    if (!ReadVersion(q, version))
        return false;
    if (version == SchemaVersion)
        return true;
    m_error = QStringLiteral("The line database on %1 is not set up for this station (schema %2, this one needs "
                             "%3): its administrator runs corvantis-log --database ADMIN_CONNINFO line setup "
                             "--station-role ROLE")
                  .arg(m_server).arg(version).arg(SchemaVersion);
    return false;
}

namespace {

// Owned by the administrator, every table and function of the line; the
// station role may read the tables, and run the station's functions only.
const char* const kGrants =
    "DO $setup$"
    " DECLARE s TEXT := current_schema(); station TEXT := current_setting('corvantis.station_role'); t RECORD;"
    " BEGIN"
    "  IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = station) THEN"
    "   RAISE EXCEPTION USING ERRCODE = 'CV001', MESSAGE = format("
    "    'There is no role \"%s\" on this server; make it first (createuser --pwprompt %s)', station, station);"
    "  END IF;"
    "  IF station = current_user OR EXISTS (SELECT 1 FROM pg_roles WHERE rolname = station AND rolsuper) THEN"
    "   RAISE EXCEPTION USING ERRCODE = 'CV001', MESSAGE = format("
    "    'The station role \"%s\" must not be the administrator nor a superuser', station);"
    "  END IF;"
    "  IF (SELECT nspowner FROM pg_namespace WHERE nspname = s) <> (SELECT oid FROM pg_roles WHERE rolname = current_user) THEN"
    "   EXECUTE format('ALTER SCHEMA %I OWNER TO %I', s, current_user);"
    "  END IF;"
    "  IF (SELECT datdba FROM pg_database WHERE datname = current_database()) = (SELECT oid FROM pg_roles WHERE rolname = station) THEN"
    "   EXECUTE format('ALTER DATABASE %I OWNER TO %I', current_database(), current_user);"
    "  END IF;"
    "  FOR t IN SELECT c.relname FROM pg_class c WHERE c.relnamespace = quote_ident(s)::regnamespace AND c.relkind IN ('r', 'S')"
    "   AND c.relowner <> (SELECT oid FROM pg_roles WHERE rolname = current_user) LOOP"
    "   EXECUTE format('ALTER TABLE %I.%I OWNER TO %I', s, t.relname, current_user);"
    "  END LOOP;"
    "  EXECUTE format('REVOKE ALL ON ALL TABLES IN SCHEMA %I FROM PUBLIC, %I', s, station);"
    "  EXECUTE format('REVOKE CREATE ON SCHEMA %I FROM PUBLIC, %I', s, station);"
    "  EXECUTE format('GRANT USAGE ON SCHEMA %I TO %I', s, station);"
    "  EXECUTE format('GRANT SELECT ON ALL TABLES IN SCHEMA %I TO %I', s, station);"
    "  EXECUTE format('REVOKE ALL ON ALL FUNCTIONS IN SCHEMA %I FROM PUBLIC, %I', s, station);"
    "  FOR t IN SELECT p.oid::regprocedure AS f, p.proname FROM pg_proc p"
    "   WHERE p.pronamespace = quote_ident(s)::regnamespace AND p.proname LIKE 'corv\\_%' LOOP"
    "   EXECUTE format('ALTER FUNCTION %s OWNER TO %I', t.f, current_user);"
    "   EXECUTE format('ALTER FUNCTION %s SET search_path = %I, pg_temp', t.f, s);"
    "   IF t.proname IN ('corv_begin', 'corv_complete', 'corv_abandon') THEN"
    "    EXECUTE format('GRANT EXECUTE ON FUNCTION %s TO %I', t.f, station);"
    "   END IF;"
    "  END LOOP;"
    " END $setup$";

}  // namespace

bool CLineDatabase::Setup(const QString& stationRole)
{
    if (!IsOpen() && !Open(false))
        return false;
    const QString what = QStringLiteral("Cannot set up the line database on %1").arg(m_server);
    QSqlDatabase db = Database();
    if (!db.transaction()) {
        Fail(what, db.lastError().text());
        return false;
    }
    QSqlQuery q(db);
    // One setup at a time; a second one waits here and finds the schema up
    // to date.
    int version = 0;
    bool ok = Exec(q, QStringLiteral("SELECT pg_advisory_xact_lock(1131376241)"), what) && ReadVersion(q, version);
    for (; ok && version < SchemaVersion; ++version) {
        for (const char* const* sql = kMigrations[version]; ok && *sql; ++sql) {
            const char* statement = *sql == kAttemptsTable ? CProductionRecord::AttemptsTableSql() : *sql;
            ok = Exec(q, QString::fromUtf8(statement), what);
        }
        ok = ok && Exec(q, QStringLiteral("UPDATE pool_schema SET version = %1").arg(version + 1), what);
    }
    if (ok) {
        q.prepare(QStringLiteral("SELECT set_config('corvantis.station_role', ?, true)"));
        q.addBindValue(stationRole);
        ok = Exec(q, what) && Exec(q, QString::fromUtf8(kGrants), what);
    }
    if (!ok) {
        db.rollback();
        return false;
    }
    if (!db.commit()) {
        Fail(what, db.lastError().text());
        return false;
    }
    return true;
}
