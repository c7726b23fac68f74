#include "VELK.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "CriticalError.h"
#include "SerialNumber.h"

namespace {


__attribute__((format(printf, 1, 2)))
std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(again);
    return text;
}

// Library results printed as hexadecimal are the 32-bit pattern, unsigned.
unsigned long Hex(int32_t result)
{
    return static_cast<unsigned long>(static_cast<uint32_t>(result));
}

// The step a refused name stops: the call it was meant for.
const char* NameStep(const char* what)
{
    if (std::strcmp(what, "Port") == 0) return "Open";
    if (std::strcmp(what, "File") == 0) return "Program";
    return "Device type";
}

int32_t ClampToInt32(int64_t value)
{
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace

CVELK::CVELK(VelkNotifyWindow* window, uint32_t message,
             CTextWindow* status, CProgressWindow* progress)
    : NotifyWindow(window), NotifyMessage(message),
      StatusControl(status), ProgressControl(progress)
{
}

bool CVELK::CopyName(const std::string& name, char* buffer, int32_t size, const char* what)
{
    if (name.size() >= static_cast<size_t>(size)) {
        const long long length = static_cast<long long>(name.size());
        ErrorText = Format("%s name too long (%lld characters)", what, length);
        SetFailure(NameStep(what));
        return false;
    }
    // The library sees the name only up to its first NUL: a name with one
    // inside would reach another port, device or file than the one shown.
    if (name.find('\0') != std::string::npos) {
        ErrorText = Format("%s name contains a NUL character", what);
        SetFailure(NameStep(what));
        return false;
    }
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    return true;
}

int CVELK::Open(const std::string& port, int32_t baud)
{
    char portCopy[PortBufferSize];
    const bool fits = CopyName(port, portCopy, PortBufferSize, "Port");
    SetStatusText("Initializing VELK");
    if (!fits) {
        SetStatusText("Comm failed");
        return 0;
    }
    const int32_t result = InitCom(portCopy, baud);
    if (result != 0) {
        ErrorText = Format("Unable to open VELK on %s at %ld (%d)", port.c_str(),
                           static_cast<long>(baud), result);
        SetFailure("Open", result);
        SetStatusText("Comm failed");
        return 0;
    }
    SetNotificationWnd(NotifyWindow, NotifyMessage);
    return 1;
}

void CVELK::Close()
{
    SetNotificationWnd(nullptr, NotifyMessage);
    SetTargetVcc(0);
    ReleaseCom();
}

bool CVELK::CallWithDeviceName(const std::string& deviceName, int32_t (*call)(char*), int32_t& result)
{
    char name[DeviceBufferSize];
    result = 0;
    if (!CopyName(deviceName, name, DeviceBufferSize, "Device")) return false;
    result = call(name);
    return true;
}

int CVELK::DeviceResult(int32_t result, const char* failure, const std::string& deviceName)
{
    if (result == 0) return 1;
    ErrorText = Format("%s %s (%d)", failure, deviceName.c_str(), result);
    SetFailure(std::strcmp(failure, "Unable to set device type") == 0 ? "Device type" : "Target", result);
    return 0;
}

int CVELK::SelectDeviceType(const std::string& deviceName)
{
    int32_t result = 0;
    if (!CallWithDeviceName(deviceName, SetDeviceType, result)) return 0;
    return DeviceResult(result, "Unable to set device type", deviceName);
}

int CVELK::InitializeTarget(const std::string& deviceName)
{
    int32_t result = 0;
    if (!CallWithDeviceName(deviceName, InitTarget, result)) return 0;
    return DeviceResult(result, "Unable to initialize target", deviceName);
}

int CVELK::FinishTarget()
{
    ReleaseTarget();
    return 1;
}

int CVELK::SetTargetVcc(uint32_t millivolts)
{
    const int32_t result = SetVcc(millivolts);
    if (result != 0) {
        ErrorText = Format("Unable to set target VCC to %lf volts (%d)",
                           static_cast<double>(millivolts) * 0.001, result);
        SetFailure("Supply", result);
        return 0;
    }
    return 1;
}

void CVELK::GetErrorText(std::string& text)
{
    text = ErrorText;
}

std::string CVELK::Explanation() const
{
    std::string lines;
    if (!Failure.Reason.empty()) lines += "\n" + Failure.Reason;
    if (Failure.HasCode)
        if (const std::string meaning = ResultMeaning(Failure.Code); !meaning.empty()) lines += "\n" + meaning;
    return lines;
}

void CVELK::CriticalError(const std::string& what, const std::string& operation)
{
    const std::string text = Format("%s in CVELK::%s()\n\nContact program vendor\n",
                                    what.c_str(), operation.c_str());
    ShowCriticalError("CVELK Critical Error", text);
    ErrorText = text;
    SetFailure("Fault");
}

void CVELK::SetStatusText(const std::string& text)
{
    if (StatusControl) StatusControl->SetWindowText(text);
}

void CVELK::BeginProgress(int32_t range)
{
    if (!ProgressControl) return;
    StepCounter = 1;
    ProgressControl->SetRange32(0, range);
    ProgressControl->SetPos(0);
}

int32_t CVELK::SetProgress(int32_t position)
{
    if (!ProgressControl) return 0;
    return ProgressControl->SetPos(position);
}

void CVELK::ProgressStep()
{
    SetProgress(StepCounter);
    StepCounter = static_cast<int32_t>(static_cast<uint32_t>(StepCounter) + 1u);
}

int32_t CVELK::OnNotification(uint32_t type, int32_t value)
{
    switch (type) {
    case VELK_NOTIFY_ERASE:
    case VELK_NOTIFY_PROGRAM:
    case VELK_NOTIFY_VERIFY:
    case VELK_NOTIFY_DATA:
        // 20 * value - 1000 in unsigned 32-bit arithmetic: any value gives
        // a defined position (wrapping around) instead of a signed overflow.
        SetProgress(static_cast<int32_t>(20u * static_cast<uint32_t>(value) - 1000u));
        break;
    default:
        break;
    }
    return 0;
}

uint32_t CVELK::VoltsToMillivolts(double volts)
{
    // Stored through a volatile double so that the product is rounded to
    // double precision before truncation (3.3 * 1000 must not become 3299).
    volatile double product = volts * 1000.0;
    const double millivolts = product;
    if (!(millivolts > -1.0 && millivolts < 4294967296.0)) return UINT32_MAX;
    if (millivolts <= 0.0) return 0;
    return static_cast<uint32_t>(millivolts);
}

int CVELK::EndProcedure(const char* status, StatusOrder order, Supply supply)
{
    if (order == StatusOrder::BeforeBar) SetStatusText(status);
    SetProgress(0);
    if (order == StatusOrder::AfterBar) SetStatusText(status);
    if (supply == Supply::Off) SetTargetVcc(0);
    return 0;
}

int CVELK::BatchProgram(const std::string& deviceName, int32_t deviceNumber, double vcc,
                        const std::string& fileName, int32_t blowFuse, int32_t eraseFlash,
                        CSerialNumber* record)
{
    SerialSent = false;
    if (record == nullptr) {
        CriticalError("NULL Serial Number Instance", "BatchProgram");
        return 0;
    }
    DeviceNumberField = deviceNumber;
    BeginProgress(1000);
    SetStatusText("Executing batch programming");
    ProgressStep();
    if (!SelectDeviceType(deviceName))
        return EndProcedure("Could not set device type", StatusOrder::BeforeBar, Supply::On);
    ProgressStep();
    SetStatusText("Setting VCC");
    if (!SetTargetVcc(VoltsToMillivolts(vcc)))
        return EndProcedure("Could not set VCC", StatusOrder::BeforeBar, Supply::On);
    ProgressStep();
    SetStatusText("Initializing target");
    if (!InitializeTarget(deviceName))
        return EndProcedure("Could not initialize target", StatusOrder::BeforeBar, Supply::Off);

    if (const char* failure = ProgramTarget(fileName, blowFuse, eraseFlash, record)) {
        FinishTarget();
        return EndProcedure(failure, StatusOrder::AfterBar, Supply::Off);
    }
    ProgressStep();
    SetStatusText("Releasing target");
    FinishTarget();
    EndProcedure("Batch executed successfully", StatusOrder::AfterBar, Supply::Off);
    return 1;
}

const char* CVELK::ProgramTarget(const std::string& fileName, int32_t blowFuse, int32_t eraseFlash,
                                 CSerialNumber* record)
{
    constexpr const char* interrupted = "Batch interrupted";
    if (Stopped()) return interrupted;
    if (eraseFlash == 1 && !EraseInfoFlash()) return "Flash erase failed";
    if (Stopped()) return interrupted;
    if (!ProgramAndVerifyFile(fileName, 1)) return "Batch program failed";
    if (Stopped()) return interrupted;
    if (!ProgramSerialNumber(record)) return "Serial number failed";
    if (Stopped()) return interrupted;
    if (blowFuse == 1 && !BlowAndCheckFuse()) return "Fuse blow failed";
    return nullptr;
}

bool CVELK::Stopped()
{
    if (!Stop || !Stop->load()) return false;
    ErrorText = "Interrupted";
    SetFailure("Interrupted");
    return true;
}

int CVELK::EraseInfoFlash()
{
    SetProgress(50);
    SetStatusText("Preparing flash erase");
    if (const int32_t found = GetDeviceCfgInfo(VELK_CFG_SELECT_DEVICE, DeviceNumberField, nullptr); found != 0) {
        ErrorText = "Could not read config file";
        SetFailure("Erase", found);
        return 0;
    }
    const int32_t regions = GetDeviceCfgInfo(VELK_CFG_REGION_COUNT, 0, nullptr);
    if (regions <= 0) return 1;

    // First pass: count the segments and check every address, so that a
    // layout with a segment beyond 32 bits fails before anything is erased.
    int64_t total = 0;
    for (int32_t i = 0; i < regions; ++i) {
        VelkRegion region{};
        if (!ReadRegion(i, region)) return 0;
        SetProgress(ClampToInt32(60 + 10 * static_cast<int64_t>(i)));
        if (region.Type != VELK_REGION_INFO) continue;
        if (!CheckSegmentAddresses(region)) return 0;
        if (region.SegmentCount > 0) total += region.SegmentCount;
    }
    if (total == 0) return 1;

    int64_t position = 100;
    const int64_t step = total > 900 ? 0 : 900 / total;
    SetProgress(100);
    SetStatusText("Erasing flash");
    for (int32_t j = 0; j < regions; ++j) {
        VelkRegion region{};
        if (!ReadRegion(j, region)) return 0;
        if (region.Type != VELK_REGION_INFO) continue;
        SetStatusText("Erasing info flash");
        // The library is asked again: its second answer is checked too.
        if (!CheckSegmentAddresses(region) || !EraseSegments(region, step, position)) return 0;
    }
    SetStatusText("Flash erased");
    return 1;
}

bool CVELK::ReadRegion(int32_t index, VelkRegion& region)
{
    const int32_t found = GetDeviceCfgInfo(VELK_CFG_REGION, index, &region);
    if (found == 0) return true;
    ErrorText = "Could not read config file";
    SetFailure("Erase", found);
    return false;
}

bool CVELK::CheckSegmentAddresses(const VelkRegion& region)
{
    // Addresses run linearly from the start: the first one outside 32 bits
    // is found by division, without walking up to 2^31 segments.
    const int64_t start = region.Start;
    const int64_t size = region.SegmentSize;
    const int64_t count = region.SegmentCount;
    int64_t steps = -1;   // index of the first segment out of range, if any
    if (size > 0) steps = (INT32_MAX - start) / size + 1;
    if (size < 0) steps = (start - INT32_MIN) / -size + 1;
    if (steps < 0 || steps >= count) return true;
    ErrorText = Format("Segment address out of range (%lld)",
                       static_cast<long long>(start + size * steps));
    SetFailure("Erase");
    return false;
}

bool CVELK::EraseSegments(const VelkRegion& region, int64_t step, int64_t& position)
{
    for (int32_t k = 0; k < region.SegmentCount; ++k) {
        const auto address = static_cast<int32_t>(region.Start + static_cast<int64_t>(region.SegmentSize) * k);
        int32_t erased = -1;
        for (int attempt = 0; attempt < 3 && erased != 0; ++attempt)
            erased = Erase(address, region.SegmentSize, 1);
        if (erased != 0) {
            ErrorText = Format("Could not erase segment %04lX", Hex(address));
            SetFailure("Erase", erased);
            return false;
        }
        position += step;
        SetProgress(ClampToInt32(position));
    }
    return true;
}

int CVELK::ProgramAndVerifyFile(const std::string& fileName, int32_t passes)
{
    char file[FileBufferSize];
    if (!CopyName(fileName, file, FileBufferSize, "File")) return 0;
    for (int32_t pass = 0; pass < passes; ++pass) {
        ProgressStep();
        SetStatusText("Programming file");
        const int32_t programmed = ProgramFile(file, 0, 1, 0);
        if (programmed != VELK_DONE) {
            ErrorText = Format("Unable to program (%d)", programmed);
            SetFailure("Program", programmed);
            return 0;
        }
        ProgressStep();
        SetStatusText("Verifying file");
        const int32_t verified = VerifyFile(file, 0);
        if (verified != VELK_DONE) {
            ErrorText = Format("Unable to verify (%04lX)", Hex(verified));
            SetFailure("Verify", verified);
            return 0;
        }
    }
    return 1;
}

int CVELK::ProgramSerialNumber(CSerialNumber* record)
{
    if (record == nullptr) {
        CriticalError("NULL Serial Number Instance", "ProgramSerialNumber");
        return 0;
    }
    unsigned char bytes[16] = {};
    const int32_t address = record->GetAddress();
    const int32_t count = record->CopyBytes(bytes, sizeof bytes);
    if (count <= 0) return 1;

    ProgressStep();
    // From here on the unit may hold the number; set before the status text
    // so that whoever watches the text (a gang's worker) knows it first.
    SerialSent = true;
    SetStatusText("Programming serial number");
    const int32_t written = ProgramData(address, count, bytes);
    if (written != VELK_DONE) {
        ErrorText = Format("Unable to program serial number (%04lX)", Hex(written));
        SetFailure("Serial number", written);
        return 0;
    }
    ProgressStep();
    SetStatusText("Checking serial number");
    const int32_t verified = VerifyData(address, count, bytes);
    if (verified != VELK_DONE) {
        ErrorText = Format("Unable to verify serial number (%04lX)", Hex(verified));
        SetFailure("Serial verify", verified);
        return 0;
    }
    return 1;
}

int CVELK::BlowAndCheckFuse()
{
    ProgressStep();
    SetStatusText("Blowing fuse");
    BlowFuse();
    // Its result is not looked at, but the library may say why it failed.
    std::string reason = LibraryReason();
    ProgressStep();
    SetStatusText("Checking fuse");
    const int32_t checked = Reset(1);
    if (checked == VELK_FUSE_BLOWN) return 1;
    ErrorText = "Fuse blow failed";
    if (reason.empty()) reason = LibraryReason();
    SetFailure("Fuse", checked, std::move(reason));
    return 0;
}

int CVELK::CheckFuse(const std::string& deviceName, double vcc, int32_t& blown)
{
    BeginProgress(1000);
    SetStatusText("Checking fuse");
    blown = 0;

    // The fuse check advances its counter by 250 before showing it.
    auto advance = [this] {
        StepCounter = static_cast<int32_t>(static_cast<uint32_t>(StepCounter) + 250u);
        SetProgress(StepCounter);
    };

    advance();
    SetStatusText("Setting device type");
    if (!SelectDeviceType(deviceName))
        return EndProcedure("Unable to set device type", StatusOrder::AfterBar, Supply::On);
    advance();
    SetStatusText("Setting VCC");
    if (!SetTargetVcc(VoltsToMillivolts(vcc)))
        return EndProcedure("Unable to set VCC", StatusOrder::AfterBar, Supply::On);
    advance();
    int32_t result = 0;
    if (!CallWithDeviceName(deviceName, InitTarget, result)) {
        // Unreachable: SelectDeviceType refused the same name already.
        return EndProcedure("Unable to set device type", StatusOrder::AfterBar, Supply::On);
    }
    advance();
    std::string reason = LibraryReason();   // before ReleaseTarget, which clears it
    ReleaseTarget();
    // Only a target that answered tells anything about its fuse: any other
    // result (no unit seated, no supply, another device) is a failure.
    if (result != VELK_FUSE_BLOWN && !DeviceResult(result, "Unable to initialize target", deviceName)) {
        Failure.Reason = std::move(reason);
        return EndProcedure("Unable to initialize target", StatusOrder::AfterBar, Supply::On);
    }
    blown = result == VELK_FUSE_BLOWN ? 1 : 0;
    EndProcedure(blown ? "Fuse is blown" : "Fuse is NOT blown", StatusOrder::BeforeBar, Supply::On);
    return 1;
}
