// velk430-sim: looks at and changes the simulated programmer and the unit on
// its socket, between runs of the station.
//
// Exit codes: 0 done; 1 the command ran but failed (a file with an error, an
// unknown device, an address outside the unit); 2 usage error; 3 device.cfg
// or the state directory could not be read or written.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CodeTable.h"
#include "Codes.h"
#include "DeviceTable.h"
#include "SimStore.h"
#include "Image.h"
#include "Unit.h"

namespace {

using namespace velk;

enum { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitState = 3 };

const char kUsage[] =
    "usage: velk430-sim [--port COMn] COMMAND [ARGS]\n"
    "  --port COMn                   the programmer in slot COM1 ... COM8 (default COM1); each has\n"
    "                                its own unit, tray, feed mode, failures and port name\n"
    "  status                        port, timing, feed mode and the unit on the socket\n"
    "  dump ADDR LEN                 hex dump of the unit's memory (LEN at most 65536)\n"
    "  swap [--device NAME] [--fuse blown]\n"
    "                                put a fresh unit on the socket\n"
    "  feed auto|manual              auto: a unit that passed is replaced when the port closes\n"
    "  timing realistic|fast         link timing of all programmers (VELK430_SIM_TIMING=fast forces fast)\n"
    "  port NAME                     the port name the programmer answers on (default its slot's\n"
    "                                name); 'port none': it answers on none\n"
    "  fail FUNCTION [CODE] [COUNT]  the next COUNT calls (default 1) of FUNCTION return CODE\n"
    "                                (default -25); COUNT 0 removes it; 'fail clear' removes all\n"
    "  check FILE                    the sections of a firmware file (TI-TXT, Intel HEX,\n"
    "                                S-record, ELF), or its first error\n"
    "  codes                         the library's result codes as a Markdown table (velk430/README.md)\n"
    "State directory: $VELK430_SIM_DIR, else $XDG_STATE_HOME/velk430-sim, else ~/.local/state/velk430-sim;\n"
    "COM1's files lie in it, COMn's in its subfolder COMn. A slot other than COM1 has a programmer\n"
    "once a command wrote to it (e.g. velk430-sim --port COM2 swap); until then its port answers\n"
    "\"no programmer\".\n";

int Usage(const char* what)
{
    if (what) std::fprintf(stderr, "velk430-sim: %s\n", what);
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

bool ParseLong(const char* s, long long lo, long long hi, long long& out)
{
    if (!s || !*s) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s, &end, 0);
    if (errno || *end || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool LoadTable(CDeviceTable& table)
{
    std::string error;
    if (LoadDefaultDeviceTable(table, &error)) return true;
    std::fprintf(stderr, "velk430-sim: %s\n", error.c_str());
    return false;
}

int Status(const CSimStore& store)
{
    CDeviceTable table;
    if (!LoadTable(table)) return kExitState;
    // Such a file is never read (it could hang or flood the reader), and
    // the library will not open the port on it: say so, not a fresh unit.
    for (const std::string& path : {store.SettingsPath(), store.UnitPath()})
        if (CSimStore::Check(path) == EStateFile::Unusable) {
            std::fprintf(stderr, "velk430-sim: %s is not a regular file of at most 8 MiB\n", path.c_str());
            return kExitState;
        }
    const CSimSettings s = store.LoadSettings();
    const CUnit unit = store.LoadUnitOrFresh(table);
    const CDevice& d = unit.Device();
    std::printf("state:    %s\n", store.Dir().c_str());
    if (store.Present()) std::printf("port:     %s\n", s.Port.c_str());
    else std::printf("port:     none (no programmer in slot %s yet)\n", store.SlotName().c_str());
    std::printf("timing:   %s%s\n", store.FastTiming() ? "fast" : "realistic",
                CSimStore::FastForced() ? " (fast forced by VELK430_SIM_TIMING)" : "");
    std::printf("feed:     %s\n", s.Feed == EFeed::Manual ? "manual" : "auto");
    std::printf("unit:     %s\n", d.Name.c_str());
    std::printf("fuse:     %s\n", unit.FuseBlown() ? "blown" : "intact");
    std::printf("supply:   %d..%d mV, programming from %d mV, default %d mV\n", d.SupplyMin, d.SupplyMax,
                d.ProgramMin, d.Supply);
    const auto segments = unit.NonBlankSegments();
    std::printf("non-blank segments:");
    if (segments.empty()) std::printf(" none");
    for (uint32_t a : segments) std::printf(" %05X", a);
    std::printf("\nmain flash CRC-32: %08X\n", unit.MainCrc());
    for (const auto& f : s.Faults)
        if (f.Count > 0) std::printf("pending failure: %s returns %d, %d more time(s)\n", f.Function.c_str(), f.Code, f.Count);
    return kExitOk;
}

int Dump(const CSimStore& store, int argc, char** argv)
{
    long long addr, len;
    if (argc != 2 || !ParseLong(argv[0], 0, kAddressSpace - 1, addr) || !ParseLong(argv[1], 1, 65536, len))
        return Usage("dump takes an address (below 0x100000) and a length (1 to 65536)");
    CDeviceTable table;
    if (!LoadTable(table)) return kExitState;
    const CUnit unit = store.LoadUnitOrFresh(table);
    if (unit.CheckReadable(static_cast<uint32_t>(addr), static_cast<uint32_t>(len)) != kOk) {
        std::fprintf(stderr, "velk430-sim: %05llX..%05llX is not all memory of %s\n", addr, addr + len - 1,
                     unit.Device().Name.c_str());
        return kExitFailed;
    }
    for (long long a = addr; a < addr + len; a += 16) {
        std::printf("%05llX:", a);
        for (long long i = a; i < a + 16 && i < addr + len; ++i) std::printf(" %02X", unit.Read(static_cast<uint32_t>(i)));
        std::printf("\n");
    }
    return kExitOk;
}

int Swap(const CSimStore& store, int argc, char** argv)
{
    std::string device;
    bool blown = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--device") == 0 && i + 1 < argc) {
            device = argv[++i];
        } else if (std::strcmp(argv[i], "--fuse") == 0 && i + 1 < argc &&
                   (std::strcmp(argv[i + 1], "blown") == 0 || std::strcmp(argv[i + 1], "intact") == 0)) {
            blown = std::strcmp(argv[++i], "blown") == 0;
        } else {
            return Usage("swap takes --device NAME and --fuse blown|intact");
        }
    }
    CDeviceTable table;
    if (!LoadTable(table)) return kExitState;
    const CDevice* d = nullptr;
    if (device.empty()) {
        d = table.Find(store.LoadUnitOrFresh(table).Device().Name);
    } else if (!(d = table.Find(device))) {
        std::fprintf(stderr, "velk430-sim: unknown device %s\n", device.substr(0, 128).c_str());
        return kExitFailed;
    }
    CUnit unit(*d);
    unit.SetFuseBlown(blown);
    if (!store.SaveUnit(unit)) {
        std::fprintf(stderr, "velk430-sim: cannot write %s\n", store.UnitPath().c_str());
        return kExitState;
    }
    std::printf("fresh %s on the socket, fuse %s\n", d->Name.c_str(), blown ? "blown" : "intact");
    return kExitOk;
}

int SaveSettings(const CSimStore& store, const CSimSettings& s)
{
    if (store.SaveSettings(s)) return kExitOk;
    std::fprintf(stderr, "velk430-sim: cannot write %s\n", store.SettingsPath().c_str());
    return kExitState;
}

int Fail(const CSimStore& store, int argc, char** argv)
{
    if (argc == 1 && std::strcmp(argv[0], "clear") == 0) {
        CSimSettings s = store.LoadSettings();
        s.Faults.clear();
        return SaveSettings(store, s);
    }
    if (argc < 1 || argc > 3) return Usage("fail takes FUNCTION [CODE] [COUNT]");
    const std::string function = CanonicalFunctionName(argv[0]);
    if (function.empty()) return Usage("fail: not one of the library's 15 functions");
    long long code = kInjected, count = 1;
    if (argc >= 2 && !ParseLong(argv[1], INT32_MIN, INT32_MAX, code)) return Usage("fail: CODE is a 32-bit integer");
    if (argc == 3 && !ParseLong(argv[2], 0, INT32_MAX, count)) return Usage("fail: COUNT is 0 or more");
    if (!store.InjectFault(function, static_cast<int32_t>(code), static_cast<int32_t>(count))) {
        std::fprintf(stderr, "velk430-sim: cannot write %s\n", store.SettingsPath().c_str());
        return kExitState;
    }
    return kExitOk;
}

int Check(const char* path)
{
    const CImageResult r = ReadImageFile(path);
    if (!r.Ok()) {
        if (r.Line > 0) std::printf("%s:%d: %s\n", path, r.Line, r.Message.c_str());
        else std::printf("%s: %s\n", path, r.Message.c_str());
        return kExitFailed;
    }
    for (const auto& s : r.Image.Sections)
        std::printf("@%05X..%05X  %zu bytes\n", s.Start, s.End() - 1, s.Bytes.size());
    std::printf("%zu section(s), %zu bytes\n", r.Image.Sections.size(), r.Image.ByteCount());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    int slot = 1;
    if (argc >= 2 && std::strcmp(argv[1], "--port") == 0) {
        if (argc < 3 || !(slot = SlotOfName(argv[2]))) return Usage("--port takes COM1 ... COM8");
        argc -= 2;
        argv += 2;
    }
    if (argc < 2) return Usage(nullptr);
    const std::string cmd = argv[1];
    const CSimStore store(CSimStore::DefaultDir(), slot);
    const int n = argc - 2;
    char** rest = argv + 2;
    if (cmd == "status" && n == 0) return Status(store);
    if (cmd == "dump") return Dump(store, n, rest);
    if (cmd == "swap") return Swap(store, n, rest);
    if (cmd == "fail") return Fail(store, n, rest);
    if (cmd == "check" && n == 1) return Check(rest[0]);
    if (cmd == "codes" && n == 0) return std::fputs(CodeTableMarkdown().c_str(), stdout) < 0 ? kExitFailed : kExitOk;
    if (cmd == "feed" && n == 1 && (std::strcmp(rest[0], "auto") == 0 || std::strcmp(rest[0], "manual") == 0)) {
        CSimSettings s = store.LoadSettings();
        s.Feed = std::strcmp(rest[0], "manual") == 0 ? EFeed::Manual : EFeed::Auto;
        return SaveSettings(store, s);
    }
    if (cmd == "timing" && n == 1 && (std::strcmp(rest[0], "fast") == 0 || std::strcmp(rest[0], "realistic") == 0)) {
        // One timing for all programmers: COM1's setting.
        const CSimStore first(store.RootDir());
        CSimSettings s = first.LoadSettings();
        s.Timing = std::strcmp(rest[0], "fast") == 0 ? ETiming::Fast : ETiming::Realistic;
        return SaveSettings(first, s);
    }
    if (cmd == "port" && n == 1) {
        const size_t len = std::strlen(rest[0]);
        if (len == 0 || len > 31 || std::strpbrk(rest[0], " \t\r\n#")) return Usage("port: a name of 1 to 31 characters, no blanks");
        CSimSettings s = store.LoadSettings();
        s.Port = rest[0];
        return SaveSettings(store, s);
    }
    if (cmd == "-h" || cmd == "--help" || cmd == "help") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    return Usage(("unknown command or wrong arguments: " + cmd.substr(0, 64)).c_str());
}
