#pragma once
// CMainConsoleDlg: the station's only window (template 102). It holds every
// operator setting as a field, shows them in its controls and carries the
// two production commands, Run Batch and Check Fuse. Each command opens a
// fresh programmer session and closes it before it returns.
//
// Settings live in the per-user store under company
// QCoreApplication::organizationName(), application
// QCoreApplication::applicationName(), section "Options". They are read once
// at start-up and written when the window is destroyed; in addition, while a
// batch writes serial number N to a unit, the store already holds N + 1, so
// a crash can leave a gap in the serial numbers but never a duplicate. A
// failed batch gives N back only if it failed before N was sent to the unit;
// a number that reached a unit, even a rejected one, stays consumed.

#include "Dialog.h"
#include "EditTextWindow.h"
#include "ProgressBarWindow.h"
#include "velk430.h"

#include "ProductionRecord.h"

#include <QIcon>
#include <QPixmap>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

class CProductionRecord;
class CLineStation;
struct CStoredSetting;
class CSerialNumber;
class CSettingsStore;
class CVELK;
class CQueuedInputFilter;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// Window message the programmer library notifies the console with.
constexpr uint32_t WM_PROGRAMMER_NOTIFY = VELK_NOTIFY_MESSAGE;  // WM_USER + 105
static_assert(WM_PROGRAMMER_NOTIFY == WM_USER + 105);

// Where a minimised window draws its icon: centred in the client area,
// ((client - icon + 1) / 2) per axis, divided toward zero.
QPoint MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

// The serial number address before any is loaded or typed.
constexpr const char* DefaultSerialAddress = "1000";

class CMainConsoleDlg : public CDialog {
public:
    // No window is shown before DoModal (or Create). parent: null for the
    // application's main window.
    explicit CMainConsoleDlg(QWidget* parent = nullptr);
    ~CMainConsoleDlg() override;

    // The operator's commands, each bound to its control or menu entry.
    void OnRunBatch();
    void OnCheckFuse();
    void OnBrowse();
    void OnExit();
    void OnPort();
    void OnDeviceSelChange();
    void OnProductionLog();
    // Message 1129: hands (type, value) to the open session. Returns 0.
    intptr_t OnProgrammerNotify(uintptr_t wParam, intptr_t lParam);
    // System commands 16 to 31 open the About box through what SetAboutBox
    // was given (nothing opens while it was given nothing).
    void OnSysCommand(uint32_t id, intptr_t param) override;
    void SetAboutBox(std::function<void(QWidget* owner)> open) { m_openAbout = std::move(open); }
    // The icon dragged for the minimised window.
    QIcon OnQueryDragIcon() const { return Icon; }

    // Ends the station as Exit does when nobody is there to answer (a
    // signal to end, a lost display): the fields are read and saved without
    // waiting on any box, modal boxes and dialogs above the console are
    // closed, and a running command finishes first. Never asks; a failed
    // save is written to stderr.
    void EndWithoutOperator();
    // Its save alone, touching no window (the program is ending under it).
    void SaveWithoutOperator();

    // The settings store the console reads and writes.
    static CSettingsStore OpenSettingsStore();

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    void OnDestroy() override;
    void OnOK() override;
    void OnCancel() override;
    void OnClose() override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Tests reach the state below through this one seam, which names what
    // they may touch (tests/support/ConsoleProbe.h).
    friend class CConsoleProbe;

    // Control attachments, bound at the first data exchange.
    QComboBox* SerialTypeList = nullptr;
    QLineEdit* SerialAddressEdit = nullptr;
    QLineEdit* SerialNumberEdit = nullptr;
    QLineEdit* VccEdit = nullptr;
    QPushButton* PortButton = nullptr;
    QCheckBox* EraseInfoCheck = nullptr;
    QLineEdit* CountEdit = nullptr;
    QCheckBox* CountUpCheck = nullptr;
    QCheckBox* BlowFuseCheck = nullptr;
    QComboBox* DeviceList = nullptr;
    QPushButton* RunBatchButton = nullptr;
    QLineEdit* OperationEdit = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QLabel* StatusPicture = nullptr;
    QPushButton* ExitButton = nullptr;
    QPushButton* CheckFuseButton = nullptr;
    QLineEdit* FileNameEdit = nullptr;
    QPushButton* BrowseButton = nullptr;

    std::string FileName;            // TI text file to program
    std::string VccText;             // the Vcc field as typed
    int32_t BlowFuse = 0;            // 1 = blow the fuse at the end of a batch
    uint32_t SerialNumber = 0;       // next serial number to write
    int32_t SerialType = 0;          // 0 none, 1 BYTE, 2 WORD, 3 DWORD; -1 no selection
    std::string SerialAddress = DefaultSerialAddress;  // hexadecimal text
    int32_t EraseFlash = 0;          // 1 = erase the information flash first
    std::string DeviceName;
    int32_t CountUp = 0;             // exactly 1: the counter counts up
    int32_t Count = 0;               // unit counter, may be negative
    int32_t SettingsLoaded = 0;      // 1 once LoadSettings ran; guards SaveSettings
    int32_t SavedOnExit = 0;         // 1 once Exit saved (or the operator gave up saving)
    QIcon Icon;                      // icon resource 128
    std::unique_ptr<CVELK> Session;  // non-null only while a command runs
    std::string CommPort;
    int32_t Baud = 0;
    double Vcc = 0.0;                // volts
    std::unique_ptr<QPixmap> PendingBitmap, PassBitmap, FailBitmap;

