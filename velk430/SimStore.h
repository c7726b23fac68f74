#pragma once
// The simulator's persistent state: its settings (port, timing, feed mode,
// injected failures) and the unit on the socket, in a state directory shared
// by the library and the velk430-sim command. Files are replaced atomically
// (written beside, then renamed); a missing or corrupt file reads as the
// defaults or a fresh unit.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DeviceTable.h"
#include "Unit.h"

namespace velk {

enum class ETiming { Realistic, Fast };
enum class EFeed { Auto, Manual };

// The next Count calls of Function return Code.
struct CFault {
    std::string Function;
    int32_t Code = 0;
    int32_t Count = 0;
};

struct CSimSettings {
    std::string Port = "COM1";
    ETiming Timing = ETiming::Realistic;
    EFeed Feed = EFeed::Auto;
    std::vector<CFault> Faults;

    std::string Render() const;
    // False (settings unchanged) on any malformed line.
    bool Parse(const std::string& text);
};

// The 15 function names a failure can be injected into; the canonical
// spelling of a case-insensitive match, or empty.
std::string CanonicalFunctionName(const std::string& name);

// The name of the device a fresh unit is when nothing else says.
constexpr const char* kDefaultDevice = "MSP430F112";

class CSimStore {
public:
    explicit CSimStore(std::string dir);
    // $VELK430_SIM_DIR, else $XDG_STATE_HOME/velk430-sim, else ~/.local/state/velk430-sim.
    static std::string DefaultDir();
    // True when VELK430_SIM_TIMING=fast forces fast mode.
    static bool FastForced();

    const std::string& Dir() const { return Directory; }
    std::string SettingsPath() const { return Directory + "/settings"; }
    std::string UnitPath() const { return Directory + "/unit"; }
    // The unit last taken off the socket by automatic feeding.
    std::string PreviousUnitPath() const { return Directory + "/previous-unit"; }

    CSimSettings LoadSettings() const;
    bool SaveSettings(const CSimSettings& settings) const;

    // The saved unit; nullopt when missing, corrupt or of a type the table lacks.
    std::optional<CUnit> LoadUnit(const CDeviceTable& table) const;
    std::optional<CUnit> LoadUnitFrom(const std::string& path, const CDeviceTable& table) const;
    // The saved unit, else a fresh unit of the default device (or the table's first).
    CUnit LoadUnitOrFresh(const CDeviceTable& table) const;
    bool SaveUnit(const CUnit& unit) const;
    bool SaveUnitTo(const std::string& path, const CUnit& unit) const;

    // Adds (or with count 0 removes) an injected failure.
    bool InjectFault(const std::string& function, int32_t code, int32_t count) const;
    // Takes one pending failure of the function from the settings file:
    // true with its code when one was due.
    bool ConsumeFault(const std::string& function, int32_t& code) const;

private:
    bool WriteAtomically(const std::string& path, const std::string& text) const;
    std::string Directory;
};

std::string RenderUnit(const CUnit& unit);
std::optional<CUnit> ParseUnit(const std::string& text, const CDeviceTable& table);

}  // namespace velk
