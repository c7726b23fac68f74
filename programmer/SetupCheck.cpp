#include "SetupCheck.h"

#include <cstring>

#include "LibraryAdditions.h"
#include "velk430.h"

namespace {

template <size_t N>
bool Copy(const std::string& name, char (&buffer)[N])
{
    if (name.size() >= N || name.find('\0') != std::string::npos) return false;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return true;
}

}  // namespace

CSetupRefusal CheckBatchSetup(const CBatchSetup& setup)
{
    const auto check = LibraryAdditions().CheckSetup;
    char port[VELK_PORT_BUFFER], device[VELK_NAME_BUFFER], file[VELK_PATH_BUFFER];
    if (!check || !Copy(setup.Port, port) || !Copy(setup.DeviceName, device) || !Copy(setup.FileName, file))
        return {};
    const int32_t code = check(port, setup.Baud, device, file, setup.EraseFlash == 1 ? 1 : 0, setup.SerialAddress,
                               setup.SerialCount, setup.BlowFuse == 1 ? 1 : 0);
    if (code == VELK_OK) return {};
    std::string message = "Batch not started: this setup cannot succeed, and no unit was touched.";
    if (const std::string reason = LibraryReason(); !reason.empty()) message += "\n" + reason;
    if (const std::string meaning = ResultMeaning(code); !meaning.empty()) message += "\n" + meaning;
    else message += "\nCode " + std::to_string(code) + ".";
    return {code, message};
}
