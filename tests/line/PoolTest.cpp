// The line's serial pools against a real PostgreSQL server: administration,
// the order and states of numbers, the schema, and drills with several
// client processes (concurrency, two pools, a server outage).
#include "PgTestServer.h"

#include "LineStation.h"
#include "PoolCommand.h"
#include "SerialPool.h"

#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <set>
#include <cstring>

namespace {

class LinePool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(PgTestServer().Ok()) << qPrintable(PgTestServer().ErrorText());
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        QString name = QStringLiteral("t_%1_%2").arg(info->test_suite_name(), info->name()).toLower();
        name.replace(QRegularExpression(QStringLiteral("[^a-z0-9_]")), QStringLiteral("_"));
        schema = name.left(60);
        station = PgTestServer().NewLine(schema);
        ASSERT_FALSE(station.isEmpty()) << qPrintable(PgTestServer().ErrorText());
        // The pool's own rules, as its administrator exercises them.
        conninfo = PgTestServer().AdminConninfo(schema);
    }

    // One statement in its own transaction, as a station would run it.
    bool Reserve(CLineDatabase& db, CSerialPool& pool, const QString& name, const QString& attempt,
                 uint32_t& number)
    {
        if (!db.Begin())
            return false;
        if (pool.Reserve(name, attempt, number) && db.Commit())
            return true;
        db.Rollback();
        return false;
    }

    QString schema;
    QString conninfo;
    QString station;
};

// --- administration --------------------------------------------------------

struct AdminRow {
    const char* op;  // "create" or "raise"
    const char* name;
    int64_t a, b;    // first/last, or the new next number (b unused)
    const char* refusal;  // nullptr: must succeed
};

TEST_F(LinePool, CreateAndRaiseRefuseWhatIsWrong)
{
    const AdminRow rows[] = {
        {"create", "Sensor", 1000, 1999, nullptr},
        {"create", "Sensor", 5, -1, "A pool named \"Sensor\" already exists"},
        {"create", "", 0, -1, "A pool name has 1 to 64 characters"},
        {"create", "Tab\there", 0, -1, "no control characters"},
        {"create", "Neg", -1, -1, "The first number of a pool lies between 0 and 4294967295, not -1"},
        {"create", "Big", 4294967296, -1, "not 4294967296"},
        {"create", "Backwards", 10, 9, "lies between its first number, 10, and 4294967295, not 9"},
        {"create", "Wide", 0, 4294967296, "not 4294967296"},
        {"create", "Single", 4294967295, 4294967295, nullptr},
        {"raise", "Sensor", 999, 0, "The next number of pool \"Sensor\" is already 1000 and only goes up"},
        {"raise", "Sensor", 1000, 0, "is already 1000"},
        {"raise", "Sensor", 2001, 0, "Pool \"Sensor\" ends at 1999: its next number can be at most 2000"},
        {"raise", "Sensor", 1500, 0, nullptr},
        {"raise", "Sensor", 1499, 0, "is already 1500"},
        {"raise", "Nowhere", 5, 0, "There is no pool named \"Nowhere\""},
    };
    CLineDatabase db(conninfo);
    CSerialPool pool(db);
    for (const AdminRow& row : rows) {
        SCOPED_TRACE(std::string(row.op) + " " + row.name + " " + std::to_string(row.a));
        const bool ok = QLatin1String(row.op) == QLatin1String("create")
            ? pool.Create(QString::fromUtf8(row.name), row.a, row.b)
            : pool.Raise(QString::fromUtf8(row.name), row.a);
        EXPECT_EQ(ok, row.refusal == nullptr) << qPrintable(pool.ErrorText());
        if (row.refusal) {
            EXPECT_TRUE(pool.ErrorText().contains(QString::fromUtf8(row.refusal))) << qPrintable(pool.ErrorText());
        }
    }
    QList<SPoolStatus> pools;
    ASSERT_TRUE(pool.List(pools)) << qPrintable(pool.ErrorText());
    ASSERT_EQ(pools.size(), 2);  // the refused ones left nothing behind
    EXPECT_EQ(pools[0].Name, QStringLiteral("Sensor"));
    EXPECT_EQ(pools[0].Next, 1500);
    EXPECT_EQ(pools[0].Skipped, 500);
    EXPECT_EQ(pools[0].Unissued, 500);
    EXPECT_EQ(pools[1].Name, QStringLiteral("Single"));
    EXPECT_EQ(pools[1].Unissued, 1);
}

// --- reservation order and states ------------------------------------------

