// The image reader's formats besides TI-TXT: Intel HEX, Motorola S-records
// and MSP430 ELF, told apart by their content.
#include <gtest/gtest.h>

#include "Image.h"

#include "../ImageFormats.h"

using namespace velk;

namespace {

using Sections = std::vector<std::pair<uint32_t, std::vector<uint8_t>>>;

Sections Of(const CImageResult& r) {
    Sections out;
    for (const auto& s : r.Image.Sections) out.emplace_back(s.Start, s.Bytes);
    return out;
}

}  // namespace

TEST(Image, IntelHexRecordTypes) {
    // 04: base 0x10000; 02: base 0xF000 (segment 0x0F00); 03/05 read and ignored.
    const auto r = ReadImage(
        ":020000040001F9\n:02001000AABB89\r\n\n  :020000020F00ED  \n:02FFFE0000F011\n"
        ":040000030000F00009\n:040000050000F00007\n:00000001FF\n\n");
    ASSERT_TRUE(r.Ok()) << r.Line << ": " << r.Message;
    EXPECT_EQ(Of(r), (Sections{{0x10010, {0xAA, 0xBB}}, {0x1EFFE, {0x00, 0xF0}}}));
}

TEST(Image, SRecordTypes) {
    const auto r = ReadImage("S0060000686472BB\nS105F000010207\nS20501000003F6\nS306000FFFFF04E8\nS5030003F9\nS903F0000C\n");
    ASSERT_TRUE(r.Ok()) << r.Line << ": " << r.Message;
    EXPECT_EQ(Of(r), (Sections{{0xF000, {1, 2}}, {0x10000, {3}}, {0xFFFFF, {4}}}));
    // srec_cat ends a file without a start address with its count record.
    EXPECT_TRUE(ReadImage("S105F000010207\nS5030001FB\n").Ok());
}

namespace {

struct BadRecords {
    const char* Name;
    const char* Text;
    EImageStatus Status;
    int Line;
};

class ImageBad : public ::testing::TestWithParam<BadRecords> {};

}  // namespace

