#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include <sys/stat.h>
#include <unistd.h>

#include "ScratchDir.h"
#include "TiTxt.h"

using namespace velk;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int b : v) out.push_back(static_cast<uint8_t>(b));
    return out;
}

}  // namespace

TEST(TiTxt, ReadsSectionsSortedAndMerged) {
    const auto r = ReadTiTxt("@F002\n03 04\n@1000\n0A\n@F000\n01 02\nq\n");
    ASSERT_TRUE(r.Ok()) << r.Message;
    ASSERT_EQ(r.Image.Sections.size(), 2u);
    EXPECT_EQ(r.Image.Sections[0].Start, 0x1000u);
    EXPECT_EQ(r.Image.Sections[0].Bytes, Bytes({0x0A}));
    EXPECT_EQ(r.Image.Sections[1].Start, 0xF000u);
    EXPECT_EQ(r.Image.Sections[1].Bytes, Bytes({1, 2, 3, 4}));
    EXPECT_EQ(r.Image.ByteCount(), 5u);
}

TEST(TiTxt, LenientInStyle) {
    // Lower case, CRLF, blank lines, trailing blanks, one-digit bytes, long lines, "Q".
    const auto r = ReadTiTxt("\r\n@f00a  \r\n\r\nab cD 5\t 00 ff 10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e \r\n  \r\nQ \r\n\r\n");
    ASSERT_TRUE(r.Ok()) << r.Line << ": " << r.Message;
    ASSERT_EQ(r.Image.Sections.size(), 1u);
    EXPECT_EQ(r.Image.Sections[0].Start, 0xF00Au);
    EXPECT_EQ(r.Image.Sections[0].Bytes.size(), 20u);
    EXPECT_EQ(r.Image.Sections[0].Bytes[1], 0xCD);
    EXPECT_EQ(r.Image.Sections[0].Bytes[2], 0x05);
}

TEST(TiTxt, EqualOverlapIsAccepted) {
    const auto r = ReadTiTxt("@100\n01 02 03\n@101\n02 03 04\nq\n");
    ASSERT_TRUE(r.Ok()) << r.Message;
    ASSERT_EQ(r.Image.Sections.size(), 1u);
    EXPECT_EQ(r.Image.Sections[0].Bytes, Bytes({1, 2, 3, 4}));
}

TEST(TiTxt, AddressAtTheTopOf20Bits) {
    auto r = ReadTiTxt("@FFFFF\nAA\nq\n");
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.Image.Sections[0].Start, 0xFFFFFu);
    r = ReadTiTxt("@000FFFFF\nAA\nq\n");  // leading zeros are fine
    EXPECT_TRUE(r.Ok());
}

TEST(TiTxt, EmptyFileWithQIsAnEmptyImage) {
    const auto r = ReadTiTxt("q\n");
    ASSERT_TRUE(r.Ok());
    EXPECT_TRUE(r.Image.Sections.empty());
}

struct BadCase {
    const char* Name;
    const char* Text;
    ETiTxtStatus Status;
    int Line;
};

class TiTxtBad : public ::testing::TestWithParam<BadCase> {};

