#include "MainConsoleDlg.h"

#include "DeviceList.h"
#include "PortSelectDlg.h"
#include "ProductionLogDlg.h"
#include "QueuedInputFilter.h"
#include "VccText.h"

#include "Resources.h"
#include "ControlHelpers.h"
#include "DataExchange.h"
#include "DecimalText.h"
#include "FileDialog.h"
#include "MessageBox.h"
#include "SettingsStore.h"
#include "Station.h"
#include "StationGuards.h"

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
    Station = std::make_unique<CStation>(static_cast<CStationView&>(*this), &m_statusWindow, &m_progressWindow, NotifyWindow(),
                                         WM_PROGRAMMER_NOTIFY);
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
        dx.Fail(VccRefusedMessage);
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
    if (std::string message; !Station->Load(OpenSettingsStore(), message)) {
        MessageBox(this, message);
        // Production mode that cannot start: no command runs on this station.
        if (!Station->ProductionProblem().empty()) {
            SettingsLoaded = 0;  // the user's settings stay as they are
            EndDialog(IDCANCEL);
            return false;
        }
    }
    ShowRecipe();
    std::string start = Station->RecipeDescription();
    if (const std::string line = Station->LineDescription(); !line.empty())
        start += (start.empty() ? "" : "; ") + line;
    if (!start.empty() && OperationEdit)
        OperationEdit->setText(QString::fromStdString(start));
    ShowLineNumber();
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
        if (m_openGang)
            AppendSysMenuItem(IDM_GANG, LoadString(IDS_GANG));
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
    if (Station->Busy()) {
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
    Station->OnNotification(static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam));
    return 0;
}

void CMainConsoleDlg::EnableControls(int enable)
{
    // In production mode the recipe holds the setup: only the commands and
    // the port stay in the operator's hands.
    const bool production = Station->Recipe() != nullptr;
    for (int id : InputControls)
        EnableWindow(id, enable != 0 && (!production || id == IDC_RUN_BATCH || id == IDC_CHECK_FUSE || id == IDC_PORT));
    if (production)
        EnableWindow(IDC_FILENAME, false);
    // The command blocks this thread: show the new state now.
    if (!enable && isVisible())
        repaint();
}

CStationSetup CMainConsoleDlg::Setup(int32_t deviceNumber) const
{
    CStationSetup setup;
    setup.CommPort = CommPort;
    setup.Baud = Baud;
    setup.DeviceName = DeviceName;
    setup.DeviceNumber = deviceNumber;
    setup.Vcc = Vcc;
    setup.FileName = FileName;
    setup.EraseFlash = EraseFlash;
    setup.BlowFuse = BlowFuse;
    setup.SerialNumber = SerialNumber;
    setup.SerialType = SerialType;
    setup.SerialAddress = SerialAddress;
    setup.Count = Count;
    setup.CountUp = CountUp;
    return setup;
}

void CMainConsoleDlg::Keep(const CStationSetup& setup)
{
    SerialNumber = setup.SerialNumber;
    SerialAddress = setup.SerialAddress;
    Count = setup.Count;
}

void CMainConsoleDlg::AttemptStarted()
{
    EnableControls(0);
    ShowPending();
}

void CMainConsoleDlg::AttemptPassed() { ShowPass(); }
void CMainConsoleDlg::AttemptFailed() { ShowFail(); }
void CMainConsoleDlg::Tell(const std::string& text) { MessageBox(this, text); }

