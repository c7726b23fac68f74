#include "SerialPool.h"

#include <QSqlQuery>
#include <QVariant>


namespace {

QVariant NullableNumber(int64_t value)
{
    return value < 0 ? QVariant(QMetaType::fromType<qlonglong>()) : QVariant(qlonglong(value));
}

}  // namespace

bool CSerialPool::Failed()
{
    m_error = m_db.ErrorText();
    return false;
}

QSqlQuery* CSerialPool::Run(const QString& sql, const QVariantList& values, const QString& what)
{
    QSqlQuery* q = m_db.Run(sql, values, what);
    if (!q)
        Failed();
    return q;
}

bool CSerialPool::CheckName(const QString& name)
{
    if (name.isEmpty() || name.size() > 64) {
        m_error = QStringLiteral("A pool name has 1 to 64 characters: \"%1\"").arg(name);
        return false;
    }
    for (QChar c : name) {
        if (!c.isPrint()) {
            m_error = QStringLiteral("A pool name has no control characters: \"%1\"").arg(name);
            return false;
        }
    }
    return true;
}

bool CSerialPool::Create(const QString& name, int64_t first, int64_t last)
{
    if (!CheckName(name))
        return false;
    if (first < 0 || first > MaxNumber) {
        m_error = QStringLiteral("The first number of a pool lies between 0 and %1, not %2")
                      .arg(MaxNumber).arg(first);
        return false;
    }
    if (last != -1 && (last < first || last > MaxNumber)) {
        m_error = QStringLiteral("The last number of pool \"%1\" lies between its first "
                                 "number, %2, and %3, not %4")
                      .arg(name).arg(first).arg(MaxNumber).arg(last);
        return false;
    }
    if (!m_db.Begin())
        return Failed();
    QSqlQuery* q = Run(QStringLiteral(
        "INSERT INTO serial_pool (name, first_number, last_number, next_number, raised_to)"
        " VALUES (?, ?, ?, ?, ?) ON CONFLICT (name) DO NOTHING RETURNING name"),
        {name, qlonglong(first), NullableNumber(last), qlonglong(first), qlonglong(first)},
        QStringLiteral("Cannot create pool \"%1\"").arg(name));
    if (!q) {
        m_db.Rollback();
        return false;
    }
    if (!q->next()) {
        m_db.Rollback();
        m_error = QStringLiteral("A pool named \"%1\" already exists").arg(name);
        return false;
    }
    q->finish();
    return m_db.Commit() || Failed();
}

bool CSerialPool::Raise(const QString& name, int64_t next)
{
    if (!CheckName(name))
        return false;
    if (!m_db.Begin())
        return Failed();
    if (!RaiseWithin(name, next)) {
        m_db.Rollback();
        return false;
    }
    return m_db.Commit() || Failed();
}

bool CSerialPool::RaiseWithin(const QString& name, int64_t next)
{
    const QString what = QStringLiteral("Cannot raise pool \"%1\"").arg(name);
    QSqlQuery* q = Run(QStringLiteral(
        "SELECT GREATEST(p.first_number, p.raised_to,"
        "  (SELECT max(number) + 1 FROM serial_number WHERE pool = p.name AND issued)),"
        " COALESCE(p.last_number, 4294967295)"
        " FROM serial_pool p WHERE p.name = ? FOR NO KEY UPDATE OF p"), {name}, what);
    if (!q)
        return false;
    if (!q->next()) {
        m_error = QStringLiteral("There is no pool named \"%1\"").arg(name);
        return false;
    }
    const int64_t current = q->value(0).toLongLong();
    const int64_t last = q->value(1).toLongLong();
    q->finish();
    if (next <= current) {
        m_error = QStringLiteral("The next number of pool \"%1\" is already %2 and only goes up")
                      .arg(name).arg(current);
        return false;
    }
    if (next > last + 1) {
        m_error = QStringLiteral("Pool \"%1\" ends at %2: its next number can be at most %3")
                      .arg(name).arg(last).arg(last + 1);
        return false;
    }
    // The never-issued rows below the new next number go: those numbers are
    // skipped. (One that a station is taking at this moment stays its own.)
    return Run(QStringLiteral("DELETE FROM serial_number"
                              " WHERE pool = ? AND state = 'free' AND number >= ? AND number < ?"),
               {name, qlonglong(current), qlonglong(next)}, what) &&
           Run(QStringLiteral("UPDATE serial_pool SET raised_to = ?, next_number = GREATEST(next_number, ?)"
                              " WHERE name = ?"),
               {qlonglong(next), qlonglong(next), name}, what);
}

bool CSerialPool::Show(const QString& name, SPoolStatus& status)
{
    QList<SPoolStatus> pools;
    if (!CheckName(name))
        return false;
    if (!List(pools))
        return false;
    for (const SPoolStatus& p : pools) {
        if (p.Name == name) {
            status = p;
            return true;
        }
    }
    m_error = QStringLiteral("There is no pool named \"%1\"").arg(name);
    return false;
}

