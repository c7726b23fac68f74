#include "MainConsoleDlg.h"

#include "DeviceList.h"
#include "PortSelectDlg.h"
#include "QueuedInputFilter.h"
#include "StationGuards.h"
#include "VccText.h"

#include "Resources.h"
#include "ControlHelpers.h"
#include "DataExchange.h"
#include "DecimalText.h"
#include "FileDialog.h"
#include "MessageBox.h"
#include "SetupCheck.h"
#include "SettingsStore.h"
#include "ProductionRecord.h"
#include "LineStation.h"

#include "ConsoleRecord.h"
#include "SerialNumber.h"
#include "VELK.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QTimer>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

#include <cstdio>
#include <span>
#include <variant>

// One stored setting: its name (a string id), the field it fills and the
// value the field takes when the store has none, or none that reads as a
// number. Integers are written as their field's type (SerialNumber unsigned,
// the others signed).
struct CStoredSetting {
    uint32_t nameId;
    std::variant<std::string CMainConsoleDlg::*, int32_t CMainConsoleDlg::*, uint32_t CMainConsoleDlg::*> field;
    const char* defaultText;  // text fields
    uint32_t defaultNumber;   // integer fields
};

namespace {

// Side in pixels of the icon a minimised console paints in its middle.
constexpr int SystemIconSize = 32;

constexpr const char* FirmwareFilter = "Firmware Files (*.txt *.hex *.ihx *.srec *.s19 *.s28 *.s37 *.elf)|*.txt;*.hex;*.ihx;*.srec;*.s19;*.s28;*.s37;*.elf|All Files (*)|*||";
// File must exist, no read-only box, overwrite prompt (ignored when opening).
constexpr uint32_t BrowseFlags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;

// Controls a command disables while it runs, in this order.
constexpr int InputControls[] = {
    IDC_BLOW_FUSE, IDC_CHECK_FUSE, IDC_BROWSE,        IDC_COUNT_UP,       IDC_ERASE_INFO,
    IDC_PORT,      IDC_RUN_BATCH,  IDC_COUNT,         IDC_DEVICE,         IDC_SERIAL_NUMBER,
    IDC_SERIAL_ADDRESS, IDC_SERIAL_TYPE, IDC_VCC,
};

std::string Name(uint32_t id) { return LoadString(id); }

void LoadSetting(const CSettingsStore& store, const std::string& section, const CStoredSetting& s,
                 CMainConsoleDlg& dlg)
{
    const std::string name = Name(s.nameId);
    if (const auto* text = std::get_if<std::string CMainConsoleDlg::*>(&s.field))
        dlg.*(*text) = store.GetProfileString(section, name, s.defaultText);
    else if (const auto* number = std::get_if<int32_t CMainConsoleDlg::*>(&s.field))
        dlg.*(*number) = static_cast<int32_t>(store.GetProfileInt(section, name, s.defaultNumber));
    else
        dlg.*std::get<uint32_t CMainConsoleDlg::*>(s.field) = store.GetProfileInt(section, name, s.defaultNumber);
}

void SaveSetting(CSettingsStore& store, const std::string& section, const CStoredSetting& s,
                 const CMainConsoleDlg& dlg)
{
    const std::string name = Name(s.nameId);
    if (const auto* text = std::get_if<std::string CMainConsoleDlg::*>(&s.field))
        store.WriteProfileString(section, name, dlg.*(*text));
    else if (const auto* number = std::get_if<int32_t CMainConsoleDlg::*>(&s.field))
        store.WriteProfileInt(section, name, dlg.*(*number));
    else
        store.WriteProfileInt(section, name, dlg.*std::get<uint32_t CMainConsoleDlg::*>(s.field));
}

// The counter wraps at the 32-bit limits instead of overflowing.
int32_t AddWrapped(int32_t value, int32_t delta)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(delta));
}