TEST_F(LinePool, GivenBackNumbersComeFirstLowestFirstAndEveryNumberHasOneState)
{
    CLineDatabase db(conninfo);
    CSerialPool pool(db);
    ASSERT_TRUE(pool.Create(QStringLiteral("P"), 1, 5)) << qPrintable(pool.ErrorText());
    const QString P = QStringLiteral("P");
    uint32_t n = 0;
    for (uint32_t want : {1u, 2u, 3u}) {
        ASSERT_TRUE(Reserve(db, pool, P, QStringLiteral("a%1").arg(want), n)) << qPrintable(pool.ErrorText());
        EXPECT_EQ(n, want);
    }
    ASSERT_TRUE(pool.GiveBack(P, 2, QStringLiteral("a2"))) << qPrintable(pool.ErrorText());
    ASSERT_TRUE(pool.GiveBack(P, 1, QStringLiteral("a1"))) << qPrintable(pool.ErrorText());
    SPoolStatus s;
    ASSERT_TRUE(pool.Show(P, s));
    EXPECT_EQ(s.FreeAgain, (QList<int64_t>{1, 2}));

    struct { const char* attempt; uint32_t number; } order[] = {{"a4", 1}, {"a5", 2}, {"a6", 4}, {"a7", 5}};
    for (const auto& o : order) {
        ASSERT_TRUE(Reserve(db, pool, P, QString::fromLatin1(o.attempt), n)) << qPrintable(pool.ErrorText());
        EXPECT_EQ(n, o.number) << o.attempt;
    }
    EXPECT_FALSE(Reserve(db, pool, P, QStringLiteral("a8"), n));
    EXPECT_EQ(pool.ErrorText(),
              QStringLiteral("Pool \"P\" is used up: every number up to its last, 5, has been issued"));
    ASSERT_TRUE(pool.GiveBack(P, 5, QStringLiteral("a7")));
    ASSERT_TRUE(Reserve(db, pool, P, QStringLiteral("a8"), n));
    EXPECT_EQ(n, 5u);

    EXPECT_TRUE(pool.Consume(P, 3, QStringLiteral("a3"), true));
    EXPECT_TRUE(pool.Consume(P, 3, QStringLiteral("a3"), true)) << "a second delivery changes nothing";
    EXPECT_FALSE(pool.Consume(P, 3, QStringLiteral("a3"), false));
    EXPECT_TRUE(pool.ErrorText().contains(QStringLiteral("it is passed by attempt a3, not reserved by attempt a3")))
        << qPrintable(pool.ErrorText());
    EXPECT_TRUE(pool.Consume(P, 1, QStringLiteral("a4"), false));
    EXPECT_FALSE(pool.Consume(P, 4, QStringLiteral("a5"), true)) << "a5 holds 2, not 4";
    EXPECT_FALSE(pool.GiveBack(P, 3, QStringLiteral("a3"))) << "a number on a unit never comes back";

    struct { int64_t number; const char* state; const char* attempt; } states[] = {
        {1, "rejected", "a4"}, {2, "reserved", "a5"}, {3, "passed", "a3"},
        {4, "reserved", "a6"}, {5, "reserved", "a8"}};
    for (const auto& want : states) {
        QString state, attempt;
        ASSERT_TRUE(pool.State(P, want.number, state, attempt)) << qPrintable(pool.ErrorText());
        EXPECT_EQ(state, QString::fromLatin1(want.state)) << want.number;
        EXPECT_EQ(attempt, QString::fromLatin1(want.attempt)) << want.number;
    }
    QString state, attempt;
    EXPECT_FALSE(pool.State(P, 6, state, attempt));
    EXPECT_EQ(pool.ErrorText(), QStringLiteral("6 is not a number of pool \"P\" (1 to 5)"));
    ASSERT_TRUE(pool.Show(P, s));
    EXPECT_EQ(s.Passed, 1);
    EXPECT_EQ(s.Rejected, 1);
    EXPECT_EQ(s.Reserved, 3);
    EXPECT_TRUE(s.FreeAgain.isEmpty());
    EXPECT_EQ(s.Unissued, 0);
}

