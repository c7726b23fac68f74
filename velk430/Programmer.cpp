#include "Programmer.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

#include "Codes.h"
#include "Shared.h"

namespace velk {

namespace {
constexpr std::chrono::milliseconds kCatchUp{20};
}  // namespace

double LinkSeconds(uint64_t bytes, int32_t baud)
{
    return baud > 0 ? static_cast<double>(bytes) * 10.0 / baud : 0.0;
}

bool CProgrammer::EnsureTable()
{
    // Reloaded when the place it comes from changes (VELK430_DEVICE_CFG).
    const auto candidates = DeviceCfgCandidates();
    const std::string where = candidates.empty() ? std::string() : candidates.front();
    if (!TableLoaded || where != TablePath) {
        TablePath = where;
        TableLoaded = LoadDefaultDeviceTable(Table);
        CfgCurrent = -1;
        // Indexes into the old table mean nothing now.
        DeviceType = -1;
        Ready = false;
    }
    return TableLoaded;
}

bool CProgrammer::Fault(const char* function, int32_t& code)
{
    if (!Open || !Store) return false;
    // velk430-sim may add failures while the port is open: reread the
    // settings whenever the file was replaced.
    struct stat st{};
    if (stat(Store->SettingsPath().c_str(), &st) == 0) {
        const std::array<int64_t, 4> key{static_cast<int64_t>(st.st_ino), static_cast<int64_t>(st.st_size),
                                         static_cast<int64_t>(st.st_mtim.tv_sec),
                                         static_cast<int64_t>(st.st_mtim.tv_nsec)};
        if (key != SettingsKey) {
            Settings = Store->LoadSettings();
            SettingsKey = key;
        }
    }
    for (const auto& f : Settings.Faults)
        if (f.Function == function && f.Count > 0) {
            const bool hit = Store->ConsumeFault(function, code);
            Settings = Store->LoadSettings();
            SettingsKey = {};
            return hit;
        }
    return false;
}

void CProgrammer::Notify(uint32_t type, intptr_t value)
{
    if (Window && Window->Deliver) Window->Deliver(Window, Message, type, value);
}

void CProgrammer::Transfer(uint64_t bytes) { Wait(LinkSeconds(bytes, Baud)); }

void CProgrammer::Wait(double seconds)
{
    Modelled += seconds;
    if (Fast || seconds <= 0) return;
    // A wake-up a few ms late (a busy host, several programmers at once) is
    // made up on the following waits, as a real link's buffers would; a
    // longer stall of ours delays the link.
    const auto now = std::chrono::steady_clock::now();
    if (Due + kCatchUp < now) Due = now;
    Due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    std::this_thread::sleep_until(Due);
}

// A call that did not give its success marks the unit as not passed (it is
// not taken off the socket at release).
int32_t CProgrammer::Outcome(int32_t result, int32_t success)
{
    if (result != success) Passed = false;
    return result;
}

// Each block of the image in address order, with the bar moved after it;
// stops at the first block the call refuses.
template <class F>
bool CProgrammer::EachBlock(const CImage& image, CProgress& progress, F call)
{
    for (const auto& s : image.Sections)
        for (size_t off = 0; off < s.Bytes.size(); off += kBlockBytes) {
            const size_t n = std::min<size_t>(kBlockBytes, s.Bytes.size() - off);
            if (!call(s.Start + static_cast<uint32_t>(off), s.Bytes.data() + off, n)) return false;
            progress.Step(n);
        }
    return true;
}

int32_t CProgrammer::InitCom(const char* port, int32_t baud)
{
    std::string name;
    if (!ReadName(port, VELK_PORT_BUFFER, name)) return kBadArgument;
    if (Open) return kAlreadyOpen;
    // The programmer that answers on the name; COM1's takes an injected
    // InitCom failure when none does.
    const std::string root = CSimStore::DefaultDir();
    const int slot = CSimStore::Answering(root, name);
    CSimStore store(root, slot > 0 ? slot : 1);
    CSimSettings settings = store.LoadSettings();
    int32_t code;
    {
        // An injected InitCom failure is taken before the port opens.
        bool due = false;
        for (const auto& f : settings.Faults)
            if (f.Function == "InitCom" && f.Count > 0) due = true;
        if (due && store.ConsumeFault("InitCom", code)) return code;
    }
    if (slot == 0) return kNoProgrammer;
    if (!IsSupportedBaud(baud)) return kBadBaud;
    if (!EnsureTable()) return kConfigError;
    // A unit that cannot be read or kept would come back blank after a
    // batch that passed: the port does not open on it.
    if (!store.StateFilesUsable()) return kStateFile;
    const int lock = store.LockProgrammer();
    if (lock < 0) return kPortBusy;
    CUnit unit = store.LoadUnitOrFresh(Table);
    if (!store.SaveUnit(unit)) {
        CSimStore::UnlockProgrammer(lock);
        return kStateFile;
    }
    LockFd = lock;
    Store = store;
    Settings = std::move(settings);
    SettingsKey = {};
    Socket = std::move(unit);
    Open = true;
    Baud = baud;
    Fast = store.FastTiming();
    DeviceType = -1;
    Vcc = 0;
    Ready = FuseBlownHere = Programmed = Passed = false;
    Modelled = 0;
    Due = std::chrono::steady_clock::now();
    Transfer(kFrameBytes);
    return kOk;
}

int32_t CProgrammer::SetNotificationWnd(VelkNotifyWindow* window, uint32_t message)
{
    int32_t code;
    if (Fault("SetNotificationWnd", code)) return code;
    Window = window;
    Message = message;
    return kOk;
}

int32_t CProgrammer::ReleaseCom()
{
    if (!Open) return kNotOpen;
    int32_t code = kOk;
    Fault("ReleaseCom", code);  // the port closes all the same
    Ready = false;
    Vcc = 0;
    bool kept = true;
    if (Settings.Feed == EFeed::Auto && Passed) {
        // The operator takes the finished unit off; a blank one of the same type follows.
        kept = Store->AppendToTray(*Socket) && Store->SaveUnitTo(Store->PreviousUnitPath(), *Socket);
        Socket = CUnit(Socket->Device());
    }
    kept = Store->SaveUnit(*Socket) && kept;
    Socket.reset();
    Store.reset();
    CSimStore::UnlockProgrammer(LockFd);
    LockFd = -1;
    Open = false;
    return code == kOk && !kept ? kStateFile : code;
}

int32_t CProgrammer::SetDeviceType(const char* name)
{
    std::string n;
    if (!ReadName(name, VELK_NAME_BUFFER, n)) return kBadArgument;
    if (!Open) return kNotOpen;
    int32_t r;
    if (!Fault("SetDeviceType", r)) {
        const int32_t i = Table.IndexOf(n);
        if (i < 0) {
            r = kUnknownDevice;
        } else {
            DeviceType = i;
            Ready = false;
            Transfer(kFrameBytes + n.size());
            r = kOk;
        }
    }
    return Outcome(r, kOk);
}

int32_t CProgrammer::SetVcc(uint32_t millivolts)
{
    if (!Open) return kNotOpen;
    int32_t r;
    if (!Fault("SetVcc", r)) {
        if (millivolts == 0) {
            Vcc = 0;
            Ready = false;
            r = kOk;
        } else if (DeviceType < 0) {
            r = kNoDeviceType;
        } else {
            const CDevice& d = Table.Devices()[static_cast<size_t>(DeviceType)];
            if (millivolts < static_cast<uint32_t>(d.SupplyMin) || millivolts > static_cast<uint32_t>(d.SupplyMax)) {
                r = kVccRange;
            } else {
                Vcc = millivolts;
                r = kOk;
            }
        }
        if (r == kOk) Transfer(kFrameBytes);
    }
    return Outcome(r, kOk);
}

int32_t CProgrammer::InitTarget(const char* name)
{
    std::string n;
    if (!ReadName(name, VELK_NAME_BUFFER, n)) return kBadArgument;
    if (!Open) return kNotOpen;
    int32_t r;
    if (!Fault("InitTarget", r)) {
        if (DeviceType < 0) {
            r = kNoDeviceType;
        } else {
            const CDevice& d = Table.Devices()[static_cast<size_t>(DeviceType)];
            if (!SameName(n, d.Name)) r = kNameMismatch;
            else if (Vcc == 0 || Vcc < static_cast<uint32_t>(d.ProgramMin)) r = kNoSupply;
            else if (Socket->FuseBlown()) r = kFuseBlown;
            else if (!SameName(Socket->Device().Name, d.Name)) r = kWrongDevice;
            else r = kOk;
        }
        Transfer(kFrameBytes + n.size());
        Ready = r == kOk;
    }
    return Outcome(r, kOk);
}

int32_t CProgrammer::ReleaseTarget()
{
    if (!Open) return kNotOpen;
    int32_t r = kOk;
    if (!Fault("ReleaseTarget", r)) {
        if (Ready) Transfer(kFrameBytes);
        Ready = false;
    }
    return r;
}

int32_t CProgrammer::GetDeviceCfgInfo(int32_t selector, int32_t index, void* buffer)
{
    int32_t code;
    if (Fault("GetDeviceCfgInfo", code)) return code;
    if (selector != VELK_CFG_DEVICE_COUNT && selector != VELK_CFG_SELECT_DEVICE && selector != VELK_CFG_DEVICE_NAME &&
        selector != VELK_CFG_REGION_COUNT && selector != VELK_CFG_REGION && selector != VELK_CFG_DEVICE_VALUES)
        return kBadArgument;
    if (!EnsureTable()) return kConfigError;
    const auto& devices = Table.Devices();
    if (selector == VELK_CFG_DEVICE_COUNT) return index == 0 ? static_cast<int32_t>(devices.size()) : kBadArgument;
    if (selector == VELK_CFG_SELECT_DEVICE) {
        if (index < 0 || static_cast<size_t>(index) >= devices.size()) return kBadArgument;
        CfgCurrent = index;
        return kOk;
    }
    if (CfgCurrent < 0) return kNoCurrentDevice;
    const CDevice& d = devices[static_cast<size_t>(CfgCurrent)];
    if (selector == VELK_CFG_REGION) {
        if (!buffer || index < 0 || static_cast<size_t>(index) >= d.Regions.size()) return kBadArgument;
        const CRegion& r = d.Regions[static_cast<size_t>(index)];
        const VelkRegion v = {r.Type, static_cast<int32_t>(r.Start), static_cast<int32_t>(r.SegmentSize),
                              static_cast<int32_t>(r.SegmentCount)};
        std::memcpy(buffer, &v, sizeof v);
        return kOk;
    }
    if (index != 0) return kBadArgument;
    if (selector == VELK_CFG_REGION_COUNT) return static_cast<int32_t>(d.Regions.size());
    if (!buffer) return kBadArgument;
    if (selector == VELK_CFG_DEVICE_NAME) {
        std::memcpy(buffer, d.Name.c_str(), d.Name.size() + 1);  // at most VELK_DEVICE_NAME_BUFFER bytes
        return kOk;
    }
    int32_t v[VELK_DEVICE_VALUES];
    d.Values(v);
    std::memcpy(buffer, v, sizeof v);
    return kOk;
}

int32_t CProgrammer::TargetCheck(const char* function)
{
    if (!Open) return kNotOpen;
    int32_t code;
    if (Fault(function, code)) return code;
    if (Socket->FuseBlown()) return kFuseBlown;
    if (!Ready) return kTargetNotReady;
    return kOk;
}

int32_t CProgrammer::Erase(int32_t address, int32_t size, int32_t mode)
{
    int32_t r;
    if (mode != 1 || address < 0 || size <= 0) {
        r = kBadArgument;
    } else if ((r = TargetCheck("Erase")) == kOk) {
        CProgress progress(Window, Message, kNotifyErase, 1);
        r = Socket->EraseSegment(static_cast<uint32_t>(address), static_cast<uint32_t>(size));
        if (r == kOk) {
            Transfer(kFrameBytes);
            Wait(Socket->Device().EraseMs / 1000.0);
            progress.Finish();
        }
    }
    return Outcome(r, kOk);
}

int32_t CProgrammer::ProgramImage(const CImage& image, bool eraseMain)
{
    if (eraseMain) {
        const uint32_t segments = Socket->EraseMain();
        CProgress progress(Window, Message, kNotifyErase, segments);
        const double eraseSeconds = Socket->Device().EraseMs / 1000.0;
        for (uint32_t i = 0; i < segments; ++i) {
            Transfer(kFrameBytes);
            Wait(eraseSeconds);
            progress.Step(1);
        }
        progress.Finish();
    }
    CProgress progress(Window, Message, kNotifyProgram, image.ByteCount());
    EachBlock(image, progress, [this](uint32_t address, const uint8_t* bytes, size_t n) {
        Socket->Program(address, bytes, n);
        Transfer(kFrameBytes + n);
        return true;
    });
    progress.Finish();
    return kDone;
}

int32_t CProgrammer::ProgramFile(const char* path, int32_t a, int32_t b, int32_t c)
{
    std::string p;
    int32_t r;
    if (!ReadName(path, VELK_PATH_BUFFER, p) || a != 0 || c != 0 || (b != 0 && b != 1)) {
        r = kBadArgument;
    } else if ((r = TargetCheck("ProgramFile")) == kOk) {
        // The whole file is read and checked before anything is written.
        const CImageResult file = ReadImageFile(p);
        r = FileCode(file);
        if (r == kOk) r = CheckImage(Socket->Device(), file.Image);
        if (r == kOk) r = ProgramImage(file.Image, b == 1);
    }
    if (r == kDone) Programmed = true;
    else Programmed = Passed = false;
    return r;
}

int32_t CProgrammer::VerifyFile(const char* path, int32_t a)
{
    std::string p;
    int32_t r;
    if (!ReadName(path, VELK_PATH_BUFFER, p) || a != 0) {
        r = kBadArgument;
    } else if ((r = TargetCheck("VerifyFile")) == kOk) {
        const CImageResult file = ReadImageFile(p);
        r = FileCode(file);
        if (r == kOk) r = CheckImage(Socket->Device(), file.Image);
        if (r == kOk) {
            CProgress progress(Window, Message, kNotifyVerify, file.Image.ByteCount());
            // A differing block still moves the bar before the verify stops.
            const bool equal = EachBlock(file.Image, progress, [&](uint32_t address, const uint8_t* bytes, size_t n) {
                Transfer(kFrameBytes + n);
                if (Socket->Verify(address, bytes, n)) return true;
                progress.Step(n);
                return false;
            });
            r = equal ? kDone : kVerifyMismatch;
            if (equal) progress.Finish();
        }
    }
    if (r == kDone && Programmed) Passed = true;
    return Outcome(r, kDone);
}

int32_t CProgrammer::ProgramData(int32_t address, int32_t count, const unsigned char* bytes)
{
    return Data("ProgramData", address, count, bytes, true);
}

int32_t CProgrammer::VerifyData(int32_t address, int32_t count, const unsigned char* bytes)
{
    return Data("VerifyData", address, count, bytes, false);
}

// ProgramData (write) and VerifyData: 1 to 16 bytes at an address.
int32_t CProgrammer::Data(const char* function, int32_t address, int32_t count, const unsigned char* bytes,
                          bool write)
{
    if (!bytes || count < 1 || count > 16 || address < 0) return Outcome(kBadArgument, kDone);
    const uint32_t at = static_cast<uint32_t>(address), n = static_cast<uint32_t>(count);
    int32_t r = TargetCheck(function);
    if (r == kOk) r = write ? Socket->CheckWritable(at, n) : Socket->CheckReadable(at, n);
    if (r != kOk) return Outcome(r, kDone);
    CProgress progress(Window, Message, kNotifyData, 1);
    if (write) Socket->Program(at, bytes, n);
    Transfer(kFrameBytes + n);
    if (!write && !Socket->Verify(at, bytes, n)) return Outcome(kVerifyMismatch, kDone);
    progress.Finish();
    return kDone;
}

int32_t CProgrammer::BlowFuse()
{
    const int32_t r = TargetCheck("BlowFuse");
    if (r == kOk) {
        Notify(kNotifyBusy, 0);
        Socket->BlowFuse();
        FuseBlownHere = true;
        Transfer(kFrameBytes);
        Notify(kNotifyIdle, 0);
    }
    return Outcome(r, kOk);
}

int32_t CProgrammer::Reset(int32_t mode)
{
    int32_t r;
    if (mode != 1) {
        r = kBadArgument;
    } else {
        r = TargetCheck("Reset");
        if (r == kOk || r == kFuseBlown) Transfer(kFrameBytes);
    }
    // A blown fuse is the expected answer right after BlowFuse.
    return Outcome(r, FuseBlownHere && r == kFuseBlown ? kFuseBlown : kOk);
}

}  // namespace velk
