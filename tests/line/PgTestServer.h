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
// The administrator "corv_admin" (the server's superuser) owns each line;
// the station role "corv_station" logs in by password from the folder's
// pgpass file: the constructor points PGPASSFILE at it, for this process and
// every process it starts, as a station's own ~/.pgpass would.

#include <QString>

class CPgTestServer {
public:
    CPgTestServer();
    // A server of this object's own that also listens on 127.0.0.1:tlsPort,
    // TLS only, with certDir's server.crt and server.key (PGPASSFILE stays
    // as it was: name Passfile() in the conninfo).
    CPgTestServer(int tlsPort, const QString& certDir);
    ~CPgTestServer();
    CPgTestServer(const CPgTestServer&) = delete;
    CPgTestServer& operator=(const CPgTestServer&) = delete;

    bool Ok() const { return !m_folder.isEmpty(); }
    const QString& ErrorText() const { return m_error; }
    const QString& Folder() const { return m_folder; }
    QString Passfile() const { return m_folder + QStringLiteral("/pgpass"); }

    // key=value connection string for the station role.
    QString Conninfo(const QString& database = QStringLiteral("corv_line")) const;
    // A fresh schema of the line's database (dropped first when it exists),
    // for one test's line, set up by the administrator "corv_admin" (line
    // setup) for the station role; returns the station's conninfo in it, ""
    // on failure. (A schema, not a database: creating a database costs
    // seconds of disk writes on a busy machine.)
    QString NewLine(const QString& name);
    // The administrator's conninfo in a line made by NewLine.
    QString AdminConninfo(const QString& schema) const;
    // Runs SQL as the superuser in database; false with ErrorText() on failure.
    bool AdminSql(const QString& database, const QString& sql);

    bool Stop();    // immediate mode: as a power cut would leave it
    bool Resume();  // started again, crash recovery

private:
    bool Script(const QStringList& arguments, QString* output = nullptr);
    QString m_folder;
    QString m_error;
    int m_port = 5432;  // the socket's number
    bool m_own = false;
};

// One server per test process.
CPgTestServer& PgTestServer();
