// corv_pool_client CONNINFO POOL UNITS SEED [GIVE_BACK_PERCENT [REJECT_PERCENT]]
//
// What a station of a line does with its pool, without the station: for each
// attempt it writes a "running" row (table drill_attempt, made by the test)
// and reserves a number in one transaction, then either gives the number
// back (it never reached a unit) or settles it as passed or rejected, again
// in one transaction with its row. It stops after UNITS numbers went onto
// units. Lines on stdout: "passed N", "rejected N", "free N", and
// "refused <message>" whenever the database refuses with a new message.
//
// While the server is away it retries (every 20 ms) until it is back. A
// reservation whose commit was never acknowledged is looked up before the
// next one and given back, and a settlement is delivered again until the
// server takes it: nothing is lost or counted twice. Exit status 3: the pool
// is used up.
#include "SerialPool.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>

#include <cstdio>
#include <random>

namespace {

QString g_lastRefusal;

void Say(const QString& line)
{
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// A refusal while the server is up is a fault of the pool, not an outage.
int Fault()
{
    Say(QStringLiteral("fault ") + g_lastRefusal);
    return 2;
}

void Refused(const QString& message)
{
    if (message != g_lastRefusal)
        Say(QStringLiteral("refused ") + message);
    g_lastRefusal = message;
    QThread::msleep(20);
}

bool SetResult(CLineDatabase& db, const QString& attempt, const QString& result)
{
    QSqlQuery* q = db.Prepared(QStringLiteral("UPDATE drill_attempt SET result = ? WHERE id = ?"));
    if (!q)
        return false;
    q->addBindValue(result);
    q->addBindValue(attempt);
    return db.Exec(*q, QStringLiteral("Cannot complete the attempt"));
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: corv_pool_client CONNINFO POOL UNITS SEED [GIVE_BACK%% [REJECT%%]]\n");
        return 1;
    }
    const QString poolName = QString::fromLocal8Bit(argv[2]);
    const int units = std::atoi(argv[3]);
    std::mt19937 random(std::atoi(argv[4]));
    const int giveBack = argc > 5 ? std::atoi(argv[5]) : 10;
    const int reject = argc > 6 ? std::atoi(argv[6]) : 10;

    CLineDatabase db(QString::fromLocal8Bit(argv[1]));
    CSerialPool pool(db);
    QString unsure;  // an attempt whose reservation may or may not have committed
    for (int done = 0; done < units;) {
        if (!db.Open()) {
            Refused(db.ErrorText());
            continue;
        }
        if (!unsure.isEmpty()) {
            QString name, state;
            int64_t number = -1;
            if (!pool.HeldBy(unsure, name, number, state)) {
                Refused(pool.ErrorText());
                continue;
            }
            if (number >= 0 && state == QLatin1String("reserved")) {
                if (!db.Begin() || !pool.GiveBack(name, uint32_t(number), unsure)
                    || !SetResult(db, unsure, QStringLiteral("free")) || !db.Commit()) {
                    db.Rollback();
                    Refused(db.ErrorText().isEmpty() ? pool.ErrorText() : db.ErrorText());
                    continue;
                }
                Say(QStringLiteral("free %1").arg(number));
            }
            unsure.clear();
        }

        const QString attempt = QUuid::createUuid().toString(QUuid::WithoutBraces);
        uint32_t number = 0;
        if (!db.Begin()) {
            Refused(db.ErrorText());
            continue;
        }
        QSqlQuery* row = db.Prepared(QStringLiteral(
            "INSERT INTO drill_attempt (id, result) VALUES (?, 'running')"));
        if (row) {
            row->addBindValue(attempt);
        }
        if (!row || !db.Exec(*row, QStringLiteral("Cannot write the running row"))) {
            db.Rollback();
            Refused(db.ErrorText());
            continue;
        }
        if (!pool.Reserve(poolName, attempt, number)) {
            db.Rollback();
            const QString message = pool.ErrorText();
            if (message.contains(QLatin1String("used up"))) {
                Say(QStringLiteral("refused ") + message);
                return 3;
            }
            Refused(message);
            if (db.IsOpen())
                return Fault();
            continue;
        }
        QSqlQuery* q = db.Prepared(QStringLiteral("UPDATE drill_attempt SET number = ? WHERE id = ?"));
        if (q) {
            q->addBindValue(qlonglong(number));
            q->addBindValue(attempt);
        }
        if (!q || !db.Exec(*q, QStringLiteral("Cannot write the running row"))) {
            db.Rollback();
            Refused(db.ErrorText());
            continue;
        }
        if (!db.Commit()) {
            unsure = attempt;
            Refused(db.ErrorText());
            continue;
        }

        // The "unit": the number reaches it unless the batch fails first.
        const int roll = int(random() % 100);
        const QString result = roll < giveBack ? QStringLiteral("free")
                             : roll < giveBack + reject ? QStringLiteral("rejected")
                                                        : QStringLiteral("passed");
        for (;;) {
            if (!db.Open()) {
                Refused(db.ErrorText());
                continue;
            }
            const bool begun = db.Begin();
            const bool settled = begun
                && (result == QLatin1String("free")
                        ? pool.GiveBack(poolName, number, attempt)
                        : pool.Consume(poolName, number, attempt, result == QLatin1String("passed")));
            if (settled && SetResult(db, attempt, result) && db.Commit())
                break;
            db.Rollback();
            Refused(begun && !settled ? pool.ErrorText() : db.ErrorText());
            if (db.IsOpen())
                return Fault();
        }
        Say(QStringLiteral("%1 %2").arg(result).arg(number));
        if (result != QLatin1String("free"))
            ++done;
    }
    return 0;
}