// Shows why the settings cannot be used and returns true, or returns false.
// A settings file that is there but unreadable, or a next serial number
// that is there but no number, must not start the station on defaults: it
// would issue serial numbers from 0 again.
bool RefuseSettings(QWidget* owner, const CSettingsStore& store, const std::string& section)
{
    const std::string path = store.Location();
    const std::string problem = SettingsFileProblem(path);
    if (!problem.empty()) {
        MessageBox(owner, "Unable to read the settings\n" + path + "\n(" + problem +
                              ")\nThe station does not start, so that no serial number is issued twice.");
        return true;
    }
    const std::string name = Name(IDS_SERIAL_NUMBER);
    const std::string text = store.GetProfileString(section, name, "0");
    uint32_t value = 0;
    if (ParseStoredInt(text, value))
        return false;
    const std::string shown = text.size() > 40 ? text.substr(0, 40) + "..." : text;
    MessageBox(owner, "The next serial number in the settings\n" + path + "\nis \"" + shown +
                          "\", which is no number from 0 to 4294967295.\nCorrect " + name +
                          " before starting, so that no serial number is issued twice.");
    return true;
}

// A failed settings write is told, naming the file; false then.
bool Written(QWidget* owner, CSettingsStore& store, const std::string& what)
{
    if (store.Flush())
        return true;
    MessageBox(owner, what + "\nThe settings cannot be written to\n" + store.Location());
    return false;
}

}  // namespace

std::span<const CStoredSetting> CMainConsoleDlg::StoredSettings()
{
    static const CStoredSetting table[] = {
        {IDS_COMM_PORT, &CMainConsoleDlg::CommPort, "COM1", 0},
        {IDS_BAUD, &CMainConsoleDlg::Baud, nullptr, 57600},
        {IDS_DEVICE_NAME, &CMainConsoleDlg::DeviceName, "MSP430F112", 0},
        {IDS_FILE_NAME, &CMainConsoleDlg::FileName, "", 0},
        {IDS_VCC, &CMainConsoleDlg::VccText, DefaultVccText, 0},
        {IDS_BLOW_FUSE, &CMainConsoleDlg::BlowFuse, nullptr, 0},
        {IDS_ERASE_FLASH, &CMainConsoleDlg::EraseFlash, nullptr, 0},
        {IDS_SERIAL_NUMBER, &CMainConsoleDlg::SerialNumber, nullptr, 0},
        {IDS_SERIAL_ADDRESS, &CMainConsoleDlg::SerialAddress, DefaultSerialAddress, 0},
        {IDS_SERIAL_TYPE, &CMainConsoleDlg::SerialType, nullptr, 0},
        {IDS_COUNT, &CMainConsoleDlg::Count, nullptr, 0},
        {IDS_COUNT_UP, &CMainConsoleDlg::CountUp, nullptr, 1},
    };
    return table;
}

QPoint MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight)
{
    // 64-bit intermediates: no overflow for any pair of int sizes.
    const int64_t x = (static_cast<int64_t>(clientWidth) - iconWidth + 1) / 2;
    const int64_t y = (static_cast<int64_t>(clientHeight) - iconHeight + 1) / 2;
    return QPoint(static_cast<int>(x), static_cast<int>(y));
}

CMainConsoleDlg::CMainConsoleDlg(QWidget* parent)
    : CDialog(*GetDialogTemplate(IDD_CONSOLE), parent),
      Icon(LoadIcon(IDI_MAIN)),
      m_statusWindow(GetDlgItemAs<QLineEdit>(IDC_OPERATION)),
      m_progressWindow(GetDlgItemAs<QProgressBar>(IDC_PROGRESS)),
      m_queuedInput(new CQueuedInputFilter(this))
{
    OnMessageMap(WM_PROGRAMMER_NOTIFY, &CMainConsoleDlg::OnProgrammerNotify);
    OnCommandMap(IDC_PORT, &CMainConsoleDlg::OnPort);
    OnCommandMap(IDC_BROWSE, &CMainConsoleDlg::OnBrowse);
    OnCommandMap(IDC_EXIT, &CMainConsoleDlg::OnExit);
    OnCommandMap(IDC_CHECK_FUSE, &CMainConsoleDlg::OnCheckFuse);
    OnCommandMap(IDC_RUN_BATCH, &CMainConsoleDlg::OnRunBatch);
    OnNotifyMap(IDC_DEVICE, CBN_SELCHANGE, &CMainConsoleDlg::OnDeviceSelChange);
}

