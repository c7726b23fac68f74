#include "MspProgrammer.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
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

constexpr size_t kPortBuffer = 32;
constexpr size_t kNameBuffer = 128;
constexpr size_t kPathBuffer = 1024;
// Data moves in blocks of this many bytes: a notification after each.
constexpr uint32_t kBlock = 4096;
// mspdebug's sim erases 64 bytes per "erase segment" whatever the chip's
// segment size: the smallest flash segment of any MSP430.
constexpr uint32_t kSmallestSegment = 0x40;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%05" PRIX32, value);
    return text;
}

// A folder for the raw blocks, under $TMPDIR when its name needs no quoting
// in an mspdebug command, else under /tmp.
std::string MakeScratch() {
    const char* base = std::getenv("TMPDIR");
    std::string dir = base && *base ? base : "/tmp";
    if (dir.find_first_of("\" \t\\") != std::string::npos) dir = "/tmp";
    std::string name = dir + "/velk430-mspdebug-XXXXXX";
    return mkdtemp(name.data()) ? name : std::string();
}

bool Blank(const std::vector<uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

bool FuseMessage(const CReply& reply) {
    for (const auto* list : {&reply.Lines, &reply.Errors, &reply.Debug})
        for (const auto& l : *list)
            if (l.find("fuse") != std::string::npos && l.find("blown") != std::string::npos) return true;
    return false;
}

}  // namespace

CMspProgrammer::~CMspProgrammer() {
    if (Open) ReleaseCom();
}

