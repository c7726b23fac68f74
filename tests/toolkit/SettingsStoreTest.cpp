#include "toolkit/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(SettingsStore, RoundTripsThirtyTwoBitPatternsAndTexts)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath(QStringLiteral("store.ini")).toStdString();
    {
        CSettingsStore store = CSettingsStore::AtFile(path);
        store.WriteProfileInt("Options", "SerialNumber", uint32_t{4294967295u});
        store.WriteProfileInt("Options", "Count", int32_t{-5});
        store.WriteProfileInt("Options", "Baud", 57600);
        store.WriteProfileString("Options", "FileName", "/home/op/fw image;1.txt");
        store.WriteProfileString("Options", "VCC", "3.30");
        store.WriteProfileString("Options", "Empty", "");
        EXPECT_TRUE(store.Flush());
    }
    CSettingsStore store = CSettingsStore::AtFile(path);
    EXPECT_EQ(store.GetProfileInt("Options", "SerialNumber", 0), 4294967295u);
    EXPECT_EQ(static_cast<int32_t>(store.GetProfileInt("Options", "Count", 0)), -5);
    EXPECT_EQ(store.GetProfileInt("Options", "Baud", 0), 57600u);
    EXPECT_EQ(store.GetProfileString("Options", "FileName", "x"), "/home/op/fw image;1.txt");
    EXPECT_EQ(store.GetProfileString("Options", "VCC", ""), "3.30");
    EXPECT_EQ(store.GetProfileString("Options", "Empty", "default"), "");
    // Absent values, sections: the default.
    EXPECT_EQ(store.GetProfileString("Options", "CommPort", "COM1"), "COM1");
    EXPECT_EQ(store.GetProfileInt("Options", "CountUp", 1), 1u);
    EXPECT_EQ(store.GetProfileInt("Other", "Baud", 9600), 9600u);
}

TEST(SettingsStore, HandEditedValuesReadSanely)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("edited.ini"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Options]\n"
               "Baud=abc\n"
               "Count=-7\n"
               "SerialNumber=12x\n"
               "SerialType=99999999999\n"
               "BlowFuse= 1 \n"
               "EraseFlash=\n");
    file.close();
    CSettingsStore store = CSettingsStore::AtFile(path.toStdString());
    EXPECT_EQ(store.GetProfileInt("Options", "Baud", 57600), 57600u);
    EXPECT_EQ(static_cast<int32_t>(store.GetProfileInt("Options", "Count", 0)), -7);
    EXPECT_EQ(store.GetProfileInt("Options", "SerialNumber", 3), 3u);
    EXPECT_EQ(store.GetProfileInt("Options", "SerialType", 0), 0u);
    EXPECT_EQ(store.GetProfileInt("Options", "BlowFuse", 0), 1u);
    EXPECT_EQ(store.GetProfileInt("Options", "EraseFlash", 4), 4u);
    EXPECT_EQ(store.GetProfileString("Options", "Baud", ""), "abc");
}

TEST(SettingsStore, StoredIntegerRule)
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

TEST(SettingsStore, CompanyAndApplicationKeys)
{
    // The test runner points XDG_CONFIG_HOME at a scratch folder.
    {
        CSettingsStore store("Quillfern", "CorvantisTest");
        store.WriteProfileInt("Options", "Count", int32_t{-5});
        EXPECT_TRUE(store.Flush());
        EXPECT_NE(store.Location().find("Quillfern"), std::string::npos);
    }
    // A company-wide file beside the user's own is never read.
    const QString company = QFileInfo(QFileInfo(QString::fromStdString(
                                          CSettingsStore("Quillfern", "CorvantisTest").Location())).path())
                                .path() + QStringLiteral("/Quillfern.conf");
    QFile file(company);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Options]\nCommPort=COM9\nSerialNumber=77\nCount=3\n");
    file.close();
    CSettingsStore again("Quillfern", "CorvantisTest");
    EXPECT_EQ(again.GetProfileInt("Options", "Count", 0), static_cast<uint32_t>(-5));
    EXPECT_EQ(again.GetProfileString("Options", "CommPort", "COM1"), "COM1");
    EXPECT_EQ(again.GetProfileInt("Options", "SerialNumber", 0), 0u);
    QFile::remove(company);
    QFile::remove(QString::fromStdString(again.Location()));
}

// Qt's own INI dialect decodes "@Variant(...)" into typed objects: a
// hand-edited line could make the station decode a pixmap (fatal without a
// GUI) or allocate gigabytes. The store reads every value as plain text.
TEST(SettingsStore, TypedVariantValuesAreOnlyText)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("typed.conf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Options]\n"
               "VCC=@Variant(\\0\\0\\0A\\x7f\\0\\0\\0\\x10)\n"
               "FileName=@Variant(\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0\\0)\n"
               "Baud=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\0\\x5)\n"
               "SerialAddress=@ByteArray(1000)\n");
    file.close();
    CSettingsStore store = CSettingsStore::AtFile(path.toStdString());
    const std::string vcc = store.GetProfileString("Options", "VCC", "3.3");
    EXPECT_EQ(vcc.rfind("@Variant(", 0), 0u) << vcc;
    EXPECT_EQ(store.GetProfileInt("Options", "Baud", 57600), 57600u);
    EXPECT_EQ(store.GetProfileString("Options", "SerialAddress", ""), "@ByteArray(1000)");
}

TEST(SettingsStore, TextRules)
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

TEST(SettingsStore, RenderedTextReadsBackTheSameValues)
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