CMainConsoleDlg::~CMainConsoleDlg() = default;

void CMainConsoleDlg::DoDataExchange(CDataExchange& dx)
{
    DDX_Control(dx, IDC_SERIAL_TYPE, SerialTypeList);
    DDX_Control(dx, IDC_SERIAL_ADDRESS, SerialAddressEdit);
    DDX_Control(dx, IDC_SERIAL_NUMBER, SerialNumberEdit);
    DDX_Control(dx, IDC_VCC, VccEdit);
    DDX_Control(dx, IDC_PORT, PortButton);
    DDX_Control(dx, IDC_ERASE_INFO, EraseInfoCheck);
    DDX_Control(dx, IDC_COUNT, CountEdit);
    DDX_Control(dx, IDC_COUNT_UP, CountUpCheck);
    DDX_Control(dx, IDC_BLOW_FUSE, BlowFuseCheck);
    DDX_Control(dx, IDC_DEVICE, DeviceList);
    DDX_Control(dx, IDC_RUN_BATCH, RunBatchButton);
    DDX_Control(dx, IDC_OPERATION, OperationEdit);
    DDX_Control(dx, IDC_PROGRESS, ProgressBar);
    DDX_Control(dx, IDC_STATUS_PICTURE, StatusPicture);
    DDX_Control(dx, IDC_EXIT, ExitButton);
    DDX_Control(dx, IDC_CHECK_FUSE, CheckFuseButton);
    DDX_Control(dx, IDC_FILENAME, FileNameEdit);
    DDX_Control(dx, IDC_BROWSE, BrowseButton);

    DDX_Text(dx, IDC_FILENAME, FileName);
    DDX_Text(dx, IDC_VCC, VccText);
    // A text that holds no number means 3.3 V; a number that is no voltage
    // ("nan", "inf", "-1") is refused here rather than sent to the library.
    if (dx.SaveAndValidate() && !dx.Failed() && !IsAcceptableVccText(VccText))
        dx.Fail("Please enter a supply voltage in volts.");
    DDX_Check(dx, IDC_BLOW_FUSE, BlowFuse);
    const uint32_t serialBefore = SerialNumber;
    DDX_Text(dx, IDC_SERIAL_NUMBER, SerialNumber);
    // Beyond 32 bits the field's rule would take 4294967295: refused instead,
    // the number kept as it was.
    if (dx.SaveAndValidate() && !dx.Failed() && UnsignedDecimalOverflows(GetDlgItemText(IDC_SERIAL_NUMBER))) {
        SerialNumber = serialBefore;
        dx.Fail(QString::fromLatin1(MsgIntegerRange).arg(0).arg(UINT32_MAX).toStdString());
    }
    DDX_CBIndex(dx, IDC_SERIAL_TYPE, SerialType);
    DDX_Text(dx, IDC_SERIAL_ADDRESS, SerialAddress);
    DDX_Check(dx, IDC_ERASE_INFO, EraseFlash);
    DDX_CBString(dx, IDC_DEVICE, DeviceName);
    DDX_Check(dx, IDC_COUNT_UP, CountUp);
    DDX_Text(dx, IDC_COUNT, Count);
}

bool CMainConsoleDlg::ExchangeData(bool in) { return UpdateData(in); }

bool CMainConsoleDlg::OnInitDialog() { return OnInitConsole(); }