void CMainConsoleDlg::OnRunBatch()
{
    const CCommandInput command(m_queuedInput);
    if (command.Inside())
        return;  // input that reached the window while a command ran: never a second one
    if (!ReadFields())
        return;
    CStationSetup setup = Setup(SelectNamedDevice());
    const CUnitResult result = Station->RunBatch(setup);
    Keep(setup);
    if (!result.Started)
        return;
    EnableControls(1);
    GotoDlgCtrl(RunBatchButton);
    if (result.Touched)
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
    CStationSetup setup = Setup(SelectNamedDevice());
    const CUnitResult result = Station->CheckFuse(setup);
    Keep(setup);
    EnableControls(1);
    GotoDlgCtrl(CheckFuseButton);
    if (result.Touched)
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
    if ((id & 0xFFF0) == IDM_GANG) {
        OnGang();
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

bool CMainConsoleDlg::TakeStationLock()
{
    std::string message;
    if (Station->TakeLock(message))
        return true;
    MessageBox(nullptr, message);
    return false;
}

int CMainConsoleDlg::LoadSettings()
{
    const CSettingsStore store = OpenSettingsStore();
    const std::string section = Name(IDS_SECTION);
    if (const std::string problem = Station->SettingsProblem(); !problem.empty()) {
        MessageBox(this, problem);
        return 0;
    }
    for (const CStoredSetting& s : StoredSettings())
        LoadSetting(store, section, s, *this);
    Vcc = ParseVccText(VccText);
    if (!IsSerialType(SerialType))
        SerialType = 0;  // no width the list offers: the default, like any bad stored value
    OwnSerialNumber = SerialNumber;
    SettingsLoaded = 1;
    return 1;
}

int CMainConsoleDlg::SaveSettings()
{
    if (!SettingsLoaded)
        return 1;
    CSettingsStore store = OpenSettingsStore();
    const std::string section = Name(IDS_SECTION);
    // The fields show a recipe in production mode: only the port is the
    // station's own (the core keeps the number and the count).
    const bool production = Station->Recipe() != nullptr;
    for (const CStoredSetting& s : StoredSettings())
        if (!production || s.nameId == IDS_COMM_PORT || s.nameId == IDS_BAUD)
            SaveSetting(store, section, s, *this);
    // In a line the field shows the pool's number: the station's own stays.
    if (Station->InLine())
        store.WriteProfileInt(section, Name(IDS_SERIAL_NUMBER), OwnSerialNumber);
    return store.Flush() ? 1 : 0;
}

int CMainConsoleDlg::ShowFields()
{
    // A text the field refuses ("2,5", "5V", "-1") stays as it is: rewritten
    // as 3.3 it would power the unit at 3.3 V without a word; shown, the
    // next command names it.
    if (IsAcceptableVccText(VccText))
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

void CMainConsoleDlg::ShowRecipe()
{
    if (!Station->Recipe())
        return;
    CStationSetup setup = Setup(-1);
    Station->ApplyRecipe(setup);
    DeviceName = setup.DeviceName;
    Vcc = setup.Vcc;
    FileName = setup.FileName;
    EraseFlash = setup.EraseFlash;
    BlowFuse = setup.BlowFuse;
    SerialType = setup.SerialType;
    SerialAddress = setup.SerialAddress;
    SelectNamedDevice();
    for (QLineEdit* edit : {VccEdit, FileNameEdit, SerialAddressEdit, SerialNumberEdit, CountEdit})
        if (edit)
            edit->setReadOnly(true);
}

void CMainConsoleDlg::ShowLineNumber()
{
    if (!Station->InLine())
        return;
    if (SerialNumberEdit)
        SerialNumberEdit->setReadOnly(true);
    int64_t next = -1;
    const bool read = Station->LineNextNumber(next);
    if (read && next >= 0)
        SerialNumber = static_cast<uint32_t>(next);
    ExchangeData(false);
    // A used-up pool has no next number to show.
    if (read && next < 0 && SerialNumberEdit)
        SerialNumberEdit->setText(
            QStringLiteral("none: pool \"%1\" is used up").arg(QString::fromStdString(Station->LinePool())));
}

void CMainConsoleDlg::OnGang()
{
    if (!m_openGang || Station->Busy() || !ReadFields())
        return;
    if (!SaveSettings())
        MessageBox(this, "The settings cannot be written to\n" + OpenSettingsStore().Location());
    m_openGang(this);
    // The gang used the station's next serial number and counter.
    const CStationSetup stored = LoadStationSetup(OpenSettingsStore());
    OwnSerialNumber = SerialNumber = stored.SerialNumber;
    Count = stored.Count;
    ShowLineNumber();
    ShowFields();
}

void CMainConsoleDlg::OnProductionLog()
{
    if (!Station->RecordOn()) {
        MessageBox(this, "The production record is turned off ([Record] Enabled=0 in\n" +
                             OpenSettingsStore().Location() + ").");
        return;
    }
    std::string message;
    CProductionRecord* record = Station->RecordForReading(message);
    if (!record) {
        MessageBox(this, message);
        return;
    }
    CProductionLogDlg dialog(*record, this);
    dialog.exec();
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
