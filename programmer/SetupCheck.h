#pragma once
// The check of a whole batch before the port opens and before a serial
// number is reserved: a setup bound to fail (a firmware file that does not
// read or does not fit the device, a serial number on the firmware or in a
// part the station never erases, a fuse the programmer cannot blow, an
// unknown device, a baud rate the programmer does not take) is refused with
// a message, and no unit is touched.

#include <cstdint>
#include <string>

struct CBatchSetup {
    std::string Port;
    int32_t Baud = 0;
    std::string DeviceName;
    std::string FileName;
    int32_t EraseFlash = 0;     // only 1 erases the information flash
    int32_t BlowFuse = 0;       // only 1 blows the fuse
    int32_t SerialAddress = 0;
    int32_t SerialCount = 0;    // bytes; 0: no serial number
};

struct CSetupRefusal {
    int32_t Code = 0;           // 0: the batch may run; else the library's code
    std::string Message;        // for the operator; empty when Code is 0
};

// Asks the library's CheckSetup; calls none of the 15 functions. Passes
// (Code 0) when the library has no CheckSetup, and leaves names too long for
// the library's buffers to Open and BatchProgram, which refuse them with
// their own texts.
CSetupRefusal CheckBatchSetup(const CBatchSetup& setup);