bool CMainConsoleDlg::OnInitConsole()
{
    CDialog::OnInitDialog();
    InitSystemMenu(LoadString(IDS_ABOUTBOX));
    if (!InitDeviceList()) {
        EndDialog(IDCANCEL);
        return false;
    }
    if (!LoadSettings()) {
        EndDialog(IDCANCEL);
        return false;
    }
    if (RecordEnabled && !OpenRecord())
        MessageBox(this, RecordMessage(*Record));
    StartLine();
    ShowFields();
    if (!LoadStatusBitmaps())
        MessageBox(this, "Could not load bitmaps");
    EnableControls(1);
    ShowPending();
    return true;
}

void CMainConsoleDlg::InitSystemMenu(const std::string& aboutText)
{
    if (!aboutText.empty()) {
        AppendSysMenuSeparator();
        AppendSysMenuItem(IDM_PRODUCTIONLOG, LoadString(IDS_PRODUCTIONLOG));
        AppendSysMenuItem(IDM_ABOUTBOX, aboutText);
    }
    SetIcon(Icon, true);
    SetIcon(Icon, false);
}

void CMainConsoleDlg::OnDestroy() { OnDestroyConsole(); }

void CMainConsoleDlg::OnDestroyConsole()
{
    ClearStatusPicture();
    CDialog::OnDestroy();
    FreeStatusBitmaps();
    if (!SavedOnExit) {
        ReadFields();
        if (!SaveSettings())
            MessageBox(this, "Unable to save the settings to\n" + OpenSettingsStore().Location());
    }
    ClearDeviceList();
}

// Enter and Esc must never close the station.
void CMainConsoleDlg::OnOK() {}
void CMainConsoleDlg::OnCancel() {}

void CMainConsoleDlg::OnClose() { OnExit(); }

void CMainConsoleDlg::OnExit()
{
    if (!ReadFields())
        return;
    while (!SaveSettings()) {
        const std::string text = "Unable to save the settings to\n" + OpenSettingsStore().Location() +
                                 "\nRetry to try again, or Cancel to end without saving them.";
        if (RetryCancelBox(this, text) != IDRETRY)
            break;
    }
    SavedOnExit = 1;
    EndDialog(IDOK);
}

void CMainConsoleDlg::EndWithoutOperator()
{
    // Boxes and dialogs above the console (a command's message, the port
    // dialog) are closed; their command then returns.
    for (int i = 0; i < 8; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == this)
            break;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->done(IDCANCEL);
        else
            modal->close();
    }
    if (Session) {
        // A command is still on the stack (it showed a box): end after it.
        QTimer::singleShot(0, this, [this] { EndWithoutOperator(); });
        return;
    }
    SaveWithoutOperator();
    if (!IsEnded())
        EndDialog(IDOK);
}

void CMainConsoleDlg::SaveWithoutOperator()
{
    if (SavedOnExit || !SettingsLoaded)
        return;
    // Nobody answers a box now: a field that does not validate keeps the
    // value it last had.
    const MessageBoxHandler previous = SetMessageBoxHandler([](QWidget*, const std::string&) { return IDCANCEL; });
    ReadFields();
    const bool saved = SaveSettings() != 0;
    SetMessageBoxHandler(previous);
    if (!saved)
        std::fprintf(stderr, "Unable to save the settings to %s\n", OpenSettingsStore().Location().c_str());
    SavedOnExit = 1;
}

intptr_t CMainConsoleDlg::OnProgrammerNotify(uintptr_t wParam, intptr_t lParam)
{
    if (Session)
        Session->OnNotification(static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam));
    return 0;
}

int CMainConsoleDlg::OpenSession()
{
    if (Session)
        CloseSession();
    Session = std::make_unique<CVELK>(NotifyWindow(), WM_PROGRAMMER_NOTIFY, &m_statusWindow,
                                      &m_progressWindow);
    if (Session->Open(CommPort, Baud))
        return 1;
    std::string text;
    Session->GetErrorText(text);
    FailRecord("Error opening VELK\n" + text);
    MessageBox(this, "Error opening VELK\n" + text + Session->Explanation());
    Session.reset();
    return 0;
}

void CMainConsoleDlg::CloseSession()
{
    if (!Session)
        return;
    Session->Close();
    Session.reset();
}

