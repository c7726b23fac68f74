#include "Station.h"

#include "StationGuards.h"
#include "StationLock.h"
#include "VccText.h"

#include "LineStation.h"
#include "Recipe.h"
#include "SerialNumber.h"
#include "SetupCheck.h"
#include "VELK.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <unistd.h>

#include <cstring>

namespace {

// The settings' names in the store.
constexpr const char* Section = "Options";
constexpr const char* SerialNumberName = "SerialNumber";
constexpr const char* CountName = "Count";

// The counter wraps at the 32-bit limits instead of overflowing.
int32_t AddWrapped(int32_t value, int32_t delta)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(delta));
}

}  // namespace

CStation::CStation(CStationView& view, CTextWindow* status, CProgressWindow* progress, VelkNotifyWindow* window,
                   uint32_t message)
    : OperatorUid(::geteuid()), View(view), StatusWindow(status), ProgressWindow(progress), NotifyWindow(window),
      NotifyMessage(message)
{
    if (!NotifyWindow) {
        // The station's own window: the library's notifications go to the
        // open session.
        OwnWindow.Station = this;
        OwnWindow.Deliver = [](VelkNotifyWindow* self, uint32_t, uintptr_t type, intptr_t value) {
            static_cast<CRelayWindow*>(self)->Station->OnNotification(static_cast<uint32_t>(type),
                                                                       static_cast<int32_t>(value));
        };
        NotifyWindow = &OwnWindow;
    }
}

CStation::~CStation()
{
    if (!PrivateImage.empty())
        ::unlink(PrivateImage.c_str());
    if (!PrivateFolder.empty())
        ::rmdir(PrivateFolder.c_str());
}

CSettingsStore CStation::OpenSettingsStore() const
{
    if (!SettingsFile.empty())
        return CSettingsStore::AtFile(SettingsFile);
    return CSettingsStore(QCoreApplication::organizationName().toStdString(),
                          QCoreApplication::applicationName().toStdString());
}

bool CStation::TakeLock(std::string& message)
{
    // Two stations on one settings store would both start from the same next
    // serial number and issue it twice: only one may run. A station that was
    // killed leaves a lock that names a dead process, which counts as free.
    // The lock belongs to the file actually written, so two settings files
    // that are links to one file share one lock.
    const std::string settings = OpenSettingsStore().Location();
    QDir().mkpath(QFileInfo(QString::fromStdString(settings)).absolutePath());
    const QString lockPath = QString::fromStdString(ResolvedFilePath(settings)) + QStringLiteral(".running");
    auto lock = std::make_unique<QLockFile>(lockPath);
    message = TakeStationLock(*lock, lockPath);
    if (!message.empty())
        return false;
    Lock = std::move(lock);
    return true;
}

std::string CStation::SettingsProblem() const
{
    const CSettingsStore store = OpenSettingsStore();
    const std::string path = store.Location();
    const std::string problem = SettingsFileProblem(path);
    if (!problem.empty())
        return "Unable to read the settings\n" + path + "\n(" + problem +
               ")\nThe station does not start, so that no serial number is issued twice.";
    // A line's result that its server missed waits in the station's record.
    const bool inLine = !QString::fromStdString(store.GetProfileString("Line", "Database", "")).trimmed().isEmpty() &&
                        !QString::fromStdString(store.GetProfileString("Line", "Pool", "")).trimmed().isEmpty();
    if (inLine && store.GetProfileInt("Record", "Enabled", 1) == 0)
        return "[Record] Enabled=0 cannot be used in a production line:\n" + path +
               "\nA result the line's server misses waits in this station's record until it is"
               " delivered. Turn the record on, or take the station out of the line.";
    const std::string text = store.GetProfileString(Section, SerialNumberName, "0");
    uint32_t value = 0;
    if (ParseStoredInt(text, value))
        return {};
    const std::string shown = text.size() > 40 ? text.substr(0, 40) + "..." : text;
    return "The next serial number in the settings\n" + path + "\nis \"" + shown +
           "\", which is no number from 0 to 4294967295.\nCorrect " + std::string(SerialNumberName) +
           " before starting, so that no serial number is issued twice.";
}

bool CStation::Load(const CSettingsStore& store, std::string& recordMessage)
{
    RecordEnabled = store.GetProfileInt("Record", "Enabled", 1) != 0;
    LoadLine(store);
    SettingsLoaded = true;
    // Production mode first: a record that cannot be opened now must not
    // leave the station running its own setup once it can.
    if (!LoadRecipe()) {
        recordMessage = RecipeProblem;
        return false;
    }
    if (RecordEnabled && !OpenRecord()) {
        recordMessage = RecordMessage(*Record);
        return false;
    }
    if (Line)
        DeliverKept();
    return true;
}

void CStation::Use(const CStationSetup& setup) { static_cast<CStationSetup&>(*this) = setup; }

void CStation::Keep(CStationSetup& setup) const
{
    setup.SerialNumber = SerialNumber;
    setup.SerialAddress = SerialAddress;
    setup.Count = Count;
}

void CStation::OnNotification(uint32_t type, int32_t value)
{
    if (Session)
        Session->OnNotification(type, value);
}

