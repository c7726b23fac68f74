#pragma once
// CStation: the station core. One unit's production attempt from start to
// end, whichever face runs it (the console's window, corvantis-run): check
// the setup, reserve the serial number (settings store or line pool), write
// the "running" row, run the session's procedure, complete the row, settle
// the number (consumed once sent to the unit, given back otherwise), advance
// the next number and the count. It owns the station lock, the session, the
// production record and the line connection. Qt Core and Sql only.
//
// Serial numbers in the store: while a batch writes serial number N to a
// unit, the store already holds N + 1, so a crash can leave a gap in the
// numbers but never a duplicate. A failed batch gives N back only if it
// failed before N was sent to the unit; a number that reached a unit, even
// a rejected one, stays consumed.

#include "SettingsStore.h"
#include "StationView.h"

#include "Controls.h"
#include "velk430.h"

#include "ProductionRecord.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CLineStation;
struct CRecipe;
class CSerialNumber;
class CVELK;
class QLockFile;

// One attempt's choices as a face gathered them. SerialNumber, SerialAddress
// and Count come back as the attempt left them.
struct CStationSetup {
    std::string CommPort = "COM1";
    int32_t Baud = 57600;
    std::string DeviceName;
    int32_t DeviceNumber = -1;       // library index; -1: the name names no device
    double Vcc = 3.3;                // volts
    std::string FileName;            // TI text file
    int32_t EraseFlash = 0;          // 1 = erase the information flash first
    int32_t BlowFuse = 0;            // 1 = blow the fuse at the end
    uint32_t SerialNumber = 0;       // next serial number
    int32_t SerialType = 0;          // 0 none, 1 BYTE, 2 WORD, 3 DWORD
    std::string SerialAddress = "1000";  // hexadecimal text
    int32_t Count = 0;               // unit counter
    int32_t CountUp = 1;             // exactly 1: counts up
};

// How one command ended.
struct CUnitResult {
    bool Started = false;        // the setup was accepted (AttemptStarted was told)
    bool Touched = false;        // the library was opened on the unit
    bool SerialSent = false;     // the number may have reached the unit: consumed
    std::string Result;          // "passed", "failed", "interrupted", "refused"
    std::optional<uint32_t> SerialNumber;  // the number the unit was to carry
    std::string Step;            // failure: the step that failed
    std::string ErrorText;       // failure: the text the operator was told
    std::optional<int32_t> Code; // failure: the library's answer
    int32_t FuseBlown = -1;      // Check Fuse: 1 blown, 0 not; -1 unknown
};

class CStation : private CStationSetup {
public:
    // status/progress: the face's status text and bar, handed to every
    // session (either may be null). window/message: where the library
    // delivers its notifications; null: the station's own window, which
    // hands them to the open session.
    CStation(CStationView& view, CTextWindow* status, CProgressWindow* progress,
             VelkNotifyWindow* window = nullptr, uint32_t message = VELK_NOTIFY_MESSAGE);
    ~CStation();
    CStation(const CStation&) = delete;
    CStation& operator=(const CStation&) = delete;

    // The settings store: the user's store under the application's company
    // and name unless SetSettingsFile named one INI file.
    void SetSettingsFile(const std::string& path) { SettingsFile = path; }
    CSettingsStore OpenSettingsStore() const;

    // Takes the one-station lock beside the file the settings really are.
    // false with the operator's message when another station holds it or it
    // cannot be made. Held until the station is destroyed.
    bool TakeLock(std::string& message);

    // Empty when the settings can be used; else why the station must not
    // start (a settings file that cannot be read, a next serial number that
    // is no number): it would issue serial numbers from 0 again.
    std::string SettingsProblem() const;
    // Reads [Record] Enabled and [Line] from the store and opens the record
    // (false with the record's message when it cannot; commands then refuse).
    // In a line it then settles what a killed station left (a server away
    // now is told at the first numbered batch).
    // In production mode, also the recipe; false with ProductionProblem()
    // when it refuses to start (no command then runs).
    bool Load(const CSettingsStore& store, std::string& recordMessage);

    // Run Batch: one unit through the whole attempt.
    CUnitResult RunBatch(CStationSetup& setup);
    // Check Fuse: the fuse of the unit on the socket, recorded.
    CUnitResult CheckFuse(CStationSetup& setup);
    // A library notification for the open session (ignored without one).
    void OnNotification(uint32_t type, int32_t value);
    // True while a command runs.
    bool Busy() const { return Session != nullptr; }
    // The command running as it stands (complete once AttemptPassed or
    // AttemptFailed was told).
    const CUnitResult& Attempt() const { return Outcome; }
    // A flag that stops the running procedure at its next step once set
    // (from a signal handler, say): the library call in progress finishes,
    // the target and the port are released, the attempt is recorded as
    // interrupted. Null: never stops.
    void SetStopFlag(const std::atomic<bool>* stop) { Stop = stop; }

