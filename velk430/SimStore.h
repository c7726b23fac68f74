#pragma once
// The simulator's persistent state: its settings (port, timing, feed mode,
// injected failures) and the unit on the socket, in a state directory shared
// by the library and the velk430-sim command. The simulator has up to eight
// programmers, one per slot COM1 ... COM8, each with its own folder (its
// settings, unit, tray, lock): COM1's is the state directory itself, COMn's
// the subfolder COMn, there once anything was written to it. Files are replaced atomically
// (written beside, then renamed); a missing or corrupt file reads as the
// defaults or a fresh unit. A state file is only read when it is a regular
// file of at most 8 MiB (a named pipe, a device or a larger file is never
// opened for reading): anything else reads as missing, and InitCom refuses
// to open the port on it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "DeviceTable.h"
#include "Unit.h"

namespace velk {

enum class ETiming { Realistic, Fast };
// What a state file is: absent, readable by the rules above, or neither.
enum class EStateFile { Missing, Ok, Unusable };
constexpr size_t kMaxStateBytes = size_t{8} << 20;
enum class EFeed { Auto, Manual };

// The next Count calls of Function return Code.
struct CFault {
    std::string Function;
    int32_t Code = 0;
    int32_t Count = 0;
};

struct CSimSettings {
    std::string Port = "COM1";  // the name the programmer answers on; "none": no name
    ETiming Timing = ETiming::Realistic;  // only COM1's counts: shared by all programmers
    EFeed Feed = EFeed::Auto;
    std::vector<CFault> Faults;

    // withTiming false leaves the timing line out (the other slots' files).
    std::string Render(bool withTiming = true) const;
    // False (settings unchanged) on any malformed line; a text without a
    // port line keeps Port as it was.
    bool Parse(const std::string& text);
};

// Slots of the simulated programmers: COM1 ... COM8.
constexpr int kSimSlots = 8;
// The slot a name such as "COM3" or "com3" names; 0 when none.
int SlotOfName(std::string_view name);

// The 15 function names a failure can be injected into; the canonical
// spelling of a case-insensitive match, or empty.
std::string CanonicalFunctionName(const std::string& name);

// The name of the device a fresh unit is when nothing else says.
constexpr const char* kDefaultDevice = "MSP430F112";

// One unit of the tray log: its type, the CRC-32 of its main flash and the
// bytes of its information flash (the type-3 regions).
struct CTrayEntry {
    std::string Device;
    uint32_t MainCrc = 0;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> Info;  // start address, bytes
    // An information-flash byte; 0xFF outside the logged regions.
    uint8_t Read(uint32_t address) const;
};

class CSimStore {
public:
    // The programmer in slot (1..8) of the state directory root; slot 1's
    // folder is root itself.
    explicit CSimStore(std::string root, int slot = 1);
    // $VELK430_SIM_DIR, else $XDG_STATE_HOME/velk430-sim, else ~/.local/state/velk430-sim.
    static std::string DefaultDir();
    // True when VELK430_SIM_TIMING=fast forces fast mode.
    static bool FastForced();

    // The programmer's folder.
    const std::string& Dir() const { return Directory; }
    const std::string& RootDir() const { return Root; }
    int Slot() const { return SlotNumber; }
    std::string SlotName() const { return "COM" + std::to_string(SlotNumber); }
    // Slot 1 always; another slot once its folder is there.
    bool Present() const;
    // The slot of root whose programmer answers on the port name (compared
    // without regard to case; COM1 first), else 0.
    static int Answering(const std::string& root, std::string_view name);
    // The timing all programmers share (COM1's setting, or forced fast).
    bool FastTiming() const;
    std::string SettingsPath() const { return Directory + "/settings"; }
    std::string UnitPath() const { return Directory + "/unit"; }
    // The unit last taken off the socket by automatic feeding.
    std::string PreviousUnitPath() const { return Directory + "/previous-unit"; }
    // Append-only log of every unit automatic feeding took off, one line each.
    std::string TrayPath() const { return Directory + "/tray"; }
    // Notes of the kills VELK430_SIM_KILL_AT made, "K FUNCTION" a line.
    std::string KillsPath() const { return Directory + "/kills"; }
    // Held (flock) by the one process that has the programmer's port open.
    std::string LockPath() const { return Directory + "/programmer.lock"; }

    // A state file by the rules above.
    static EStateFile Check(const std::string& path);
    // Neither the settings nor the unit file is there but unusable.
    bool StateFilesUsable() const;
    // Takes the programmer for this process: a descriptor holding the lock,
    // or -1 when another process holds it (or the folder cannot be made).
    int LockProgrammer() const;
    static void UnlockProgrammer(int fd);

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

    // Adds the unit to the tray log (one write of one line, so a process
    // killed meanwhile leaves the line whole or absent).
    bool AppendToTray(const CUnit& unit) const;
    // Every well-formed line of the tray log, oldest first.
    std::vector<CTrayEntry> LoadTray() const;

private:
    bool WriteAtomically(const std::string& path, const std::string& text) const;
    std::string Root;
    int SlotNumber = 1;
    std::string Directory;
};

// "DEVICE main CRC info 0xADDR HEX [info 0xADDR HEX ...]\n"
std::string RenderTrayEntry(const CUnit& unit);
std::optional<CTrayEntry> ParseTrayEntry(const std::string& line);

// Fault drills: with VELK430_SIM_KILL_AT=K (K >= 1) the process appends
// "K FUNCTION" to the kills file of the programmer it opened (InitCom passes
// its port text; COM1's before any) and kills itself with SIGKILL at the
// start of its K-th library call, counted from its first InitCom (InitCom is
// call 1). No effect otherwise.
void KillPoint(const char* function, const char* port = nullptr);

std::string RenderUnit(const CUnit& unit);
std::optional<CUnit> ParseUnit(const std::string& text, const CDeviceTable& table);

}  // namespace velk