int CStation::OpenSession()
{
    if (Session)
        CloseSession();
    Session = std::make_unique<CVELK>(NotifyWindow, NotifyMessage, StatusWindow, ProgressWindow);
    if (Session->Open(CommPort, Baud)) {
        Session->SetStopFlag(Stop);
        Outcome.Touched = true;
        return 1;
    }
    const std::string text = "Error opening VELK\n" + SessionErrorText();
    FailRecord(text);
    View.Tell(text + Session->Explanation());
    Session.reset();
    return 0;
}

void CStation::CloseSession()
{
    if (!Session)
        return;
    Session->Close();
    Session.reset();
}

std::string CStation::SessionErrorText()
{
    std::string text;
    Session->GetErrorText(text);
    return text;
}

// The one place where the whole setup is checked before the library is
// opened; nothing is reserved yet, and only the station's own record hears
// of a refusal.
bool CStation::RefuseSetup(const CSerialNumber& record)
{
    const CSetupRefusal refusal = CheckBatchSetup({CommPort, Baud, DeviceName, FileName, EraseFlash, BlowFuse,
                                                   record.Address, record.ByteCount});
    if (refusal.Code == 0)
        return false;
    RefuseUnit(record, refusal.Message, refusal.Code);
    return true;
}

bool CStation::RefuseUnit(const CSerialNumber& record, const std::string& text, std::optional<int32_t> code)
{
    Outcome.Step = "Check";
    Outcome.Code = code;
    Outcome.ErrorText = text;
    View.AttemptFailed();
    if (StatusWindow)
        StatusWindow->SetWindowText("Setup refused");
    std::string told = text;
    if (const std::string lost = RefusedRecord(record, code, text); !lost.empty())
        told += "\n\n" + lost;
    View.Tell(told);
    return false;
}

bool CStation::PrepareSerialNumber(CSerialNumber& record)
{
    if (const std::string problem = SerialNumberProblem(SerialNumber, SerialType); !problem.empty()) {
        Outcome.ErrorText = problem;
        View.AttemptFailed();
        View.Tell(problem);
        return false;
    }
    record.Value = SerialNumber;
    record.Type = SerialType;
    record.AddressText = SerialAddress;
    if (!record.Convert()) {
        std::string text;
        record.GetErrorText(text);
        Outcome.ErrorText = text;
        View.AttemptFailed();
        View.Tell(text);
        return false;
    }
    SerialAddress = record.AddressText;
    if (ProductionRecipe && !PrepareImage(record))
        return false;
    return !RefuseSetup(record) && (!ProductionRecipe || CheckPrivateImage(record));
}

CUnitResult CStation::RunBatch(CStationSetup& setup)
{
    Use(setup);
    Outcome = {};
    Outcome.Result = "refused";
    CSerialNumber record;
    if (EnterRecipe() && PrepareSerialNumber(record)) {
        Outcome.Started = true;
        View.AttemptStarted();
        if (BeginRecord("batch", &record, setup.DeviceNumber) && OpenSession()) {
            ProgramUnit(record);
            CloseSession();
        }
    }
    Keep(setup);
    return Outcome;
}

void CStation::ProgramUnit(CSerialNumber& record)
{
    const bool numbered = SerialType != 0;
    if (numbered)
        Outcome.SerialNumber = record.Value;
    if (numbered && !ReserveSerialNumber()) {
        const std::string text = "Unable to reserve serial number " + std::to_string(SerialNumber) +
                                 "\nThe settings cannot be written to\n" + OpenSettingsStore().Location();
        FailRecord(text, "Reservation");
        View.AttemptFailed();
        View.Tell(text);
    } else if (!Session->BatchProgram(DeviceName, DeviceNumber, Vcc, FileName, BlowFuse, EraseFlash, &record)) {
        const std::string text = SessionErrorText();
        FailRecord(text);
        View.AttemptFailed();
        if (numbered && Session->SerialNumberSent())
            SerialNumber += 1;  // the rejected unit may carry it: consumed
        else if (numbered)
            ReleaseSerialNumber();
        View.Tell(text + Session->Explanation());
    } else {
        PassRecord();
        View.AttemptPassed();
        if (numbered) {
            SerialNumber += 1;  // unsigned: 4294967295 goes on at 0
            Count = AddWrapped(Count, CountUp == 1 ? 1 : -1);
            CommitCount();
        }
    }
}

CUnitResult CStation::CheckFuse(CStationSetup& setup)
{
    Use(setup);
    Outcome = {};
    Outcome.Result = "refused";
    if (!EnterRecipe()) {
        Keep(setup);
        return Outcome;
    }
    Outcome.Started = true;
    View.AttemptStarted();
    if (!BeginRecord("fuse", nullptr, setup.DeviceNumber) || !OpenSession()) {
        Keep(setup);
        return Outcome;
    }
    int32_t blown = 0;
    std::string text;
    if (!Session->CheckFuse(DeviceName, Vcc, blown)) {
        text = SessionErrorText();
        FailRecord(text);
        View.AttemptFailed();
        text += Session->Explanation();
    } else {
        PassRecord(blown);
        View.AttemptPassed();
        text = blown ? "Fuse is blown" : "Fuse is NOT blown";
    }
    View.Tell(text);
    CloseSession();
    Keep(setup);
    return Outcome;
}