void CMainConsoleDlg::EnableControls(int enable)
{
    for (int id : InputControls)
        EnableWindow(id, enable != 0);
    // The command blocks this thread: show the new state now.
    if (!enable && isVisible())
        repaint();
}

// The serial number record of the next unit, or the cross and a box saying
// why the number or its address cannot be written.
bool CMainConsoleDlg::PrepareSerialNumber(CSerialNumber& record)
{
    if (const std::string problem = SerialNumberProblem(SerialNumber, SerialType); !problem.empty()) {
        ShowFail();
        MessageBox(this, problem);
        return false;
    }
    record.Value = SerialNumber;
    record.Type = SerialType;
    record.AddressText = SerialAddress;
    if (!record.Convert()) {
        ShowFail();
        std::string text;
        record.GetErrorText(text);
        MessageBox(this, text);
        return false;
    }
    SerialAddress = record.AddressText;
    return true;
}

bool CMainConsoleDlg::RefuseSetup(const CSerialNumber& record, int32_t deviceNumber)
{
    const CSetupRefusal refusal = CheckBatchSetup({CommPort, Baud, DeviceName, FileName, EraseFlash, BlowFuse,
                                                   record.Address, record.ByteCount});
    if (refusal.Code == 0)
        return false;
    ShowFail();
    m_statusWindow.SetWindowText("Setup refused");
    std::string text = refusal.Message;
    if (const std::string lost = RefusedRecord(record, deviceNumber, refusal.Code, text); !lost.empty())
        text += "\n\n" + lost;
    MessageBox(this, text);
    return true;
}

void CMainConsoleDlg::OnRunBatch()
{
    const CCommandInput command(m_queuedInput);
    if (command.Inside())
        return;  // input that reached the window while a command ran: never a second one
    if (!ReadFields())
        return;
    const int32_t deviceNumber = SelectNamedDevice();
    CSerialNumber record;
    if (!PrepareSerialNumber(record) || RefuseSetup(record, deviceNumber))
        return;

    EnableControls(0);
    ShowPending();
    if (!BeginRecord("batch", &record, deviceNumber) || !OpenSession()) {
        EnableControls(1);
        ShowLineNumber();
        GotoDlgCtrl(RunBatchButton);
        return;
    }

    const bool numbered = SerialType != 0;
    if (numbered && !ReserveSerialNumber()) {
        const std::string text = "Unable to reserve serial number " + std::to_string(SerialNumber) +
                                 "\nThe settings cannot be written to\n" +
                                 OpenSettingsStore().Location();
        FailRecord(text, "Reservation");
        ShowFail();
        MessageBox(this, text);
    } else if (!Session->BatchProgram(DeviceName, deviceNumber, Vcc, FileName, BlowFuse,
                                      EraseFlash, &record)) {
        std::string text;
        Session->GetErrorText(text);
        FailRecord(text);
        ShowFail();
        if (numbered && Session->SerialNumberSent())
            SerialNumber += 1;  // the rejected unit may carry it: consumed
        else if (numbered)
            ReleaseSerialNumber();
        MessageBox(this, text + Session->Explanation());
    } else {
        PassRecord();
        ShowPass();
        if (numbered) {
            SerialNumber += 1;  // unsigned: 4294967295 goes on at 0
            Count = AddWrapped(Count, CountUp == 1 ? 1 : -1);
            CommitCount();
        }
    }

    CloseSession();
    EnableControls(1);
    GotoDlgCtrl(RunBatchButton);
    ExchangeData(false);
    ShowLineNumber();
}