TEST_P(TiTxtBad, IsRefusedNamingTheLine) {
    const auto& c = GetParam();
    const auto r = ReadTiTxt(c.Text);
    EXPECT_EQ(r.Status, c.Status) << r.Message;
    EXPECT_EQ(r.Line, c.Line) << r.Message;
    EXPECT_FALSE(r.Message.empty());
    EXPECT_TRUE(r.Image.Sections.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TiTxtBad,
    ::testing::Values(
        BadCase{"DataBeforeAt", "\n01 02\n@F000\nq\n", ETiTxtStatus::Syntax, 2},
        BadCase{"ThreeDigitToken", "@F000\n01 234\nq\n", ETiTxtStatus::Syntax, 2},
        BadCase{"NonHexToken", "@F000\n01 02\n0G\nq\n", ETiTxtStatus::Syntax, 3},
        BadCase{"AddressBeyond20Bits", "@100000\n01\nq\n", ETiTxtStatus::Syntax, 1},
        BadCase{"DataRunsPast20Bits", "@FFFFF\n01\n02\nq\n", ETiTxtStatus::Syntax, 3},
        BadCase{"EmptyAddress", "@\n01\nq\n", ETiTxtStatus::Syntax, 1},
        BadCase{"AddressWithData", "@F000 01\nq\n", ETiTxtStatus::Syntax, 1},
        BadCase{"ConflictingOverlap", "@F000\n01 02 03\n@F002\n04\nq\n", ETiTxtStatus::Syntax, 4},
        BadCase{"ConflictEarlierInFile", "@F002\n04\n@F000\n01 02\n03\nq\n", ETiTxtStatus::Syntax, 5},
        BadCase{"MissingQ", "@F000\n01 02\n", ETiTxtStatus::Truncated, 2},
        BadCase{"Empty", "", ETiTxtStatus::Truncated, 0},
        BadCase{"TextAfterQ", "@F000\n01\nq\n02\n", ETiTxtStatus::Syntax, 4},
        BadCase{"QWithGarbage", "@F000\n01\nquit\n", ETiTxtStatus::Syntax, 3}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(TiTxt, NulInsideTextIsRefused) {
    const std::string text("@F000\n01\0 02\nq\n", 15);
    const auto r = ReadTiTxt(text);
    EXPECT_EQ(r.Status, ETiTxtStatus::Syntax);
    EXPECT_EQ(r.Line, 2);
}

TEST(TiTxt, MissingFileIsUnreadable) {
    EXPECT_EQ(ReadTiTxtFile("/nonexistent/velk430/x.txt").Status, ETiTxtStatus::Unreadable);
    EXPECT_EQ(ReadTiTxtFile("/").Status, ETiTxtStatus::Unreadable);
}

// Only regular files are read, and their size is checked before reading: a
// pipe without a writer must not block (a blocking open would hang here until
// the test's timeout), a device is not read at all.
TEST(TiTxt, NonRegularFilesAreRefusedWithoutReading) {
    const CScratchDir scratch("titxt-special");
    const std::filesystem::path dir = scratch.Path();
    const std::string fifo = (dir / "pipe.txt").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto r = ReadTiTxtFile(fifo);
    EXPECT_EQ(r.Status, ETiTxtStatus::Unreadable);
    EXPECT_EQ(r.Message, "not a regular file");
    r = ReadTiTxtFile("/dev/zero");
    EXPECT_EQ(r.Status, ETiTxtStatus::Unreadable);
    EXPECT_EQ(ReadTiTxtFile(dir.string()).Message, "not a regular file");
}

// A file at the limit is read (NULs: a syntax error on line 1); one byte more
// is refused by its size. Sparse files, so nothing is written to disk.
TEST(TiTxt, SizeLimitIsSixteenMebibytes) {
    EXPECT_EQ(kMaxTiTxtFileBytes, uint64_t{16} << 20);
    const CScratchDir scratch("titxt-limit");
    const std::filesystem::path path = scratch / "limit.txt";
    { std::ofstream(path.string()) << ""; }
    std::filesystem::resize_file(path, kMaxTiTxtFileBytes);
    auto r = ReadTiTxtFile(path.string());
    EXPECT_EQ(r.Status, ETiTxtStatus::Syntax);
    EXPECT_EQ(r.Line, 1);
    std::filesystem::resize_file(path, kMaxTiTxtFileBytes + 1);
    r = ReadTiTxtFile(path.string());
    EXPECT_EQ(r.Status, ETiTxtStatus::Unreadable);
    EXPECT_EQ(r.Message, "file larger than 16 MiB");
}

// srec_cat writes TI-TXT from random images; the reader must get the same bytes back.
TEST(TiTxt, ReadsWhatSrecCatWrites) {
    if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) GTEST_SKIP() << "srec_cat not installed";
    const CScratchDir scratch("titxt-srec");
    const std::filesystem::path dir = scratch.Path();
    std::mt19937 rng(430);
    for (int round = 0; round < 8; ++round) {
        // Up to four non-overlapping random blocks across the 20-bit space.
        std::map<uint32_t, std::vector<uint8_t>> blocks;
        const int count = 1 + static_cast<int>(rng() % 4);
        std::string cmd = "srec_cat";
        for (int i = 0; i < count; ++i) {
            const uint32_t start = (static_cast<uint32_t>(i) * 0x40000u) + (rng() % 0x30000u);
            std::vector<uint8_t> data(1 + rng() % 3000);
            for (auto& b : data) b = static_cast<uint8_t>(rng());
            const auto file = dir / ("b" + std::to_string(i) + ".bin");
            std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
            cmd += " " + file.string() + " -binary -offset " + std::to_string(start);
            blocks[start] = std::move(data);
        }
        const auto out = dir / "out.txt";
        cmd += " -o " + out.string() + " -ti_txt";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        const auto r = ReadTiTxtFile(out.string());
        ASSERT_TRUE(r.Ok()) << r.Line << ": " << r.Message;
        // Blocks that happen to touch merge; compare byte by byte.
        std::map<uint32_t, uint8_t> expected, got;
        for (const auto& [start, data] : blocks)
            for (size_t k = 0; k < data.size(); ++k) expected[start + static_cast<uint32_t>(k)] = data[k];
        for (const auto& s : r.Image.Sections)
            for (size_t k = 0; k < s.Bytes.size(); ++k) got[s.Start + static_cast<uint32_t>(k)] = s.Bytes[k];
        EXPECT_EQ(got, expected) << "round " << round;
    }
    std::filesystem::remove_all(dir);
}

TEST(TiTxt, ExamplesReadAsExpected) {
    const std::string dir = CORV_SOURCE_DIR "/examples/";
    auto r = ReadTiTxtFile(dir + "blink-f112.txt");
    ASSERT_TRUE(r.Ok()) << r.Message;
    EXPECT_EQ(r.Image.Sections.back().Start, 0xFFFEu);  // reset vector
    EXPECT_EQ(r.Image.Sections.back().Bytes, Bytes({0x00, 0xF0}));
    r = ReadTiTxtFile(dir + "fill-f149.txt");
    ASSERT_TRUE(r.Ok()) << r.Message;
    EXPECT_GT(r.Image.ByteCount(), 55000u);
    r = ReadTiTxtFile(dir + "malformed.txt");
    EXPECT_EQ(r.Status, ETiTxtStatus::Syntax);
    EXPECT_EQ(r.Line, 3);
}
