#include "PgTestServer.h"

#include "LineDatabase.h"

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

CPgTestServer::CPgTestServer(int tlsPort, const QString& certDir) : m_port(tlsPort)
{
    QString out;
    if (Script({QStringLiteral("start"), QStringLiteral("--owner"), QString::number(getpid()), QStringLiteral("--tls"),
                QString::number(tlsPort), certDir},
               &out)) {
        m_folder = out.trimmed();
        m_own = true;
    }
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
    return QStringLiteral("host=%1 port=%2 user=corv_station dbname=%3").arg(m_folder).arg(m_port).arg(database);
}

bool CPgTestServer::AdminSql(const QString& database, const QString& sql)
{
    QProcess p;
    p.start(QStringLiteral("psql"),
            {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
             QStringLiteral("host=%1 port=%2 user=corv_admin dbname=%3").arg(m_folder).arg(m_port).arg(database),
             QStringLiteral("-c"), sql});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = QStringLiteral("psql: %1").arg(QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    return true;
}

QString CPgTestServer::AdminConninfo(const QString& schema) const
{
    return QStringLiteral("host=%1 port=%2 user=corv_admin dbname=corv_line options='-c search_path=%3'")
        .arg(m_folder).arg(m_port).arg(schema);
}

QString CPgTestServer::NewLine(const QString& name)
{
    if (!AdminSql(QStringLiteral("corv_line"),
                  QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE; CREATE SCHEMA %1").arg(name)))
        return QString();
    CLineDatabase admin(AdminConninfo(name));
    if (!admin.Setup(QStringLiteral("corv_station"))) {
        m_error = admin.ErrorText();
        return QString();
    }
    return Conninfo() + QStringLiteral(" options='-c search_path=%1'").arg(name);
}

bool CPgTestServer::Stop() { return Script({QStringLiteral("stop"), m_folder}); }
bool CPgTestServer::Resume() { return Script({QStringLiteral("resume"), m_folder}); }

CPgTestServer& PgTestServer()
{
    static CPgTestServer server;
    return server;
}