void CMainConsoleDlg::OnCheckFuse()
{
    const CCommandInput command(m_queuedInput);
    if (command.Inside())
        return;  // input that reached the window while a command ran: never a second one
    if (!ReadFields())
        return;
    const int32_t deviceNumber = SelectNamedDevice();
    EnableControls(0);
    ShowPending();
    if (!BeginRecord("fuse", nullptr, deviceNumber) || !OpenSession()) {
        EnableControls(1);
        GotoDlgCtrl(CheckFuseButton);
        return;
    }
    int32_t blown = 0;
    std::string text;
    if (!Session->CheckFuse(DeviceName, Vcc, blown)) {
        Session->GetErrorText(text);
        FailRecord(text);
        ShowFail();
        text += Session->Explanation();
    } else {
        PassRecord(blown);
        ShowPass();
        text = blown ? "Fuse is blown" : "Fuse is NOT blown";
    }
    MessageBox(this, text);
    CloseSession();
    EnableControls(1);
    GotoDlgCtrl(CheckFuseButton);
    ShowFields();
}

void CMainConsoleDlg::OnBrowse()
{
    ExchangeData(true);
    if (BrowseForFile(FileName, FirmwareFilter, BrowseFlags))
        ShowFields();
}

int CMainConsoleDlg::BrowseForFile(std::string& path, const std::string& filter, uint32_t flags)
{
    return FileOpenDialog(this, path, filter, flags) ? 1 : 0;
}

void CMainConsoleDlg::OnPort()
{
    CPortSelectDlg dialog(this);
    dialog.Baud = static_cast<uint32_t>(Baud);
    dialog.Port = CommPort;
    if (dialog.DoModal() != IDCANCEL) {
        Baud = static_cast<int32_t>(dialog.Baud);
        CommPort = dialog.Port;
    }
}

void CMainConsoleDlg::OnSysCommand(uint32_t id, intptr_t param)
{
    if ((id & 0xFFF0) == IDM_PRODUCTIONLOG) {
        OnProductionLog();
        return;
    }
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        if (m_openAbout)
            m_openAbout(this);
        return;
    }
    CDialog::OnSysCommand(id, param);
}

