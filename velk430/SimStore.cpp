#include "SimStore.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <algorithm>
#include <atomic>

#include "Codes.h"
#include "velk430.h"

namespace velk {

namespace {

const char* const kFunctions[] = {"InitCom",       "SetNotificationWnd", "ReleaseCom",  "SetDeviceType",
                                  "InitTarget",    "ReleaseTarget",      "SetVcc",      "GetDeviceCfgInfo",
                                  "Erase",         "ProgramFile",        "VerifyFile",  "ProgramData",
                                  "VerifyData",    "BlowFuse",           "Reset"};


// The firmware file's rules: opened without blocking (a named pipe without a
// writer cannot hold the caller), only a regular file, its size checked
// before a byte is read, and a file that grows while read is refused too.
EStateFile ReadFile(const std::string& path, std::string& out)
{
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno == ENOENT ? EStateFile::Missing : EStateFile::Unusable;
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<uint64_t>(st.st_size) > kMaxStateBytes) {
        close(fd);
        return EStateFile::Unusable;
    }
    out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || out.size() + static_cast<size_t>(n) > kMaxStateBytes) {
            close(fd);
            out.clear();
            return EStateFile::Unusable;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return EStateFile::Ok;
}

bool ParseInt(const std::string& s, int64_t lo, int64_t hi, int64_t& out)
{
    if (s.empty() || s.size() > 12) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(s.c_str(), &end, 0);
    if (errno || *end || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool MakeDirs(const std::string& dir)
{
    std::string path;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        path = dir.substr(0, pos);
        if (path.empty()) continue;
        if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st{};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

const char kHexDigits[] = "0123456789ABCDEF";

// Upper-case hex only, as RenderUnit writes it.
inline int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string CanonicalFunctionName(const std::string& name)
{
    for (const char* f : kFunctions)
        if (SameName(f, name)) return f;
    return {};
}

std::string CSimSettings::Render(bool withTiming) const
{
    std::string s = "# velk430-sim settings; change them with velk430-sim\n";
    s += "port " + Port + "\n";
    if (withTiming) s += std::string("timing ") + (Timing == ETiming::Fast ? "fast" : "realistic") + "\n";
    s += std::string("feed ") + (Feed == EFeed::Manual ? "manual" : "auto") + "\n";
    for (const auto& f : Faults)
        if (f.Count > 0) s += "fail " + f.Function + " " + std::to_string(f.Code) + " " + std::to_string(f.Count) + "\n";
    return s;
}

bool CSimSettings::Parse(const std::string& text)
{
    CSimSettings out;
    out.Port = Port;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (const auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream ls(line);
        std::vector<std::string> tok;
        for (std::string t; ls >> t;) tok.push_back(t);
        if (tok.empty()) continue;
        if (tok[0] == "port" && tok.size() == 2 && tok[1].size() <= 31) {
            out.Port = tok[1];
        } else if (tok[0] == "timing" && tok.size() == 2 && (tok[1] == "fast" || tok[1] == "realistic")) {
            out.Timing = tok[1] == "fast" ? ETiming::Fast : ETiming::Realistic;
        } else if (tok[0] == "feed" && tok.size() == 2 && (tok[1] == "auto" || tok[1] == "manual")) {
            out.Feed = tok[1] == "manual" ? EFeed::Manual : EFeed::Auto;
        } else if (tok[0] == "fail" && tok.size() == 4) {
            CFault f;
            f.Function = CanonicalFunctionName(tok[1]);
            int64_t code, count;
            if (f.Function.empty() || !ParseInt(tok[2], INT32_MIN, INT32_MAX, code) ||
                !ParseInt(tok[3], 0, INT32_MAX, count))
                return false;
            f.Code = static_cast<int32_t>(code);
            f.Count = static_cast<int32_t>(count);
            out.Faults.push_back(f);
        } else {
            return false;
        }
    }
    *this = std::move(out);
    return true;
}

int SlotOfName(std::string_view name)
{
    if (name.size() != 4 || !SameName(name.substr(0, 3), "COM") || name[3] < '1' || name[3] > '0' + kSimSlots)
        return 0;
    return name[3] - '0';
}

CSimStore::CSimStore(std::string root, int slot)
    : Root(std::move(root)), SlotNumber(slot >= 1 && slot <= kSimSlots ? slot : 1),
      Directory(SlotNumber == 1 ? Root : Root + "/COM" + std::to_string(SlotNumber))
{
}

bool CSimStore::Present() const
{
    struct stat st{};
    return SlotNumber == 1 || (stat(Directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

int CSimStore::Answering(const std::string& root, std::string_view name)
{
    if (name.empty() || SameName(name, "none")) return 0;
    for (int slot = 1; slot <= kSimSlots; ++slot) {
        const CSimStore store(root, slot);
        if (store.Present() && SameName(store.LoadSettings().Port, name)) return slot;
    }
    return 0;
}

bool CSimStore::FastTiming() const
{
    return FastForced() || CSimStore(Root).LoadSettings().Timing == ETiming::Fast;
}

std::string CSimStore::DefaultDir()
{
    if (const char* d = std::getenv("VELK430_SIM_DIR"); d && *d) return d;
    if (const char* x = std::getenv("XDG_STATE_HOME"); x && *x) return std::string(x) + "/velk430-sim";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/state/velk430-sim";
}

bool CSimStore::FastForced()
{
    const char* t = std::getenv("VELK430_SIM_TIMING");
    return t && std::strcmp(t, "fast") == 0;
}

bool CSimStore::WriteAtomically(const std::string& path, const std::string& text) const
{
    if (!MakeDirs(Directory)) return false;
    const std::string tmp = path + ".tmp" + std::to_string(getpid());
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            unlink(tmp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

EStateFile CSimStore::Check(const std::string& path)
{
    std::string text;
    return ReadFile(path, text);
}

bool CSimStore::StateFilesUsable() const
{
    return Check(SettingsPath()) != EStateFile::Unusable && Check(UnitPath()) != EStateFile::Unusable;
}

int CSimStore::LockProgrammer() const
{
    if (!MakeDirs(Directory)) return -1;
    const int fd = ::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void CSimStore::UnlockProgrammer(int fd)
{
    if (fd >= 0) close(fd);  // closing the descriptor drops its lock
}

CSimSettings CSimStore::LoadSettings() const
{
    CSimSettings s;
    s.Port = SlotName();
    std::string text;
    if (ReadFile(SettingsPath(), text) == EStateFile::Ok) s.Parse(text);
    return s;
}

bool CSimStore::SaveSettings(const CSimSettings& settings) const
{
    return WriteAtomically(SettingsPath(), settings.Render(SlotNumber == 1));
}

bool CSimStore::InjectFault(const std::string& function, int32_t code, int32_t count) const
{
    const std::string name = CanonicalFunctionName(function);
    if (name.empty() || count < 0) return false;
    CSimSettings s = LoadSettings();
    std::erase_if(s.Faults, [&](const CFault& f) { return f.Function == name; });
    if (count > 0) s.Faults.push_back({name, code, count});
    return SaveSettings(s);
}

bool CSimStore::ConsumeFault(const std::string& function, int32_t& code) const
{
    CSimSettings s = LoadSettings();
    for (auto& f : s.Faults)
        if (f.Function == function && f.Count > 0) {
            code = f.Code;
            --f.Count;
            SaveSettings(s);
            return true;
        }
    return false;
}

static bool AppendLine(const std::string& dir, const std::string& path, const std::string& line)
{
    if (!MakeDirs(dir)) return false;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // One write: appended lines never interleave or tear on a process kill.
    const ssize_t n = write(fd, line.data(), line.size());
    const bool ok = close(fd) == 0 && n == static_cast<ssize_t>(line.size());
    return ok;
}

uint8_t CTrayEntry::Read(uint32_t address) const
{
    for (const auto& [start, bytes] : Info)
        if (address >= start && address - start < bytes.size()) return bytes[address - start];
    return 0xFF;
}

std::string RenderTrayEntry(const CUnit& unit)
{
    char head[64];
    std::snprintf(head, sizeof head, " main %08X", unit.MainCrc());
    std::string s = unit.Device().Name + head;
    for (const CRegion& r : unit.Device().Regions) {
        if (r.Type != kRegionInfo) continue;
        char at[32];
        std::snprintf(at, sizeof at, " info 0x%05X ", r.Start);
        s += at;
        for (uint32_t a = r.Start; a < r.End(); ++a) {
            const uint8_t b = unit.Read(a);
            s += kHexDigits[b >> 4];
            s += kHexDigits[b & 15];
        }
    }
    return s + "\n";
}

std::optional<CTrayEntry> ParseTrayEntry(const std::string& line)
{
    std::istringstream in(line);
    CTrayEntry e;
    std::string word, crc;
    if (!(in >> e.Device >> word >> crc) || word != "main" || crc.size() != 8) return std::nullopt;
    int64_t v = 0;
    if (!ParseInt("0x" + crc, 0, UINT32_MAX, v)) return std::nullopt;
    e.MainCrc = static_cast<uint32_t>(v);
    std::string addr, hex;
    while (in >> word) {
        if (word != "info" || !(in >> addr >> hex) || !ParseInt(addr, 0, kAddressSpace - 1, v) || hex.size() % 2)
            return std::nullopt;
        std::vector<uint8_t> bytes(hex.size() / 2);
        for (size_t i = 0; i < bytes.size(); ++i) {
            const int hi = HexValue(hex[2 * i]);
            const int lo = HexValue(hex[2 * i + 1]);
            if (hi < 0 || lo < 0) return std::nullopt;
            bytes[i] = static_cast<uint8_t>((hi << 4) | lo);
        }
        e.Info.emplace_back(static_cast<uint32_t>(v), std::move(bytes));
    }
    return e;
}

bool CSimStore::AppendToTray(const CUnit& unit) const
{
    return AppendLine(Directory, TrayPath(), RenderTrayEntry(unit));
}

std::vector<CTrayEntry> CSimStore::LoadTray() const
{
    std::vector<CTrayEntry> out;
    std::ifstream in(TrayPath(), std::ios::binary);
    for (std::string line; std::getline(in, line);)
        if (auto e = ParseTrayEntry(line)) out.push_back(std::move(*e));
    return out;
}

void KillPoint(const char* function, const char* port)
{
    static const long long at = [] {
        const char* v = std::getenv("VELK430_SIM_KILL_AT");
        return v && *v ? std::atoll(v) : 0LL;
    }();
    static std::atomic<long long> calls{0};
    static std::atomic<bool> opened{false};
    // Counted from the first InitCom: the device list read at start-up
    // would otherwise swallow most of the range.
    // The slot of the port last opened: its kills file takes the note.
    static int slot = 1;
    if (at <= 0) return;
    const std::string root = CSimStore::DefaultDir();
    if (std::strcmp(function, "InitCom") == 0) {
        opened = true;
        if (port) slot = std::max(1, CSimStore::Answering(root, std::string_view(port, strnlen(port, VELK_PORT_BUFFER))));
    }
    if (!opened || ++calls != at) return;
    const CSimStore store(root, slot);
    AppendLine(store.Dir(), store.KillsPath(), std::to_string(at) + " " + function + "\n");
    raise(SIGKILL);
}

std::string RenderUnit(const CUnit& unit)
{
    std::string s;
    s.reserve(4096 + unit.Memory().size() * 2);
    s += "velk430-unit 1\n";
    s += "device " + unit.Device().Name + "\n";
    s += std::string("fuse ") + (unit.FuseBlown() ? "blown" : "intact") + "\n";
    const auto mem = unit.Memory();
    for (uint32_t a : unit.NonBlankSegments()) {
        const CRegion* r = unit.Device().RegionAt(a);
        char head[32];
        std::snprintf(head, sizeof head, "seg 0x%05X ", a);
        s += head;
        const size_t at = s.size();
        s.resize(at + size_t{r->SegmentSize} * 2 + 1);
        char* out = s.data() + at;
        for (uint32_t i = 0; i < r->SegmentSize; ++i) {
            const uint8_t b = mem[a + i];
            *out++ = kHexDigits[b >> 4];
            *out++ = kHexDigits[b & 15];
        }
        *out = '\n';
    }
    char tail[32];
    std::snprintf(tail, sizeof tail, "end %08X\n", Crc32(reinterpret_cast<const uint8_t*>(s.data()), s.size()));
    return s + tail;
}

std::optional<CUnit> ParseUnit(const std::string& text, const CDeviceTable& table)
{
    // The last line carries the CRC-32 of everything before it.
    if (text.size() < 14 || text.back() != '\n') return std::nullopt;
    const size_t lastStart = text.rfind('\n', text.size() - 2) + 1;
    const std::string last = text.substr(lastStart);
    unsigned crc = 0;
    char extra = 0;
    if (std::sscanf(last.c_str(), "end %8X%c", &crc, &extra) != 2 || extra != '\n' || last.size() != 13)
        return std::nullopt;
    if (crc != Crc32(reinterpret_cast<const uint8_t*>(text.data()), lastStart)) return std::nullopt;

    std::istringstream in(text.substr(0, lastStart));
    std::string line;
    if (!std::getline(in, line) || line != "velk430-unit 1") return std::nullopt;
    if (!std::getline(in, line) || line.rfind("device ", 0) != 0) return std::nullopt;
    const CDevice* device = table.Find(line.substr(7));
    if (!device) return std::nullopt;
    if (!std::getline(in, line) || (line != "fuse blown" && line != "fuse intact")) return std::nullopt;
    CUnit unit = CUnit::Blank(*device);
    unit.SetFuseBlown(line == "fuse blown");
    std::vector<uint8_t> bytes;
    while (std::getline(in, line)) {
        unsigned addr = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "seg 0x%5X %n", &addr, &used) != 1 || used == 0) return std::nullopt;
        const CRegion* r = device->RegionAt(addr);
        if (!r || (addr - r->Start) % r->SegmentSize != 0) return std::nullopt;
        const std::string hex = line.substr(static_cast<size_t>(used));
        if (hex.size() != size_t{r->SegmentSize} * 2) return std::nullopt;
        bytes.resize(r->SegmentSize);
        for (size_t i = 0; i < bytes.size(); ++i) {
            const int hi = HexValue(hex[2 * i]);
            const int lo = HexValue(hex[2 * i + 1]);
            if (hi < 0 || lo < 0) return std::nullopt;
            bytes[i] = static_cast<uint8_t>((hi << 4) | lo);
        }
        unit.Restore(addr, bytes.data(), bytes.size());
    }
    return unit;
}

std::optional<CUnit> CSimStore::LoadUnitFrom(const std::string& path, const CDeviceTable& table) const
{
    std::string text;
    if (ReadFile(path, text) != EStateFile::Ok) return std::nullopt;
    return ParseUnit(text, table);
}

std::optional<CUnit> CSimStore::LoadUnit(const CDeviceTable& table) const { return LoadUnitFrom(UnitPath(), table); }

CUnit CSimStore::LoadUnitOrFresh(const CDeviceTable& table) const
{
    if (auto u = LoadUnit(table)) return std::move(*u);
    const CDevice* d = table.Find(kDefaultDevice);
    return CUnit(d ? *d : table.Devices().front());
}

bool CSimStore::SaveUnit(const CUnit& unit) const { return SaveUnitTo(UnitPath(), unit); }

bool CSimStore::SaveUnitTo(const std::string& path, const CUnit& unit) const
{
    return WriteAtomically(path, RenderUnit(unit));
}

}  // namespace velk
