#include "DeviceTable.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unordered_set>

#include "Blanks.h"
#include "Codes.h"

namespace velk {

namespace {

constexpr size_t kMaxDevices = 4096;
constexpr size_t kMaxRegions = 64;
constexpr size_t kMaxCfgBytes = size_t{16} << 20;

bool ParseNumber(std::string_view token, int64_t max, int64_t& out)
{
    if (token.empty() || token.size() > 12) return false;
    size_t i = 0;
    int base = 10;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        base = 16;
        i = 2;
    }
    int64_t v = 0;
    for (; i < token.size(); ++i) {
        const char c = token[i];
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        v = v * base + d;
        if (v > max) return false;
    }
    out = v;
    return true;
}

bool ValidName(const std::string& s)
{
    if (s.empty() || s.size() > 63) return false;
    for (unsigned char c : s)
        if (!(std::isalnum(c) || c == '_' || c == '-')) return false;
    return true;
}

std::string Upper(std::string s)
{
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Splits a line at white space (as stream extraction would), without copying.
void Split(std::string_view line, std::vector<std::string_view>& tokens)
{
    tokens.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsWhiteSpace(line[i])) ++i;
        const size_t start = i;
        while (i < line.size() && !IsWhiteSpace(line[i])) ++i;
        if (i > start) tokens.push_back(line.substr(start, i - start));
    }
}

std::string DirOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

const CRegion* CDevice::RegionAt(uint32_t address) const
{
    for (const auto& r : Regions)
        if (r.Contains(address)) return &r;
    return nullptr;
}

int32_t CDevice::CheckSegment(uint32_t address, uint32_t size) const
{
    const CRegion* r = RegionAt(address);
    if (!r) return kNotFlash;
    if (!r->Writable()) return kProtected;
    if ((address - r->Start) % r->SegmentSize != 0 || size != r->SegmentSize) return kNotSegmentStart;
    return kOk;
}

// Walks the range region by region; a gap or a region the rule refuses ends it.
static int32_t CheckRange(const CDevice& d, uint32_t address, uint32_t count, bool write)
{
    uint64_t pos = address;
    const uint64_t end = uint64_t{address} + count;
    while (pos < end) {
        const CRegion* r = pos < kAddressSpace ? d.RegionAt(static_cast<uint32_t>(pos)) : nullptr;
        if (!r) return kNotFlash;
        if (write && !r->Writable()) return kProtected;
        pos = r->End();
    }
    return kOk;
}

int32_t CDevice::CheckWritable(uint32_t address, uint32_t count) const { return CheckRange(*this, address, count, true); }

int32_t CDevice::CheckReadable(uint32_t address, uint32_t count) const { return CheckRange(*this, address, count, false); }

uint32_t CDevice::MemoryEnd() const
{
    uint32_t end = 0;
    for (const auto& r : Regions) end = std::max(end, r.End());
    return end;
}

int32_t CDevice::MainFlashBytes() const
{
    uint32_t n = 0;
    for (const auto& r : Regions)
        if (r.Type == kRegionMain) n += r.SegmentSize * r.SegmentCount;
    return static_cast<int32_t>(n);
}

void CDevice::Values(int32_t out[8]) const
{
    out[0] = Family;
    out[1] = Cpu;
    out[2] = Supply;
    out[3] = SupplyMin;
    out[4] = SupplyMax;
    out[5] = ProgramMin;
    out[6] = MainFlashBytes();
    out[7] = Ram;
}

// A device line's values into d: null, or what is wrong with them.
static const char* DeviceLine(const std::vector<std::string_view>& tok, std::unordered_set<std::string>& names,
                              CDevice& d)
{
    d.Name = Upper(std::string(tok[1]));
    if (!ValidName(d.Name)) return "bad device name";
    if (!names.insert(d.Name).second) return "device listed twice";
    int64_t v[8];
    for (int i = 0; i < 8; ++i)
        if (!ParseNumber(tok[2 + i], 0x7FFFFFFF, v[i])) return "bad number";
    d.Family = static_cast<int32_t>(v[0]);
    d.Cpu = static_cast<int32_t>(v[1]);
    d.Supply = static_cast<int32_t>(v[2]);
    d.SupplyMin = static_cast<int32_t>(v[3]);
    d.SupplyMax = static_cast<int32_t>(v[4]);
    d.ProgramMin = static_cast<int32_t>(v[5]);
    d.Ram = static_cast<int32_t>(v[6]);
    d.EraseMs = static_cast<int32_t>(v[7]);
    if (d.Family != 1 && d.Family != 2 && d.Family != 4 && d.Family != 5) return "bad family";
    if (d.Cpu != 0 && d.Cpu != 1) return "bad CPU";
    if (d.SupplyMin <= 0 || d.SupplyMin > d.Supply || d.Supply > d.SupplyMax || d.SupplyMax > 10000)
        return "bad supply range";
    if (d.ProgramMin < d.SupplyMin || d.ProgramMin > d.SupplyMax) return "bad programming supply";
    if (d.EraseMs > 10000) return "bad erase time";
    return nullptr;
}

