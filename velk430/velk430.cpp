// The exported C interface of libVELK430.so: each function forwards to the
// programmer the open port chose, the simulated one or mspdebug.
#include <cstring>
#include <mutex>

#include "Codes.h"
#include "Programmer.h"
#include "Setup.h"
#include "mspdebug/MspProgrammer.h"
#include "velk430.h"

namespace {

// A notification handler may call back into the library on the same thread.
std::recursive_mutex& Lock()
{
    static std::recursive_mutex m;
    return m;
}

velk::CProgrammer& Lib()
{
    static velk::CProgrammer p;
    return p;
}

velk::msp::CMspProgrammer& Msp()
{
    static velk::msp::CMspProgrammer p;
    return p;
}

// The port text of the last InitCom picks the programmer until the next one.
bool UseMsp = false;

// A call made from inside a notification would pull the port or the unit
// out from under the operation that is delivering it: refused.
int Depth = 0;

struct CDepth {
    CDepth() { ++Depth; }
    ~CDepth() { --Depth; }
};

template <class F>
int32_t Guarded(const char* function, F call, const char* port = nullptr)
{
    std::lock_guard<std::recursive_mutex> guard(Lock());
    if (Depth > 0) return velk::kBusy;
    velk::KillPoint(function, port);
    velk::ClearLastError();
    CDepth depth;
    return call();
}

// Runs one call on the chosen programmer.
template <class F>
int32_t Call(const char* function, F call)
{
    return Guarded(function, [&] { return UseMsp ? call(Msp()) : call(Lib()); });
}

void ChooseProgrammer(const char* port)
{
    if (Lib().IsOpen() || Msp().IsOpen() || !port) return;
    UseMsp = velk::msp::IsMspdebugPort(std::string_view(port, strnlen(port, VELK_PORT_BUFFER)));
}

}  // namespace

extern "C" {

int32_t InitCom(char* port, int32_t baud)
{
    return Guarded(__func__, [&] {
        ChooseProgrammer(port);
        return UseMsp ? Msp().InitCom(port, baud) : Lib().InitCom(port, baud);
    }, port);
}
int32_t SetNotificationWnd(VelkNotifyWindow* window, uint32_t message)
{
    return Call(__func__, [&](auto& p) { return p.SetNotificationWnd(window, message); });
}
int32_t ReleaseCom(void) { return Call(__func__, [](auto& p) { return p.ReleaseCom(); }); }
int32_t SetDeviceType(char* name) { return Call(__func__, [&](auto& p) { return p.SetDeviceType(name); }); }
int32_t InitTarget(char* name) { return Call(__func__, [&](auto& p) { return p.InitTarget(name); }); }
int32_t ReleaseTarget(void) { return Call(__func__, [](auto& p) { return p.ReleaseTarget(); }); }
int32_t SetVcc(uint32_t millivolts) { return Call(__func__, [&](auto& p) { return p.SetVcc(millivolts); }); }
int32_t GetDeviceCfgInfo(int32_t selector, int32_t index, void* buffer)
{
    // Both programmers answer from the one device table.
    return Guarded(__func__, [&] { return Lib().GetDeviceCfgInfo(selector, index, buffer); });
}
int32_t Erase(int32_t address, int32_t size, int32_t mode)
{
    return Call(__func__, [&](auto& p) { return p.Erase(address, size, mode); });
}
int32_t ProgramFile(char* path, int32_t a, int32_t b, int32_t c)
{
    return Call(__func__, [&](auto& p) { return p.ProgramFile(path, a, b, c); });
}
int32_t VerifyFile(char* path, int32_t a) { return Call(__func__, [&](auto& p) { return p.VerifyFile(path, a); }); }
int32_t ProgramData(int32_t address, int32_t count, unsigned char* bytes)
{
    return Call(__func__, [&](auto& p) { return p.ProgramData(address, count, bytes); });
}
int32_t VerifyData(int32_t address, int32_t count, unsigned char* bytes)
{
    return Call(__func__, [&](auto& p) { return p.VerifyData(address, count, bytes); });
}
int32_t BlowFuse(void) { return Call(__func__, [](auto& p) { return p.BlowFuse(); }); }
int32_t Reset(int32_t mode) { return Call(__func__, [&](auto& p) { return p.Reset(mode); }); }

// The additions; reading texts clears nothing, so a reason survives being read.
int32_t CheckSetup(char* port, int32_t baud, char* device, char* path, int32_t eraseInfo, int32_t serialAddress,
                   int32_t serialCount, int32_t blowFuse)
{
    return Guarded(__func__, [&] {
        return velk::CheckSetupCall(port, baud, device, path, eraseInfo, serialAddress, serialCount, blowFuse);
    });
}
int32_t GetLastErrorText(char* text, int32_t size) { return velk::LastErrorTextCall(text, size); }
int32_t GetResultText(int32_t code, char* text, int32_t size) { return velk::ResultTextCall(code, text, size); }

}  // extern "C"
