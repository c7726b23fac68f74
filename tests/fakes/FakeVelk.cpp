#include "FakeVelk.h"

#include <cstdio>
#include <cstring>

CFakeDevice::CFakeDevice(std::string name, int32_t vccMillivolts,
                         std::vector<CFakeRegion> regions)
    : Name(std::move(name)), Regions(std::move(regions))
{
    Values[2] = vccMillivolts;
}

std::string CFakeCall::ToString() const
{
    auto arg = [this](size_t i) { return i < Args.size() ? std::to_string(Args[i]) : std::string("?"); };
    auto hex = [this](size_t i) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%llX",
                      static_cast<unsigned long long>(static_cast<uint32_t>(i < Args.size() ? Args[i] : 0)));
        return std::string(text);
    };
    if (Function == "InitCom") return "InitCom(" + Text + ", " + arg(0) + ")";
    if (Function == "SetNotificationWnd")
        return std::string("SetNotificationWnd(") + (Args.at(0) ? "window" : "null") + ", " + arg(1) + ")";
    if (Function == "SetDeviceType" || Function == "InitTarget") return Function + "(" + Text + ")";
    if (Function == "GetDeviceCfgInfo") return "GetDeviceCfgInfo(" + arg(0) + ", " + arg(1) + ")";
    if (Function == "Erase") return "Erase(" + hex(0) + ", " + arg(1) + ", " + arg(2) + ")";
    if (Function == "ProgramFile") return "ProgramFile(" + Text + ", " + arg(0) + ", " + arg(1) + ", " + arg(2) + ")";
    if (Function == "VerifyFile") return "VerifyFile(" + Text + ", " + arg(0) + ")";
    if (Function == "ProgramData" || Function == "VerifyData") {
        std::string bytes;
        for (unsigned char b : Data) {
            char text[4];
            std::snprintf(text, sizeof text, "%02X", b);
            bytes += (bytes.empty() ? "" : " ") + std::string(text);
        }
        return Function + "(" + hex(0) + ", " + arg(1) + ", [" + bytes + "])";
    }
    std::string text = Function + "(";
    for (size_t i = 0; i < Args.size(); ++i) text += (i ? ", " : "") + arg(i);
    return text + ")";
}

CFakeVelk& CFakeVelk::Instance()
{
    static CFakeVelk fake;
    return fake;
}

CFakeVelk::CFakeVelk()
{
    Reset();
}

void CFakeVelk::Reset()
{
    Log.clear();
    Scripts.clear();
    ConfigScripts.clear();
    Failures.clear();
    Pending.clear();
    Defaults = {{"ProgramFile", -1}, {"VerifyFile", -1}, {"ProgramData", -1},
                {"VerifyData", -1}, {"Reset", VELK_FUSE_BLOWN}};
    Table = {CFakeDevice("MSP430F149")};
    Current = -1;
    NotifyWindow = nullptr;
    NotifyMessage = 0;
    OverrideHook = nullptr;
    ObserverHook = nullptr;
}

void CFakeVelk::Script(const std::string& function, std::vector<int32_t> results)
{
    auto& queue = Scripts[function];
    queue.insert(queue.end(), results.begin(), results.end());
}

void CFakeVelk::SetDefault(const std::string& function, int32_t result)
{
    Defaults[function] = result;
}

void CFakeVelk::ScriptConfig(int32_t selector, std::vector<int32_t> results)
{
    auto& queue = ConfigScripts[selector];
    queue.insert(queue.end(), results.begin(), results.end());
}

void CFakeVelk::FailCall(size_t index, int32_t result)
{
    Failures[index] = result;
}

void CFakeVelk::SetOverride(Override hook)
{
    OverrideHook = std::move(hook);
}

void CFakeVelk::NotifyDuring(const std::string& function, std::vector<Notification> notes)
{
    Pending[function].push_back(std::move(notes));
}