TEST_F(LinePool, RollbackAndRaiseKeepTheNextNumberGoingUp)
{
    CLineDatabase db(conninfo);
    CSerialPool pool(db);
    const QString Q = QStringLiteral("Q");
    ASSERT_TRUE(pool.Create(Q, 70, -1));
    ASSERT_TRUE(db.Begin());
    uint32_t n = 0;
    ASSERT_TRUE(pool.Reserve(Q, QStringLiteral("lost"), n));
    EXPECT_EQ(n, 70u);
    // The attempt's row could not be written: the number goes with it.
    db.Rollback();
    QString state, attempt;
    ASSERT_TRUE(pool.State(Q, 70, state, attempt));
    EXPECT_EQ(state, QStringLiteral("free"));
    for (uint32_t want : {70u, 71u, 72u}) {
        ASSERT_TRUE(Reserve(db, pool, Q, QStringLiteral("k%1").arg(want), n)) << qPrintable(pool.ErrorText());
        EXPECT_EQ(n, want);
    }
    // A number taken in a transaction that then rolled back, below numbers
    // issued meanwhile, is free again like a given-back one.
    ASSERT_TRUE(db.Begin());
    ASSERT_TRUE(pool.Reserve(Q, QStringLiteral("gone"), n));
    EXPECT_EQ(n, 73u);
    {
        CLineDatabase other(conninfo);
        CSerialPool otherPool(other);
        ASSERT_TRUE(Reserve(other, otherPool, Q, QStringLiteral("k74"), n)) << qPrintable(otherPool.ErrorText());
        EXPECT_EQ(n, 74u);
    }
    db.Rollback();
    SPoolStatus s;
    ASSERT_TRUE(pool.Show(Q, s));
    EXPECT_EQ(s.Next, 75);
    EXPECT_EQ(s.FreeAgain, QList<int64_t>{73});

    ASSERT_TRUE(pool.Raise(Q, 90)) << qPrintable(pool.ErrorText());
    ASSERT_TRUE(pool.State(Q, 80, state, attempt));
    EXPECT_EQ(state, QStringLiteral("skipped"));
    for (uint32_t want : {73u, 90u, 91u}) {
        ASSERT_TRUE(Reserve(db, pool, Q, QStringLiteral("r%1").arg(want), n)) << qPrintable(pool.ErrorText());
        EXPECT_EQ(n, want);
    }
    ASSERT_TRUE(pool.Show(Q, s));
    EXPECT_EQ(s.Next, 92);
    EXPECT_EQ(s.Reserved, 7);
    EXPECT_EQ(s.Skipped, 15);  // 75 to 89
    EXPECT_TRUE(s.FreeAgain.isEmpty());
    EXPECT_FALSE(pool.Raise(Q, 91));
    EXPECT_EQ(pool.ErrorText(), QStringLiteral("The next number of pool \"Q\" is already 92 and only goes up"));
}

// --- the pool command ----------------------------------------------------------

