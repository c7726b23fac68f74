#pragma once
// A station's side of a production line: it takes each numbered unit's
// serial number from the line's pool and writes the attempt's row into the
// line's database, so that the line has one record of every station.
//
// Begin reserves the number and writes the "running" row in one
// transaction; Complete writes the finished row and settles the number
// (consumed once it reached the unit, otherwise given back) in another.
// Complete may be delivered again, later, from the station's local record:
// the row's id makes it idempotent (a row already finished stays as it is).

#include "LineDatabase.h"
#include "ProductionRecord.h"
#include "SerialPool.h"

#include <QList>
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
    // success attempt.SerialValue is the number.
    bool Begin(CAttempt& attempt);

    // Writes the finished row (Result passed, failed or interrupted) and
    // settles its number in one transaction: consumed when SerialWritten
    // (or, unknown, when interrupted), otherwise given back.
    bool Complete(const CAttempt& row);

private:
    bool Open();
    bool Fail(const QString& text);

    CLineDatabase m_db;
    CSerialPool m_serials;
    QString m_pool;
    QString m_error;
    QList<CAttempt> m_unsure;  // reservations whose commit was not acknowledged
};
