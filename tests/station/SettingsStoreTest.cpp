#include "SettingsStore.h"

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

}  // namespace