TEST_F(LinePool, PoolCommandAdministersAndShows)
{
    const QString away = QStringLiteral("host=/nonexistent/line-db user=corv_station");
    struct { QString conninfo; QStringList args; int status; const char* out; const char* err; } rows[] = {
        {conninfo, {"create", "Sensor", "--first", "1000", "--last", "1999"}, 0,
         "created pool Sensor: numbers from 1000 to 1999\n", ""},
        {conninfo, {"create", "Open", "--first", "7"}, 0, "created pool Open: numbers from 7 up\n", ""},
        {conninfo, {"create", "Sensor", "--first", "1"}, 1, "", "A pool named \"Sensor\" already exists"},
        {conninfo, {"create", "X", "--first", "-5"}, 1, "", "--first needs a number from 0 to 4294967295"},
        {conninfo, {"create", "X", "--first", "4294967296"}, 1, "", "--first needs a number"},
        {conninfo, {"create", "X", "--last", "9"}, 1, "", "pool create needs a NAME and --first N"},
        {conninfo, {"create", "X", "--first", "9", "--last", "8"}, 1, "", "lies between its first number, 9"},
        {conninfo, {"raise", "Sensor", "1200"}, 0, "pool Sensor: next number 1200\n", ""},
        {conninfo, {"raise", "Sensor", "1100"}, 1, "", "is already 1200 and only goes up"},
        {conninfo, {"raise", "Sensor", "12x"}, 1, "", "\"12x\" is no number"},
        {conninfo, {"raise", "Nobody", "5"}, 1, "", "There is no pool named \"Nobody\""},
        {conninfo, {"show", "Sensor"}, 0,
         "pool: Sensor\nfirst: 1000\nlast: 1999\nnext: 1200\ngiven back: none\nfree: 800\n"
         "reserved: 0\npassed: 0\nrejected: 0\nskipped: 200\n", ""},
        {conninfo, {"show"}, 0,
         "pool: Open\nfirst: 7\nlast: none\nnext: 7\ngiven back: none\nfree: no last number\n"
         "reserved: 0\npassed: 0\nrejected: 0\nskipped: 0\n\npool: Sensor\n", ""},
        {conninfo, {"show", "Nobody"}, 1, "", "There is no pool named \"Nobody\""},
        {conninfo, {"drain"}, 1, "", "pool: unknown command \"drain\""},
        {conninfo, {}, 1, "", "pool needs create, show or raise"},
        {away, {"show"}, 2, "", "Cannot reach the line database on /nonexistent/line-db, port 5432"},
        // A station's login reads the pools but changes none of them.
        {station, {"show", "Sensor"}, 0, "pool: Sensor\nfirst: 1000\n", ""},
        {station, {"create", "Mine", "--first", "1"}, 1, "", "does not permit it to login \"corv_station\""},
        {station, {"raise", "Sensor", "1500"}, 1, "", "does not permit it to login \"corv_station\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(qPrintable(row.args.join(QLatin1Char(' '))));
        std::ostringstream out, err;
        EXPECT_EQ(RunPoolCommand(row.conninfo, row.args, out, err), row.status) << err.str();
        EXPECT_EQ(out.str().substr(0, std::strlen(row.out)), row.out);
        EXPECT_NE(err.str().find(row.err), std::string::npos) << err.str();
    }
}

// --- the connection and the schema ------------------------------------------

TEST_F(LinePool, ConnectionStringsAndSchemaVersions)
{
    const QString folder = PgTestServer().Folder();
    struct { QString conninfo; const char* message; } rows[] = {
        {conninfo, nullptr},
        {QStringLiteral("postgresql://corv_station@%1:5432/corv_line?options=-csearch_path%3D%2")
             .arg(QString(QUrl::toPercentEncoding(folder)), schema), nullptr},
        {QStringLiteral("host=%1 dbname='unterminated").arg(folder), "is not a connection string"},
        {QStringLiteral("host=/nonexistent/line-db user=corv_station"),
         "Cannot reach the line database on /nonexistent/line-db, port 5432: "},
        {QStringLiteral("host=%1 user=corv_station dbname=no_such_db").arg(folder),
         "database \"no_such_db\" does not exist"},
        {QStringLiteral("host=%1 user=corv_station dbname=a;b").arg(folder), "has a ';' in dbname"},
        {conninfo + QStringLiteral(" password=secret"), "holds a password; keep it out of the settings"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(qPrintable(row.conninfo));
        CLineDatabase line(row.conninfo);
        EXPECT_EQ(line.Open(), row.message == nullptr) << qPrintable(line.ErrorText());
        if (row.message) {
            EXPECT_TRUE(line.ErrorText().contains(QString::fromUtf8(row.message))) << qPrintable(line.ErrorText());
        }
    }

    // A database set up by a newer station is refused and left as it is.
    ASSERT_TRUE(PgTestServer().AdminSql(QStringLiteral("corv_line"),
                                        QStringLiteral("UPDATE %1.pool_schema SET version = 99").arg(schema)));
    CLineDatabase newer(conninfo);
    EXPECT_FALSE(newer.Open());
    EXPECT_EQ(newer.ErrorText(),
              QStringLiteral("The line database on %1, port 5432 was set up by a newer station "
                             "(schema 99, this one knows 4); update this station").arg(folder));
}

// A line as the old set-up left it (schema 2, every table the station's
// own) is refused to stations until its administrator runs line setup,
// which takes the tables over; from then on the station's login changes
// nothing but through the line's functions, and a refusal says so.
TEST_F(LinePool, LineSetupSplitsTheRolesAndTheStationIsRefusedTheRest)
{
    ASSERT_TRUE(PgTestServer().AdminSql(QStringLiteral("corv_line"), QStringLiteral(
        "DROP TABLE %1.recipe_retired, %1.recipe; DROP FUNCTION %1.corv_recipe_frozen;"
        " ALTER TABLE %1.attempts DROP COLUMN recipe, DROP COLUMN recipe_version;"
        " DROP FUNCTION %1.corv_begin, %1.corv_complete, %1.corv_abandon, %1.corv_reserve, %1.corv_settle;"
        " ALTER TABLE %1.attempts DROP COLUMN line_login; UPDATE %1.pool_schema SET version = 2;"
        " ALTER SCHEMA %1 OWNER TO corv_station; ALTER TABLE %1.attempts OWNER TO corv_station;"
        " ALTER TABLE %1.serial_pool OWNER TO corv_station; ALTER TABLE %1.serial_number OWNER TO corv_station;"
        " ALTER TABLE %1.pool_schema OWNER TO corv_station").arg(schema)));
    CLineDatabase old(station);
    EXPECT_FALSE(old.Open());
    EXPECT_TRUE(old.ErrorText().contains("is not set up for this station (schema 2, this one needs 4): its "
                                         "administrator runs corvantis-log --database ADMIN_CONNINFO line setup"))
        << qPrintable(old.ErrorText());

    struct { QString conninfo; QStringList args; int status; const char* err; } setups[] = {
        {conninfo, {"setup", "--station-role", "nobody_here"}, 1, "There is no role \"nobody_here\""},
        {conninfo, {"setup", "--station-role", "corv_admin"}, 1, "must not be the administrator"},
        {conninfo, {"setup"}, 1, "line setup needs --station-role ROLE"},
        {station, {"setup", "--station-role", "corv_station"}, 1, "must not be the administrator"},
        {conninfo, {"setup", "--station-role", "corv_station"}, 0, ""},
        {conninfo, {"setup", "--station-role", "corv_station"}, 0, ""},  // again: nothing to do
    };
    for (const auto& row : setups) {
        std::ostringstream out, err;
        EXPECT_EQ(RunLineCommand(row.conninfo, row.args, out, err), row.status) << err.str();
        EXPECT_NE(err.str().find(row.err), std::string::npos) << err.str();
    }

    {
        CLineDatabase admin(conninfo);
        CSerialPool pool(admin);
        ASSERT_TRUE(pool.Create(QStringLiteral("P"), 1, 9)) << qPrintable(pool.ErrorText());
    }
    CLineStation line(station, QStringLiteral("P"));
    CAttempt unit;
    CProductionRecord::FillStation(unit);
    ASSERT_TRUE(line.Begin(unit)) << qPrintable(line.ErrorText());
    ASSERT_EQ(unit.SerialValue, 1);

    CLineDatabase db(station);
    ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
    const char* const refused[] = {
        "UPDATE serial_number SET state = 'free', attempt = NULL",
        "DELETE FROM attempts",
        "INSERT INTO serial_pool (name, first_number, next_number, raised_to) VALUES ('X', 1, 1, 1)",
        "UPDATE serial_pool SET raised_to = 1",
        "DROP TABLE attempts",
        "CREATE TABLE mine (x INTEGER)",
        "SELECT corv_reserve('P', 'mine')",
        "SELECT corv_settle('P', 1, 'x', 'free')",
    };
    for (const char* sql : refused) {
        QSqlQuery q(db.Database());
        EXPECT_FALSE(db.Exec(q, QString::fromLatin1(sql), QStringLiteral("Try"))) << sql;
        EXPECT_TRUE(db.ErrorText().startsWith(QStringLiteral("Try: the line database on %1, port 5432 does not "
                                                             "permit it to login \"corv_station\"")
                                                  .arg(PgTestServer().Folder())))
            << qPrintable(db.ErrorText());
        EXPECT_TRUE(db.IsOpen()) << "a refusal is no lost connection: " << sql;
    }
    CLineDatabase admin(conninfo);
    CSerialPool pool(admin);
    QString state, holder;
    ASSERT_TRUE(pool.State(QStringLiteral("P"), 1, state, holder)) << qPrintable(pool.ErrorText());
    EXPECT_EQ(state, QStringLiteral("reserved"));
    EXPECT_EQ(holder, unit.Id);
}

// After a fast server restart a statement the connection prepared can be
// gone while the connection looks sound: it is run once more on a fresh
// connection instead of failing as a lost one.
TEST_F(LinePool, AStatementTheServerForgotIsRunAgainOnAFreshConnection)
{
    CLineDatabase db(conninfo);
    CSerialPool pool(db);
    ASSERT_TRUE(pool.Create(QStringLiteral("P"), 1, 9)) << qPrintable(pool.ErrorText());
    QString state, holder;
    ASSERT_TRUE(pool.State(QStringLiteral("P"), 3, state, holder)) << qPrintable(pool.ErrorText());
    QSqlQuery forget(db.Database());
    ASSERT_TRUE(db.Exec(forget, QStringLiteral("DEALLOCATE ALL"), QStringLiteral("Forget")));
    EXPECT_TRUE(pool.State(QStringLiteral("P"), 3, state, holder)) << qPrintable(pool.ErrorText());
    EXPECT_EQ(state, QStringLiteral("free"));
}

// A remote station: over TCP with TLS, checking the server's certificate
// against the line's CA (a throw-away one made here), its password from a
// passfile. The same station without TLS is refused by the server.
TEST(LineOverTls, AStationReachesTheLineOnlyOverTls)
{
    QTemporaryDir certs(QDir::tempPath() + QStringLiteral("/corv-tls-XXXXXX"));
    ASSERT_TRUE(certs.isValid());
    const QString ext = certs.filePath(QStringLiteral("server.ext"));
    {
        QFile f(ext);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("subjectAltName=DNS:localhost\n");
    }
    const QStringList ec = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    const QList<QStringList> steps = {
        QStringList{"req", "-x509", "-days", "2", "-subj", "/CN=Corvantis test line CA", "-keyout", "ca.key",
                    "-out", "ca.crt"} + ec,
        QStringList{"req", "-subj", "/CN=localhost", "-keyout", "server.key", "-out", "server.csr"} + ec,
        {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial", "-days", "2",
         "-extfile", "server.ext", "-out", "server.crt"},
    };
    for (const QStringList& step : steps) {
        QProcess openssl;
        openssl.setWorkingDirectory(certs.path());
        openssl.start(QStringLiteral("openssl"), step);
        ASSERT_TRUE(openssl.waitForFinished(60000) && openssl.exitCode() == 0)
            << qPrintable(step.join(' ')) << openssl.readAllStandardError().toStdString();
    }
    // A port nobody holds now (the server takes it a moment later).
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const int port = probe.serverPort();
    probe.close();
    CPgTestServer server(port, certs.path());
    ASSERT_TRUE(server.Ok()) << qPrintable(server.ErrorText());

    CLineDatabase admin(server.Conninfo() + QStringLiteral(" user=corv_admin passfile=") + server.Passfile());
    ASSERT_TRUE(admin.Setup(QStringLiteral("corv_station"))) << qPrintable(admin.ErrorText());
    CSerialPool pool(admin);
    ASSERT_TRUE(pool.Create(QStringLiteral("Remote"), 10)) << qPrintable(pool.ErrorText());

    const QString remote = QStringLiteral("host=localhost hostaddr=127.0.0.1 port=%1 dbname=corv_line user=corv_station "
                                          "passfile=%2 sslrootcert=%3 sslmode=")
                               .arg(port).arg(server.Passfile(), certs.filePath(QStringLiteral("ca.crt")));
    CLineStation line(remote + QStringLiteral("verify-full"), QStringLiteral("Remote"));
    CAttempt unit;
    CProductionRecord::FillStation(unit);
    ASSERT_TRUE(line.Begin(unit)) << qPrintable(line.ErrorText());
    EXPECT_EQ(unit.SerialValue, 10);
    unit.Result = QStringLiteral("passed");
    unit.SerialWritten = true;
    EXPECT_TRUE(line.Complete(unit)) << qPrintable(line.ErrorText());
    CLineDatabase secure(remote + QStringLiteral("verify-full"));
    ASSERT_TRUE(secure.Open()) << qPrintable(secure.ErrorText());
    QSqlQuery q(secure.Database());
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()")) && q.next());
    EXPECT_TRUE(q.value(0).toBool());

    CLineDatabase plain(remote + QStringLiteral("disable"));
    EXPECT_FALSE(plain.Open());
    EXPECT_TRUE(plain.ErrorText().contains(QStringLiteral("Cannot reach the line database on localhost, port %1").arg(port))
                && plain.ErrorText().contains(QStringLiteral("no encryption")))
        << qPrintable(plain.ErrorText());
}

// --- drills with several client processes ------------------------------------

struct ClientRun {
    std::multiset<int64_t> consumed;  // passed and rejected, over all clients
    std::map<int64_t, QString> last;  // each number's last outcome
    QStringList refusals;
    int faults = 0;
};

QProcess* StartClient(const QString& conninfo, const QString& pool, int units, int seed,
                      int giveBack, int reject)
{
    auto* p = new QProcess;
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QCoreApplication::applicationDirPath() + QStringLiteral("/corv_pool_client"),
             {conninfo, pool, QString::number(units), QString::number(seed), QString::number(giveBack),
              QString::number(reject)});
    return p;
}

void Collect(QProcess* p, ClientRun& run)
{
    while (p->canReadLine()) {
        const QString line = QString::fromUtf8(p->readLine()).trimmed();
        const QString word = line.section(QLatin1Char(' '), 0, 0);
        const QString rest = line.section(QLatin1Char(' '), 1);
        if (word == QLatin1String("refused"))
            run.refusals << rest;
        else if (word == QLatin1String("fault"))
            ++run.faults, ADD_FAILURE() << qPrintable(line);
        else {
            const int64_t n = rest.toLongLong();
            if (word != QLatin1String("free"))
                run.consumed.insert(n);
            run.last[n] = word;
        }
    }
}

void Finish(QList<QProcess*>& clients, ClientRun& run)
{
    for (QProcess* p : clients) {
        // The ctest timeout bounds a client that hangs.
        EXPECT_TRUE(p->waitForFinished(-1));
        Collect(p, run);
        EXPECT_EQ(p->exitCode(), 0);
        delete p;
    }
    clients.clear();
}

void MakeAttemptTable(const QString& conninfo)
{
    CLineDatabase db(conninfo);
    ASSERT_TRUE(db.Open()) << qPrintable(db.ErrorText());
    QSqlQuery q(db.Database());
    ASSERT_TRUE(q.exec(QStringLiteral("CREATE TABLE drill_attempt (id VARCHAR(36) PRIMARY KEY,"
                                      " number BIGINT, result VARCHAR(12) NOT NULL)")));
}

// Every number of [first, next) is in exactly one state; the numbers the
// clients reported on units are distinct and in that state; every number
// held by an attempt agrees with the attempt's row. consumedCount < 0 (kill
// drill): clients were killed, so numbers may stay reserved by an attempt
// whose row is still running.
void ExpectConsistent(const QString& conninfo, const QString& name, const ClientRun& run,
                      int64_t first, int64_t consumedCount)
{
    CLineDatabase db(conninfo);
    CSerialPool pool(db);
    SPoolStatus s;
    ASSERT_TRUE(pool.Show(name, s)) << qPrintable(pool.ErrorText());
    EXPECT_EQ(s.Next - first, s.Passed + s.Rejected + s.Reserved + s.FreeAgain.size());
    if (consumedCount >= 0) {
        EXPECT_EQ(s.Reserved, 0);
        EXPECT_EQ(s.Passed + s.Rejected, consumedCount);
        EXPECT_EQ(int64_t(run.consumed.size()), consumedCount);
    }
    std::set<int64_t> distinct(run.consumed.begin(), run.consumed.end());
    EXPECT_EQ(distinct.size(), run.consumed.size()) << "a number went onto two units";
    for (int64_t n : s.FreeAgain)
        EXPECT_EQ(distinct.count(n), 0u) << n << " is free again and on a unit";
    QSqlQuery q(db.Database());
    ASSERT_TRUE(q.exec(QStringLiteral(
        "SELECT count(*) FROM serial_number s LEFT JOIN drill_attempt a ON a.id = s.attempt"
        " WHERE s.pool = '%1' AND s.state <> 'free' AND (a.id IS NULL OR s.number <> a.number"
        "  OR (s.state <> a.result AND NOT (s.state = 'reserved' AND a.result = 'running')))").arg(name)));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 0) << "a number's state disagrees with its attempt's row";
    for (const auto& [number, outcome] : run.last) {
        if (outcome == QLatin1String("free"))
            continue;
        QString state, attempt;
        ASSERT_TRUE(pool.State(name, number, state, attempt));
        EXPECT_EQ(state, outcome) << number;
    }
}

