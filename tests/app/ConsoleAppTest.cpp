// CConsoleApp::StartUp over the fake library: the console runs modally and
// the program ends with it; names come from the program file and string 102.
#include "app/ConsoleApp.h"

#include "console/MainConsoleDlg.h"
#include "resources/Resources.h"
#include "toolkit/MessageBox.h"

#include "FakeVelk.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

QString ProgramBaseName() { return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName(); }

QString StoreFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillfern/") + ProgramBaseName() + QStringLiteral(".conf");
}

class ConsoleAppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The shared test main names the application as StartUp and the
        // program file would; here the names must come from those two.
        QCoreApplication::setApplicationName(QString());
        QCoreApplication::setOrganizationName(QString());
        fake.Reset();
        fake.Devices({CFakeDevice("MSP430F112", 3300)});
        QSettings(QStringLiteral("Quillfern"), ProgramBaseName()).clear();
        QFile::remove(StoreFile());
    }
    void TearDown() override { fake.Reset(); }

    CFakeVelk& fake = CFakeVelk::Instance();
    CMessageBoxRecorder boxes;
};

}  // namespace

TEST_F(ConsoleAppTest, NamesComeFromTheProgramFileAndTheStringTable)
{
    EXPECT_EQ(QCoreApplication::applicationName(), ProgramBaseName());
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("corv_app_tests"));

    fake.ScriptConfig(1, {0});  // no device list: the console ends at once
    CConsoleApp app;
    EXPECT_FALSE(app.StartUp());
    EXPECT_EQ(QCoreApplication::organizationName(), QStringLiteral("Quillfern"));
    EXPECT_EQ(QApplication::style()->name(), QStringLiteral("fusion"));
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].caption, "corv_app_tests");
    EXPECT_FALSE(QFile::exists(StoreFile()));  // nothing saved
}

TEST_F(ConsoleAppTest, RunsTheConsoleUntilExitThenSaves)
{
    CMainConsoleDlg* shown = nullptr;
    auto* timer = new QTimer;
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, timer, [&, timer] {
        auto* console = dynamic_cast<CMainConsoleDlg*>(QApplication::activeModalWidget());
        if (!console)
            return;
        timer->stop();
        timer->deleteLater();
        shown = console;
        EXPECT_EQ(console->parentWidget(), nullptr);
        EXPECT_TRUE(console->isVisible());
        console->GetDlgItemAs<QPushButton>(IDC_EXIT)->click();
    });
    timer->start();
    CConsoleApp app;
    EXPECT_FALSE(app.StartUp());
    EXPECT_NE(shown, nullptr);
    EXPECT_TRUE(boxes.Boxes.empty());

    ASSERT_TRUE(QFile::exists(StoreFile())) << StoreFile().toStdString();
    QSettings file(StoreFile(), QSettings::IniFormat);
    file.beginGroup(QStringLiteral("Options"));
    EXPECT_EQ(file.childKeys().size(), 12);
    EXPECT_EQ(file.value(QStringLiteral("DeviceName")).toString(), QStringLiteral("MSP430F112"));
}

// A second station on the same store would issue the same serial numbers.
TEST_F(ConsoleAppTest, ASecondStationOnTheSameSettingsDoesNotStart)
{
    QLockFile other(StoreFile() + QStringLiteral(".running"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(StoreFile()).absolutePath()));
    ASSERT_TRUE(other.tryLock(0));

    CConsoleApp app;
    EXPECT_FALSE(app.StartUp());
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].text,
              "Another station is already running with these settings.\n"
              "Only one may run at a time, so that no serial number is issued twice.");
    EXPECT_EQ(fake.Count("GetDeviceCfgInfo"), 0u);  // no console was built
    EXPECT_FALSE(QFile::exists(StoreFile()));

    other.unlock();
    boxes.Boxes.clear();
    fake.ScriptConfig(1, {0});  // free again: the console starts (and ends at once here)
    EXPECT_FALSE(app.StartUp());
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].text.rfind("Unable to initialize device names", 0), 0u);
}
