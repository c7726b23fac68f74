// CStation in a production line: with [Line] Database and Pool set,
// numbered batches take their serial numbers from the line's pool, and their
// rows go to the line's database as well as to the station's own record.
//
// A completion the line cannot take (the server went away after the unit
// was programmed) stays in the local record; its id waits in [Line]
// Undelivered and is delivered before the station takes its next number.
#include "Station.h"
#include "StationGuards.h"

#include "LineStation.h"
#include "ProductionRecord.h"
#include "SettingsStore.h"

#include "SerialNumber.h"


namespace {

constexpr const char* Section = "Line";

QStringList Undelivered(const CSettingsStore& store)
{
    return QString::fromStdString(store.GetProfileString(Section, "Undelivered", ""))
        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool SetUndelivered(CSettingsStore& store, const QStringList& ids)
{
    store.WriteProfileString(Section, "Undelivered", ids.join(QLatin1Char(' ')).toStdString());
    return store.Flush();
}

}  // namespace

void CStation::LoadLine(const CSettingsStore& store)
{
    Line.reset();
    const QString conninfo = QString::fromStdString(store.GetProfileString(Section, "Database", "")).trimmed();
    const QString pool = QString::fromStdString(store.GetProfileString(Section, "Pool", "")).trimmed();
    if (conninfo.isEmpty() || pool.isEmpty())
        return;
    Line = std::make_unique<CLineStation>(conninfo, pool);
}

bool CStation::LineNextNumber(uint32_t& next)
{
    int64_t number = -1;
    if (!Line || !Line->NextNumber(number) || number < 0)
        return false;
    next = static_cast<uint32_t>(number);
    return true;
}

void CStation::KeepForLine(const QString& id)
{
    CSettingsStore store = OpenSettingsStore();
    QStringList ids = Undelivered(store);
    if (!ids.contains(id))
        ids << id;
    if (!SetUndelivered(store, ids))
        View.Tell("The attempt " + id.toStdString() + " could not be written to the line database, nor"
                         " noted for later in\n" + store.Location() + "\nIt is in this station's own record only.");
}

bool CStation::DeliverKept()
{
    CSettingsStore store = OpenSettingsStore();
    QStringList ids = Undelivered(store);
    while (!ids.isEmpty()) {
        CAttemptFilter filter;
        filter.Id = ids.front();
        const auto rows = Record && Record->IsOpen() ? Record->Select(filter) : std::nullopt;
        if (rows && rows->size() == 1 && !Line->Complete(rows->front()))
            return false;
        // Delivered, or not in this station's record to deliver.
        ids.removeFirst();
        SetUndelivered(store, ids);
    }
    return true;
}

bool CStation::BeginLine(CAttempt& attempt, CSerialNumber& serial)
{
    LineAttempt.reset();
    const QString refusal =
        QStringLiteral("\nNo numbered unit is programmed until a serial number can be reserved from pool \"%1\".")
            .arg(Line->Pool());
    if (!DeliverKept() || !Line->Begin(attempt)) {
        View.Tell((Line->ErrorText() + refusal).toStdString());
        return false;
    }
    LineAttempt = attempt;
    // The pool knows no widths: a number the chosen width cannot hold would
    // be written cut short, as a number already issued. It goes back unused.
    const uint32_t number = static_cast<uint32_t>(*attempt.SerialValue);
    if (const std::string problem = SerialNumberProblem(number, SerialType); !problem.empty()) {
        CAttemptEnd end;
        end.Result = QStringLiteral("failed");
        end.Step = QStringLiteral("Reservation");
        end.ErrorText = QString::fromStdString(problem);
        end.SerialWritten = false;
        CompleteLine(end);
        View.Tell(problem);
        return false;
    }
    SerialNumber = number;
    serial.Value = SerialNumber;
    serial.Convert();
    return true;
}

void CStation::CompleteLine(const CAttemptEnd& end)
{
    if (!LineAttempt)
        return;
    CAttempt row = *LineAttempt;
    LineAttempt.reset();
    row.EndedAt = CProductionRecord::NowUtc();
    row.Result = end.Result;
    row.Step = end.Step;
    row.ErrorText = end.ErrorText;
    row.ErrorCode = end.ErrorCode;
    row.SerialWritten = end.SerialWritten;
    if (!Line->Complete(row))
        KeepForLine(row.Id);
}

// Rows a killed station left running: the unit may carry the number, so the
// line learns that they were interrupted and the number is consumed.
void CStation::KeepInterruptedForLine()
{
    CAttemptFilter filter;
    filter.Result = QStringLiteral("running");
    filter.Kind = QStringLiteral("batch");
    const auto rows = Record->Select(filter);
    if (!rows)
        return;
    for (const CAttempt& row : *rows)
        if (row.SerialValue)
            KeepForLine(row.Id);
}