int32_t CMspProgrammer::InitCom(const char* port, int32_t baud) {
    std::string text, error;
    if (!ReadName(port, kPortBuffer, text)) return kBadArgument;
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
    Scratch = MakeScratch();
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

int32_t CMspProgrammer::SetNotificationWnd(VelkNotifyWindow* window, uint32_t message) {
    Window = window;
    Message = message;
    return kOk;
}

int32_t CMspProgrammer::ReleaseCom() {
    if (!Open) return kNotOpen;
    EndSession();
    std::error_code ignored;
    std::filesystem::remove_all(Scratch, ignored);
    Open = false;
    return kOk;
}

int32_t CMspProgrammer::SetDeviceType(const char* name) {
    std::string n;
    if (!ReadName(name, kNameBuffer, n)) return kBadArgument;
    if (!Open) return kNotOpen;
    const int32_t i = Table.IndexOf(n);
    if (i < 0) return kUnknownDevice;
    EndSession();
    DeviceType = i;
    return kOk;
}

int32_t CMspProgrammer::SetVcc(uint32_t millivolts) {
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

int32_t CMspProgrammer::InitTarget(const char* name) {
    std::string n;
    if (!ReadName(name, kNameBuffer, n)) return kBadArgument;
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

int32_t CMspProgrammer::Connect() {
    std::vector<std::string> options;
    if (!Port.Device.empty()) options.insert(options.end(), {"-d", Port.Device});
    options.insert(options.end(), {"-v", std::to_string(Vcc), Port.Driver});
    const CReply reply = Session.Open(Engine, options, Limits);
    if (FuseMessage(reply)) return SetLastError("the target's security fuse is blown"), kFuseBlown;
    const std::string where = "mspdebug " + Port.Driver + (Port.Device.empty() ? "" : " on " + Port.Device);
    if (reply.End == CReply::EEnd::Timeout) {
        SetLastError(where + ": no answer within " + std::to_string(Limits.Connect.count()) + " ms");
        return kNoAnswer;
    }
    if (reply.End == CReply::EEnd::Closed) return SetLastError(where + ": " + reply.Why()), kConnectFailed;
    return Identify(reply);
}

// FET-family drivers name the chip they found; sim and the bootstrap loaders
// name none, and then the operator's choice stands.
int32_t CMspProgrammer::Identify(const CReply& reply) {
    const std::string* line = reply.Find("Device: ");
    if (!line) return kOk;
    const std::string found = line->substr(8, line->find(' ', 8) == std::string::npos ? std::string::npos
                                                                                       : line->find(' ', 8) - 8);
    if (SameName(found, Device().Name)) return kOk;
    SetLastError("the target is " + found + ", not " + Device().Name);
    return kWrongDevice;
}

int32_t CMspProgrammer::ReleaseTarget() {
    if (!Open) return kNotOpen;
    EndSession();
    return kOk;
}

void CMspProgrammer::EndSession() {
    if (Ready && Session.Running()) Snapshot();
    Session.Close();
    Ready = false;
}

// With VELK430_MSPDEBUG_SNAPSHOT=DIR, what the target's flash holds at the
// end of each session is kept there, one raw file per region (ADDR.bin, five
// hex digits): a record of what left the socket.
void CMspProgrammer::Snapshot() {
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

int32_t CMspProgrammer::TargetCheck() const {
    if (!Open) return kNotOpen;
    if (!Ready) return kTargetNotReady;
    return kOk;
}

int32_t CMspProgrammer::Failed(const CReply& reply, const std::string& what) {
    SetLastError(what + ": " + reply.Why());
    if (reply.End == CReply::EEnd::Ready) return kCommandFailed;
    Ready = false;
    Session.Close();
    return reply.End == CReply::EEnd::Timeout ? kNoAnswer : kEngineGone;
}

// Runs one command; it succeeded when mspdebug printed no error and, where
// given, a line that starts with the result text.
int32_t CMspProgrammer::Command(const std::string& command, const std::string& what, const char* result) {
    const CReply reply = Session.Run(command);
    if (!reply.Ok()) return Failed(reply, what);
    if (result && !reply.Find(result)) {
        SetLastError(what + ": mspdebug printed no \"" + result + "\"");
        return kCommandFailed;
    }
    return kOk;
}

int32_t CMspProgrammer::Write(uint32_t address, const uint8_t* bytes, size_t count) {
    const std::string file = Scratch + "/write.bin";
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    out.close();
    if (!out) return SetLastError("cannot write " + file), kCommandFailed;
    return Command("load_raw \"" + file + "\" " + Hex(address), "writing at " + Hex(address),
                   ("Done, " + std::to_string(count) + " bytes").c_str());
}

int32_t CMspProgrammer::Read(uint32_t address, uint32_t count, std::vector<uint8_t>& out) {
    const std::string file = Scratch + "/read.bin";
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    const std::string what = "reading at " + Hex(address);
    const int32_t r = Command("save_raw " + Hex(address) + " " + std::to_string(count) + " \"" + file + "\"", what,
                              ("Done, " + std::to_string(count) + " bytes").c_str());
    if (r != kOk) return r;
    std::ifstream in(file, std::ios::binary);
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (out.size() != count) return SetLastError(what + ": short read"), kCommandFailed;
    return kOk;
}

int32_t CMspProgrammer::Compare(uint32_t address, const uint8_t* expected, size_t count) {
    std::vector<uint8_t> actual;
    const int32_t r = Read(address, static_cast<uint32_t>(count), actual);
    return r == kOk ? Differ(address, actual, expected, count) : r;
}

// kVerifyMismatch naming the first differing byte, kCommandFailed for a short read.
int32_t CMspProgrammer::Differ(uint32_t address, const std::vector<uint8_t>& actual, const uint8_t* expected,
                               size_t count) {
    if (actual.size() != count) return SetLastError("reading at " + Hex(address) + ": short read"), kCommandFailed;
    for (size_t i = 0; i < count; ++i)
        if (actual[i] != expected[i]) {
            char text[96];
            std::snprintf(text, sizeof text, "%s reads %02X, expected %02X",
                          Hex(address + static_cast<uint32_t>(i)).c_str(), actual[i], expected[i]);
            SetLastError(text);
            return kVerifyMismatch;
        }
    return kOk;
}

// One flash segment, proven blank by reading it back; where the driver
// erased less than the segment, the rest goes in the smallest steps.
int32_t CMspProgrammer::EraseSegment(uint32_t address, uint32_t size) {
    const std::string what = "erasing the segment at " + Hex(address);
    std::vector<uint8_t> bytes;
    int32_t r = Command("erase segment " + Hex(address), what);
    if (r == kOk) r = Read(address, size, bytes);
    if (r != kOk || Blank(bytes)) return r;
    r = Command("erase segrange " + Hex(address) + " " + std::to_string(size) + " " + std::to_string(kSmallestSegment),
                what);
    if (r == kOk) r = Read(address, size, bytes);
    if (r != kOk || Blank(bytes)) return r;
    SetLastError(what + ": not blank after erasing");
    return kCommandFailed;
}

// Main flash: one mass erase, then each main region read back and any
// segment with something left in it erased again on its own.
int32_t CMspProgrammer::EraseMain() {
    uint32_t segments = 0;
    for (const auto& region : Device().Regions)
        if (region.Type == kRegionMain) segments += region.SegmentCount;
    CProgress progress(Window, Message, kNotifyErase, segments);
    int32_t r = Command("erase", "erasing main flash");
    for (const auto& region : Device().Regions) {
        if (region.Type != kRegionMain || r != kOk) continue;
        std::vector<uint8_t> bytes;
        r = Read(region.Start, region.End() - region.Start, bytes);
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
std::vector<CMspProgrammer::CBlock> CMspProgrammer::Blocks(const CImage& image) const {
    std::vector<CBlock> blocks;
    for (const auto& s : image.Sections)
        for (size_t off = 0; off < s.Bytes.size(); off += kBlock) {
            const size_t n = std::min<size_t>(kBlock, s.Bytes.size() - off);
            blocks.push_back({s.Start + static_cast<uint32_t>(off), s.Bytes.data() + off, n,
                              Scratch + "/block-" + std::to_string(blocks.size()) + ".bin"});
        }
    return blocks;
}

// The commands run as one mspdebug "read" script, one round trip for the
// whole image; each block's "Done, N bytes" moves the bar by that block.
int32_t CMspProgrammer::Script(const std::vector<std::string>& commands, const std::vector<CBlock>& blocks,
                               CProgress& progress, const std::string& what) {
    const std::string file = Scratch + "/script.txt";
    {
        std::ofstream out(file, std::ios::trunc);
        for (const auto& c : commands) out << c << '\n';
        if (!out) return SetLastError("cannot write " + file), kCommandFailed;
    }
    size_t done = 0;
    const std::function<void(const std::string&)> watch = [&](const std::string& line) {
        if (done < blocks.size() && line.rfind("Done, " + std::to_string(blocks[done].Count) + " bytes", 0) == 0)
            progress.Step(blocks[done++].Count);
    };
    const CReply reply = Session.Run("read \"" + file + "\"", watch);
    if (!reply.Ok()) return Failed(reply, what);
    if (done == blocks.size()) return kOk;
    SetLastError(what + ": mspdebug reported " + std::to_string(done) + " of " + std::to_string(blocks.size()) +
                 " blocks done");
    return kCommandFailed;
}

int32_t CMspProgrammer::WriteImage(const CImage& image) {
    CProgress progress(Window, Message, kNotifyProgram, image.ByteCount());
    const std::vector<CBlock> blocks = Blocks(image);
    std::vector<std::string> commands;
    for (const auto& b : blocks) {
        std::ofstream out(b.File, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(b.Bytes), static_cast<std::streamsize>(b.Count));
        if (!out) return SetLastError("cannot write " + b.File), kCommandFailed;
        commands.push_back("load_raw \"" + b.File + "\" " + Hex(b.Address));
    }
    const int32_t r = Script(commands, blocks, progress, "programming");
    if (r != kOk) return r;
    progress.Finish();
    return kDone;
}

int32_t CMspProgrammer::VerifyImage(const CImage& image) {
    CProgress progress(Window, Message, kNotifyVerify, image.ByteCount());
    const std::vector<CBlock> blocks = Blocks(image);
    std::vector<std::string> commands;
    for (const auto& b : blocks) {
        std::error_code ignored;
        std::filesystem::remove(b.File, ignored);
        commands.push_back("save_raw " + Hex(b.Address) + " " + std::to_string(b.Count) + " \"" + b.File + "\"");
    }
    int32_t r = Script(commands, blocks, progress, "verifying");
    for (size_t i = 0; i < blocks.size() && r == kOk; ++i) {
        std::ifstream in(blocks[i].File, std::ios::binary);
        const std::vector<uint8_t> actual{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        r = Differ(blocks[i].Address, actual, blocks[i].Bytes, blocks[i].Count);
    }
    if (r != kOk) return r;
    progress.Finish();
    return kDone;
}

// The whole file read by the library's own reader and checked against the
// device before anything goes to mspdebug.
int32_t CMspProgrammer::ReadFile(const char* path, CTiTxtResult& file) const {
    std::string p;
    if (!ReadName(path, kPathBuffer, p)) return kBadArgument;
    const int32_t r = TargetCheck();
    if (r != kOk) return r;
    file = ReadTiTxtFile(p);
    const int32_t code = FileCode(file);
    if (code != kOk) {
        SetLastError(p + (file.Line ? ":" + std::to_string(file.Line) : std::string()) + ": " + file.Message);
        return code;
    }
    return CheckImage(Device(), file.Image);
}

int32_t CMspProgrammer::Erase(int32_t address, int32_t size, int32_t mode) {
    if (mode != 1 || address < 0 || size <= 0) return kBadArgument;
    int32_t r = TargetCheck();
    if (r == kOk) r = Device().CheckSegment(static_cast<uint32_t>(address), static_cast<uint32_t>(size));
    if (r != kOk) return r;
    CProgress progress(Window, Message, kNotifyErase, 1);
    r = EraseSegment(static_cast<uint32_t>(address), static_cast<uint32_t>(size));
    if (r == kOk) progress.Finish();
    return r;
}

int32_t CMspProgrammer::ProgramFile(const char* path, int32_t a, int32_t b, int32_t c) {
    if (a != 0 || c != 0 || (b != 0 && b != 1)) return kBadArgument;
    CTiTxtResult file;
    int32_t r = ReadFile(path, file);
    if (r == kOk && b == 1) r = EraseMain();
    return r == kOk ? WriteImage(file.Image) : r;
}

int32_t CMspProgrammer::VerifyFile(const char* path, int32_t a) {
    if (a != 0) return kBadArgument;
    CTiTxtResult file;
    const int32_t r = ReadFile(path, file);
    return r == kOk ? VerifyImage(file.Image) : r;
}

int32_t CMspProgrammer::ProgramData(int32_t address, int32_t count, const unsigned char* bytes) {
    if (!bytes || count < 1 || count > 16 || address < 0) return kBadArgument;
    int32_t r = TargetCheck();
    if (r == kOk) r = Device().CheckWritable(static_cast<uint32_t>(address), static_cast<uint32_t>(count));
    if (r != kOk) return r;
    CProgress progress(Window, Message, kNotifyData, 1);
    r = Write(static_cast<uint32_t>(address), bytes, static_cast<size_t>(count));
    // Written is what reads back.
    if (r == kOk) r = Compare(static_cast<uint32_t>(address), bytes, static_cast<size_t>(count));
    if (r != kOk) return r;
    progress.Finish();
    return kDone;
}

int32_t CMspProgrammer::VerifyData(int32_t address, int32_t count, const unsigned char* bytes) {
    if (!bytes || count < 1 || count > 16 || address < 0) return kBadArgument;
    int32_t r = TargetCheck();
    if (r == kOk) r = Device().CheckReadable(static_cast<uint32_t>(address), static_cast<uint32_t>(count));
    if (r != kOk) return r;
    CProgress progress(Window, Message, kNotifyData, 1);
    r = Compare(static_cast<uint32_t>(address), bytes, static_cast<size_t>(count));
    if (r != kOk) return r;
    progress.Finish();
    return kDone;
}

int32_t CMspProgrammer::BlowFuse() {
    const int32_t r = TargetCheck();
    if (r != kOk) return r;
    SetLastError("this programmer (mspdebug " + std::to_string(Engine.Major) + "." + std::to_string(Engine.Minor) +
                 ") cannot blow the security fuse");
    return kCannotBlowFuse;
}

int32_t CMspProgrammer::Reset(int32_t mode) {
    if (mode != 1) return kBadArgument;
    const int32_t r = TargetCheck();
    return r == kOk ? Command("reset", "reset") : r;
}

}  // namespace velk::msp
