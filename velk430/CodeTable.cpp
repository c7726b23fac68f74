#include "CodeTable.h"

#include "Codes.h"

namespace velk {

namespace {

constexpr CCodeRow kRows[] = {
    {kOk, "done", "all but the four data functions", nullptr},
    {kDone, "done (programmed / equal)", "`ProgramFile`, `VerifyFile`, `ProgramData`, `VerifyData`", nullptr},
    {kBadArgument,
     "bad argument: null pointer, name without terminator within its buffer (32 / 128 / 1024), count not 1..16, "
     "negative address or size, selector or index out of range, constants other than `ProgramFile(…, 0, 0 or 1, 0)`, "
     "`VerifyFile(…, 0)`, `Erase(…, 1)`, `Reset(1)`",
     "any function taking arguments",
     "the station handed the library a value it does not take. Note the message and call the station's developer."},
    {kNotOpen, "no port open", "every function but `GetDeviceCfgInfo`, `SetNotificationWnd`",
     "the programmer's port was not open. Run the command again; if it repeats, restart the station."},
    {kNoProgrammer, "no programmer on that port", "`InitCom`",
     "no programmer answers on that port. Check the cable and the power, or choose the right port with Port ..."},
    {kBadBaud, "baud rate not 2400, 4800, 9600, 19200, 38400, 57600 or 115200", "`InitCom`, `CheckSetup`",
     "the programmer does not take that baud rate. Choose 2400, 4800, 9600, 19200, 38400, 57600 or 115200 with "
     "Port ..."},
    {kAlreadyOpen, "port already open (second `InitCom` without `ReleaseCom`)", "`InitCom`",
     "the programmer was still open from the last command. Run the command again; if it repeats, restart the "
     "station."},
    {kUnknownDevice, "device name not in device.cfg", "`SetDeviceType`, `CheckSetup`",
     "device.cfg knows no device of that name. Choose the device from the list."},
    {kConfigError, "device.cfg missing or malformed", "`GetDeviceCfgInfo`, `InitCom`, `CheckSetup`",
     "device.cfg is missing or damaged. Reinstall the station."},
    {kNoDeviceType, "no device type selected", "`SetVcc` (non-zero), `InitTarget`",
     "no device type was set before the supply. Run the command again; if it repeats, call the station's "
     "developer."},
    {kVccRange, "supply outside the device's range; the supply stays as it was", "`SetVcc`",
     "the supply voltage is outside what this device takes. Enter a voltage in the device's range in Vcc."},
    {kNoSupply, "supply off, or below the device's programming minimum", "`InitTarget`",
     "the supply is too low to program this device. Raise Vcc to its programming voltage."},
    {kFuseBlown, "the unit's security fuse is blown", "`InitTarget`, `Reset`, every target operation",
     "the unit's security fuse is blown: it can no longer be programmed. Set the unit aside as locked."},
    {kWrongDevice, "the unit on the socket is another type", "`InitTarget`",
     "the unit on the socket is not the chosen device. Seat the right unit, or choose its type in Device."},
    {kTargetNotReady,
     "target not initialised (no `InitTarget`, or supply switched off / device type changed since)",
     "`Erase`, `ProgramFile`, `VerifyFile`, `ProgramData`, `VerifyData`, `BlowFuse`, `Reset`",
     "the unit dropped off during the batch. Check that it sits firmly on the socket and run the batch again."},
    {kNotSegmentStart, "not a segment start, or size is not that segment's size", "`Erase`",
     "the information flash does not lie where device.cfg says. Check the device type; reinstall the station if it "
     "is right."},
    {kProtected, "protected region: calibration segment, bootstrap loader, descriptor",
     "`Erase`, `ProgramFile`, `VerifyFile`, `ProgramData`, `CheckSetup`",
     "the file or the serial number lies in a part of the chip the station never erases or writes (calibration, "
     "bootstrap loader, descriptor). Move the data or the serial number address."},
    {kNotFlash, "address outside the device's flash", "`Erase`, `ProgramData`, `VerifyData`, `CheckSetup`",
     "the serial number address lies outside the device's flash. Enter an address in its flash."},
    {kFileOpen,
     "file missing or unreadable, not a regular file (directory, pipe, device), or larger than 16 MiB (checked before "
     "reading)",
     "`ProgramFile`, `VerifyFile`, `CheckSetup`",
     "the firmware file cannot be read. Choose the file again with ..., and check that it is there."},
    {kFileSyntax,
     "firmware file malformed, any format: TI-TXT syntax, wrong record checksum or length, ELF for another machine "
     "or with a segment outside the file (also conflicting overlap, address beyond 20 bits)",
     "`ProgramFile`, `VerifyFile`, `CheckSetup`",
     "the firmware file is malformed (TI-TXT, Intel HEX, S-record or ELF). Choose the right file, or have it made "
     "again."},
    {kFileTruncated,
     "firmware file truncated: no closing `q`, no Intel HEX end record, no S-record count or end record", "`ProgramFile`, `VerifyFile`, `CheckSetup`",
     "the firmware file is cut short. Copy the file again from its source."},
    {kFileRange, "file data outside the device's flash", "`ProgramFile`, `VerifyFile`, `CheckSetup`",
     "the firmware was built for another device: part of it lies outside this one's flash. Check the device type "
     "and the file."},
    {kVerifyMismatch, "memory differs from the file or the bytes", "`VerifyFile`, `VerifyData`",
     "the unit's memory differs from the file after programming. Replace the unit, or check that the file did not "
     "change."},
    {kNoCurrentDevice, "selector 3, 6, 7 or 10 before any selector 2", "`GetDeviceCfgInfo`",
     "the station asked for device data in the wrong order. Note the message and call the station's developer."},
    {kNameMismatch, "`InitTarget` name is not the selected device type", "`InitTarget`",
     "the station named two different devices. Note the message and call the station's developer."},
    {kInjected, "default code of a failure injected with `velk430-sim fail`", "any",
     "a failure injected with velk430-sim. Clear it with velk430-sim fail clear."},
    {kBusy, "called from inside a notification (would pull the port or unit away from the running operation)",
     "any",
     "the station called the library while it was busy. Note the message and call the station's developer."},
    {kStateFile,
     "a state file (`settings`, `unit`) is there but unusable (not a regular file, e.g. a named pipe or a link to a "
     "device, or larger than 8 MiB), or the unit cannot be saved (folder not writable, disk full)",
     "`InitCom`, `ReleaseCom`",
     "the simulated programmer cannot keep its unit (a damaged state file, or a full disk). Run velk430-sim status "
     "and repair what it names."},
    {kPortBusy, "port busy: another process has the programmer open (holds `programmer.lock`)", "`InitCom`",
     "another program has the programmer open. Close it, then run the command again."},
    {kNotErased, "file data in information flash, and the batch does not erase it (Erase Info off)", "`CheckSetup`",
     "the firmware writes information flash, which this batch does not erase. Tick Erase Info, or use a file "
     "without it."},
    {kSerialOverlap, "the serial number's bytes overlap the file's data", "`CheckSetup`",
     "the serial number would overwrite part of the firmware. Choose a serial number address the file leaves "
     "free."},
    {kBadPort, "port text starts with `mspdebug` but is malformed", "`InitCom`",
     "the port text for mspdebug is malformed. Enter it as mspdebug:DRIVER, mspdebug:DRIVER:/dev/DEVICE, "
     "mspdebug:DRIVER:s=SERIAL or mspdebug:DRIVER:U=BUS:DEV with Port ..."},
    {kNoEngine, "mspdebug is not on PATH, or does not start or answer `--version`", "`InitCom`",
     "mspdebug is missing or does not start. Install the mspdebug package."},
    {kUnknownDriver, "the driver is not one this mspdebug offers (its `--help` list)", "`InitCom`",
     "the installed mspdebug has no such driver. Enter a driver it lists with Port ..."},
    {kConnectFailed,
     "mspdebug could not reach the programmer or the target (no USB device, port will not open, driver failed)",
     "`InitTarget`",
     "mspdebug cannot reach the programmer or the unit. Check the USB cable, the access rights and that the unit "
     "is seated."},
    {kNoAnswer, "mspdebug did not answer within the library's timeout; it was ended by its PID",
     "`InitTarget`, every target operation",
     "the programmer stopped answering. Unplug it, plug it in again, and run the batch again."},
    {kEngineGone, "mspdebug ended during a command (killed, crashed, unplugged)", "every target operation",
     "the programmer went away during the batch. Check the USB cable and run the batch again."},
    {kCommandFailed,
     "mspdebug reported an error, or not the result a command must print, or a segment is not blank after erasing",
     "every target operation",
     "the programmer reported an error on the unit. Run the batch again; if it repeats, replace the unit."},
    {kCannotBlowFuse,
     "this programmer cannot blow the security fuse (mspdebug 0.22 has no command for it)", "`BlowFuse`, `CheckSetup`",
     "this programmer cannot blow the security fuse. Clear Blow Fuse, or use a programmer that can."},
};

}  // namespace

std::span<const CCodeRow> CodeTable() { return kRows; }

const CCodeRow* FindCode(int32_t code)
{
    for (const CCodeRow& row : kRows)
        if (row.Code == code) return &row;
    return nullptr;
}

std::string CodeTableMarkdown()
{
    std::string text = "| code | meaning | returned by | the station shows |\n|---:|---|---|---|\n";
    for (const CCodeRow& row : kRows) {
        // A typographic minus, as the rest of the README writes negative numbers.
        const std::string code = row.Code < 0 ? "\u2212" + std::to_string(-row.Code) : std::to_string(row.Code);
        text += "| " + code + " | " + row.Meaning + " | " + row.ReturnedBy + " | " +
                (row.ForOperator ? std::to_string(row.Code) + ": " + row.ForOperator : "") + " |\n";
    }
    return text;
}

}  // namespace velk
