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
#include <QVariantList>

#include <map>
#include <memory>

class QSqlQuery;

class CLineDatabase {
public:
    explicit CLineDatabase(const QString& conninfo);
    ~CLineDatabase();
    CLineDatabase(const CLineDatabase&) = delete;
    CLineDatabase& operator=(const CLineDatabase&) = delete;

    // Connects unless connected. false with ErrorText() when the connection
    // string is malformed, the server cannot be reached or refuses, or its
    // schema is not the one this build knows (checkSchema: line setup itself
    // connects without that check).
    bool Open(bool checkSchema = true);

    // With the administrator's login: creates or migrates the line's tables
    // and functions in the connection's schema, makes the administrator
    // their owner, and grants stationRole what a station needs: reading the
    // tables, and reserving, recording and settling through the functions
    // corv_begin, corv_complete and corv_abandon (no INSERT, UPDATE or
    // DELETE on any table).
    bool Setup(const QString& stationRole);
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
    // and, when the server has gone, marks the connection lost. A refusal
    // in the line's own words is ErrorText() as it is; one for want of a
    // right names the login and says so.
    bool Exec(QSqlQuery& query, const QString& what);
    // Connects if need be, prepares sql once per connection, binds values in
    // order and runs it: the query to read, or null with ErrorText().
    QSqlQuery* Run(const QString& sql, const QVariantList& values, const QString& what);
    // The same for a statement run as it is (no values bound, DDL).
    bool Exec(QSqlQuery& query, const QString& sql, const QString& what);

    // A query prepared once per connection (a server-side prepared
    // statement), kept until the connection closes; null with ErrorText()
    // when the server refuses it.
    QSqlQuery* Prepared(const QString& sql);

    // Sets ErrorText() from a failure outside Exec (same rules).
    void Fail(const QString& what, const QString& reason);
    void Fail(const QString& what, const class QSqlError& error);

    // The schema version this build writes (1: pools; 2: attempts; 3: the
    // stations' functions and the role split; 4: recipes). The table
    // pool_schema holds the version the database was last written with.
    static constexpr int SchemaVersion = 4;

private:
    bool ConnectionLost() const;
    bool ReadVersion(QSqlQuery& q, int& version);
    bool CheckSchema();

    QString m_conninfo;
    QString m_options;  // the conninfo as QPSQL's connect options
    QString m_server;
    QString m_user;     // the login, for messages
    QString m_error;
    QString m_name;     // Qt SQL connection name, unique per object
    std::map<QString, std::unique_ptr<QSqlQuery>> m_prepared;
    bool m_valid = false;
    bool m_lost = false;
    bool m_inTransaction = false;
};
