#include "PortText.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace velk::msp {

namespace {

constexpr std::string_view kPrefix = "mspdebug";
constexpr std::array<std::string_view, 4> kPortOnly = {"flash-bsl", "uif-bsl", "goodfet", "pif"};

bool DriverChar(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; }

bool DeviceChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '_' || c == '-';
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

bool IsMspdebugPort(std::string_view text)
{
    return text.size() >= kPrefix.size() && Lower(text.substr(0, kPrefix.size())) == kPrefix;
}

namespace {

bool SerialChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-'; }

// 1 to 3 decimal digits with a value in lo..hi.
bool UsbNumber(std::string_view digits, int lo, int hi)
{
    if (digits.empty() || digits.size() > 3) return false;
    int value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value >= lo && value <= hi;
}

// What follows the driver: a device path, s=SERIAL or U=BUS:DEV.
bool ParseSelector(const std::string& what, CPortText& port, std::string& error)
{
    if (what.size() >= 2 && (what[0] == 's' || what[0] == 'S') && what[1] == '=') {
        port.Serial = what.substr(2);
        if (port.Serial.empty()) {
            error = "the serial number after s= is empty";
            return false;
        }
        if (!std::all_of(port.Serial.begin(), port.Serial.end(), SerialChar)) {
            error = "the serial number after s= holds other than letters, digits, '.', '_' and '-'";
            return false;
        }
        return true;
    }
    if (what.size() >= 2 && (what[0] == 'U' || what[0] == 'u') && what[1] == '=') {
        port.UsbLocation = what.substr(2);
        const size_t colon = port.UsbLocation.find(':');
        const std::string_view location = port.UsbLocation;
        if (colon == std::string::npos || !UsbNumber(location.substr(0, colon), 1, 255) ||
            !UsbNumber(location.substr(colon + 1), 1, 127)) {
            error = "U= takes BUS:DEV as mspdebug --usb-list prints them, two numbers (bus 1 to 255, "
                    "device 1 to 127), e.g. U=001:004";
            return false;
        }
        return true;
    }
    port.Device = what;
    if (what.size() < 2 || what[0] != '/' || !std::all_of(what.begin(), what.end(), DeviceChar)) {
        error = "the device must be a path such as /dev/ttyUSB0 (or s=SERIAL, U=BUS:DEV)";
        return false;
    }
    return true;
}

}  // namespace

bool ParsePortText(std::string_view text, CPortText& port, std::string& error)
{
    const std::string quoted = "port \"" + std::string(text) + "\": ";
    if (!IsMspdebugPort(text) || text.size() == kPrefix.size() || text[kPrefix.size()] != ':') {
        error = quoted + "expected mspdebug:DRIVER or mspdebug:DRIVER:DEVICE";
        return false;
    }
    const std::string_view rest = text.substr(kPrefix.size() + 1);
    const size_t colon = rest.find(':');
    const std::string driver = Lower(rest.substr(0, colon));
    if (driver.empty() || !std::all_of(driver.begin(), driver.end(), DriverChar)) {
        error = quoted + "the driver name is missing or holds other than letters, digits and '-'";
        return false;
    }
    CPortText parsed;
    parsed.Driver = driver;
    if (colon != std::string_view::npos && !ParseSelector(std::string(rest.substr(colon + 1)), parsed, error)) {
        error = quoted + error;
        return false;
    }
    if (parsed.Device.empty() && std::find(kPortOnly.begin(), kPortOnly.end(), driver) != kPortOnly.end()) {
        error = quoted + "the driver " + driver + " needs a device, e.g. mspdebug:" + driver + ":/dev/ttyUSB0";
        return false;
    }
    port = std::move(parsed);
    return true;
}

std::vector<std::string> CPortText::Options() const
{
    if (!Device.empty()) return {"-d", Device};
    if (!Serial.empty()) return {"-s", Serial};
    if (!UsbLocation.empty()) return {"-U", UsbLocation};
    return {};
}

std::string CPortText::Where() const
{
    std::string where = "mspdebug " + Driver;
    if (!Device.empty()) where += " on " + Device;
    if (!Serial.empty()) where += " with serial number " + Serial;
    if (!UsbLocation.empty()) where += " at USB " + UsbLocation;
    return where;
}

}  // namespace velk::msp