    // In a line: numbered batches take their numbers from the pool.
    bool InLine() const { return Line != nullptr; }
    // The pool's next number, -1 when the pool is used up; false when it
    // cannot be read.
    bool LineNextNumber(int64_t& next);
    // In a line, what the station says at start: "On a line: serial numbers
    // from pool ..."; empty otherwise.
    std::string LineDescription() const;
    std::string LinePool() const;

    // Production mode (StationRecipe.cpp): a station whose line pool has a
    // recipe runs with it; a station on its own with the recipe that the
    // system-wide file names (StationConfPath: Recipes=FOLDER, Recipe=NAME).
    // While a recipe is in force, every command runs with its device, Vcc,
    // firmware image, erase, fuse and serial number choices, whatever the
    // face's setup says, and checks the image against the recipe's SHA-256
    // before the unit. Load decides it; null: the station's own setup.
    const CRecipe* Recipe() const { return ProductionRecipe.get(); }
    // Why production mode refuses to start (a recipe or file the operator
    // could change, a retired recipe, ...); empty when it does not.
    const std::string& ProductionProblem() const { return RecipeProblem; }
    // The recipe's choices over setup (FileName: the image's own file name,
    // for showing); unchanged without a recipe.
    void ApplyRecipe(CStationSetup& setup) const;
    // "Recipe NAME version N (firmware FILE)"; empty without one.
    std::string RecipeDescription() const;
    static constexpr const char* StationConfPath = "/etc/corvantis/station.conf";
    // Another file in StationConfPath's place, honoured only when that one
    // does not exist (tests), and checked by the same rule.
    std::string ConfPath;
    // The account whose power to change the recipes is checked: the one
    // that runs the station.
    uint32_t OperatorUid;

    // The record for reading (the Production Log), or null with its message.
    CProductionRecord* RecordForReading(std::string& message);
    bool RecordOn() const { return RecordEnabled; }

    // A gang's worker runs the session's procedure only: no record, no
    // settings store, no line (the parent's core keeps them for it).
    void WorkWithoutRecord() { RecordEnabled = false; }

    // Record options; set before Load.
    QString RecordPath;             // CProductionRecord::DefaultPath() when empty
    int RecordBusyTimeoutMs = 2000; // how long a write waits for another writer
    const std::unique_ptr<CProductionRecord>& RecordFile() const { return Record; }
    const std::unique_ptr<CVELK>& OpenSessionHandle() const { return Session; }

private:
    friend class CGang;  // runs the same attempt for several sockets at once

    CStationView& View;
    CTextWindow* StatusWindow;
    CProgressWindow* ProgressWindow;
    struct CRelayWindow : VelkNotifyWindow {
        CStation* Station = nullptr;
    } OwnWindow;
    VelkNotifyWindow* NotifyWindow;
    uint32_t NotifyMessage;
    std::string SettingsFile;
    std::unique_ptr<QLockFile> Lock;
    const std::atomic<bool>* Stop = nullptr;
    bool SettingsLoaded = false;
    std::unique_ptr<CVELK> Session;  // non-null only while a command runs
    CUnitResult Outcome;             // the command running

    // Copies the face's setup in, and what the attempt changed back out.
    void Use(const CStationSetup& setup);
    void Keep(CStationSetup& setup) const;

    // 1 = open; 0 after telling "Error opening VELK\n%s" (no session left).
    int OpenSession();
    void CloseSession();
    // The whole setup checked before the port opens or a number is taken;
    // true after the cross, a 'refused' row and the operator's message.
    bool RefuseSetup(const CSerialNumber& record);
    // The session's error text, as the operator is told it.
    std::string SessionErrorText();
    // The serial number record of the next unit, or the cross and a text
    // saying why the number or its address cannot be written.
    bool PrepareSerialNumber(CSerialNumber& record);
    // The procedure of a numbered or unnumbered batch, after the session opened.
    void ProgramUnit(CSerialNumber& record);

    // Serial numbers in the store around one batch (see the class comment).
    bool ReserveSerialNumber();
    bool StoreNextNumber(uint32_t next);  // the store's next serial number; false: not written
    void ReleaseSerialNumber();
    void CommitCount();
    // A failed settings write is told, naming the file; false then.
    bool Written(CSettingsStore& store, const std::string& what);

