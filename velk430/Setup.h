#pragma once
// The check of a whole batch before the port opens (the CheckSetup export):
// everything the library can tell from the device table, the firmware file
// and the port text, so that a setup bound to fail is refused before a unit
// is erased or a serial number is spent.

#include <cstdint>
#include <string>

#include "DeviceTable.h"

namespace velk {

struct CSetupRequest {
    std::string Port;
    int32_t Baud = 0;
    std::string Device;
    std::string File;
    bool EraseInfo = false;       // the batch erases the information flash first
    int64_t SerialAddress = 0;
    int32_t SerialCount = 0;      // 0: no serial number
    bool BlowFuse = false;
};

// 0 when the batch can run; else the code of the first problem (kUnknownDevice,
// kBadBaud, kCannotBlowFuse, the file's codes, kProtected, kNotErased,
// kNotFlash, kSerialOverlap), with SetLastError naming it.
int32_t CheckSetup(const CDeviceTable& table, const CSetupRequest& setup);

// The bodies of the three added exports (velk430.h), the exports' C
// signatures and all: CheckSetup on the device table the library reads
// (kept until its place changes), the last failure's reason, and a code's
// line for the operator.
int32_t CheckSetupCall(char* port, int32_t baud, char* device, char* path, int32_t eraseInfo,
                       int32_t serialAddress, int32_t serialCount, int32_t blowFuse);
int32_t LastErrorTextCall(char* text, int32_t size);
int32_t ResultTextCall(int32_t code, char* text, int32_t size);

}  // namespace velk
