#pragma once
// CMainConsoleDlg: the station's only window (template 102), the operator's
// face of the station core (station/Station.h). It holds every operator
// setting as a field, shows them in its controls and carries the two
// production commands, Run Batch and Check Fuse, which it hands to the core
// as a setup; it shows the status, the bar, the pictures and the boxes the
// core reports.
//
// Settings live in the per-user store under company
// QCoreApplication::organizationName(), application
// QCoreApplication::applicationName(), section "Options". They are read once
// at start-up and written when the window is destroyed; the core keeps the
// next serial number in the store up to date around each batch.

#include "Dialog.h"
#include "EditTextWindow.h"
#include "ProgressBarWindow.h"
#include "velk430.h"

#include "StationView.h"

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

struct CStoredSetting;
class CSettingsStore;
class CStation;
struct CStationSetup;
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

class CMainConsoleDlg : public CDialog, private CStationView {
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
    // System command 48 ("Gang...", in the menu when given before the window
    // is made) opens the gang window through this, on the console's own
    // station lock; the console's fields are saved before and the next
    // serial number and count read again after.
    void SetGangWindow(std::function<void(QWidget* owner)> open) { m_openGang = std::move(open); }
    void OnGang();
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
    // Takes the one-station lock on that store; false after the box saying
    // why the station cannot start.
    bool TakeStationLock();

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

    // The fields as the core's setup, and what a command changed back.
    CStationSetup Setup(int32_t deviceNumber) const;
    void Keep(const CStationSetup& setup);
    // What the core reports (CStationView).
    void AttemptStarted() override;
    void AttemptPassed() override;
    void AttemptFailed() override;
    void Tell(const std::string& text) override;
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
    int ShowFields();     // VccText from Vcc ("%0.1lf") unless the field refuses it, then exchange out; 1
    int ReadFields();     // exchange in, then Vcc from VccText; 0 if the exchange failed
    // What LoadSettings reads and SaveSettings writes: {key, field, default}.
    static std::span<const CStoredSetting> StoredSettings();

    // Device list.
    bool InitDeviceList();  // false after its message when the library lists nothing
    void ClearDeviceList();
    // The device number a batch or fuse check uses: that of the list entry
    // the Device text names (ignoring case), which is then shown selected;
    // -1 when it names none, so that no other device's layout is used.
    int32_t SelectNamedDevice();

    // The system-menu entry (when aboutText is not empty) and the window icons.
    void InitSystemMenu(const std::string& aboutText);

    // In a line the field shows the pool's number, read-only; the
    // settings' own number is kept and saved as it was.
    uint32_t OwnSerialNumber = 0;
    void ShowLineNumber();
    // Production mode: the recipe's choices in the fields, which take no input.
    void ShowRecipe();

    CEditTextWindow m_statusWindow;
    CProgressBarWindow m_progressWindow;
    // Drops clicks and keys made while a command ran (owned by the dialog).
    CQueuedInputFilter* m_queuedInput;
    std::function<void(QWidget* owner)> m_openAbout;
    std::function<void(QWidget* owner)> m_openGang;
    // The station core the commands run on (after the controls it reports to).
    std::unique_ptr<CStation> Station;
};