void CFakeVelk::Notify(uint32_t type, int32_t value)
{
    if (NotifyWindow && NotifyWindow->Deliver)
        NotifyWindow->Deliver(NotifyWindow, NotifyMessage, static_cast<uintptr_t>(type),
                              static_cast<intptr_t>(value));
}

void CFakeVelk::Devices(std::vector<CFakeDevice> devices)
{
    Table = std::move(devices);
    Current = -1;
}

void CFakeVelk::SetObserver(Observer observer)
{
    ObserverHook = std::move(observer);
}

std::vector<std::string> CFakeVelk::LogStrings() const
{
    std::vector<std::string> lines;
    for (const auto& call : Log) lines.push_back(call.ToString());
    return lines;
}

std::vector<CFakeCall> CFakeVelk::CallsTo(const std::string& function) const
{
    std::vector<CFakeCall> calls;
    for (const auto& call : Log)
        if (call.Function == function) calls.push_back(call);
    return calls;
}

size_t CFakeVelk::Count(const std::string& function) const
{
    size_t count = 0;
    for (const auto& call : Log) count += call.Function == function;
    return count;
}

void CFakeVelk::Register(VelkNotifyWindow* window, uint32_t message)
{
    NotifyWindow = window;
    NotifyMessage = message;
}

// Logs the call, tells the observer and delivers the notifications queued
// for it; returns the call's log index.
static size_t Enter(std::vector<CFakeCall>& log, CFakeCall call,
                    const CFakeVelk::Observer& observer,
                    std::map<std::string, std::vector<std::vector<CFakeVelk::Notification>>>& pending,
                    CFakeVelk& fake)
{
    log.push_back(std::move(call));
    const size_t index = log.size() - 1;
    if (observer) observer(log[index]);
    auto it = pending.find(log[index].Function);
    if (it != pending.end() && !it->second.empty()) {
        auto notes = std::move(it->second.front());
        it->second.erase(it->second.begin());
        for (const auto& [type, value] : notes) fake.Notify(type, value);
    }
    return index;
}

int32_t CFakeVelk::Result(const CFakeCall& call, size_t index, std::optional<int32_t> fallback)
{
    if (auto failure = Failures.find(index); failure != Failures.end()) return failure->second;
    if (OverrideHook)
        if (auto forced = OverrideHook(call, index)) return *forced;
    if (auto& queue = Scripts[call.Function]; !queue.empty()) {
        const int32_t result = queue.front();
        queue.erase(queue.begin());
        return result;
    }
    if (fallback) return *fallback;
    auto it = Defaults.find(call.Function);
    return it == Defaults.end() ? 0 : it->second;
}

int32_t CFakeVelk::Answer(CFakeCall call)
{
    const size_t index = Enter(Log, std::move(call), ObserverHook, Pending, *this);
    const CFakeCall copy = Log[index];   // the log may grow during the hook
    return Result(copy, index, std::nullopt);
}

int32_t CFakeVelk::AnswerConfig(int32_t selector, int32_t index, void* buffer)
{
    CFakeCall call;
    call.Function = "GetDeviceCfgInfo";
    call.Args = {selector, index};
    call.NullBuffer = buffer == nullptr;
    const size_t at = Enter(Log, std::move(call), ObserverHook, Pending, *this);
    const CFakeCall copy = Log[at];

    if (auto failure = Failures.find(at); failure != Failures.end()) return failure->second;
    if (OverrideHook)
        if (auto forced = OverrideHook(copy, at)) return *forced;
    if (auto& queue = ConfigScripts[selector]; !queue.empty()) {
        const int32_t result = queue.front();
        queue.erase(queue.begin());
        return result;
    }
    if (auto& queue = Scripts["GetDeviceCfgInfo"]; !queue.empty()) {
        const int32_t result = queue.front();
        queue.erase(queue.begin());
        return result;
    }

    const bool current = Current >= 0 && Current < static_cast<int32_t>(Table.size());
    switch (selector) {
    case 1:
        return static_cast<int32_t>(Table.size());
    case 2:
        if (index < 0 || index >= static_cast<int32_t>(Table.size())) return -1;
        Current = index;
        return 0;
    case 3: {
        if (!current || !buffer) return -1;
        char* name = static_cast<char*>(buffer);
        std::memset(name, 0, 64);
        std::strncpy(name, Table[Current].Name.c_str(), 63);
        return 0;
    }
    case 6:
        return current ? static_cast<int32_t>(Table[Current].Regions.size()) : -1;
    case 7: {
        if (!current || !buffer) return -1;
        const auto& regions = Table[Current].Regions;
        if (index < 0 || index >= static_cast<int32_t>(regions.size())) return -1;
        const CFakeRegion& r = regions[index];
        const int32_t record[4] = {r.Type, r.Start, r.SegmentSize, r.SegmentCount};
        std::memcpy(buffer, record, sizeof record);
        return 0;
    }
    case 10:
        if (!current || !buffer) return -1;
        std::memcpy(buffer, Table[Current].Values.data(), sizeof(int32_t) * 8);
        return 0;
    default:
        return -1;
    }
}

