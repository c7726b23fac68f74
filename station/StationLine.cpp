// CStation in a production line: with [Line] Database and Pool set,
// numbered batches take their serial numbers from the line's pool, and their
// rows go to the line's database as well as to the station's own record.
//
// A completion the line cannot take (the server went away after the unit
// was programmed) stays in the local record; its id waits in [Line]
// Undelivered and is delivered at start and before the station takes its
// next number. [Line] Reserving holds the id of a reservation under way
// until the local record has its row, so that a station that dies before
// it knows whether the reservation committed settles it at its next start.
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

bool CStation::LineNextNumber(int64_t& next)
{
    next = -1;
    return Line && Line->NextNumber(next);
}

std::string CStation::LineDescription() const
{
    if (!Line)
        return {};
    return QStringLiteral("On a line: serial numbers from pool \"%1\" (line database on %2)")
        .arg(Line->Pool(), Line->ServerName())
        .toStdString();
}

std::string CStation::LinePool() const { return Line ? Line->Pool().toStdString() : std::string(); }

void CStation::NoteReserving(const QString& id)
{
    CSettingsStore store = OpenSettingsStore();
    store.WriteProfileString(Section, "Reserving", id.toStdString());
    store.Flush();
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

// The local record's row of id, if it is open and has one.
static std::optional<CAttempt> LocalRow(CProductionRecord* record, const QString& id)
{
    CAttemptFilter filter;
    filter.Id = id;
    const auto rows = record && record->IsOpen() ? record->Select(filter) : std::nullopt;
    return rows && rows->size() == 1 ? std::optional<CAttempt>(rows->front()) : std::nullopt;
}

bool CStation::DeliverKept()
{
    CSettingsStore store = OpenSettingsStore();
    // A reservation the station never saw confirmed: unless its row reached
    // the local record (and so goes as any kept row), its batch never ran.
    const QString reserving = QString::fromStdString(store.GetProfileString(Section, "Reserving", ""));
    if (!reserving.isEmpty() && RecordEnabled) {
        if (!Record || !Record->IsOpen())
            return false;  // decided once the record can be read
        if (!LocalRow(Record.get(), reserving) && !Line->Abandon(reserving))
            return false;
    }
    if (!reserving.isEmpty()) {
        store.WriteProfileString(Section, "Reserving", "");
        store.Flush();
    }
    QStringList ids = Undelivered(store);
    while (!ids.isEmpty()) {
        if (const auto row = LocalRow(Record.get(), ids.front())) {
            CAttempt line;
            if (!Line->Complete(*row, &line))
                return false;
            // The line's word stands for a row it finished (a pass whose
            // local completion failed, say): the local record takes it.
            if (line.Result != row->Result && !Record->TakeEnding(line))
                return false;
        }
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
    if (!DeliverKept()) {
        const QString text = Line->ErrorText().isEmpty() && Record ? Record->ErrorText() : Line->ErrorText();
        View.Tell((text + refusal).toStdString());
        return false;
    }
    attempt.Id = CProductionRecord::NewId();
    NoteReserving(attempt.Id);
    if (!Line->Begin(attempt)) {
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
    NoteReserving(QString());
}

// Rows a killed station left running: the unit may carry the number, so the
// line learns that they were interrupted and the number is consumed.
void CStation::KeepInterruptedForLine(const CAttemptFilter& leftovers)
{
    CAttemptFilter filter = leftovers;
    filter.Kind = QStringLiteral("batch");
    const auto rows = Record->Select(filter);
    if (!rows)
        return;
    for (const CAttempt& row : *rows)
        if (row.SerialValue)
            KeepForLine(row.Id);
}
