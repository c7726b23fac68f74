#include "SettingsText.h"

#include <gtest/gtest.h>

namespace {

TEST(SettingsText, StoredIntegerRule)
{
    struct Case { const char* text; bool ok; uint32_t pattern; };
    const Case cases[] = {
        {"0", true, 0}, {"4294967295", true, 4294967295u}, {"-1", true, 4294967295u},
        {"-2147483648", true, 2147483648u}, {"+17", true, 17}, {" \t8 ", true, 8},
        {"4294967296", false, 0}, {"-2147483649", false, 0}, {"", false, 0}, {"-", false, 0},
        {"0x10", false, 0}, {"1e3", false, 0},
    };
    for (const auto& c : cases) {
        uint32_t pattern = 12345;
        EXPECT_EQ(ParseStoredInt(c.text, pattern), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(pattern, c.pattern) << c.text;
        }
    }
}

TEST(SettingsText, TextRules)
{
    const CSettingsValues v = ParseSettingsText(
        "top=1\r\n"
        "; comment=1\n"
        "  # comment=2\n"
        "[Options]\r\n"
        "  Baud  =  9600  \n"
        "Quoted=\"  a;b=c \\\"q\\\" \" trailing\n"
        "Escapes=x\\ty\\\\z\\x41\\x00e4\\0101\\q\n"
        "Open=\"no end \n"
        "NoEquals\n"
        "=no name\n"
        "Empty=\n"
        "Baud=19200\n"
        "[Broken\n"
        "Lost=1\n"
        "[ Other ]\n"
        "Path=C:\\\\fw\\\\a,b.txt\n");
    const CSettingsValues expect = {
        {"top", "1"},
        {"Options/Baud", "19200"},
        {"Options/Quoted", "  a;b=c \"q\" "},
        {"Options/Escapes", "x\ty\\zA\xC3\xA4" "A" "q"},
        {"Options/Open", "no end"},
        {"Options/Empty", ""},
        {"Other/Path", "C:\\fw\\a,b.txt"},
    };
    EXPECT_EQ(v, expect);
    // Code points: beyond U+10FFFF and surrogates are U+FFFD; NUL survives.
    EXPECT_EQ(ParseSettingsText("a=\\x110000\\xd800\\0z")["a"], std::string("\xEF\xBF\xBD\xEF\xBF\xBD\0z", 8));
}

TEST(SettingsText, RenderedTextReadsBackTheSameValues)
{
    const CSettingsValues values = {
        {"Options/Plain", "COM1"},
        {"Options/Blanks", "  padded\t"},
        {"Options/Quotes", "\"quoted\" and \\back\\"},
        {"Options/Control", std::string("a\x01" "b\n\r\t\x7f" "F", 9)},
        {"Options/Nul", std::string("x\0" "1", 3)},
        {"Options/Utf8", "Pr\xC3\xBC" "fstand \xE9\x87\x8F"},
        {"Options/Empty", ""},
        {"Options/Comment", ";not a comment"},
        {"General", "no section"},
        {"Other/Sub/Key", "slash"},
    };
    const std::string text = RenderSettingsText(values);
    EXPECT_EQ(ParseSettingsText(text), values) << text;
    EXPECT_NE(text.find("[Options]\n"), std::string::npos);
    EXPECT_NE(text.find("Plain=COM1\n"), std::string::npos);
}

}  // namespace
