#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "SerialNumber.h"

namespace {

std::vector<unsigned char> Copied(CSerialNumber& record, int32_t max = 16)
{
    unsigned char buffer[16];
    std::memset(buffer, 0xEE, sizeof buffer);
    const int32_t n = record.CopyBytes(buffer, max);
    return std::vector<unsigned char>(buffer, buffer + (n > 0 ? n : 0));
}

}  // namespace

TEST(SerialNumber, FreshRecordHoldsInitialValues)
{
    CSerialNumber record;
    EXPECT_EQ(record.Value, 0u);
    EXPECT_EQ(record.Type, 0);
    EXPECT_EQ(record.AddressText, "1000");
    EXPECT_EQ(record.GetAddress(), 4096);
    EXPECT_EQ(record.ByteCount, 0);
    std::string text;
    record.GetErrorText(text);
    EXPECT_EQ(text, "No error");
    EXPECT_TRUE(Copied(record).empty());
}

struct WidthCase {
    int32_t Type;
    uint32_t Value;
    std::vector<unsigned char> Bytes;
};

class SerialWidth : public testing::TestWithParam<WidthCase> {};

TEST_P(SerialWidth, ProducesLittleEndianBytesOfTheWidth)
{
    const WidthCase& c = GetParam();
    CSerialNumber record;
    record.Type = c.Type;
    record.Value = c.Value;
    ASSERT_EQ(record.Convert(), 1);
    EXPECT_EQ(record.AddressText, "1000");
    EXPECT_EQ(record.GetAddress(), 4096);
    EXPECT_EQ(record.ByteCount, static_cast<int32_t>(c.Bytes.size()));
    EXPECT_EQ(Copied(record), c.Bytes);
    std::string text;
    record.GetErrorText(text);
    EXPECT_EQ(text, "No error");
}

INSTANTIATE_TEST_SUITE_P(Codes, SerialWidth, testing::Values(
    WidthCase{3, 0x12345678u, {0x78, 0x56, 0x34, 0x12}},
    WidthCase{4, 0x12345678u, {0x78, 0x56, 0x34, 0x12}},
    WidthCase{2, 0x0001ABCDu, {0xCD, 0xAB}},
    WidthCase{1, 300u, {0x2C}},
    WidthCase{1, 0x1234u, {0x34}},
    WidthCase{0, 0xFFFFFFFFu, {}},
    WidthCase{5, 7u, {}},
    WidthCase{-1, 7u, {}},
    WidthCase{INT32_MIN, 7u, {}}));

struct AddressCase {
    const char* Text;
    const char* Normal;
    int32_t Address;
};

class SerialAddress : public testing::TestWithParam<AddressCase> {};

TEST_P(SerialAddress, ReadsHexAndRewritesNormalForm)
{
    const AddressCase& c = GetParam();
    CSerialNumber record;
    record.AddressText = c.Text;
    ASSERT_EQ(record.Convert(), 1) << c.Text;
    EXPECT_EQ(record.AddressText, c.Normal);
    EXPECT_EQ(record.GetAddress(), c.Address);
}

INSTANTIATE_TEST_SUITE_P(Texts, SerialAddress, testing::Values(
    AddressCase{"f00", "0F00", 0xF00},
    AddressCase{" 21f", "021F", 0x21F},
    AddressCase{"\t\n 21F", "021F", 0x21F},
    AddressCase{"1000xyz", "1000", 0x1000},
    AddressCase{"0x21ff", "21FF", 0x21FF},
    AddressCase{"0X21FF", "21FF", 0x21FF},
    AddressCase{"12345", "12345", 0x12345},
    AddressCase{"0", "0000", 0},
    AddressCase{"0x0", "0000", 0},
    AddressCase{"-0x1", "FFFFFFFF", -1},
    AddressCase{"+1a", "001A", 0x1A},
    AddressCase{"-1", "FFFFFFFF", -1},
    AddressCase{"-0x10", "FFFFFFF0", -16},
    AddressCase{"123456789", "23456789", 0x23456789},       // low 32 bits survive
    AddressCase{"fffffffffffffffff1", "FFFFFFF1", static_cast<int32_t>(0xFFFFFFF1u)},
    AddressCase{"-123456789", "DCBA9877", static_cast<int32_t>(0xDCBA9877u)},
    AddressCase{"80000000", "80000000", INT32_MIN}));

TEST(SerialNumber, AddressWithoutLeadingDigitFailsAndKeepsTheRecord)
{
    for (const char* text : {"", "   ", "xyz", "G100", "$1000", "-", "+", " -x1", "x1000",
                             "0x", "0X", "-0x", "0xg", "0x 1"}) {
        CSerialNumber record;
        record.Type = 3;
        record.Value = 0x12345678u;
        record.AddressText = text;
        EXPECT_EQ(record.Convert(), 0) << '"' << text << '"';
        std::string error;
        record.GetErrorText(error);
        EXPECT_EQ(error, "Unable to convert serial number address");
        EXPECT_EQ(record.AddressText, text);
        EXPECT_EQ(record.GetAddress(), 4096);
        EXPECT_TRUE(Copied(record).empty());
    }
}

TEST(SerialNumber, FailedConvertKeepsResultsOfAnEarlierOne)
{
    CSerialNumber record;
    record.Type = 2;
    record.Value = 0xBEEF;
    record.AddressText = "1080";
    ASSERT_EQ(record.Convert(), 1);
    record.AddressText = "zz";
    EXPECT_EQ(record.Convert(), 0);
    EXPECT_EQ(record.GetAddress(), 0x1080);
    EXPECT_EQ(Copied(record), (std::vector<unsigned char>{0xEF, 0xBE}));
    // A later success does not clear the error text.
    record.AddressText = "1000";
    EXPECT_EQ(record.Convert(), 1);
    std::string error;
    record.GetErrorText(error);
    EXPECT_EQ(error, "Unable to convert serial number address");
}

TEST(SerialNumber, ReconvertingWithNarrowerTypeDropsOldBytes)
{
    CSerialNumber record;
    record.Type = 3;
    record.Value = 0x11223344u;
    ASSERT_EQ(record.Convert(), 1);
    record.Type = 0;
    ASSERT_EQ(record.Convert(), 1);
    EXPECT_TRUE(Copied(record).empty());
}

TEST(SerialNumber, CopyBytesHonoursTheMaximum)
{
    CSerialNumber record;
    record.Type = 3;
    record.Value = 0x12345678u;
    ASSERT_EQ(record.Convert(), 1);
    EXPECT_EQ(Copied(record, 2), (std::vector<unsigned char>{0x78, 0x56}));
    EXPECT_EQ(Copied(record, 0), std::vector<unsigned char>{});

    // A negative maximum or a null buffer copies nothing.
    unsigned char buffer[16];
    std::memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(record.CopyBytes(buffer, -1), 0);
    EXPECT_EQ(record.CopyBytes(buffer, INT32_MIN), 0);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(record.CopyBytes(nullptr, 16), 0);
}