    // Production record (StationRecord.cpp): one row per Run Batch and Check
    // Fuse, begun before the library is first called and completed before
    // the tick or the cross shows. [Record] Enabled=0 turns it off. While it
    // is on and cannot be written, no command calls the library.
    std::unique_ptr<CProductionRecord> Record;
    bool RecordEnabled = true;
    QString RecordId;               // the attempt being run; empty: none recorded
    // Opens the record if it is not open and marks rows a killed station
    // left running; false (record stays closed) when it cannot.
    bool OpenRecord();
    // The 'running' row; false after the operator's message (nothing ran).
    // In a line, a numbered batch's serial gets the pool's number.
    bool BeginRecord(const char* kind, CSerialNumber* serial, int32_t deviceNumber);
    // The attempt's row as the setup gives it.
    CAttempt MakeAttempt(const char* kind, const CSerialNumber* serial, int32_t deviceNumber) const;
    // A row 'refused' at step "Check", written whole; "" or the record's reason.
    std::string RefusedRecord(const CSerialNumber& serial, std::optional<int32_t> code, const std::string& text);
    // Completes the row; step null: the session's failed step.
    void FailRecord(const std::string& text, const char* step = nullptr);
    // Completes a failed attempt whose step, code and sending are known.
    void EndFailure(CAttemptEnd end, const std::string& text);
    void PassRecord(int32_t fuseBlown = -1);
    void CompleteRecord(const CAttemptEnd& end, const char* what);

    // Production line (StationLine.cpp): with [Line] Database and Pool set,
    // numbered batches take their numbers from the line's pool and their
    // rows go to the line's database too. Unset: the station works on its own.
    std::unique_ptr<CLineStation> Line;
    std::optional<CAttempt> LineAttempt;  // the numbered batch running in the line
    void LoadLine(const CSettingsStore& store);
    // Delivers kept completions, then reserves the number and writes the
    // line's running row; false after the operator's message.
    bool BeginLine(CAttempt& attempt, CSerialNumber& serial);
    // Writes the line's finished row; kept for later when it cannot.
    void CompleteLine(const CAttemptEnd& end);
    bool DeliverKept();
    void KeepForLine(const QString& id);
    void KeepInterruptedForLine(const CAttemptFilter& leftovers);
    // [Line] Reserving: the id of a reservation under way until the local
    // record has its row, so that a station that died before it knew
    // whether the reservation committed settles it at its next start.
    void NoteReserving(const QString& id);

    // Production mode (StationRecipe.cpp).
    std::unique_ptr<CRecipe> ProductionRecipe;
    std::string RecipeProblem;
    QString RecipeFirmwareFile;     // a recipe folder's image; empty: the line's, held in memory
    bool RecipeUndecided = false;   // in a line whose server did not answer yet
    std::string PrivateFolder;      // where the image to program is written (mode 0700)
    std::string PrivateImage;       // that file (mode 0600)
    bool LoadRecipe();
    bool LoadFolderRecipe(const std::string& conf);
    // Before a command: the recipe decided and its choices in force; false
    // after the operator's message when no unit may run.
    bool EnterRecipe();
    // The recipe's image checked and written to the private file, and read
    // back and checked again; false after the refusal (a 'refused' row).
    bool PrepareImage(const CSerialNumber& record);
    bool CheckPrivateImage(const CSerialNumber& record);
    // The unit refused at the step "Check" before anything is touched: the
    // cross, a 'refused' row and the operator's message; false.
    bool RefuseUnit(const CSerialNumber& record, const std::string& text, std::optional<int32_t> code = {});
    std::string WritePrivateImage(const QByteArray& bytes);
};

// "The production record cannot be written:\n<file>\n<reason>\nNo unit is
// programmed until the record can be written."
std::string RecordMessage(const CProductionRecord& record);

// The operator's choices as the window stored them in [Options], with the
// window's defaults for what is absent or unreadable (DeviceNumber -1).
// Vcc reads as 3.3 V when the stored "VCC" holds no number, and also when
// it is one the Vcc field refuses: check StoredVccProblem before using it.
CStationSetup LoadStationSetup(const CSettingsStore& store);

// Empty when the stored "VCC" can be used; else the voltage message naming
// the text and the file ("2,5", "5V", "-1": a unit meant for 2.5 V must not
// be powered at 3.3 V).
std::string StoredVccProblem(const CSettingsStore& store);

// The names of the devices the library knows, by device number (library
// index); empty when the list cannot be read.
std::vector<std::string> DeviceNames();

// Default supply of device number device, in millivolts (selector 10, third
// value). millivolts is 0 unless the result is true.
bool GetDefaultVcc(int32_t device, int32_t& millivolts);

// The device number (library index) of the device the name names, ignoring
// case; -1 when it names none or the list cannot be read.
int32_t FindDeviceNumber(const std::string& name);