// The number about to be written is consumed in the store before the unit
// sees it: whatever happens next, no later start can issue it again.
bool CStation::ReserveSerialNumber()
{
    if (!SettingsLoaded || Line)  // in a line, the pool holds it
        return true;
    return StoreNextNumber(SerialNumber + 1);
}

bool CStation::StoreNextNumber(uint32_t next)
{
    CSettingsStore store = OpenSettingsStore();
    store.WriteProfileInt(Section, SerialNumberName, next);
    return store.Flush();
}

// A batch that failed before the number was sent to the unit gives it back.
void CStation::ReleaseSerialNumber()
{
    if (!SettingsLoaded || Line)
        return;
    CSettingsStore store = OpenSettingsStore();
    store.WriteProfileInt(Section, SerialNumberName, SerialNumber);
    Written(store, "Serial number " + std::to_string(SerialNumber) + " could not be given back: it stays unused.");
}

void CStation::CommitCount()
{
    if (!SettingsLoaded)
        return;
    CSettingsStore store = OpenSettingsStore();
    store.WriteProfileInt(Section, CountName, Count);
    Written(store, "The unit passed, but Count " + std::to_string(Count) + " could not be saved.");
}

bool CStation::Written(CSettingsStore& store, const std::string& what)
{
    if (store.Flush())
        return true;
    View.Tell(what + "\nThe settings cannot be written to\n" + store.Location());
    return false;
}

CStationSetup LoadStationSetup(const CSettingsStore& store)
{
    CStationSetup s;
    s.CommPort = store.GetProfileString(Section, "CommPort", "COM1");
    s.Baud = static_cast<int32_t>(store.GetProfileInt(Section, "Baud", 57600));
    s.DeviceName = store.GetProfileString(Section, "DeviceName", "MSP430F112");
    s.FileName = store.GetProfileString(Section, "FileName", "");
    s.Vcc = ParseVccText(store.GetProfileString(Section, "VCC", DefaultVccText));
    s.BlowFuse = static_cast<int32_t>(store.GetProfileInt(Section, "BlowFuse", 0));
    s.EraseFlash = static_cast<int32_t>(store.GetProfileInt(Section, "EraseFlash", 0));
    s.SerialNumber = store.GetProfileInt(Section, SerialNumberName, 0);
    s.SerialAddress = store.GetProfileString(Section, "SerialAddress", s.SerialAddress);
    s.SerialType = static_cast<int32_t>(store.GetProfileInt(Section, "SerialType", 0));
    if (!IsSerialType(s.SerialType))
        s.SerialType = 0;
    s.Count = static_cast<int32_t>(store.GetProfileInt(Section, CountName, 0));
    s.CountUp = static_cast<int32_t>(store.GetProfileInt(Section, "CountUp", 1));
    return s;
}

std::string StoredVccProblem(const CSettingsStore& store)
{
    const std::string text = store.GetProfileString(Section, "VCC", DefaultVccText);
    if (IsAcceptableVccText(text))
        return {};
    const std::string shown = text.size() > 40 ? text.substr(0, 40) + "..." : text;
    return "VCC \"" + shown + "\" in the settings\n" + store.Location() + "\n" + VccRefusedMessage;
}

std::vector<std::string> DeviceNames()
{
    std::vector<std::string> names;
    const int32_t count = GetDeviceCfgInfo(VELK_CFG_DEVICE_COUNT, 0, nullptr);
    for (int32_t i = 0; i < count; ++i) {
        // One byte more than the library's buffer, zeroed: a name the
        // library leaves unterminated still ends inside the array.
        char entry[VELK_DEVICE_NAME_BUFFER + 1] = {};
        if (GetDeviceCfgInfo(VELK_CFG_SELECT_DEVICE, i, nullptr) != 0 ||
            GetDeviceCfgInfo(VELK_CFG_DEVICE_NAME, 0, entry) != 0)
            return {};
        names.emplace_back(entry);
    }
    return names;
}

bool GetDefaultVcc(int32_t device, int32_t& millivolts)
{
    millivolts = 0;
    if (GetDeviceCfgInfo(VELK_CFG_SELECT_DEVICE, device, nullptr) != 0)
        return false;
    int32_t values[VELK_DEVICE_VALUES] = {};
    if (GetDeviceCfgInfo(VELK_CFG_DEVICE_VALUES, 0, values) != 0)
        return false;
    millivolts = values[VELK_VALUE_SUPPLY];
    return true;
}

int32_t FindDeviceNumber(const std::string& name)
{
    const std::vector<std::string> names = DeviceNames();
    const QString wanted = QString::fromStdString(name);
    for (size_t i = 0; i < names.size(); ++i)
        if (QString::fromStdString(names[i]).compare(wanted, Qt::CaseInsensitive) == 0)
            return static_cast<int32_t>(i);
    return -1;
}
