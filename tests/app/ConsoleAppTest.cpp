// CConsoleApp::StartUp over the fake library: the console runs modally and
// the program ends with it; names come from the program file and string 102.
#include "ConsoleApp.h"

#include "MainConsoleDlg.h"
#include "Resources.h"
#include "MessageBox.h"

#include "FakeVelk.h"
#include "../FileSizeLimit.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QSysInfo>
#include <QLineEdit>
#include <QTimer>

#include <csignal>

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

// The lock beside the settings decides whether a station starts: one that
// nobody can hold (empty, garbage) is stale; another host's lock cannot be
// checked from here, so it stops the start and says whose it is.
TEST_F(ConsoleAppTest, LeftOverLocks)
{
    const QString lockFile = StoreFile() + QStringLiteral(".running");
    const std::string started = "Unable to initialize device names";
    const struct {
        const char* name;
        QByteArray content;
        std::string box;  // start of the one box
    } rows[] = {
        {"empty", QByteArray(), started},
        {"garbage", QByteArray("\xff\xfe not a lock \x01\n\n\n", 17), started},
        // A dead process of this host, and the empty ".rmlock" a station
        // killed while it cleared such a lock leaves: Qt alone refuses it.
        {"dead process beside an empty .rmlock",
         "2147483000\ncorv_app_tests\n" + QSysInfo::machineHostName().toUtf8() + "\n", started},
        // A killed station's process number, now this station's own or
        // another program's (init, process 1): nobody holds the lock.
        {"this process's own number",
         QByteArray::number(QCoreApplication::applicationPid()) + "\ncorv_app_tests\n" +
             QSysInfo::machineHostName().toUtf8() + "\n",
         started},
        {"another program's number", "1\ncorv_app_tests\n" + QSysInfo::machineHostName().toUtf8() + "\n",
         started},
        {"another host", QByteArray("4242\ncorvantis\nline-host-7\n"),
         "Another station is already running with these settings: process 4242 on host line-host-7.\n"
         "If no station runs there any more, delete\n" + lockFile.toStdString() + "\nand start again."},
    };
    ASSERT_TRUE(QDir().mkpath(QFileInfo(StoreFile()).absolutePath()));
    for (const auto& row : rows) {
        QFile file(lockFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(row.content);
        file.close();
        QFile rmlock(lockFile + QStringLiteral(".rmlock"));
        ASSERT_TRUE(rmlock.open(QIODevice::WriteOnly | QIODevice::Truncate));
        rmlock.close();
        boxes.Boxes.clear();
        fake.ScriptConfig(1, {0});  // a console that starts ends at once here
        CConsoleApp app;
        EXPECT_FALSE(app.StartUp());
        ASSERT_EQ(boxes.Boxes.size(), 1u) << row.name;
        EXPECT_EQ(boxes.Boxes[0].text.substr(0, row.box.size()), row.box) << row.name;
    }
    QFile::remove(lockFile);
    QFile::remove(lockFile + QStringLiteral(".rmlock"));
}

// A settings folder on a full disk: the lock cannot be written, and the
// station must not run unlocked.
TEST_F(ConsoleAppTest, ALockThatCannotBeWrittenStopsTheStart)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(StoreFile()).absolutePath()));
    CConsoleApp app;
    {
        const CFileSizeLimit full(0);
        ASSERT_TRUE(full.Active());
        EXPECT_FALSE(app.StartUp());
    }
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].text, "Unable to take the station lock\n" + StoreFile().toStdString() +
                                       ".running\n(it could not be created or written; is the disk full?)\n"
                                       "The station does not start: unlocked, a second station could issue "
                                       "the same serial numbers.");
    EXPECT_EQ(fake.Count("GetDeviceCfgInfo"), 0u);
    EXPECT_FALSE(QFile::exists(StoreFile() + QStringLiteral(".running")));
}

// Two config folders whose settings files are links to one file: one lock.
TEST_F(ConsoleAppTest, SettingsLinkedToOneFileShareOneLock)
{
    const QString folder = QFileInfo(StoreFile()).absolutePath();
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString shared = folder + QStringLiteral("/shared-by-two.conf");
    QFile::remove(shared);
    ASSERT_TRUE(QFile::link(shared, StoreFile()));
    QLockFile other(shared + QStringLiteral(".running"));
    ASSERT_TRUE(other.tryLock(0));

    fake.ScriptConfig(1, {0});
    CConsoleApp app;
    EXPECT_FALSE(app.StartUp());
    ASSERT_EQ(boxes.Boxes.size(), 1u);
    EXPECT_EQ(boxes.Boxes[0].text.rfind("Another station is already running with these settings.", 0), 0u);
    EXPECT_EQ(fake.Count("GetDeviceCfgInfo"), 0u);
    other.unlock();
    QFile::remove(StoreFile());
}

// A log-out (SIGTERM) or a lost session (SIGHUP) ends the station as Exit
// does: the voltage typed last is saved, and no box waits for an answer.
TEST_F(ConsoleAppTest, EndSignalsCloseTheStationAsExitDoes)
{
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        QFile::remove(StoreFile());
        auto* timer = new QTimer;
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, signal] {
            auto* console = dynamic_cast<CMainConsoleDlg*>(QApplication::activeModalWidget());
            if (!console)
                return;
            timer->stop();
            timer->deleteLater();
            console->GetDlgItemAs<QLineEdit>(IDC_VCC)->setText(QStringLiteral("3.1"));
            console->GetDlgItemAs<QLineEdit>(IDC_COUNT)->setText(QStringLiteral("no number"));
            std::raise(signal);
        });
        timer->start();
        CConsoleApp app;
        EXPECT_FALSE(app.StartUp());
        EXPECT_TRUE(boxes.Boxes.empty());
        QSettings file(StoreFile(), QSettings::IniFormat);
        EXPECT_EQ(file.value(QStringLiteral("Options/VCC")).toString(), QStringLiteral("3.1"));
        EXPECT_EQ(file.value(QStringLiteral("Options/Count")).toString(), QStringLiteral("0"));  // kept
    }
}
