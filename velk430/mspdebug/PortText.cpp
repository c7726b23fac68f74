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
    std::string device;
    if (colon != std::string_view::npos) {
        device = std::string(rest.substr(colon + 1));
        if (device.size() < 2 || device[0] != '/' || !std::all_of(device.begin(), device.end(), DeviceChar)) {
            error = quoted + "the device must be a path such as /dev/ttyUSB0";
            return false;
        }
    }
    if (device.empty() && std::find(kPortOnly.begin(), kPortOnly.end(), driver) != kPortOnly.end()) {
        error = quoted + "the driver " + driver + " needs a device, e.g. mspdebug:" + driver + ":/dev/ttyUSB0";
        return false;
    }
    port.Driver = driver;
    port.Device = device;
    return true;
}

}  // namespace velk::msp
