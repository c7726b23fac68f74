#include "ConsoleApp.h"

#include "console/MainConsoleDlg.h"
#include "resources/Resources.h"
#include "toolkit/Application.h"
#include "toolkit/MessageBox.h"
#include "toolkit/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QDateTime>
#include <QFile>
#include <QLockFile>

#include <memory>

CConsoleApp::CConsoleApp() = default;

CConsoleApp::~CConsoleApp() = default;

bool CConsoleApp::StartUp()
{
    Enable3dControls();
    // Settings live under <company>/<application name>; the application name
    // is the program file's base name, which Qt takes from argv[0].
    QCoreApplication::setOrganizationName(QString::fromStdString(LoadString(IDS_COMPANY)));

    // Two stations on one settings store would both start from the same next
    // serial number and issue it twice: only one may run. A station that was
    // killed leaves a lock that names a dead process, which counts as free.
    const QString settings = QString::fromStdString(CMainConsoleDlg::OpenSettingsStore().Location());
    QDir().mkpath(QFileInfo(settings).absolutePath());
    const QString lockPath = settings + QStringLiteral(".running");
    // A station killed between creating the lock and writing its process id
    // into it leaves an empty lock, which would keep every later start out.
    // A live station fills its lock at once: an empty one older than 0.1 s
    // is such a leftover.
    const QFileInfo lockFile(lockPath);
    if (lockFile.exists() && lockFile.size() == 0 &&
        lockFile.lastModified().msecsTo(QDateTime::currentDateTime()) > 100)
        QFile::remove(lockPath);
    QLockFile lock(lockPath);
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0) && lock.error() == QLockFile::LockFailedError) {
        MessageBox(nullptr, "Another station is already running with these settings.\n"
                            "Only one may run at a time, so that no serial number is issued twice.");
        return false;
    }
    {
        auto console = std::make_unique<CMainConsoleDlg>(nullptr);
        console->DoModal();
    }
    return false;
}
