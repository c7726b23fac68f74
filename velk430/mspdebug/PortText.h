#pragma once
// The port texts that select mspdebug:
//
//   port   = "mspdebug:" driver [ ":" ( device / serial / usb ) ]
//   driver = 1*( "a"-"z" / "0"-"9" / "-" )            (compared without case)
//   device = "/" 1*( "A"-"Z" / "a"-"z" / "0"-"9" / "/" / "." / "_" / "-" )
//   serial = ( "s" / "S" ) "=" 1*( "A"-"Z" / "a"-"z" / "0"-"9" / "." / "_" / "-" )
//   usb    = ( "U" / "u" ) "=" bus ":" dev
//   bus    = 1*3( "0"-"9" )                           (1 to 255)
//   dev    = 1*3( "0"-"9" )                           (1 to 127)
//
// e.g. "mspdebug:sim", "mspdebug:rf2500", "mspdebug:uif:/dev/ttyUSB0",
// "mspdebug:flash-bsl:/dev/ttyS0", "mspdebug:rf2500:s=93FF4A3B0C1D2E08",
// "mspdebug:olimex:U=001:004". The device goes to mspdebug as "-d device",
// the serial as "-s serial" (the programmer's USB serial number; mspdebug
// compares it without case), the USB location as "-U bus:dev" (as
// "mspdebug --usb-list" prints it). The drivers that talk only through a
// port (flash-bsl, uif-bsl, goodfet, pif) need a device and take neither
// of the other two. The whole text is at most 31 characters (the library's
// port buffer).

#include <string>
#include <string_view>
#include <vector>

namespace velk::msp {

struct CPortText {
    std::string Driver;       // lower case
    std::string Device;       // empty: the driver's default (USB)
    std::string Serial;       // empty: any serial number
    std::string UsbLocation;  // "BUS:DEV" as given; empty: the first programmer found

    // mspdebug's options that pick the programmer: "-d DEVICE", "-s SERIAL"
    // or "-U BUS:DEV", or none.
    std::vector<std::string> Options() const;
    // "mspdebug DRIVER" and how the programmer was picked, for messages.
    std::string Where() const;
};

// True when the text asks for mspdebug at all (starts with "mspdebug",
// without regard to case); whether it is well formed is ParsePortText's.
bool IsMspdebugPort(std::string_view text);

// Splits a port text; false with a message naming what is wrong.
bool ParsePortText(std::string_view text, CPortText& port, std::string& error);

}  // namespace velk::msp
