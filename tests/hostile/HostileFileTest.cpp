// Firmware files a production floor can hand the station: each bad one ends
// the batch with "Unable to program (N)", N the library's code for the cause,
// and the unit on the socket keeps every byte it had.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "ScratchDir.h"
#include "Codes.h"
#include "ControlRecorders.h"
#include "SerialNumber.h"
#include "SimStore.h"
#include "TiTxt.h"
#include "VELK.h"

#include "../ImageFormats.h"

using namespace velk;
namespace fs = std::filesystem;

namespace {

const char* const kDevice = "MSP430F112";
const std::string kBlink = CORV_SOURCE_DIR "/examples/blink-f112.txt";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    ASSERT_TRUE(out.good()) << path;
}

// Root reads a file whatever its mode. For the length of one call this takes
// away the two capabilities that allow that, so a mode-000 file is as
// unreadable as it is for an operator's account; the destructor gives them back.
class CWithoutDacOverride {
public:
    CWithoutDacOverride() {
        if (syscall(SYS_capget, &Header, Saved) != 0) return;
        __user_cap_data_struct reduced[2];
        std::memcpy(reduced, Saved, sizeof reduced);
        const uint32_t mask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        reduced[0].effective &= ~mask;
        Dropped = syscall(SYS_capset, &Header, reduced) == 0;
    }
    ~CWithoutDacOverride() {
        if (Dropped) syscall(SYS_capset, &Header, Saved);
    }
    bool Dropped = false;

private:
    __user_cap_header_struct Header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct Saved[2]{};
};

bool CanOpenForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

class HostileFile : public ::testing::Test {
protected:
    void SetUp() override {
        Root = Scratch.Path();
        SimDir = Root / "sim";
        Files = Root / "files";
        fs::create_directories(Files);
        setenv("VELK430_SIM_DIR", SimDir.c_str(), 1);
        setenv("VELK430_SIM_TIMING", "fast", 1);
        ASSERT_TRUE(LoadDefaultDeviceTable(Table));
        Store.emplace(SimDir.string());
        CSimSettings s;
        s.Feed = EFeed::Manual;
        ASSERT_TRUE(Store->SaveSettings(s));
    }

    // A unit that already holds firmware and a serial number, so that an
    // erase as well as a write would show.
    void LoadedUnitOnSocket() {
        CUnit unit(*Table.Find(kDevice));
        const auto image = ReadTiTxtFile(kBlink);
        ASSERT_TRUE(image.Ok());
        for (const auto& s : image.Image.Sections) unit.Program(s.Start, s.Bytes.data(), s.Bytes.size());
        const uint8_t serial[2] = {0x34, 0x12};
        unit.Program(0x1000, serial, 2);
        ASSERT_TRUE(Store->SaveUnit(unit));
        Before.assign(unit.Memory().begin(), unit.Memory().end());
    }

    // One Run Batch as the console runs it: WORD serial 0xBEEF at 1000, no
    // erase, no fuse.
    int RunBatch(const std::string& file) {
        CSerialNumber serial;
        serial.Value = 0xBEEF;
        serial.Type = 2;
        serial.AddressText = "1000";
        EXPECT_EQ(serial.Convert(), 1);
        CVELK session(nullptr, VELK_NOTIFY_MESSAGE, &Status, nullptr);
        int result = session.Open("COM1", 115200);
        if (result) {
            result = session.BatchProgram(kDevice, Table.IndexOf(kDevice), 3.3, file, 0, 0, &serial);
            session.GetErrorText(Error);
            session.Close();
        } else {
            session.GetErrorText(Error);
        }
        return result;
    }

    CUnit UnitOnSocket() {
        auto u = Store->LoadUnit(Table);
        EXPECT_TRUE(u.has_value());
        return u ? std::move(*u) : CUnit(*Table.Find(kDevice));
    }

    void ExpectUnitUntouched() {
        const CUnit u = UnitOnSocket();
        EXPECT_FALSE(u.FuseBlown());
        const std::vector<uint8_t> after(u.Memory().begin(), u.Memory().end());
        ASSERT_EQ(after.size(), Before.size());
        size_t changed = 0;
        for (size_t i = 0; i < after.size(); ++i) changed += after[i] != Before[i];
        EXPECT_EQ(changed, 0u) << "bytes of the unit changed";
    }

    void ExpectRefused(const std::string& file, int32_t code) {
        EXPECT_EQ(RunBatch(file), 0) << file;
        EXPECT_EQ(Error, "Unable to program (" + std::to_string(code) + ")") << file;
        EXPECT_EQ(Status.Text, "Batch program failed");
        ExpectUnitUntouched();
    }

    const CScratchDir Scratch{"hostile-file"};
    fs::path Root, SimDir, Files;
    CDeviceTable Table;
    std::optional<CSimStore> Store;
    CStatusRecorder Status;
    std::string Error;
    std::vector<uint8_t> Before;
};

}  // namespace

