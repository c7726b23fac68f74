// The exported C interface of libVELK430.so: each function forwards to the
// one simulated programmer of the process.
#include <mutex>

#include "Codes.h"
#include "Programmer.h"
#include "velk430.h"

namespace {

// A notification handler may call back into the library on the same thread.
std::recursive_mutex& Lock() {
    static std::recursive_mutex m;
    return m;
}

velk::CProgrammer& Lib() {
    static velk::CProgrammer p;
    return p;
}

}  // namespace

// A call made from inside a notification would pull the port or the unit
// out from under the operation that is delivering it: refused.
int Depth = 0;

struct CDepth {
    CDepth() { ++Depth; }
    ~CDepth() { --Depth; }
};

#define VELK_CALL(expr)                                   \
    std::lock_guard<std::recursive_mutex> guard(Lock()); \
    if (Depth > 0) return velk::kBusy;                    \
    velk::KillPoint(__func__);                            \
    CDepth depth;                                         \
    return Lib().expr

extern "C" {

int32_t InitCom(char* port, int32_t baud) { VELK_CALL(InitCom(port, baud)); }
int32_t SetNotificationWnd(VelkNotifyWindow* window, uint32_t message) {
    VELK_CALL(SetNotificationWnd(window, message));
}
int32_t ReleaseCom(void) { VELK_CALL(ReleaseCom()); }
int32_t SetDeviceType(char* name) { VELK_CALL(SetDeviceType(name)); }
int32_t InitTarget(char* name) { VELK_CALL(InitTarget(name)); }
int32_t ReleaseTarget(void) { VELK_CALL(ReleaseTarget()); }
int32_t SetVcc(uint32_t millivolts) { VELK_CALL(SetVcc(millivolts)); }
int32_t GetDeviceCfgInfo(int32_t selector, int32_t index, void* buffer) {
    VELK_CALL(GetDeviceCfgInfo(selector, index, buffer));
}
int32_t Erase(int32_t address, int32_t size, int32_t mode) { VELK_CALL(Erase(address, size, mode)); }
int32_t ProgramFile(char* path, int32_t a, int32_t b, int32_t c) { VELK_CALL(ProgramFile(path, a, b, c)); }
int32_t VerifyFile(char* path, int32_t a) { VELK_CALL(VerifyFile(path, a)); }
int32_t ProgramData(int32_t address, int32_t count, unsigned char* bytes) {
    VELK_CALL(ProgramData(address, count, bytes));
}
int32_t VerifyData(int32_t address, int32_t count, unsigned char* bytes) {
    VELK_CALL(VerifyData(address, count, bytes));
}
int32_t BlowFuse(void) { VELK_CALL(BlowFuse()); }
int32_t Reset(int32_t mode) { VELK_CALL(Reset(mode)); }

}  // extern "C"