// A region line appended to the device: null, or what is wrong with it.
static const char* RegionLine(const std::vector<std::string_view>& tok, CDevice& d)
{
    if (d.Regions.size() == kMaxRegions) return "too many regions";
    int64_t type, start, size, count;
    if (!ParseNumber(tok[1], 100, type) || !ParseNumber(tok[2], kAddressSpace, start) ||
        !ParseNumber(tok[3], 0x10000, size) || !ParseNumber(tok[4], 0x10000, count))
        return "bad number";
    if (type != kRegionMain && type != kRegionInfo && type != kRegionCalibration && type != kRegionBsl &&
        type != kRegionTlv)
        return "bad region type";
    if (size == 0 || count == 0 || start + size * count > int64_t{kAddressSpace})
        return "region outside the address space";
    CRegion r{static_cast<int32_t>(type), static_cast<uint32_t>(start), static_cast<uint32_t>(size),
              static_cast<uint32_t>(count)};
    if (!d.Regions.empty() && r.Start < d.Regions.back().End()) return "regions overlap or out of order";
    d.Regions.push_back(r);
    return nullptr;
}

bool CDeviceTable::Parse(std::string_view text, std::string* error)
{
    DevicesList.clear();
    std::vector<CDevice> devices;
    std::unordered_set<std::string> names;
    std::vector<std::string_view> tok;
    int line = 0;
    auto fail = [&](const std::string& what) {
        if (error) *error = "device.cfg line " + std::to_string(line) + ": " + what;
        return false;
    };
    size_t pos = 0;
    while (pos < text.size()) {
        ++line;
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view raw = text.substr(pos, eol - pos);
        pos = eol + 1;
        const auto hash = raw.find('#');
        if (hash != std::string_view::npos) raw = raw.substr(0, hash);
        Split(raw, tok);
        if (tok.empty()) continue;
        for (const auto& t : tok)
            for (unsigned char c : t)
                if (c < 0x21 || c > 0x7E) return fail("unexpected character");
        if (tok[0] == "device") {
            if (tok.size() != 10) return fail("a device line has 9 values");
            if (devices.size() == kMaxDevices) return fail("too many devices");
            if (!devices.empty() && devices.back().Regions.empty()) return fail("device without regions");
            CDevice d;
            if (const char* bad = DeviceLine(tok, names, d)) return fail(bad);
            devices.push_back(std::move(d));
        } else if (tok[0] == "region") {
            if (devices.empty()) return fail("region before the first device");
            if (tok.size() != 5) return fail("a region line has 4 values");
            if (const char* bad = RegionLine(tok, devices.back())) return fail(bad);
        } else {
            return fail("unknown keyword \"" + std::string(tok[0].substr(0, 32)) + "\"");
        }
    }
    if (devices.empty()) return fail("no devices");
    if (devices.back().Regions.empty()) return fail("device without regions");
    for (const auto& d : devices)
        if (d.MainFlashBytes() == 0) {
            if (error) *error = "device.cfg: " + d.Name + " has no main flash";
            return false;
        }
    DevicesList = std::move(devices);
    return true;
}

bool CDeviceTable::Load(const std::string& path, std::string* error)
{
    DevicesList.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot open " + path;
        return false;
    }
    std::string text;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        text.append(buf, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxCfgBytes) {
            if (error) *error = path + " is too large";
            return false;
        }
    }
    if (in.bad()) {
        if (error) *error = "cannot read " + path;
        return false;
    }
    return Parse(text, error);
}

int32_t CDeviceTable::IndexOf(std::string_view name) const
{
    for (size_t i = 0; i < DevicesList.size(); ++i)
        if (SameName(DevicesList[i].Name, name)) return static_cast<int32_t>(i);
    return -1;
}

const CDevice* CDeviceTable::Find(std::string_view name) const
{
    const int32_t i = IndexOf(name);
    return i < 0 ? nullptr : &DevicesList[static_cast<size_t>(i)];
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

namespace {

// Beside the program, then beside the library. Neither moves while the
// process runs, so they are looked up once.
const std::vector<std::string>& InstalledCandidates()
{
    static const std::vector<std::string> candidates = [] {
        std::vector<std::string> out;
        char exe[4096];
        const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            exe[n] = '\0';
            out.push_back(DirOf(exe) + "/device.cfg");
        }
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&DeviceCfgCandidates), &info) && info.dli_fname) {
            std::string lib = DirOf(info.dli_fname) + "/device.cfg";
            if (out.empty() || out.front() != lib) out.push_back(lib);
        }
        return out;
    }();
    return candidates;
}

}  // namespace

std::vector<std::string> DeviceCfgCandidates()
{
    if (const char* env = std::getenv("VELK430_DEVICE_CFG"); env && *env) return {std::string(env)};
    return InstalledCandidates();
}

bool LoadDefaultDeviceTable(CDeviceTable& table, std::string* error)
{
    const auto candidates = DeviceCfgCandidates();
    for (const auto& path : candidates) {
        if (access(path.c_str(), F_OK) != 0) continue;
        return table.Load(path, error);
    }
    table = CDeviceTable{};
    if (error) *error = candidates.empty() ? "device.cfg not found" : "cannot open " + candidates.front();
    return false;
}

}  // namespace velk
