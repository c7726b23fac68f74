#include "MspProgrammer.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>

#include "Codes.h"
#include "Programmer.h"
#include "Shared.h"

namespace velk::msp {

namespace {

// Data moves in blocks of this many bytes: a notification after each.
constexpr uint32_t kBlock = 4096;
// mspdebug's sim erases 64 bytes per "erase segment" whatever the chip's
// segment size: the smallest flash segment of any MSP430.
constexpr uint32_t kSmallestSegment = 0x40;

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%05" PRIX32, value);
    return text;
}

constexpr std::string_view kScratchPrefix = "velk430-mspdebug-";

// Folders of this user's processes that are gone (killed before they could
// clean up): named after their owner's PID, removed when no such process is
// left. A folder of a live process, or of a process that is not ours, stays.
void RemoveStaleScratch(const std::string& dir)
{
    std::error_code error;
    for (std::filesystem::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        const std::filesystem::path& path = it->path();
        const std::string name = path.filename().string();
        if (name.compare(0, kScratchPrefix.size(), kScratchPrefix) != 0) continue;
        const char* digits = name.c_str() + kScratchPrefix.size();
        char* after = nullptr;
        const long pid = std::strtol(digits, &after, 10);
        struct stat info {};
        if (after == digits || *after != '-' || pid <= 0 || pid == getpid()) continue;
        if (lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

// A folder for the raw blocks: in memory (/dev/shm) where there is one, as
// the blocks are rewritten for every unit; else under $TMPDIR or /tmp. Its
// name must need no quoting in an mspdebug command, and carries our PID so
// that a later start can tell it from a live process's. Leftovers of killed
// processes go first.
std::string MakeScratch()
{
    const char* tmp = std::getenv("TMPDIR");
    for (std::string dir : {std::string("/dev/shm"), std::string(tmp && *tmp ? tmp : "/tmp"), std::string("/tmp")}) {
        if (dir.find_first_of("\" \t\\") != std::string::npos || access(dir.c_str(), W_OK) != 0) continue;
        RemoveStaleScratch(dir);
        std::string name = dir + "/" + std::string(kScratchPrefix) + std::to_string(getpid()) + "-XXXXXX";
        if (mkdtemp(name.data())) return name;
    }
    return {};
}

bool Blank(const std::vector<uint8_t>& bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

bool FuseMessage(const CReply& reply)
{
    for (const auto* list : {&reply.Lines, &reply.Errors, &reply.Debug})
        for (const auto& l : *list)
            if (l.find("fuse") != std::string::npos && l.find("blown") != std::string::npos) return true;
    return false;
}

// One name of mspdebug's chip table against a device name: without regard to
// case, a lower-case 'x' standing for any one character ("MSP430F2x18").
bool SameWithWildcards(std::string_view pattern, std::string_view name)
{
    if (pattern.size() != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (pattern[i] != 'x' && std::toupper(static_cast<unsigned char>(pattern[i])) !=
                                     std::toupper(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

}  // namespace

bool SamePart(std::string_view identified, std::string_view selected)
{
    std::string_view first;
    size_t from = 0;
    for (;;) {
        const size_t slash = identified.find('/', from);
        std::string_view alternative = identified.substr(from, slash == std::string_view::npos ? slash : slash - from);
        if (first.empty()) first = alternative;
        // "MSP430G2553/G2403": a short alternative takes the first one's prefix.
        std::string full(first.substr(0, first.size() > alternative.size() ? first.size() - alternative.size() : 0));
        full += alternative;
        if (!alternative.empty() && SameWithWildcards(full, selected)) return true;
        if (slash == std::string_view::npos) return false;
        from = slash + 1;
    }
}

CMspProgrammer::~CMspProgrammer()
{
    if (Open) ReleaseCom();
    std::error_code ignored;
    if (!Scratch.empty()) std::filesystem::remove_all(Scratch, ignored);
}

int32_t CMspProgrammer::InitCom(const char* port, int32_t baud)
{
    std::string text, error;
    if (!ReadName(port, VELK_PORT_BUFFER, text)) {
        if (!port) return kBadArgument;
        // Only the buffer's bytes are ours to read.
        return SetLastError("port \"" + std::string(port, VELK_PORT_BUFFER) + "...\": longer than " +
                            std::to_string(VELK_PORT_BUFFER - 1) + " characters"),
               kBadPort;
    }
    if (Open) return kAlreadyOpen;
    CPortText parsed;
    if (!ParsePortText(text, parsed, error)) return SetLastError(error), kBadPort;
    // mspdebug 0.22 takes no speed; the rates are the programmer's all the same.
    if (!IsSupportedBaud(baud)) return kBadBaud;
    CEngine engine;
    if (!FindEngine(engine, error)) return SetLastError(error), kNoEngine;
    if (std::find(engine.Drivers.begin(), engine.Drivers.end(), parsed.Driver) == engine.Drivers.end()) {
        SetLastError("port \"" + text + "\": " + engine.Path + " " + std::to_string(engine.Major) + "." +
                     std::to_string(engine.Minor) + " has no driver " + parsed.Driver);
        return kUnknownDriver;
    }
    if (!LoadDefaultDeviceTable(Table, &error)) return SetLastError(error), kConfigError;
    if (Scratch.empty()) Scratch = MakeScratch();
    if (Scratch.empty()) return SetLastError("cannot create a temporary folder"), kCommandFailed;
    Port = parsed;
    Engine = engine;
    Limits = CTimeouts::FromEnvironment();
    Open = true;
    DeviceType = -1;
    Vcc = 0;
    Ready = false;
    return kOk;
}

int32_t CMspProgrammer::SetNotificationWnd(VelkNotifyWindow* window, uint32_t message)
{
    Window = window;
    Message = message;
    return kOk;
}

int32_t CMspProgrammer::ReleaseCom()
{
    if (!Open) return kNotOpen;
    EndSession();
    Open = false;
    return kOk;
}

int32_t CMspProgrammer::SetDeviceType(const char* name)
{
    std::string n;
    if (!ReadName(name, VELK_NAME_BUFFER, n)) return kBadArgument;
    if (!Open) return kNotOpen;
    const int32_t i = Table.IndexOf(n);
    if (i < 0) return kUnknownDevice;
    EndSession();
    DeviceType = i;
    return kOk;
}

int32_t CMspProgrammer::SetVcc(uint32_t millivolts)
{
    if (!Open) return kNotOpen;
    if (millivolts != 0) {
        if (DeviceType < 0) return kNoDeviceType;
        if (millivolts < static_cast<uint32_t>(Device().SupplyMin) ||
            millivolts > static_cast<uint32_t>(Device().SupplyMax))
            return kVccRange;
    }
    // mspdebug takes the supply when it connects: a change ends the session.
    if (millivolts != Vcc) EndSession();
    Vcc = millivolts;
    return kOk;
}

int32_t CMspProgrammer::InitTarget(const char* name)
{
    std::string n;
    if (!ReadName(name, VELK_NAME_BUFFER, n)) return kBadArgument;
    if (!Open) return kNotOpen;
    if (DeviceType < 0) return kNoDeviceType;
    if (!SameName(n, Device().Name)) return kNameMismatch;
    if (Vcc == 0 || Vcc < static_cast<uint32_t>(Device().ProgramMin)) return kNoSupply;
    EndSession();
    const int32_t r = Connect();
    Ready = r == kOk;
    if (!Ready) EndSession();
    return r;
}

int32_t CMspProgrammer::Connect()
{
    std::vector<std::string> options = Port.Options();
    options.insert(options.end(), {"-v", std::to_string(Vcc), Port.Driver});
    const CReply reply = Session.Open(Engine, options, Limits);
    if (FuseMessage(reply)) return SetLastError("the target's security fuse is blown"), kFuseBlown;
    const std::string where = Port.Where();
    if (reply.End == CReply::EEnd::Timeout) {
        SetLastError(where + ": no answer within " + std::to_string(Limits.Connect.count()) + " ms");
        return kNoAnswer;
    }
    if (reply.End == CReply::EEnd::Closed) return SetLastError(where + ": " + reply.Why()), kConnectFailed;
    return Identify(reply);
}

// FET-family drivers name the chip they found, as their chip table does
// ("MSP430F149", "MSP430G2553/G2403", "MSP430F2x18"); sim and the bootstrap
// loaders name none, and then the operator's choice stands.
int32_t CMspProgrammer::Identify(const CReply& reply)
{
    const std::string* line = reply.Find("Device: ");
    if (!line) return kOk;
    const std::string found = line->substr(8, line->find(' ', 8) == std::string::npos ? std::string::npos
                                                                                       : line->find(' ', 8) - 8);
    if (SamePart(found, Device().Name)) return kOk;
    SetLastError("the target is " + found + ", not " + Device().Name);
    return kWrongDevice;
}

int32_t CMspProgrammer::ReleaseTarget()
{
    if (!Open) return kNotOpen;
    EndSession();
    return kOk;
}

void CMspProgrammer::EndSession()
{
    if (Ready && Session.Running()) Snapshot();
    Session.Close();
    Ready = false;
}

// With VELK430_MSPDEBUG_SNAPSHOT=DIR, what the target's flash holds at the
// end of each session is kept there, one raw file per region (ADDR.bin, five
// hex digits): a record of what left the socket.
void CMspProgrammer::Snapshot()
{
    const char* dir = std::getenv("VELK430_MSPDEBUG_SNAPSHOT");
    if (!dir || !*dir) return;
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    for (const auto& region : Device().Regions) {
        if (!region.Writable()) continue;
        std::vector<uint8_t> bytes;
        if (Read(region.Start, region.End() - region.Start, bytes) != kOk) return;
        char name[16];
        std::snprintf(name, sizeof name, "/%05" PRIX32 ".bin", region.Start);
        std::ofstream(std::string(dir) + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
}

int32_t CMspProgrammer::TargetCheck() const
{
    if (!Open) return kNotOpen;
    if (!Ready) return kTargetNotReady;
    return kOk;
}

int32_t CMspProgrammer::Failed(const CReply& reply, const std::string& what)
{
    SetLastError(what + ": " + reply.Why());
    if (reply.End == CReply::EEnd::Ready) return kCommandFailed;
    Ready = false;
    Session.Close();
    return reply.End == CReply::EEnd::Timeout ? kNoAnswer : kEngineGone;
}

// Runs the commands in one round trip (several as one mspdebug "read"
// script). They succeeded when mspdebug printed no error and, in order, a
// "Done, N bytes" line for each count in sizes (one per raw load or save);
// each such line goes to step as it comes, to move a bar.
int32_t CMspProgrammer::Script(const std::vector<std::string>& commands, const std::vector<size_t>& sizes,
                               const std::string& what, const std::function<void(size_t)>& step)
{
    std::string command = commands.front();
    if (commands.size() > 1) {
        const std::string file = Scratch + "/script.txt";
        std::ofstream out(file, std::ios::trunc);
        for (const auto& c : commands) out << c << '\n';
        out.close();
        if (!out) return SetLastError("cannot write " + file), kCommandFailed;
        command = "read \"" + file + "\"";
    }
    size_t done = 0;
    const CReply reply = Session.Run(command, [&](const std::string& line) {
        if (done < sizes.size() && line.rfind("Done, " + std::to_string(sizes[done]) + " bytes", 0) == 0) {
            if (step) step(sizes[done]);
            ++done;
        }
    });
    if (!reply.Ok()) return Failed(reply, what);
    if (done == sizes.size()) return kOk;
    SetLastError(what + ": mspdebug reported " + std::to_string(done) + " of " + std::to_string(sizes.size()) +
                 " transfers done");
    return kCommandFailed;
}

std::string CMspProgrammer::SaveRaw(uint32_t address, size_t count, const std::string& file)
{
    return "save_raw " + Hex(address) + " " + std::to_string(count) + " \"" + file + "\"";
}

// The command that loads a raw file, written here with the bytes; empty
// when the file cannot be written.
std::string CMspProgrammer::LoadRaw(uint32_t address, const uint8_t* bytes, size_t count, const std::string& file)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    out.close();
    if (!out) return SetLastError("cannot write " + file), std::string();
    return "load_raw \"" + file + "\" " + Hex(address);
}

// What a save_raw left in its file: exactly count bytes, or kCommandFailed.
int32_t CMspProgrammer::Saved(const std::string& file, uint32_t address, size_t count, std::vector<uint8_t>& out)
{
    std::ifstream in(file, std::ios::binary);
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (out.size() == count) return kOk;
    SetLastError("reading at " + Hex(address) + ": mspdebug saved " + std::to_string(out.size()) + " of " +
                 std::to_string(count) + " bytes");
    return kCommandFailed;
}

int32_t CMspProgrammer::Read(uint32_t address, uint32_t count, std::vector<uint8_t>& out)
{
    const std::string file = Scratch + "/read.bin";
    const int32_t r = Script({SaveRaw(address, count, file)}, {count}, "reading at " + Hex(address));
    return r == kOk ? Saved(file, address, count, out) : r;
}

// kVerifyMismatch naming the first differing byte.
int32_t CMspProgrammer::Differ(uint32_t address, const std::vector<uint8_t>& actual, const uint8_t* expected)
{
    for (size_t i = 0; i < actual.size(); ++i)
        if (actual[i] != expected[i]) {
            char text[96];
            std::snprintf(text, sizeof text, "%s reads %02X, expected %02X",
                          Hex(address + static_cast<uint32_t>(i)).c_str(), actual[i], expected[i]);
            SetLastError(text);
            return kVerifyMismatch;
        }
    return kOk;
}

// One flash segment, erased and read back in one round trip; where the
// driver erased less than the segment (the sim erases 64 bytes), the rest
// goes in the smallest steps.
int32_t CMspProgrammer::EraseSegment(uint32_t address, uint32_t size)
{
    const std::string what = "erasing the segment at " + Hex(address), file = Scratch + "/erase.bin";
    const std::string again = "erase segrange " + Hex(address) + " " + std::to_string(size) + " " +
                              std::to_string(kSmallestSegment);
    for (const std::string& erase : {"erase segment " + Hex(address), again}) {
        std::vector<uint8_t> bytes;
        int32_t r = Script({erase, SaveRaw(address, size, file)}, {size}, what);
        if (r == kOk) r = Saved(file, address, size, bytes);
        if (r != kOk || Blank(bytes)) return r;
    }
    SetLastError(what + ": not blank after erasing");
    return kCommandFailed;
}

// Main flash: one mass erase with every main region read back in the same
// round trip; a segment with anything left in it is erased again on its own.
int32_t CMspProgrammer::EraseMain()
{
    std::vector<const CRegion*> regions;
    std::vector<std::string> commands{"erase"};
    std::vector<size_t> sizes;
    uint32_t segments = 0;
    for (const auto& region : Device().Regions)
        if (region.Type == kRegionMain) {
            sizes.push_back(region.End() - region.Start);
            commands.push_back(SaveRaw(region.Start, sizes.back(), Scratch + "/main-" + std::to_string(regions.size()) + ".bin"));
            regions.push_back(&region);
            segments += region.SegmentCount;
        }
    CProgress progress(Window, Message, kNotifyErase, segments);
    int32_t r = Script(commands, sizes, "erasing main flash");
    for (size_t i = 0; i < regions.size() && r == kOk; ++i) {
        const CRegion& region = *regions[i];
        std::vector<uint8_t> bytes;
        r = Saved(Scratch + "/main-" + std::to_string(i) + ".bin", region.Start, sizes[i], bytes);
        for (uint32_t s = 0; s < region.SegmentCount && r == kOk; ++s) {
            const auto first = bytes.begin() + s * region.SegmentSize;
            if (!std::all_of(first, first + region.SegmentSize, [](uint8_t b) { return b == 0xFF; }))
                r = EraseSegment(region.Start + s * region.SegmentSize, region.SegmentSize);
            progress.Step(1);
        }
    }
    if (r == kOk) progress.Finish();
    return r;
}

// The image cut into blocks of at most kBlock bytes, in address order.
std::vector<CMspProgrammer::CBlock> CMspProgrammer::Blocks(const CImage& image) const
{
    std::vector<CBlock> blocks;
    for (const auto& s : image.Sections)
        for (size_t off = 0; off < s.Bytes.size(); off += kBlock) {
            const size_t n = std::min<size_t>(kBlock, s.Bytes.size() - off);
            blocks.push_back({s.Start + static_cast<uint32_t>(off), s.Bytes.data() + off, n,
                              Scratch + "/block-" + std::to_string(blocks.size()) + ".bin"});
        }
    return blocks;
}

// One command per block, all in one script; each block's "Done" moves the
// bar by its size. A block whose command cannot be made stops it unrun.
int32_t CMspProgrammer::BlockScript(const std::vector<CBlock>& blocks, const std::string& what,
                                    CProgress& progress,
                                    const std::function<std::string(const CBlock&)>& command)
{
    std::vector<std::string> commands;
    std::vector<size_t> sizes;
    for (const auto& b : blocks) {
        commands.push_back(command(b));
        sizes.push_back(b.Count);
        if (commands.back().empty()) return kCommandFailed;
    }
    return blocks.empty() ? kOk : Script(commands, sizes, what, [&](size_t n) { progress.Step(n); });
}

int32_t CMspProgrammer::WriteImage(const CImage& image)
{
    CProgress progress(Window, Message, kNotifyProgram, image.ByteCount());
    const int32_t r = BlockScript(Blocks(image), "programming", progress, [](const CBlock& b) {
        return LoadRaw(b.Address, b.Bytes, b.Count, b.File);
    });
    if (r != kOk) return r;
    progress.Finish();
    return kDone;
}

int32_t CMspProgrammer::VerifyImage(const CImage& image)
{
    CProgress progress(Window, Message, kNotifyVerify, image.ByteCount());
    const std::vector<CBlock> blocks = Blocks(image);
    int32_t r = BlockScript(blocks, "verifying", progress,
                            [](const CBlock& b) { return SaveRaw(b.Address, b.Count, b.File); });
    for (size_t i = 0; i < blocks.size() && r == kOk; ++i) {
        std::vector<uint8_t> actual;
        r = Saved(blocks[i].File, blocks[i].Address, blocks[i].Count, actual);
        if (r == kOk) r = Differ(blocks[i].Address, actual, blocks[i].Bytes);
    }
    if (r != kOk) return r;
    progress.Finish();
    return kDone;
}

// The whole file read by the library's own reader and checked against the
// device before anything goes to mspdebug.
int32_t CMspProgrammer::ReadFile(const char* path, CImageResult& file) const
{
    std::string p;
    if (!ReadName(path, VELK_PATH_BUFFER, p)) return kBadArgument;
    const int32_t r = TargetCheck();
    if (r != kOk) return r;
    file = ReadImageFile(p);
    const int32_t code = FileCode(file);
    if (code != kOk) {
        SetLastError(p + (file.Line ? ":" + std::to_string(file.Line) : std::string()) + ": " + file.Message);
        return code;
    }
    return CheckImage(Device(), file.Image);
}

int32_t CMspProgrammer::Erase(int32_t address, int32_t size, int32_t mode)
{
    if (mode != 1 || address < 0 || size <= 0) return kBadArgument;
    int32_t r = TargetCheck();
    if (r == kOk) r = Device().CheckSegment(static_cast<uint32_t>(address), static_cast<uint32_t>(size));
    if (r != kOk) return r;
    CProgress progress(Window, Message, kNotifyErase, 1);
    r = EraseSegment(static_cast<uint32_t>(address), static_cast<uint32_t>(size));
    if (r == kOk) progress.Finish();
    return r;
}

int32_t CMspProgrammer::ProgramFile(const char* path, int32_t a, int32_t b, int32_t c)
{
    if (a != 0 || c != 0 || (b != 0 && b != 1)) return kBadArgument;
    CImageResult file;
    int32_t r = ReadFile(path, file);
    if (r == kOk && b == 1) r = EraseMain();
    return r == kOk ? WriteImage(file.Image) : r;
}

int32_t CMspProgrammer::VerifyFile(const char* path, int32_t a)
{
    if (a != 0) return kBadArgument;
    CImageResult file;
    const int32_t r = ReadFile(path, file);
    return r == kOk ? VerifyImage(file.Image) : r;
}

// Written and read back in one round trip: written is what reads back.
int32_t CMspProgrammer::ProgramData(int32_t address, int32_t count, const unsigned char* bytes)
{
    if (!bytes || count < 1 || count > 16 || address < 0) return kBadArgument;
    int32_t r = TargetCheck();
    if (r == kOk) r = Device().CheckWritable(static_cast<uint32_t>(address), static_cast<uint32_t>(count));
    if (r != kOk) return r;
    CProgress progress(Window, Message, kNotifyData, 1);
    const uint32_t at = static_cast<uint32_t>(address);
    const size_t n = static_cast<size_t>(count);
    const std::string load = LoadRaw(at, bytes, n, Scratch + "/data.bin"), file = Scratch + "/read.bin";
    if (load.empty()) return kCommandFailed;
    std::vector<uint8_t> actual;
    r = Script({load, SaveRaw(at, n, file)}, {n, n}, "writing at " + Hex(at));
    if (r == kOk) r = Saved(file, at, n, actual);
    if (r == kOk) r = Differ(at, actual, bytes);
    if (r != kOk) return r;
    progress.Finish();
    return kDone;
}

int32_t CMspProgrammer::VerifyData(int32_t address, int32_t count, const unsigned char* bytes)
{
    if (!bytes || count < 1 || count > 16 || address < 0) return kBadArgument;
    int32_t r = TargetCheck();
    if (r == kOk) r = Device().CheckReadable(static_cast<uint32_t>(address), static_cast<uint32_t>(count));
    if (r != kOk) return r;
    CProgress progress(Window, Message, kNotifyData, 1);
    std::vector<uint8_t> actual;
    r = Read(static_cast<uint32_t>(address), static_cast<uint32_t>(count), actual);
    if (r == kOk) r = Differ(static_cast<uint32_t>(address), actual, bytes);
    if (r != kOk) return r;
    progress.Finish();
    return kDone;
}

int32_t CMspProgrammer::BlowFuse()
{
    const int32_t r = TargetCheck();
    if (r != kOk) return r;
    SetLastError("this programmer (mspdebug " + std::to_string(Engine.Major) + "." + std::to_string(Engine.Minor) +
                 ") cannot blow the security fuse");
    return kCannotBlowFuse;
}

int32_t CMspProgrammer::Reset(int32_t mode)
{
    if (mode != 1) return kBadArgument;
    const int32_t r = TargetCheck();
    return r == kOk ? Script({"reset"}, {}, "reset") : r;
}

}  // namespace velk::msp
