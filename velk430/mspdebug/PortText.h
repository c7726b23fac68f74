#pragma once
// The port texts that select mspdebug:
//
//   port   = "mspdebug:" driver [ ":" device ]
//   driver = 1*( "a"-"z" / "0"-"9" / "-" )            (compared without case)
//   device = "/" 1*( "A"-"Z" / "a"-"z" / "0"-"9" / "/" / "." / "_" / "-" )
//
// e.g. "mspdebug:sim", "mspdebug:rf2500", "mspdebug:uif:/dev/ttyUSB0",
// "mspdebug:flash-bsl:/dev/ttyS0". The device goes to mspdebug as "-d
// device"; the drivers that talk only through a port (flash-bsl, uif-bsl,
// goodfet, pif) need one.

#include <string>
#include <string_view>

namespace velk::msp {

struct CPortText {
    std::string Driver;  // lower case
    std::string Device;  // empty: the driver's default (USB)
};

// True when the text asks for mspdebug at all (starts with "mspdebug",
// without regard to case); whether it is well formed is ParsePortText's.
bool IsMspdebugPort(std::string_view text);

// Splits a port text; false with a message naming what is wrong.
bool ParsePortText(std::string_view text, CPortText& port, std::string& error);

}  // namespace velk::msp
