#include "toolkit/SettingsStore.h"

#include <QDir>
#include <QFile>
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
    CSettingsStore again("Quillfern", "CorvantisTest");
    EXPECT_EQ(again.GetProfileInt("Options", "Count", 0), static_cast<uint32_t>(-5));
    QFile::remove(QString::fromStdString(again.Location()));
}

}  // namespace