    // Fields <-> controls. true: in, with validation (false at the first
    // field that fails, after its message); false: out, always true.
    bool ExchangeData(bool in);

    // Start-up; false when the dialog was ended (device list unavailable).
    bool OnInitConsole();
    void OnDestroyConsole();

    // 1 = open; 0 after showing "Error opening VELK\n%s" (no session left).
    int OpenSession();
    void CloseSession();
    // The 13 input controls; Exit and the read-only fields are never disabled.
    void EnableControls(int enable);

    int LoadStatusBitmaps();  // 0 when the pending picture cannot be loaded
    void FreeStatusBitmaps();
    void ShowPending();
    void ShowPass();
    void ShowFail();
    void ClearStatusPicture();
    // Modal file-open dialog; 1 and path = the chosen file's full path, or 0
    // with path unchanged.
    int BrowseForFile(std::string& path, const std::string& filter, uint32_t flags);

    // Settings store.
    // 0 after its message when the settings file is there but unreadable or
    // its next serial number is no number: the station must not start.
    int LoadSettings();
    // Writes nothing before LoadSettings (1); 0 when the write failed.
    int SaveSettings();
    int ShowFields();     // VccText from Vcc ("%0.1lf"), then exchange out; 1
    int ReadFields();     // exchange in, then Vcc from VccText; 0 if the exchange failed
    // What LoadSettings reads and SaveSettings writes: {key, field, default}.
    static std::span<const CStoredSetting> StoredSettings();

    // Serial numbers in the store around one batch (see the class comment).
    bool ReserveSerialNumber();
    void ReleaseSerialNumber();
    void CommitCount();

    // Device list.
    bool InitDeviceList();  // false after its message when the library lists nothing
    void ClearDeviceList();
    // The device number a batch or fuse check uses: that of the list entry
    // the Device text names (ignoring case), which is then shown selected;
    // -1 when it names none, so that no other device's layout is used.
    int32_t SelectNamedDevice();

    // The system-menu entry (when aboutText is not empty) and the window icons.
    void InitSystemMenu(const std::string& aboutText);

    // Production record (ConsoleRecord.cpp): one row per Run Batch and Check
    // Fuse, begun before the library is first called and completed before
    // the tick or the cross shows. [Record] Enabled=0 turns it off. While it
    // is on and cannot be written, no command calls the library.
    std::unique_ptr<CProductionRecord> Record;
    bool RecordEnabled = true;
    QString RecordPath;             // CProductionRecord::DefaultPath() unless set before start
    int RecordBusyTimeoutMs = 2000; // how long a write waits for another writer
    QString RecordId;               // the attempt being run; empty: none recorded
    // Opens the record if it is not open and marks the rows this station
    // left running when it was killed; false (record stays closed) when it
    // cannot. [Record] File notes the file, so that its loss is told.
    bool OpenRecord();
    // The 'running' row; false after the operator's message (nothing ran).
    // In a line, a numbered batch's serial gets the pool's number.
    bool BeginRecord(const char* kind, CSerialNumber* serial, int32_t deviceNumber);
    // Checks the next number against its width and converts its address.
    bool PrepareSerialNumber(CSerialNumber& record);
    // The whole setup checked before the port opens or a number is taken;
    // true after the cross, a 'refused' row and the operator's message.
    bool RefuseSetup(const CSerialNumber& record, int32_t deviceNumber);
    // The attempt's row as the console's fields give it.
    CAttempt MakeAttempt(const char* kind, const CSerialNumber* serial, int32_t deviceNumber) const;
    // A row 'refused' at step "Check", written whole; "" or the record's reason.
    std::string RefusedRecord(const CSerialNumber& serial, int32_t deviceNumber, int32_t code,
                              const std::string& text);
    // Completes the row; step null: the session's failed step.
    void FailRecord(const std::string& text, const char* step = nullptr);
    void PassRecord(int32_t fuseBlown = -1);
    void CompleteRecord(const CAttemptEnd& end, const char* what);

    // Production line (ConsoleLine.cpp): with [Line] Database and Pool set,
    // numbered batches take their numbers from the line's pool (the field
    // shows the pool's next one, read-only) and their rows go to the line's
    // database too. Unset: the station works on its own.
    std::unique_ptr<CLineStation> Line;
    std::optional<CAttempt> LineAttempt;  // the numbered batch running in the line
    uint32_t OwnSerialNumber = 0;         // the settings' number, kept while in a line
    void LoadLine(const CSettingsStore& store);
    void ShowLineNumber();
    void StartLine();
    void NoteReserving(const QString& id);
    // Delivers kept completions, then reserves the number and writes the
    // line's running row; false after the operator's message.
    bool BeginLine(CAttempt& attempt, CSerialNumber& serial);
    // Writes the line's finished row; kept for later when it cannot.
    void CompleteLine(const CAttemptEnd& end);
    bool DeliverKept();
    void KeepForLine(const QString& id);
    void KeepInterruptedForLine(const CAttemptFilter& leftovers);

    CEditTextWindow m_statusWindow;
    CProgressBarWindow m_progressWindow;
    // Drops clicks and keys made while a command ran (owned by the dialog).
    CQueuedInputFilter* m_queuedInput;
    std::function<void(QWidget* owner)> m_openAbout;
};
