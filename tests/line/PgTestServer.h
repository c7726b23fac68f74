#pragma once
// A real PostgreSQL 15 server for the line's tests and benchmarks, started by
// pg-server.sh in a folder under /tmp (Unix socket only, no TCP; as the
// "postgres" user when run as root).
//
// Under ctest the line's tests share one server that a fixture starts and
// removes (CORV_TEST_PG_FILE names the file holding its folder); run alone,
// an object starts a server of its own and removes it when it goes (and the
// script's watch removes it should this process die first).
//
// The station role "corv_station" logs in by password from the folder's
// pgpass file: the constructor points PGPASSFILE at it, for this process and
// every process it starts, as a station's own ~/.pgpass would.

#include <QString>

class CPgTestServer {
public:
    CPgTestServer();
    ~CPgTestServer();
    CPgTestServer(const CPgTestServer&) = delete;
    CPgTestServer& operator=(const CPgTestServer&) = delete;

    bool Ok() const { return !m_folder.isEmpty(); }
    const QString& ErrorText() const { return m_error; }
    const QString& Folder() const { return m_folder; }

    // key=value connection string for the station role.
    QString Conninfo(const QString& database = QStringLiteral("corv_line")) const;
    // A fresh, empty schema of the station role's database (dropped first
    // when it exists), for one test's line; returns a conninfo that works in
    // it, "" on failure. (A schema, not a database: creating a database
    // costs seconds of disk writes on a busy machine.)
    QString NewLine(const QString& name);
    // Runs SQL as the superuser in database; false with ErrorText() on failure.
    bool AdminSql(const QString& database, const QString& sql);

    bool Stop();    // immediate mode: as a power cut would leave it
    bool Resume();  // started again, crash recovery

private:
    bool Script(const QStringList& arguments, QString* output = nullptr);
    QString m_folder;
    QString m_error;
    bool m_own = false;
};

// One server per test process.
CPgTestServer& PgTestServer();
