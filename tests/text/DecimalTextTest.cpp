#include "DecimalText.h"

#include "Blanks.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct UnsignedCase {
    std::string text;
    std::optional<uint32_t> value;
};

TEST(DecimalText, UnsignedRules)
{
    const UnsignedCase cases[] = {
        {"0", 0u},
        {"57600", 57600u},
        {" \t9600 \t", 9600u},
        {"+12", 12u},
        {"00", 0u},
        {"007", 7u},
        {"4294967295", 4294967295u},
        {"4294967296", 4294967295u},                 // beyond 32 bits: the limit
        {"99999999999999999999999", 4294967295u},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"+", std::nullopt},
        {"+0", std::nullopt},                        // zero must start with the digit 0
        {"-1", std::nullopt},
        {"-0", std::nullopt},
        {"12x", std::nullopt},
        {"1 2", std::nullopt},
        {"x12", std::nullopt},
        {"0x10", std::nullopt},
        {"\n5", std::nullopt},                       // only blanks and tabs around
        {"5\n", std::nullopt},
        {"1.5", std::nullopt},
        // Only the first 31 characters count.
        {std::string(30, ' ') + "12", 1u},
        {std::string(29, ' ') + "12x", 12u},
        {std::string(31, ' ') + "7", std::nullopt},
        {"1234567890123456789012345678901" "junk", 4294967295u},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseUnsignedDecimal(c.text), c.value) << "text: '" << c.text << "'";
}

struct SignedCase {
    std::string text;
    std::optional<int32_t> value;
};

TEST(DecimalText, SignedRules)
{
    const SignedCase cases[] = {
        {"0", 0},
        {"-5", -5},
        {" -17\t", -17},
        {"+5", 5},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},                  // nearest limit
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"-99999999999999999999", INT32_MIN},
        {"99999999999999999999", INT32_MAX},
        {"-0", std::nullopt},
        {"+0", std::nullopt},
        {"-00", std::nullopt},
        {"0-", std::nullopt},
        {"--1", std::nullopt},
        {"x", std::nullopt},
        {"", std::nullopt},
        {"- 1", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseSignedDecimal(c.text), c.value) << "text: '" << c.text << "'";
}

}  // namespace

namespace {

// Blanks are space and tab only; white space (what "%X" and strtod skip)
// adds the line and page controls. A NUL is neither.
TEST(Blanks, BlankAndWhiteSpaceDiffer)
{
    struct Row { char c; bool blank; bool white; };
    const Row rows[] = {
        {' ', true, true}, {'\t', true, true}, {'\n', false, true}, {'\r', false, true},
        {'\v', false, true}, {'\f', false, true}, {'\0', false, false}, {'x', false, false},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(IsBlank(r.c), r.blank) << int(r.c);
        EXPECT_EQ(IsWhiteSpace(r.c), r.white) << int(r.c);
    }
    EXPECT_EQ(TrimBlanks(" \t\n5 \t"), "\n5");
    EXPECT_EQ(TrimBlanks(" \t "), "");
}

}  // namespace
