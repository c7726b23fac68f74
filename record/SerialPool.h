#pragma once
// A line's pools of serial numbers, in its PostgreSQL database. One pool per
// product; every station of the line draws its numbers from it.
//
// Each number of a pool is in exactly one state at every moment:
//   free      never issued (from the pool's next number up), or given back
//             by an attempt it never reached a unit in ("free again");
//   reserved  held by a running attempt;
//   passed    on a unit that passed;
//   rejected  on a unit that failed after the number was written.
// Reserved, passed and rejected numbers name the attempt that holds them.
// Free-again numbers are issued before the next number, lowest first, to
// whichever station asks first. The next number only ever goes up.
//
// Concurrency: a station takes the lowest free number's row with SELECT ...
// FOR UPDATE SKIP LOCKED, so it passes over a number that another station is
// taking instead of waiting for it, and stations commit side by side. Since
// every given-back number lies below every never-issued one, lowest first is
// "given back first". Rows for new numbers are made in blocks of BlockSize by
// the station that finds none free; it holds the pool's row locked until
// its transaction ends, so two stations never make the same block, and the
// others, waiting on that row, then find the new block's rows free.

#include "LineDatabase.h"

#include <QList>
#include <QString>
#include <QVariant>

#include <cstdint>

struct SPoolStatus {
    QString Name;
    int64_t First = 0;
    int64_t Last = -1;          // -1: no last number
    int64_t Next = 0;           // one above the highest number ever issued
                                // (at least the first, and where raised to)
    QList<int64_t> FreeAgain;   // below Next and free (given back), lowest first
    int64_t Reserved = 0;
    int64_t Passed = 0;
    int64_t Rejected = 0;
    int64_t Skipped = 0;        // below Next but never issued (raised past)
    int64_t Unissued = -1;      // Last - Next + 1; -1 without a last number
    int64_t Free() const { return Unissued < 0 ? -1 : Unissued + FreeAgain.size(); }
};

class CSerialPool {
public:
    // Works on db's connection; db outlives this object.
    explicit CSerialPool(CLineDatabase& db) : m_db(db) {}

    static constexpr int64_t MaxNumber = 4294967295;  // a DWORD serial number
    static constexpr int64_t BlockSize = 32;

    // Administration, each in a transaction of its own. last = -1: none.
    bool Create(const QString& name, int64_t first, int64_t last = -1);
    bool Raise(const QString& name, int64_t next);
    bool Show(const QString& name, SPoolStatus& status);
    bool List(QList<SPoolStatus>& pools);  // every pool, by name

    // The next three run the line's functions (corv_reserve, corv_settle),
    // which only the line's administrator may call: a station reserves and
    // settles through CLineStation. They run inside the caller's transaction
    // (CLineDatabase::Begin ... Commit) when there is one, so that another
    // row and the number commit or vanish together. attempt: the attempt's
    // id (at most 36 characters).

    // Takes the lowest free-again number or else the next one for attempt.
    // false when the pool does not exist or is used up ("... used up ..."),
    // or the database fails.
    bool Reserve(const QString& name, const QString& attempt, uint32_t& number);
    // The number never reached a unit: it is free again. A number the
    // attempt no longer holds (given back before, perhaps issued again
    // since) is left alone and the call succeeds, so a give-back can be
    // delivered twice; one on a unit is refused.
    bool GiveBack(const QString& name, uint32_t number, const QString& attempt);
    // The number is on a unit for good: passed or rejected. Delivering the
    // same result twice succeeds; any other change is refused.
    bool Consume(const QString& name, uint32_t number, const QString& attempt, bool passed);

    // The number an attempt holds, if any (number = -1 when none): how a
    // station learns the outcome of a reservation whose commit it never saw
    // acknowledged.
    bool HeldBy(const QString& attempt, QString& name, int64_t& number, QString& state);

    // The state of one number and the attempt holding it ("" when free).
    bool State(const QString& name, int64_t number, QString& state, QString& attempt);

    const QString& ErrorText() const { return m_error; }

private:
    bool CheckName(const QString& name);
    bool Failed();  // takes the database's message; returns false
    // Prepares sql, binds values in order and runs it: the query to read,
    // or null after taking the database's message.
    QSqlQuery* Run(const QString& sql, const QVariantList& values, const QString& what);
    // Raise's checks and writes inside its transaction; false: roll back.
    bool RaiseWithin(const QString& name, int64_t next);
    bool Settle(const QString& name, uint32_t number, const QString& attempt,
                const char* state, const QString& what);

    CLineDatabase& m_db;
    QString m_error;
};