TEST_P(ImageBad, IsRefusedNamingTheLine) {
    const auto& c = GetParam();
    const auto r = ReadImage(c.Text);
    EXPECT_EQ(r.Status, c.Status) << r.Message;
    EXPECT_EQ(r.Line, c.Line) << r.Message;
    EXPECT_FALSE(r.Message.empty());
    EXPECT_TRUE(r.Image.Sections.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageBad,
    ::testing::Values(
        BadRecords{"HexBadChecksum", ":0100000001FF\n:00000001FF\n", EImageStatus::Syntax, 1},
        BadRecords{"HexRecordRunsPastItsLine", ":03F000000102\n:00000001FF\n", EImageStatus::Syntax, 1},
        BadRecords{"HexTextAfterChecksum", ":0100000001FE00\n:00000001FF\n", EImageStatus::Syntax, 1},
        BadRecords{"HexNotHex", ":01000000G1FE\n:00000001FF\n", EImageStatus::Syntax, 1},
        BadRecords{"HexOverlap", ":03F0000001020307\n:01F001000905\n:00000001FF\n", EImageStatus::Syntax, 2},
        BadRecords{"HexBeyond20Bits", ":020000040010EA\n:0100000001FE\n:00000001FF\n", EImageStatus::Syntax, 2},
        BadRecords{"HexWrapsItsSegment", ":02FFFF000102FD\n:00000001FF\n", EImageStatus::Syntax, 1},
        BadRecords{"HexUnknownType", ":00000006FA\n:00000001FF\n", EImageStatus::Syntax, 1},
        BadRecords{"HexEndWithData", ":0100000101FD\n", EImageStatus::Syntax, 1},
        BadRecords{"HexShortLinearAddress", ":0100000401FA\n:00000001FF\n", EImageStatus::Syntax, 1},
        BadRecords{"HexMissingEnd", ":0100000001FE\n", EImageStatus::Truncated, 1},
        BadRecords{"HexTextAfterEnd", ":00000001FF\n:0100000001FE\n", EImageStatus::Syntax, 2},
        BadRecords{"HexGarbageLine", ":0100000001FE\nhello\n:00000001FF\n", EImageStatus::Syntax, 2},
        BadRecords{"SrecBadChecksum", "S105F000010208\nS9030000FC\n", EImageStatus::Syntax, 1},
        BadRecords{"SrecRecordRunsPastItsLine", "S105F0000102\nS9030000FC\n", EImageStatus::Syntax, 1},
        BadRecords{"SrecOverlap", "S105F000010207\nS104F0010901\nS9030000FC\n", EImageStatus::Syntax, 2},
        BadRecords{"SrecBeyond20Bits", "S3060010000001E8\nS9030000FC\n", EImageStatus::Syntax, 1},
        BadRecords{"SrecWrongCount", "S105F000010207\nS5030002FA\nS9030000FC\n", EImageStatus::Syntax, 2},
        BadRecords{"SrecS4", "S4030000FC\nS9030000FC\n", EImageStatus::Syntax, 1},
        BadRecords{"SrecLateHeader", "S105F000010207\nS0030000FC\nS9030000FC\n", EImageStatus::Syntax, 2},
        BadRecords{"SrecEndWithData", "S904000001FA\n", EImageStatus::Syntax, 1},
        BadRecords{"SrecMissingEnd", "S105F000010207\n", EImageStatus::Truncated, 1},
        BadRecords{"SrecTextAfterEnd", "S9030000FC\nS105F000010207\n", EImageStatus::Syntax, 2},
        BadRecords{"SrecDataAfterCount", "S105F000010207\nS5030001FB\nS105F000010207\n", EImageStatus::Syntax, 3}),
    [](const auto& info) { return std::string(info.param.Name); });

// The file bytes of each PT_LOAD segment at its physical address: a .data
// image kept in flash but run from RAM goes to flash, and .bss (no file
// bytes) and the part of a segment past p_filesz are not programmed.
TEST(ElfImage, ProgramsTheFileBytesOfLoadSegmentsAtTheirPhysicalAddresses) {
    const std::string elf = imagefmt::ElfBytes({
        {0xF000, {0x31, 0x40, 0x00, 0x03}},
        {0xF100, {0xAA, 0xBB}, 2, 0x0200},   // .data: run at 0x0200, loaded at 0xF100
        {0x0202, {}, 64},                    // .bss
        {0xFFFE, {0x00, 0xF0}, 16},          // more memory than file bytes
        {0x10000, {0x55}},                   // far flash
    });
    const auto r = ReadImage(elf);
    ASSERT_TRUE(r.Ok()) << r.Message;
    EXPECT_EQ(Of(r), (Sections{{0xF000, {0x31, 0x40, 0x00, 0x03}}, {0xF100, {0xAA, 0xBB}}, {0xFFFE, {0x00, 0xF0, 0x55}}}));
}

TEST(ElfImage, MalformedFilesAreRefusedNamingTheOffset) {
    const std::vector<imagefmt::CSegment> good = {{0xF000, {1, 2, 3, 4}}, {0xFFFE, {0x00, 0xF0}}};
    const std::string elf = imagefmt::ElfBytes(good);
    ASSERT_TRUE(ReadImage(elf).Ok());
    const size_t ph1 = imagefmt::ProgramHeaderOffset(1);
    auto patched = [&](size_t at, uint32_t value) {
        std::string e = elf;
        std::memcpy(e.data() + at, &value, 4);
        return e;
    };
    char ph1Text[16];
    std::snprintf(ph1Text, sizeof ph1Text, "0x%zX", ph1);
    struct Row {
        const char* Name;
        std::string Bytes;
        std::string Expected;  // part of the message
    } rows[] = {
        {"OtherMachine", imagefmt::ElfBytes(good, EM_ARM), "offset 0x12: ELF file for machine 40, not the MSP430"},
        {"SegmentPastTheEnd", patched(ph1 + 16, 0x10000), std::string("offset ") + ph1Text + ": segment outside the file"},
        {"SegmentOffsetPastTheEnd", patched(ph1 + 4, 0x7FFFFFF0), std::string("offset ") + ph1Text + ": segment outside the file"},
        {"Beyond20Bits", patched(ph1 + 12, 0xFFFFF), std::string("offset ") + ph1Text + ": address beyond 20 bits"},
        {"Overlap", imagefmt::ElfBytes({{0xF000, {1, 2, 3, 4}}, {0xF002, {9}}}), "given twice with different values"},
        {"Truncated", elf.substr(0, ph1 + 8), "offset"},
        {"Relocatable", patched(0x10, ET_REL | (EM_MSP430 << 16)), "offset 0x10: ELF file of type 1, not an executable"},
        {"SixtyFourBit", [&] { std::string e = elf; e[EI_CLASS] = ELFCLASS64; return e; }(), "offset 0x4:"},
    };
    for (const Row& row : rows) {
        const auto r = ReadImage(row.Bytes);
        EXPECT_EQ(r.Status, EImageStatus::Syntax) << row.Name;
        EXPECT_NE(r.Message.find(row.Expected), std::string::npos) << row.Name << ": " << r.Message;
        EXPECT_TRUE(r.Image.Sections.empty()) << row.Name;
    }
}
