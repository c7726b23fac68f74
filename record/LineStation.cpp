#include "LineStation.h"

#include <QSqlQuery>
#include <QVariant>

CLineStation::CLineStation(const QString& conninfo, const QString& pool)
    : m_db(conninfo), m_serials(m_db), m_pool(pool)
{
}

bool CLineStation::Fail(const QString& text)
{
    m_error = text;
    return false;
}

bool CLineStation::Open()
{
    m_error.clear();
    if (m_db.IsOpen() || m_db.Open())
        return true;
    return Fail(m_db.ErrorText());
}

bool CLineStation::NextNumber(int64_t& number)
{
    SPoolStatus status;
    if (!Open())
        return false;
    if (!m_serials.Show(m_pool, status))
        return Fail(m_serials.ErrorText());
    if (!status.FreeAgain.isEmpty())
        number = status.FreeAgain.front();
    else if (status.Last >= 0 && status.Next > status.Last)
        number = -1;
    else
        number = status.Next;
    return true;
}

bool CLineStation::Begin(CAttempt& attempt)
{
    if (!Open())
        return false;
    // A reservation whose commit was not acknowledged may have committed:
    // the batch never ran, so its number goes back and its row says so.
    while (!m_unsure.isEmpty()) {
        CAttempt unsure = m_unsure.front();
        unsure.Result = QStringLiteral("failed");
        unsure.EndedAt = CProductionRecord::NowUtc();
        unsure.Step = QStringLiteral("Reservation");
        unsure.ErrorText = QStringLiteral("The line database did not confirm the reservation");
        unsure.SerialWritten = false;
        if (!Complete(unsure))
            return false;
        m_unsure.removeFirst();
    }
    if (attempt.Id.isEmpty())
        attempt.Id = CProductionRecord::NewId();
    if (attempt.StartedAt.isEmpty())
        attempt.StartedAt = CProductionRecord::NowUtc();
    attempt.EndedAt.clear();
    attempt.Result = QStringLiteral("running");
    if (!m_db.Begin())
        return Fail(m_db.ErrorText());
    uint32_t number = 0;
    if (!m_serials.Reserve(m_pool, attempt.Id, number)) {
        const QString text = m_serials.ErrorText();
        m_db.Rollback();
        return Fail(text);
    }
    attempt.SerialValue = number;
    QSqlQuery q(m_db.Database());
    CProductionRecord::PrepareInsert(q, attempt);
    if (!m_db.Exec(q, QStringLiteral("Cannot write the attempt to the line database on %1").arg(ServerName()))) {
        const QString text = m_db.ErrorText();
        m_db.Rollback();
        attempt.SerialValue.reset();
        return Fail(text);
    }
    if (!m_db.Commit()) {
        m_unsure.append(attempt);
        attempt.SerialValue.reset();
        return Fail(m_db.ErrorText());
    }
    return true;
}

bool CLineStation::Complete(const CAttempt& row)
{
    if (!row.SerialValue)
        return Fail(QStringLiteral("Attempt %1 has no serial number from the line").arg(row.Id));
    if (!Open())
        return false;
    if (!m_db.Begin())
        return Fail(m_db.ErrorText());
    // A running row (or none, if its Begin's commit was lost after all)
    // takes the finished one; a finished row stays.
    QSqlQuery q(m_db.Database());
    CProductionRecord::PrepareInsert(
        q, row,
        QStringLiteral(" ON CONFLICT (id) DO UPDATE SET ended_at = EXCLUDED.ended_at, result = EXCLUDED.result,"
                       " step = EXCLUDED.step, error_text = EXCLUDED.error_text, error_code = EXCLUDED.error_code,"
                       " fuse_blown = EXCLUDED.fuse_blown, serial_written = EXCLUDED.serial_written"
                       " WHERE attempts.result = 'running'"));
    const uint32_t number = static_cast<uint32_t>(*row.SerialValue);
    if (!m_db.Exec(q, QStringLiteral("Cannot write the attempt to the line database on %1").arg(ServerName()))) {
        const QString text = m_db.ErrorText();
        m_db.Rollback();
        return Fail(text);
    }
    // An interrupted attempt may have left its number on the unit.
    const bool onUnit = row.SerialWritten.value_or(row.Result == QLatin1String("interrupted"));
    const bool settled = onUnit
                             ? m_serials.Consume(m_pool, number, row.Id, row.Result == QLatin1String("passed"))
                             : m_serials.GiveBack(m_pool, number, row.Id);
    if (!settled) {
        const QString text = m_serials.ErrorText();
        m_db.Rollback();
        return Fail(text);
    }
    if (!m_db.Commit())
        return Fail(m_db.ErrorText());
    return true;
}