// ---- the library's C interface -------------------------------------------

namespace {
CFakeCall Make(const char* function, std::vector<int64_t> args = {}, const char* text = nullptr)
{
    CFakeCall call;
    call.Function = function;
    call.Args = std::move(args);
    if (text) call.Text = text;
    return call;
}
}

extern "C" {

int32_t InitCom(char* port, int32_t baud)
{
    return CFakeVelk::Instance().Answer(Make("InitCom", {baud}, port));
}

int32_t SetNotificationWnd(VelkNotifyWindow* window, uint32_t message)
{
    CFakeVelk& fake = CFakeVelk::Instance();
    fake.Register(window, message);
    return fake.Answer(Make("SetNotificationWnd", {window != nullptr, message}));
}

int32_t ReleaseCom(void)
{
    return CFakeVelk::Instance().Answer(Make("ReleaseCom"));
}

int32_t SetDeviceType(char* name)
{
    return CFakeVelk::Instance().Answer(Make("SetDeviceType", {}, name));
}

int32_t InitTarget(char* name)
{
    return CFakeVelk::Instance().Answer(Make("InitTarget", {}, name));
}

int32_t ReleaseTarget(void)
{
    return CFakeVelk::Instance().Answer(Make("ReleaseTarget"));
}

int32_t SetVcc(uint32_t millivolts)
{
    return CFakeVelk::Instance().Answer(Make("SetVcc", {millivolts}));
}

int32_t GetDeviceCfgInfo(int32_t selector, int32_t index, void* buffer)
{
    return CFakeVelk::Instance().AnswerConfig(selector, index, buffer);
}

int32_t Erase(int32_t address, int32_t size, int32_t mode)
{
    return CFakeVelk::Instance().Answer(Make("Erase", {address, size, mode}));
}

int32_t ProgramFile(char* path, int32_t a, int32_t b, int32_t c)
{
    return CFakeVelk::Instance().Answer(Make("ProgramFile", {a, b, c}, path));
}

int32_t VerifyFile(char* path, int32_t a)
{
    return CFakeVelk::Instance().Answer(Make("VerifyFile", {a}, path));
}

static int32_t DataCall(const char* function, int32_t address, int32_t count, unsigned char* bytes)
{
    CFakeCall call = Make(function, {address, count});
    if (bytes && count > 0) call.Data.assign(bytes, bytes + (count > 16 ? 16 : count));
    return CFakeVelk::Instance().Answer(std::move(call));
}

int32_t ProgramData(int32_t address, int32_t count, unsigned char* bytes)
{
    return DataCall("ProgramData", address, count, bytes);
}

int32_t VerifyData(int32_t address, int32_t count, unsigned char* bytes)
{
    return DataCall("VerifyData", address, count, bytes);
}

int32_t BlowFuse(void)
{
    return CFakeVelk::Instance().Answer(Make("BlowFuse"));
}

int32_t Reset(int32_t mode)
{
    return CFakeVelk::Instance().Answer(Make("Reset", {mode}));
}

}  // extern "C"