void CMainConsoleDlg::paintEvent(QPaintEvent* event)
{
    if (!isMinimized()) {
        CDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QPoint origin = MinimisedIconOrigin(width(), height(), SystemIconSize, SystemIconSize);
    painter.drawPixmap(origin, Icon.pixmap(SystemIconSize, SystemIconSize));
}

// --- status pictures ---

int CMainConsoleDlg::LoadStatusBitmaps()
{
    QPixmap pending = LoadBitmap(IDB_PENDING);
    if (pending.isNull())
        return 0;
    PendingBitmap = std::make_unique<QPixmap>(std::move(pending));
    PassBitmap = std::make_unique<QPixmap>(LoadBitmap(IDB_PASS));
    FailBitmap = std::make_unique<QPixmap>(LoadBitmap(IDB_FAIL));
    return 1;
}

void CMainConsoleDlg::FreeStatusBitmaps()
{
    PendingBitmap.reset();
    PassBitmap.reset();
    FailBitmap.reset();
}

// SetPicture repaints at once, so a picture shows while a command blocks.
void CMainConsoleDlg::ShowPending() { SetPicture(StatusPicture, PendingBitmap.get()); }
void CMainConsoleDlg::ShowPass() { SetPicture(StatusPicture, PassBitmap.get()); }
void CMainConsoleDlg::ShowFail() { SetPicture(StatusPicture, FailBitmap.get()); }
void CMainConsoleDlg::ClearStatusPicture() { SetPicture(StatusPicture, nullptr); }

// --- settings ---

CSettingsStore CMainConsoleDlg::OpenSettingsStore()
{
    return CSettingsStore(QCoreApplication::organizationName().toStdString(),
                          QCoreApplication::applicationName().toStdString());
}

int CMainConsoleDlg::LoadSettings()
{
    const CSettingsStore store = OpenSettingsStore();
    const std::string section = Name(IDS_SECTION);
    if (RefuseSettings(this, store, section))
        return 0;
    for (const CStoredSetting& s : StoredSettings())
        LoadSetting(store, section, s, *this);
    Vcc = ParseVccText(VccText);
    if (!IsSerialType(SerialType))
        SerialType = 0;  // no width the list offers: the default, like any bad stored value
    RecordEnabled = store.GetProfileInt("Record", "Enabled", 1) != 0;
    LoadLine(store);
    // A line's result that its server missed waits in the station's record.
    if (Line && !RecordEnabled) {
        MessageBox(this, "[Record] Enabled=0 cannot be used in a production line:\n" + store.Location() +
                             "\nA result the line's server misses waits in this station's record until it is"
                             " delivered. Turn the record on, or take the station out of the line.");
        return 0;
    }
    SettingsLoaded = 1;
    return 1;
}

int CMainConsoleDlg::SaveSettings()
{
    if (!SettingsLoaded)
        return 1;
    CSettingsStore store = OpenSettingsStore();
    const std::string section = Name(IDS_SECTION);
    for (const CStoredSetting& s : StoredSettings())
        SaveSetting(store, section, s, *this);
    // In a line the field shows the pool's number: the station's own stays.
    if (Line)
        store.WriteProfileInt(section, Name(IDS_SERIAL_NUMBER), OwnSerialNumber);
    return store.Flush() ? 1 : 0;
}

int CMainConsoleDlg::ShowFields()
{
    VccText = FormatVccText(Vcc);
    ExchangeData(false);
    return 1;
}

int CMainConsoleDlg::ReadFields()
{
    if (!ExchangeData(true))
        return 0;
    Vcc = ParseVccText(VccText);
    return 1;
}

// The number about to be written is consumed in the store before the unit
// sees it: whatever happens next, no later start can issue it again.
bool CMainConsoleDlg::ReserveSerialNumber()
{
    if (!SettingsLoaded || Line)  // in a line, the pool holds it
        return true;
    CSettingsStore store = OpenSettingsStore();
    store.WriteProfileInt(Name(IDS_SECTION), Name(IDS_SERIAL_NUMBER), SerialNumber + 1);
    return store.Flush();
}

// A batch that failed before the number was sent to the unit gives it back.
void CMainConsoleDlg::ReleaseSerialNumber()
{
    if (!SettingsLoaded || Line)
        return;
    CSettingsStore store = OpenSettingsStore();
    store.WriteProfileInt(Name(IDS_SECTION), Name(IDS_SERIAL_NUMBER), SerialNumber);
    Written(this, store,
            "Serial number " + std::to_string(SerialNumber) + " could not be given back: it stays unused.");
}

void CMainConsoleDlg::CommitCount()
{
    if (!SettingsLoaded)
        return;
    CSettingsStore store = OpenSettingsStore();
    store.WriteProfileInt(Name(IDS_SECTION), Name(IDS_COUNT), Count);
    Written(this, store, "The unit passed, but Count " + std::to_string(Count) + " could not be saved.");
}

// --- device list ---

bool CMainConsoleDlg::InitDeviceList()
{
    if (FillDeviceNames(DeviceList))
        return true;
    MessageBox(this, "Unable to initialize device names\nMake sure device.cfg is in the same\n"
                     "directory as this application");
    return false;
}

void CMainConsoleDlg::ClearDeviceList() { ClearDeviceNames(DeviceList); }

int32_t CMainConsoleDlg::SelectNamedDevice()
{
    const int index = FindDeviceEntry(DeviceList, DeviceName);
    if (index == CB_ERR)
        return -1;
    SetCurSel(DeviceList, index);
    return static_cast<int32_t>(GetItemData(DeviceList, index));
}

void CMainConsoleDlg::OnDeviceSelChange()
{
    if (!ReadFields())
        return;
    const int selected = GetCurSel(DeviceList);
    // Only an operator's pick gets here, but never read an item that is not there.
    if (selected == CB_ERR)
        return;
    const auto device = static_cast<int32_t>(GetItemData(DeviceList, selected));
    int32_t millivolts = 0;
    GetDefaultVcc(device, millivolts);  // 0 when it cannot be read
    // A negative default names no supply: Vcc stays as it was.
    if (millivolts >= 0)
        Vcc = millivolts * 0.001;
    DeviceName = GetLBText(DeviceList, selected);
    ShowFields();
}
