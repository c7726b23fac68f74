#pragma once
// A station's side of a production line: it takes each numbered unit's
// serial number from the line's pool and writes the attempt's row into the
// line's database, so that the line has one record of every station.
//
// Begin reserves the number and writes the "running" row in one
// transaction; Complete writes the finished row and settles the number
// (consumed once it reached the unit, otherwise given back) in another, in
// the pool that issued it. Both run the line's functions (corv_begin,
// corv_complete): a station's login has no other right to change the line.
// Complete may be delivered again, later, from the station's local record:
// the row's id makes it idempotent (a row already finished stays as it is,
// and its ending is the line's answer).

#include "LineDatabase.h"
#include "ProductionRecord.h"
#include "SerialPool.h"

#include <QStringList>
#include <QString>

#include <cstdint>

class CLineStation {
public:
    CLineStation(const QString& conninfo, const QString& pool);

    const QString& Pool() const { return m_pool; }
    const QString& ServerName() const { return m_db.ServerName(); }
    const QString& ErrorText() const { return m_error; }

    // The number the pool issues next: its lowest free-again number, else
    // its next one; -1 when it is used up. false when it cannot be read.
    bool NextNumber(int64_t& number);

    // Reserves a number for attempt (which gets an id and a start time when
    // it has none) and writes its running row, in one transaction. On
    // success attempt.SerialValue is the number. A caller that must survive
    // a crash notes attempt.Id durably before, and calls Abandon(id) at its
    // next start unless the attempt went on (the commit may have happened
    // without the answer reaching the station).
    bool Begin(CAttempt& attempt);

    // Writes the finished row (Result passed, failed or interrupted) and
    // settles its number in one transaction: consumed when SerialWritten
    // (or, unknown, when interrupted), otherwise given back. A row the line
    // already holds as finished is left as it is. line (if given): the row
    // with the line's ending, which the local record takes.
    bool Complete(const CAttempt& row, CAttempt* line = nullptr);

    // A reservation whose batch never ran: if it committed, its number
    // goes back and its row says "failed" at the step "Reservation"; if
    // not, nothing is done. Succeeds either way once the line answers.
    bool Abandon(const QString& id);

    // The recipe the pool belongs to (the newest version of the recipe in
    // use that names it); found false when it has none. false when the
    // line cannot be read.
    bool PoolRecipe(struct CRecipe& recipe, bool& found);

private:
    bool Open();
    bool Fail(const QString& text);

    CLineDatabase m_db;
    CSerialPool m_serials;
    QString m_pool;
    QString m_error;
    QStringList m_unsure;  // reservations whose commit was not acknowledged
};
