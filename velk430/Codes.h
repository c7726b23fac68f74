#pragma once
// Result codes of the simulated VELK430 library. 0 is success for most
// functions; -1 is success for ProgramFile, VerifyFile, ProgramData and
// VerifyData; -12 means the unit's security fuse is blown. Every other cause
// of failure has a code of its own (documented in velk430/README.md).

#include <cstdint>

#include "velk430.h"

namespace velk {

enum : int32_t {
    kOk = VELK_OK,
    kDone = VELK_DONE,        // success of the four data functions
    kBadArgument = -2,        // null pointer, unterminated name, bad count, selector, index or constant
    kNotOpen = -3,            // no port open
    kNoProgrammer = -4,       // no programmer on that port
    kBadBaud = -5,            // baud rate not supported
    kAlreadyOpen = -6,        // InitCom twice without ReleaseCom
    kUnknownDevice = -7,      // device name not in device.cfg
    kConfigError = -8,        // device.cfg missing or malformed
    kNoDeviceType = -9,       // no device type selected yet
    kVccRange = -10,          // supply outside the device's range
    kNoSupply = -11,          // target supply off or below the programming range
    kFuseBlown = VELK_FUSE_BLOWN,  // the unit's security fuse is blown
    kWrongDevice = -13,       // the unit on the socket is another type
    kTargetNotReady = -14,    // target operation without InitTarget
    kNotSegmentStart = -15,   // Erase: not a segment start, or size is not the segment size
    kProtected = -16,         // calibration, bootstrap loader or descriptor region
    kNotFlash = -17,          // address outside the device's flash
    kFileOpen = -18,          // file missing or unreadable
    kFileSyntax = -19,        // firmware file malformed (any format)
    kFileTruncated = -20,     // firmware file without its end ("q", end record)
    kFileRange = -21,         // file data outside the device's flash
    kVerifyMismatch = -22,    // memory differs from the file or the bytes
    kNoCurrentDevice = -23,   // selector 3, 6, 7 or 10 before selector 2
    kNameMismatch = -24,      // InitTarget with a name other than the selected type
    kInjected = -25,          // default code of an injected failure
    kBusy = -26,              // called from inside a notification
    kStateFile = -27,         // simulator state file unusable, or the unit cannot be saved
    kPortBusy = -28,          // another process has the programmer's port open
    kNotErased = -29,         // CheckSetup: file data in information flash the batch does not erase
    kSerialOverlap = -30,     // CheckSetup: the serial number's bytes overlap the file's data
    // The mspdebug programmer.
    kBadPort = -40,           // port text starts with "mspdebug" but is malformed
    kNoEngine = -41,          // mspdebug not on PATH, or it does not start or answer
    kUnknownDriver = -42,     // the driver is not one this mspdebug offers
    kConnectFailed = -43,     // mspdebug could not reach the programmer or the target
    kNoAnswer = -44,          // mspdebug did not answer within the library's timeout (ended by its PID)
    kEngineGone = -45,        // mspdebug ended during a command
    kCommandFailed = -46,     // mspdebug reported an error, or no result, for a command
    kCannotBlowFuse = -47,    // this programmer cannot blow the security fuse
};

// Baud rates the programmer opens at (the list velk430.h gives the station).
inline bool IsSupportedBaud(int32_t baud)
{
    for (const int32_t rate : VELK_BAUD_RATES)
        if (baud == rate) return true;
    return false;
}

// Highest address + 1 of the MSP430X's 20-bit address space.
constexpr uint32_t kAddressSpace = 0x100000;

}  // namespace velk
