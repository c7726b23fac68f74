#include "PgTestServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <unistd.h>

CPgTestServer::CPgTestServer()
{
    const QString shared = qEnvironmentVariable("CORV_TEST_PG_FILE");
    if (!shared.isEmpty()) {
        QFile file(shared);
        if (file.open(QIODevice::ReadOnly))
            m_folder = QString::fromUtf8(file.readAll()).trimmed();
        if (m_folder.isEmpty() || !QFile::exists(m_folder + QStringLiteral("/pgpass"))) {
            m_error = QStringLiteral("the shared test server named in %1 is not there").arg(shared);
            m_folder.clear();
        }
    } else {
        QString out;
        if (Script({QStringLiteral("start"), QStringLiteral("--owner"), QString::number(getpid())}, &out)) {
            m_folder = out.trimmed();
            m_own = true;
        }
    }
    if (Ok())
        qputenv("PGPASSFILE", (m_folder + QStringLiteral("/pgpass")).toLocal8Bit());
}

CPgTestServer::~CPgTestServer()
{
    if (m_own)
        Script({QStringLiteral("remove"), m_folder});
}

bool CPgTestServer::Script(const QStringList& arguments, QString* output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(QStringLiteral(CORV_PG_SERVER_SCRIPT), arguments);
    // Generous: initdb on a busy machine; the test's own ctest timeout is the
    // real bound.
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = QStringLiteral("pg-server.sh %1 failed: %2")
                      .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(p.readAllStandardOutput());
    return true;
}

QString CPgTestServer::Conninfo(const QString& database) const
{
    return QStringLiteral("host=%1 port=5432 user=corv_station dbname=%2").arg(m_folder, database);
}

bool CPgTestServer::AdminSql(const QString& database, const QString& sql)
{
    QProcess p;
    p.start(QStringLiteral("psql"),
            {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
             QStringLiteral("host=%1 port=5432 user=corv_admin dbname=%2").arg(m_folder, database),
             QStringLiteral("-c"), sql});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = QStringLiteral("psql: %1").arg(QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    return true;
}

QString CPgTestServer::NewLine(const QString& name)
{
    if (!AdminSql(QStringLiteral("corv_line"),
                  QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE; CREATE SCHEMA %1 AUTHORIZATION corv_station")
                      .arg(name)))
        return QString();
    return Conninfo() + QStringLiteral(" options='-c search_path=%1'").arg(name);
}

bool CPgTestServer::Stop() { return Script({QStringLiteral("stop"), m_folder}); }
bool CPgTestServer::Resume() { return Script({QStringLiteral("resume"), m_folder}); }

CPgTestServer& PgTestServer()
{
    static CPgTestServer server;
    return server;
}
