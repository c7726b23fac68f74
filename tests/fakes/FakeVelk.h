#pragma once
// CFakeVelk: the control side of the fake programmer library. The 15 C
// functions of velk430.h record each call in a log, then answer from, in this
// order: the override hook, the function's script queue, its default.
// GetDeviceCfgInfo answers from a device table unless a result is scripted
// for its selector. Everything is synchronous and instant.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "velk430.h"

// One recorded library call.
struct CFakeCall {
    std::string Function;               // "InitCom", "Erase", ...
    std::vector<int64_t> Args;          // integer arguments in order (a window is 1, null 0)
    std::string Text;                   // port, device name or path (copied)
    std::vector<unsigned char> Data;    // ProgramData/VerifyData bytes (copied)
    bool NullBuffer = false;            // GetDeviceCfgInfo called with a null buffer
    // Readable form, e.g. "InitCom(COM1, 57600)", "SetVcc(3300)",
    // "Erase(0x1080, 128, 1)", "ProgramData(0x1000, 2, [CD AB])",
    // "GetDeviceCfgInfo(7, 1)", "SetNotificationWnd(window, 1129)".
    std::string ToString() const;
};

// A memory region as selector 7 reports it.
struct CFakeRegion {
    int32_t Type = 3;           // 3 = information flash
    int32_t Start = 0x1000;
    int32_t SegmentSize = 128;
    int32_t SegmentCount = 1;
};

// One device of the configuration table.
struct CFakeDevice {
    std::string Name;                    // selector 3 (cut to 63 characters)
    std::vector<CFakeRegion> Regions;    // selectors 6 and 7
    std::array<int32_t, 8> Values{};     // selector 10; [2] = default supply, mV

    CFakeDevice() = default;
    CFakeDevice(std::string name, int32_t vccMillivolts = 3000,
                std::vector<CFakeRegion> regions = {});
};

class CFakeVelk {
public:
    using Notification = std::pair<uint32_t, int32_t>;   // type, value
    // Returns a result to force for a call, or nothing to answer normally.
    // index: the call's position in the log (0-based).
    using Override = std::function<std::optional<int32_t>(const CFakeCall& call, size_t index)>;
    using Observer = std::function<void(const CFakeCall& call)>;

    static CFakeVelk& Instance();

    // Empty log and scripts, default results, no window, no hooks, and a
    // device table of one device "MSP430F149" (3000 mV, no regions).
    void Reset();

    // Results of the next calls of function, in order, before its default.
    void Script(const std::string& function, std::vector<int32_t> results);
    // Result once the script queue is empty. Defaults: ProgramFile,
    // VerifyFile, ProgramData, VerifyData -1; Reset -12; everything else 0.
    void SetDefault(const std::string& function, int32_t result);
    // Results of the next GetDeviceCfgInfo calls with this selector, in place
    // of the table's answer (the buffer is then left untouched).
    void ScriptConfig(int32_t selector, std::vector<int32_t> results);
    // Forces the result of the call at log position index (0-based).
    void FailCall(size_t index, int32_t result);
    void SetOverride(Override hook);

    // During the next call of function, deliver these notifications through
    // the registered window (nothing if none is registered). Each use queues
    // one batch for one call.
    void NotifyDuring(const std::string& function, std::vector<Notification> notes);
    // Delivers one notification at once through the registered window.
    void Notify(uint32_t type, int32_t value);

    // The device table for GetDeviceCfgInfo. Selector 2 picks the current
    // device (result -1 for an index outside the table); selectors 3, 6, 7
    // and 10 answer for it (-1 when none is current or an index is bad;
    // 6 gives the region count). Selector 1 gives the table size.
    void Devices(std::vector<CFakeDevice> devices);
    int32_t CurrentDevice() const { return Current; }

    // Called for each call after it is logged, before it answers.
    void SetObserver(Observer observer);

    const std::vector<CFakeCall>& Calls() const { return Log; }
    std::vector<std::string> LogStrings() const;
    // Calls to one function, and how many there were.
    std::vector<CFakeCall> CallsTo(const std::string& function) const;
    size_t Count(const std::string& function) const;
    void ClearLog() { Log.clear(); }

    // What SetNotificationWnd registered last (null after a null one).
    VelkNotifyWindow* Window() const { return NotifyWindow; }
    uint32_t WindowMessage() const { return NotifyMessage; }

    // Used by the C functions.
    int32_t Answer(CFakeCall call);
    int32_t AnswerConfig(int32_t selector, int32_t index, void* buffer);
    void Register(VelkNotifyWindow* window, uint32_t message);

private:
    CFakeVelk();
    int32_t Result(const CFakeCall& call, size_t index, std::optional<int32_t> fallback);

    std::vector<CFakeCall> Log;
    std::map<std::string, std::vector<int32_t>> Scripts;
    std::map<std::string, int32_t> Defaults;
    std::map<int32_t, std::vector<int32_t>> ConfigScripts;
    std::map<size_t, int32_t> Failures;
    std::map<std::string, std::vector<std::vector<Notification>>> Pending;
    std::vector<CFakeDevice> Table;
    int32_t Current = -1;
    VelkNotifyWindow* NotifyWindow = nullptr;
    uint32_t NotifyMessage = 0;
    Override OverrideHook;
    Observer ObserverHook;
};