TEST_F(HostileFile, BadFilesFailWithTheirCodeAndLeaveTheUnitAlone) {
    LoadedUnitOnSocket();
    std::mt19937 random(7);
    std::string garbage(4096, '\0');
    for (auto& c : garbage) c = static_cast<char>(random() & 0xFF);
    WriteAll(Files / "empty.txt", "");
    WriteAll(Files / "garbage.txt", garbage);
    // Looks like firmware up to a NUL in the middle of a line.
    WriteAll(Files / "nul.txt", std::string("@F000\n31 40\0 00 03\nq\n", 21));
    // The other formats, each broken the way a bad copy or a wrong build breaks it.
    WriteAll(Files / "checksum.hex", ":02F0000001020C\n:00000001FF\n");
    WriteAll(Files / "cut.srec", "S0060000686472BB\nS105F000010207\n");
    WriteAll(Files / "other.elf", imagefmt::ElfBytes({{0xF000, {0x31, 0x40}}}, EM_ARM));
    const std::string elf = imagefmt::ElfBytes({{0xF000, std::vector<uint8_t>(64, 0x31)}});
    WriteAll(Files / "cut.elf", elf.substr(0, imagefmt::ProgramHeaderOffset(1) + 16));  // inside the segment
    const fs::path fifo = Files / "pipe.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string Path;
        int32_t Code;
    };
    const Case cases[] = {
        {(Files / "empty.txt").string(), kFileTruncated},
        {(Files / "garbage.txt").string(), kFileSyntax},
        {(Files / "nul.txt").string(), kFileSyntax},
        {(Files / "checksum.hex").string(), kFileSyntax},
        {(Files / "cut.srec").string(), kFileTruncated},
        {(Files / "other.elf").string(), kFileSyntax},
        {(Files / "cut.elf").string(), kFileSyntax},
        {Files.string(), kFileOpen},                        // a directory
        {(Files / "absent.txt").string(), kFileOpen},
        {fifo.string(), kFileOpen},                         // a pipe nobody writes to
        {"", kFileOpen},
    };
    for (const auto& c : cases) ExpectRefused(c.Path, c.Code);
}

TEST_F(HostileFile, UnreadableFileFailsAndLeavesTheUnitAlone) {
    LoadedUnitOnSocket();
    // Good firmware: only the missing permission can make it fail.
    const fs::path file = Files / "locked.txt";
    WriteAll(file, ReadAll(kBlink));
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    std::optional<CWithoutDacOverride> asOperator;
    if (geteuid() == 0) asOperator.emplace();
    if (CanOpenForReading(file.string()))
        GTEST_SKIP() << "running as root without a way to drop CAP_DAC_OVERRIDE: "
                        "a mode-000 file stays readable";
    const int result = RunBatch(file.string());
    asOperator.reset();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Error, "Unable to program (" + std::to_string(kFileOpen) + ")");
    ExpectUnitUntouched();
}

// 100 MB of well-formed TI-TXT (the same section over and over, which the
// reader accepts as an equal overlap): refused by its size before it is read.
TEST_F(HostileFile, HundredMegabyteFileIsRefusedBySize) {
    LoadedUnitOnSocket();
    std::string block;
    while (block.size() < (1u << 20)) block += "@F000\n31 40 00 03 B2 40 80 5A 20 01 D2 D3 22 00 D2 E3\n";
    ASSERT_TRUE(ReadTiTxt(block + "q\n").Ok());
    const fs::path file = Files / "huge.txt";
    {
        std::ofstream out(file, std::ios::binary);
        for (uint64_t written = 0; written < 100'000'000; written += block.size()) out << block;
        out << "q\n";
        ASSERT_TRUE(out.good());
    }
    ASSERT_GT(fs::file_size(file), kMaxTiTxtFileBytes);
    ExpectRefused(file.string(), kFileOpen);
    fs::remove(file);
}

TEST_F(HostileFile, PathWithSpacesAndNonAsciiProgramsFine) {
    const fs::path dir = Files / "Prüfstand Ü 2 · 量産" / "fw ñ";
    fs::create_directories(dir);
    const fs::path file = dir / "blink F112 — v1.0 ✓.txt";
    WriteAll(file, ReadAll(kBlink));
    ASSERT_TRUE(Store->SaveUnit(CUnit(*Table.Find(kDevice))));
    ASSERT_EQ(RunBatch(file.string()), 1) << Error;
    EXPECT_EQ(Status.Text, "Batch executed successfully");
    const CUnit u = UnitOnSocket();
    const auto image = ReadTiTxtFile(kBlink);
    ASSERT_TRUE(image.Ok());
    for (const auto& s : image.Image.Sections)
        EXPECT_TRUE(u.Verify(s.Start, s.Bytes.data(), s.Bytes.size())) << std::hex << s.Start;
    const uint8_t serial[2] = {0xEF, 0xBE};
    EXPECT_TRUE(u.Verify(0x1000, serial, 2));
}

// The session hands the library 1024 characters with the terminator: a path
// of 1023 characters is programmed, one of 1024 is refused by the session
// without a call to ProgramFile, although the file is there and good.
TEST_F(HostileFile, PathLongerThan1023CharactersIsRefusedBySession) {
    auto pathOfLength = [&](size_t length) {
        fs::path dir = Files / std::to_string(length);
        const std::string tail = "/f.txt";
        while (dir.string().size() + 1 + 200 + tail.size() < length) dir /= std::string(200, 'd');
        const size_t fill = length - dir.string().size() - 1 - tail.size();
        dir /= std::string(fill, 'e');
        fs::create_directories(dir);
        const fs::path file = dir.string() + tail;
        WriteAll(file, ReadAll(kBlink));
        EXPECT_EQ(file.string().size(), length);
        return file.string();
    };
    const std::string fits = pathOfLength(1023);
    const std::string tooLong = pathOfLength(1024);

    ASSERT_TRUE(Store->SaveUnit(CUnit(*Table.Find(kDevice))));
    ASSERT_EQ(RunBatch(fits), 1) << Error;

    LoadedUnitOnSocket();
    EXPECT_EQ(RunBatch(tooLong), 0);
    EXPECT_EQ(Error, "File name too long (1024 characters)");
    EXPECT_EQ(Status.Text, "Batch program failed");
    ExpectUnitUntouched();
}