struct ConcurrencyRow {
    int clients, units, giveBack, reject;
};

class LinePoolDrill : public LinePool, public ::testing::WithParamInterface<ConcurrencyRow> {};

TEST_P(LinePoolDrill, ConcurrentStationsGetDistinctNumbers)
{
    const ConcurrencyRow row = GetParam();
    MakeAttemptTable(conninfo);
    {
        CLineDatabase db(conninfo);
        CSerialPool pool(db);
        ASSERT_TRUE(pool.Create(QStringLiteral("Drill"), 5000, -1)) << qPrintable(pool.ErrorText());
    }
    QList<QProcess*> clients;
    for (int i = 0; i < row.clients; ++i)
        clients << StartClient(conninfo, QStringLiteral("Drill"), row.units, 11 + i, row.giveBack, row.reject);
    ClientRun run;
    Finish(clients, run);
    EXPECT_TRUE(run.refusals.isEmpty()) << qPrintable(run.refusals.join(QLatin1Char('\n')));
    ExpectConsistent(conninfo, QStringLiteral("Drill"), run, 5000, row.clients * row.units);
    if (row.giveBack == 0) {
        // Nothing given back: exactly first .. first + count - 1.
        EXPECT_EQ(*run.consumed.begin(), 5000);
        EXPECT_EQ(*run.consumed.rbegin(), 5000 + row.clients * row.units - 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, LinePoolDrill,
                         ::testing::Values(ConcurrencyRow{4, 60, 0, 0}, ConcurrencyRow{4, 40, 25, 15},
                                           ConcurrencyRow{8, 15, 10, 10}),
                         [](const ::testing::TestParamInfo<ConcurrencyRow>& info) {
                             const ConcurrencyRow& r = info.param;
                             return std::to_string(r.clients) + "clients" + std::to_string(r.units) + "units"
                                 + std::to_string(r.giveBack) + "givenBack" + std::to_string(r.reject) + "rejected";
                         });

TEST_F(LinePool, TwoPoolsOnOneServerKeepTheirOwnNumbers)
{
    MakeAttemptTable(conninfo);
    {
        CLineDatabase db(conninfo);
        CSerialPool pool(db);
        ASSERT_TRUE(pool.Create(QStringLiteral("Meter"), 100, 199));
        ASSERT_TRUE(pool.Create(QStringLiteral("Valve"), 100, -1));  // the same numbers, another product
    }
    QList<QProcess*> meters, valves;
    for (int i = 0; i < 2; ++i) {
        meters << StartClient(conninfo, QStringLiteral("Meter"), 30, 21 + i, 20, 10);
        valves << StartClient(conninfo, QStringLiteral("Valve"), 25, 31 + i, 20, 10);
    }
    ClientRun meterRun, valveRun;
    Finish(meters, meterRun);
    Finish(valves, valveRun);
    ExpectConsistent(conninfo, QStringLiteral("Meter"), meterRun, 100, 60);
    ExpectConsistent(conninfo, QStringLiteral("Valve"), valveRun, 100, 50);
}

TEST_F(LinePool, StationsKilledAtRandomNeverShareANumber)
{
    MakeAttemptTable(conninfo);
    {
        CLineDatabase db(conninfo);
        CSerialPool pool(db);
        ASSERT_TRUE(pool.Create(QStringLiteral("Kill"), 1, -1));
    }
    // Four station; each client is killed (SIGKILL) after a random number of
    // its own reports and a new one takes its place, until 200 units passed
    // or were rejected. The kill lands wherever the client then is.
    std::mt19937 random(7);
    ClientRun run;
    QProcess* station[4] = {};
    int quota[4] = {}, kills = 0, seed = 100;
    while (run.consumed.size() < 200) {
        for (int i = 0; i < 4; ++i) {
            if (!station[i]) {
                station[i] = StartClient(conninfo, QStringLiteral("Kill"), 1000, ++seed, 15, 10);
                quota[i] = int(random() % 12) + 1;
            }
            QProcess* p = station[i];
            p->waitForReadyRead(20);
            const int before = run.refusals.size() + int(run.last.size());
            Collect(p, run);
            quota[i] -= run.refusals.size() + int(run.last.size()) - before;
            if (quota[i] <= 0) {
                p->kill();
                p->waitForFinished(-1);
                Collect(p, run);
                delete p;
                station[i] = nullptr;
                ++kills;
            }
        }
    }
    for (QProcess*& p : station) {
        if (p) {
            p->kill();
            p->waitForFinished(-1);
            Collect(p, run);
            delete p;
        }
    }
    std::cout << kills << " kills, " << run.consumed.size() << " numbers reported on units\n";
    // How many reports arrive between two looks depends on the machine's
    // load, so the count of kills does too; some must have landed.
    EXPECT_GE(kills, 4);
    EXPECT_TRUE(run.refusals.isEmpty()) << qPrintable(run.refusals.join(QLatin1Char('\n')));
    ExpectConsistent(conninfo, QStringLiteral("Kill"), run, 1, -1);
}

TEST_F(LinePool, ServerOutageRefusesThenResumesWithoutDuplicates)
{
    MakeAttemptTable(conninfo);
    {
        CLineDatabase db(conninfo);
        CSerialPool pool(db);
        ASSERT_TRUE(pool.Create(QStringLiteral("Outage"), 1, -1));
    }
    const int clients = 4, units = 60;
    QList<QProcess*> running;
    for (int i = 0; i < clients; ++i)
        running << StartClient(conninfo, QStringLiteral("Outage"), units, 41 + i, 15, 10);
    ClientRun run;
    // Stop the server (immediate mode, as a crash would) once the line is
    // busy, keep it away until every client has been refused, then start it
    // again; nothing here waits on the clock.
    while (run.consumed.size() < 40) {
        for (QProcess* p : running) {
            p->waitForReadyRead(50);
            Collect(p, run);
        }
    }
    ASSERT_TRUE(PgTestServer().Stop()) << qPrintable(PgTestServer().ErrorText());
    std::set<QProcess*> refused;
    while (int(refused.size()) < clients) {
        for (QProcess* p : running) {
            const int before = run.refusals.size();
            p->waitForReadyRead(50);
            Collect(p, run);
            if (run.refusals.size() > before || p->state() == QProcess::NotRunning)
                refused.insert(p);
        }
    }
    ASSERT_TRUE(PgTestServer().Resume()) << qPrintable(PgTestServer().ErrorText());
    Finish(running, run);
    ASSERT_FALSE(run.refusals.isEmpty());
    for (const QString& r : run.refusals)
        EXPECT_TRUE(r.contains(PgTestServer().Folder() + QStringLiteral(", port 5432"))) << qPrintable(r);
    ExpectConsistent(conninfo, QStringLiteral("Outage"), run, 1, clients * units);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
