// The CheckSetup export on the library's own device table and TI-TXT reader,
// GetLastErrorText after it, GetResultText, and README.md's code table.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ScratchDir.h"
#include "CodeTable.h"
#include "Codes.h"
#include "velk430.h"

using namespace velk;
namespace fs = std::filesystem;

namespace {

struct CRow {
    const char* what;
    std::string port = "COM1";
    int32_t baud = 57600;
    std::string device = "MSP430F149";
    std::string file = "@1100\n01 02\n@FFFE\n00 11\nq\n";   // "" names a missing file
    int32_t erase = 0, address = 0x2000, count = 2, fuse = 0;
    int32_t code = kOk;
    const char* reason = "";   // part of GetLastErrorText after the check
};

std::string LastReason()
{
    char text[256];
    GetLastErrorText(text, sizeof text);
    return text;
}

}  // namespace

TEST(CheckSetup, RefusesWhatWouldFailOnTheUnit)
{
    const CScratchDir scratch("setup-check");
    const fs::path dir = scratch.Path();
    unsetenv("VELK430_DEVICE_CFG");
    const CRow rows[] = {
        {"sound"},
        {"every rate the header lists", "COM1", 2400},
        {.what = "rate", .baud = 14400, .code = kBadBaud, .reason = "not 14400"},
        {.what = "device", .device = "MSP430X999", .code = kUnknownDevice, .reason = "\"MSP430X999\""},
        {.what = "fuse on mspdebug", .port = "mspdebug:sim", .fuse = 1, .code = kCannotBlowFuse},
        {.what = "mspdebug without fuse", .port = "mspdebug:sim"},
        {.what = "missing file", .file = "", .code = kFileOpen, .reason = "cannot open"},
        {.what = "syntax", .file = "@1100\n01\nzz\nq\n", .code = kFileSyntax, .reason = ", line 3: "},
        {.what = "truncated", .file = "@1100\n01\n", .code = kFileTruncated},
        {.what = "outside flash", .file = "@0200\n01\nq\n", .code = kFileRange, .reason = "0x00200"},
        {.what = "info not erased", .file = "@1080\n01\nq\n", .code = kNotErased, .reason = "0x01080"},
        {.what = "info erased", .file = "@1080\n01\nq\n", .erase = 1},
        {.what = "segment A", .device = "MSP430F2274", .file = "@8000\n01\n@10C0\n01\nq\n", .erase = 1,
         .code = kProtected, .reason = "0x010C0"},
        {.what = "serial on the file", .address = 0xFFFD, .code = kSerialOverlap, .reason = "0x0FFFE"},
        {.what = "serial across the flash end", .file = "@1100\n01\nq\n", .address = 0xFFFF, .code = kNotFlash},
        {.what = "serial in RAM", .address = 0x0200, .code = kNotFlash},
        {.what = "serial in segment A", .device = "MSP430F2274", .file = "@8000\n01\nq\n", .address = 0x10C0,
         .code = kProtected, .reason = "calibration segment"},
        {.what = "serial beyond 20 bits", .address = 0x7FFFFFFF, .count = 1, .code = kNotFlash},
        {.what = "no serial, anywhere", .address = 0x0200, .count = 0},
    };
    for (const CRow& row : rows) {
        SCOPED_TRACE(row.what);
        std::string path = (dir / "missing.txt").string();
        if (!row.file.empty()) {
            path = (dir / (std::string(row.what) + ".txt")).string();
            std::ofstream(path) << row.file;
        }
        std::string port = row.port, device = row.device;
        EXPECT_EQ(CheckSetup(port.data(), row.baud, device.data(), path.data(), row.erase, row.address, row.count,
                             row.fuse),
                  row.code);
        if (row.code == kOk) EXPECT_EQ(LastReason(), "");
        else EXPECT_NE(LastReason().find(row.reason), std::string::npos) << LastReason();
    }
}

TEST(CheckSetup, EveryRateOfTheHeaderOpensAndNoOther)
{
    const int32_t rates[] = VELK_BAUD_RATES;
    for (const int32_t rate : rates) EXPECT_TRUE(IsSupportedBaud(rate)) << rate;
    for (const int32_t rate : {1200, 2401, 14400, 230400}) EXPECT_FALSE(IsSupportedBaud(rate)) << rate;
}

TEST(ResultText, ExplainsEveryFailureAndCutsToTheBuffer)
{
    for (const CCodeRow& row : CodeTable()) {
        char text[512];
        const int32_t n = GetResultText(row.Code, text, sizeof text);
        EXPECT_EQ(n > 0, row.Code < kDone) << row.Code;   // the two successes need none
    }
    char small[8];
    EXPECT_GT(GetResultText(kVerifyMismatch, small, sizeof small), 7);
    EXPECT_STREQ(small, "the uni");
    EXPECT_EQ(GetResultText(-999, small, sizeof small), 0);
    EXPECT_STREQ(small, "");
}

// The README's table is the code's: regenerate it with `velk430-sim codes`.
TEST(ResultText, ReadmeTableIsTheCodeTable)
{
    std::ifstream in(std::string(CORV_SOURCE_DIR) + "/velk430/README.md");
    std::stringstream readme;
    readme << in.rdbuf();
    const std::string table = CodeTableMarkdown();
    EXPECT_NE(readme.str().find("\n\n" + table + "\n"), std::string::npos)
        << "velk430/README.md differs from `velk430-sim codes`:\n" << table;
}