bool CSerialPool::List(QList<SPoolStatus>& pools)
{
    pools.clear();
    if (!m_db.Begin())
        return Failed();
    // One snapshot for the three reads, so that the counts agree with Next.
    QSqlQuery q(m_db.Database());
    const QString what = QStringLiteral("Cannot read the pools");
    if (!m_db.Exec(q, QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY"), what)
        || !m_db.Exec(q, QStringLiteral(
               "SELECT p.name, p.first_number, p.last_number,"
               " GREATEST(p.first_number, p.raised_to,"
               "  (SELECT max(number) + 1 FROM serial_number WHERE pool = p.name AND issued))"
               " FROM serial_pool p ORDER BY p.name"), what)) {
        m_db.Rollback();
        return Failed();
    }
    while (q.next()) {
        SPoolStatus p;
        p.Name = q.value(0).toString();
        p.First = q.value(1).toLongLong();
        p.Last = q.value(2).isNull() ? -1 : q.value(2).toLongLong();
        p.Next = q.value(3).toLongLong();
        p.Unissued = p.Last < 0 ? -1 : p.Last - p.Next + 1;
        p.Skipped = p.Next - p.First;
        pools.append(p);
    }
    if (!m_db.Exec(q, QStringLiteral("SELECT pool, state, count(*) FROM serial_number"
                                     " WHERE state <> 'free' GROUP BY pool, state"), what)) {
        m_db.Rollback();
        return Failed();
    }
    while (q.next()) {
        for (SPoolStatus& p : pools) {
            if (p.Name != q.value(0).toString())
                continue;
            const QString state = q.value(1).toString();
            const int64_t count = q.value(2).toLongLong();
            p.Skipped -= count;
            if (state == QLatin1String("reserved")) p.Reserved = count;
            else if (state == QLatin1String("passed")) p.Passed = count;
            else if (state == QLatin1String("rejected")) p.Rejected = count;
        }
    }
    if (!m_db.Exec(q, QStringLiteral("SELECT pool, number FROM serial_number"
                                     " WHERE state = 'free' ORDER BY pool, number"), what)) {
        m_db.Rollback();
        return Failed();
    }
    while (q.next()) {
        const int64_t number = q.value(1).toLongLong();
        for (SPoolStatus& p : pools) {
            if (p.Name == q.value(0).toString() && number < p.Next) {
                p.FreeAgain.append(number);
                --p.Skipped;
            }
        }
    }
    q.finish();
    return m_db.Commit() || Failed();
}

bool CSerialPool::Reserve(const QString& name, const QString& attempt, uint32_t& number)
{
    if (!CheckName(name))
        return false;
    QSqlQuery* q = Run(QStringLiteral("SELECT corv_reserve(?, ?)"), {name, attempt},
                       QStringLiteral("Cannot reserve a serial number from pool \"%1\"").arg(name));
    if (!q || !q->next())
        return q ? Failed() : false;
    number = uint32_t(q->value(0).toLongLong());
    q->finish();
    return true;
}

bool CSerialPool::GiveBack(const QString& name, uint32_t number, const QString& attempt)
{
    return Settle(name, number, attempt, "free",
                  QStringLiteral("Cannot give serial number %1 back to pool \"%2\"").arg(number).arg(name));
}

bool CSerialPool::Consume(const QString& name, uint32_t number, const QString& attempt, bool passed)
{
    return Settle(name, number, attempt, passed ? "passed" : "rejected",
                  QStringLiteral("Cannot record serial number %1 of pool \"%2\" as used").arg(number).arg(name));
}

bool CSerialPool::Settle(const QString& name, uint32_t number, const QString& attempt,
                         const char* state, const QString& what)
{
    QSqlQuery* q = Run(QStringLiteral("SELECT corv_settle(?, ?, ?, ?)"),
                       {name, qlonglong(number), attempt, QString::fromLatin1(state)}, what);
    if (!q)
        return false;
    q->finish();
    return true;
}

bool CSerialPool::State(const QString& name, int64_t number, QString& state, QString& attempt)
{
    const QString what = QStringLiteral("Cannot read serial number %1 of pool \"%2\"").arg(number).arg(name);
    QSqlQuery* q = Run(QStringLiteral(
        "SELECT p.first_number, COALESCE(p.last_number, 4294967295), p.raised_to, s.state, s.attempt"
        " FROM serial_pool p LEFT JOIN serial_number s ON s.pool = p.name AND s.number = ?"
        " WHERE p.name = ?"), {qlonglong(number), name}, what);
    if (!q)
        return false;
    if (!q->next()) {
        m_error = QStringLiteral("There is no pool named \"%1\"").arg(name);
        return false;
    }
    const int64_t first = q->value(0).toLongLong(), last = q->value(1).toLongLong(),
                  raised = q->value(2).toLongLong();
    if (!q->value(3).isNull()) {
        state = q->value(3).toString();
        attempt = q->value(4).toString();
    } else {
        // No row: below where the pool was raised to, skipped; else not yet
        // in a block, so never issued.
        attempt.clear();
        state = number < first || number > last ? QString() :
                number < raised ? QStringLiteral("skipped") : QStringLiteral("free");
    }
    q->finish();
    if (state.isEmpty()) {
        m_error = QStringLiteral("%1 is not a number of pool \"%2\" (%3 to %4)")
                      .arg(number).arg(name).arg(first).arg(last);
        return false;
    }
    return true;
}

bool CSerialPool::HeldBy(const QString& attempt, QString& name, int64_t& number, QString& state)
{
    QSqlQuery* q = Run(QStringLiteral("SELECT pool, number, state FROM serial_number WHERE attempt = ?"),
                       {attempt}, QStringLiteral("Cannot look up the serial number of attempt %1").arg(attempt));
    if (!q)
        return false;
    number = -1;
    name.clear();
    state.clear();
    if (q->next()) {
        name = q->value(0).toString();
        number = q->value(1).toLongLong();
        state = q->value(2).toString();
    }
    q->finish();
    return true;
}
