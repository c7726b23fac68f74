#pragma once
// The simulated programmer: the state machine behind the library's 15 C
// functions (velk430.cpp forwards each call to one instance). Usable
// in-process by tests and benchmarks; each instance keeps its own port,
// unit and notification window.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "velk430.h"
#include "DeviceTable.h"
#include "SimStore.h"
#include "Image.h"
#include "Unit.h"

namespace velk {

// Notification types the library delivers (wParam); the value (lParam)
// rises from 50 to 100 within one operation.
enum : uint32_t {
    kNotifyBusy = VELK_NOTIFY_BUSY,  // an operation starts (value 0)
    kNotifyIdle = VELK_NOTIFY_IDLE,  // it ended (value = its result)
    kNotifyErase = VELK_NOTIFY_ERASE,
    kNotifyProgram = VELK_NOTIFY_PROGRAM,
    kNotifyVerify = VELK_NOTIFY_VERIFY,
    kNotifyData = VELK_NOTIFY_DATA,
};

// Link time model: every command is a frame of kFrameBytes plus its
// payload, each byte 10 bits on the wire; data moves in blocks of kBlockBytes.
constexpr uint32_t kFrameBytes = 8;
constexpr uint32_t kBlockBytes = 256;
double LinkSeconds(uint64_t bytes, int32_t baud);

class CProgrammer {
public:
    CProgrammer() = default;
    ~CProgrammer() { CSimStore::UnlockProgrammer(LockFd); }
    CProgrammer(const CProgrammer&) = delete;
    CProgrammer& operator=(const CProgrammer&) = delete;

    int32_t InitCom(const char* port, int32_t baud);
    int32_t SetNotificationWnd(VelkNotifyWindow* window, uint32_t message);
    int32_t ReleaseCom();
    int32_t SetDeviceType(const char* name);
    int32_t InitTarget(const char* name);
    int32_t ReleaseTarget();
    int32_t SetVcc(uint32_t millivolts);
    int32_t GetDeviceCfgInfo(int32_t selector, int32_t index, void* buffer);
    int32_t Erase(int32_t address, int32_t size, int32_t mode);
    int32_t ProgramFile(const char* path, int32_t a, int32_t b, int32_t c);
    int32_t VerifyFile(const char* path, int32_t a);
    int32_t ProgramData(int32_t address, int32_t count, const unsigned char* bytes);
    int32_t VerifyData(int32_t address, int32_t count, const unsigned char* bytes);
    int32_t BlowFuse();
    int32_t Reset(int32_t mode);

    // Link time the last InitCom..ReleaseCom spent by the model, seconds
    // (whether or not it was slept).
    double ModelledSeconds() const { return Modelled; }
    bool IsOpen() const { return Open; }
    // The unit on the socket while the port is open.
    const CUnit* Unit() const { return Socket ? &*Socket : nullptr; }

private:
    bool EnsureTable();
    bool Fault(const char* function, int32_t& code);
    int32_t TargetCheck(const char* function);
    int32_t Outcome(int32_t result, int32_t success);
    template <class F>
    bool EachBlock(const CImage& image, class CProgress& progress, F call);
    int32_t Data(const char* function, int32_t address, int32_t count, const unsigned char* bytes, bool write);
    void Notify(uint32_t type, intptr_t value);
    void Transfer(uint64_t bytes);
    void Wait(double seconds);
    int32_t ProgramImage(const CImage& image, bool eraseMain);

    // Device table (loaded on first use; retried while missing).
    CDeviceTable Table;
    bool TableLoaded = false;
    std::string TablePath;
    int32_t CfgCurrent = -1;

    // The port.
    bool Open = false;
    int32_t Baud = 0;
    bool Fast = false;
    std::optional<CSimStore> Store;
    int LockFd = -1;  // the programmer's lock while the port is open
    CSimSettings Settings;
    std::array<int64_t, 4> SettingsKey{};
    std::optional<CUnit> Socket;
    VelkNotifyWindow* Window = nullptr;
    uint32_t Message = 0;

    // The target.
    int32_t DeviceType = -1;
    uint32_t Vcc = 0;
    bool Ready = false;
    bool FuseBlownHere = false;
    bool Programmed = false;
    bool Passed = false;

    // Timing.
    std::chrono::steady_clock::time_point Due{};
    double Modelled = 0;
};

}  // namespace velk
