#pragma once
// One connection to a production line's PostgreSQL database, through Qt SQL's
// QPSQL driver. The database is named by a libpq connection string
// ("host=line-db dbname=corvantis") or URI ("postgresql://line-db/corvantis");
// the password is never part of it: libpq finds it by its own conventions
// (~/.pgpass or PGPASSFILE, PGPASSWORD, a service file).
//
// A statement that fails because the server went away leaves the connection
// marked lost; the next Open() connects again. Every message names the server.

#include <QSqlDatabase>
#include <QString>

#include <map>
#include <memory>

class QSqlQuery;

class CLineDatabase {
public:
    explicit CLineDatabase(const QString& conninfo);
    ~CLineDatabase();
    CLineDatabase(const CLineDatabase&) = delete;
    CLineDatabase& operator=(const CLineDatabase&) = delete;

    // Connects unless connected, and brings the pool's tables up to date.
    // false with ErrorText() when the connection string is malformed, the
    // server cannot be reached or refuses, or its schema is newer than ours.
    bool Open();
    void Close();
    bool IsOpen() const;

    // The server as the operator knows it: "line-db, port 5432" or, for a
    // local socket, its folder: "/run/postgresql, port 5432".
    const QString& ServerName() const { return m_server; }
    // The conninfo as given; "" never opens.
    const QString& Conninfo() const { return m_conninfo; }
    const QString& ErrorText() const { return m_error; }

    // The connection the pool and the record share, so that both can write
    // in one transaction. Valid while this object lives.
    QSqlDatabase Database() const;

    // One transaction at a time on this connection.
    bool Begin();
    bool Commit();
    void Rollback();

    // Runs a prepared query; on failure sets ErrorText() to "<what>: <reason>"
    // and, when the server has gone, marks the connection lost.
    bool Exec(QSqlQuery& query, const QString& what);
    // The same for a statement run as it is (no values bound, DDL).
    bool Exec(QSqlQuery& query, const QString& sql, const QString& what);

    // A query prepared once per connection (a server-side prepared
    // statement), kept until the connection closes; null with ErrorText()
    // when the server refuses it.
    QSqlQuery* Prepared(const QString& sql);

    // Sets ErrorText() from a failure outside Exec (same rules).
    void Fail(const QString& what, const QString& reason);

    // The pool's schema version this build writes. The table pool_schema
    // holds the version the database was last written with.
    static constexpr int SchemaVersion = 1;

private:
    bool ConnectionLost() const;
    bool Migrate();

    QString m_conninfo;
    QString m_options;  // the conninfo as QPSQL's connect options
    QString m_server;
    QString m_error;
    QString m_name;     // Qt SQL connection name, unique per object
    std::map<QString, std::unique_ptr<QSqlQuery>> m_prepared;
    bool m_valid = false;
    bool m_lost = false;
};
