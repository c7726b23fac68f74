// CStation's production record: one row per command, begun before the
// library is first called and completed before the tick or the cross shows.
#include "Station.h"

#include "ProductionRecord.h"
#include "SettingsStore.h"

#include "Recipe.h"
#include "SerialNumber.h"
#include "VELK.h"


std::string RecordMessage(const CProductionRecord& record)
{
    return record.ErrorText().toStdString() + "\nNo unit is programmed until the record can be written.";
}

bool CStation::OpenRecord()
{
    if (!Record)
        Record = std::make_unique<CProductionRecord>();
    if (Record->IsOpen())
        return true;
    if (RecordPath.isEmpty())
        RecordPath = CProductionRecord::DefaultPath();
    // [Record] File notes the record this station keeps: found missing
    // later, it is told, not silently begun anew.
    CSettingsStore store = OpenSettingsStore();
    const bool kept = QString::fromStdString(store.GetProfileString("Record", "File", "")) == RecordPath;
    if (!Record->Open(RecordPath, RecordBusyTimeoutMs, false, kept)) {
        Record->Close();
        return false;
    }
    if (!kept) {
        store.WriteProfileString("Record", "File", RecordPath.toStdString());
        store.Flush();
    }
    // A row of this station still running was left when it was killed or
    // lost power; another station sharing the file may be running its own.
    const CAttemptFilter leftovers = CProductionRecord::Leftovers(QString::fromStdString(store.Location()));
    if (Line)
        KeepInterruptedForLine(leftovers);
    if (Record->MarkInterrupted(leftovers) >= 0)
        return true;
    Record->Close();
    return false;
}

CAttempt CStation::MakeAttempt(const char* kind, const CSerialNumber* serial, int32_t deviceNumber) const
{
    CAttempt attempt;
    attempt.Kind = kind;
    CProductionRecord::FillStation(attempt);
    attempt.Settings = QString::fromStdString(OpenSettingsStore().Location());
    attempt.Port = QString::fromStdString(CommPort);
    attempt.Baud = Baud;
    attempt.Device = QString::fromStdString(DeviceName);
    attempt.DeviceNumber = deviceNumber;
    attempt.Vcc = Vcc;
    if (ProductionRecipe) {
        attempt.Recipe = ProductionRecipe->Name;
        attempt.RecipeVersion = ProductionRecipe->Version;
    }
    if (serial) {
        CProductionRecord::FillFirmware(attempt, QString::fromStdString(FileName));
        // The image the recipe names, not the private file it was written to.
        if (ProductionRecipe)
            attempt.Firmware = ProductionRecipe->FirmwareName;
        attempt.EraseInfo = EraseFlash == 1;
        attempt.BlowFuse = BlowFuse == 1;
        if (serial->ByteCount > 0) {
            attempt.SerialValue = serial->Value;
            attempt.SerialWidth = serial->ByteCount;
            attempt.SerialAddress = serial->Address;
        }
    }
    return attempt;
}

// A refused batch reserved nothing (not even in a line), so only the
// station's own record hears of it.
std::string CStation::RefusedRecord(const CSerialNumber& serial, std::optional<int32_t> code, const std::string& text)
{
    if (!RecordEnabled)
        return {};
    if (!OpenRecord()) {
        Record->Close();
        return RecordMessage(*Record);
    }
    CAttempt row = MakeAttempt("batch", &serial, DeviceNumber);
    row.Id = CProductionRecord::NewId();
    row.StartedAt = row.EndedAt = CProductionRecord::NowUtc();
    row.Result = "refused";
    row.Step = "Check";
    row.ErrorText = QString::fromStdString(text);
    row.ErrorCode = code;
    if (row.SerialValue)
        row.SerialWritten = false;
    if (Record->Insert(row))
        return {};
    const std::string lost = Record->ErrorText().toStdString() + "\nThis refusal is not recorded.";
    Record->Close();
    return lost;
}

bool CStation::BeginRecord(const char* kind, CSerialNumber* serial, int32_t deviceNumber)
{
    RecordId.clear();
    LineAttempt.reset();
    const bool lineNumbered = Line && serial && serial->ByteCount > 0;
    if (!RecordEnabled && !lineNumbered)
        return true;
    if (!RecordEnabled || OpenRecord()) {
        CAttempt attempt = MakeAttempt(kind, serial, deviceNumber);
        if (lineNumbered && !BeginLine(attempt, *serial))
            return false;
        if (!RecordEnabled)
            return true;
        RecordId = Record->Begin(attempt);
        if (!RecordId.isEmpty())
            return true;
        // The number never reaches a unit: back to the pool.
        CAttemptEnd end;
        end.Result = "failed";
        end.Step = "Record";
        end.ErrorText = Record->ErrorText();
        end.SerialWritten = false;
        CompleteLine(end);
    }
    const std::string text = RecordMessage(*Record);
    Record->Close();  // the next command opens it afresh
    View.Tell(text);
    return false;
}

void CStation::FailRecord(const std::string& text, const char* step)
{
    CAttemptEnd end;
    if (step) {
        end.Step = step;
    } else if (Session) {
        const CVELK::CFailure& failure = Session->LastFailure();
        end.Step = QString::fromStdString(failure.Step);
        if (failure.HasCode)
            end.ErrorCode = failure.Code;
    }
    // Once the number was sent, the rejected unit may carry it.
    end.SerialWritten = Session && Session->SerialNumberSent();
    EndFailure(end, text);
}

void CStation::EndFailure(CAttemptEnd end, const std::string& text)
{
    end.Result = "failed";
    end.ErrorText = QString::fromStdString(text);
    if (end.Step == QLatin1String("Interrupted"))
        end.Result = "interrupted";
    Outcome.SerialSent = end.SerialWritten.value_or(false);
    Outcome.Result = end.Result.toStdString();
    Outcome.Step = end.Step.toStdString();
    Outcome.ErrorText = text;
    Outcome.Code = end.ErrorCode;
    if (RecordId.isEmpty() && !LineAttempt)
        return;
    CompleteRecord(end, "failure");
}

void CStation::PassRecord(int32_t fuseBlown)
{
    Outcome.Result = "passed";
    Outcome.FuseBlown = fuseBlown;
    if (RecordId.isEmpty() && !LineAttempt)
        return;
    CAttemptEnd end;
    end.Result = "passed";
    if (fuseBlown >= 0)
        end.FuseBlown = fuseBlown != 0;
    else
        end.SerialWritten = true;
    CompleteRecord(end, "pass");
}

// Completes the attempt in the line and in the station's own record; a
// completion the record cannot take is told, naming what was lost.
void CStation::CompleteRecord(const CAttemptEnd& end, const char* what)
{
    CompleteLine(end);
    if (RecordId.isEmpty())
        return;
    const QString id = RecordId;
    RecordId.clear();
    if (!Record->Complete(id, end)) {
        const std::string message =
            Record->ErrorText().toStdString() + "\nThis unit's " + what + " is not recorded.";
        Record->Close();
        View.Tell(message);
    }
}

CProductionRecord* CStation::RecordForReading(std::string& message)
{
    if (OpenRecord())
        return Record.get();
    message = Record->ErrorText().toStdString();
    return nullptr;
}
