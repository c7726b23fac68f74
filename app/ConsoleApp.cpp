#include "ConsoleApp.h"

#include "AboutDlg.h"

#include "EndSignals.h"

#include "MainConsoleDlg.h"
#include "StationGuards.h"
#include "Resources.h"
#include "Application.h"
#include "MessageBox.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>

namespace {

// Whether a process of this host that a lock names is another running
// station: not this process (whose number may be a killed station's, reused),
// alive, and running the same program (a number reused by another program
// holds nothing; a name that cannot be read counts as a station).
bool IsOtherStation(pid_t pid)
{
    if (pid == ::getpid())
        return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    // The command name (/proc/PID/comm) is readable where the program's
    // path is not; both sides are cut to the same 15 characters.
    const auto command = [](const std::string& process) {
        std::ifstream file("/proc/" + process + "/comm");
        std::string name;
        std::getline(file, name);
        return name;
    };
    const std::string theirs = command(std::to_string(pid));
    return theirs.empty() || theirs == command("self");
}

// Takes the one-station lock, or says why the station cannot start: another
// station holds it (on this host and alive, or on another host, which this
// one cannot check), or the lock cannot be made at all (a full disk, a
// read-only folder): a station that ran unlocked could issue the numbers a
// later, locked one issues too.
bool TakeStationLock(QLockFile& lock, const QString& path)
{
    lock.setStaleLockTime(0);  // a lock naming a dead process here is stale at once
    const std::string file = path.toStdString();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (lock.tryLock(0))
            return true;
        if (lock.error() != QLockFile::LockFailedError) {
            const std::string reason = lock.error() == QLockFile::PermissionError
                                           ? "permission denied"
                                           : "it could not be created or written; is the disk full?";
            MessageBox(nullptr, "Unable to take the station lock\n" + file + "\n(" + reason +
                                    ")\nThe station does not start: unlocked, a second station could "
                                    "issue the same serial numbers.");
            return false;
        }
        qint64 pid = 0;
        QString host, application;
        const bool readable = lock.getLockInfo(&pid, &host, &application);
        const bool here = host.isEmpty() || host == QSysInfo::machineHostName();
        // Empty or garbage, or naming a process of this host that is gone:
        // nobody holds it. (Qt takes the latter for stale itself, but not
        // while a station killed amid that clean-up left its empty
        // ".rmlock" beside it.) A live station keeps its lock file locked,
        // so removing it fails while one runs.
        const bool dead = readable && here && pid > 0 && !IsOtherStation(static_cast<pid_t>(pid));
        if (!readable || dead) {
            if (attempt == 0 && lock.removeStaleLockFile())
                continue;
        } else if (!here) {
            MessageBox(nullptr, "Another station is already running with these settings: process " +
                                    std::to_string(pid) + " on host " + host.toStdString() +
                                    ".\nIf no station runs there any more, delete\n" + file +
                                    "\nand start again.");
            return false;
        }
        break;
    }
    MessageBox(nullptr, "Another station is already running with these settings.\n"
                        "Only one may run at a time, so that no serial number is issued twice.");
    return false;
}

// The console while it runs, for a program end that bypasses its window.
CMainConsoleDlg* g_running = nullptr;

// A lost display ends the program through exit() from inside the event
// loop: the settings are saved on the way out as by Exit.
extern "C" void SaveOnProgramExit()
{
    if (g_running)
        g_running->SaveWithoutOperator();
}

}  // namespace

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
    // The lock belongs to the file actually written, so two settings files
    // that are links to one file share one lock.
    const std::string settings = CMainConsoleDlg::OpenSettingsStore().Location();
    QDir().mkpath(QFileInfo(QString::fromStdString(settings)).absolutePath());
    const QString lockPath = QString::fromStdString(ResolvedFilePath(settings)) + QStringLiteral(".running");
    QLockFile lock(lockPath);
    if (!TakeStationLock(lock, lockPath))
        return false;
    {
        auto console = std::make_unique<CMainConsoleDlg>(nullptr);
        console->SetAboutBox(OpenAboutBox);
        const CEndSignals endSignals([&console](int) { console->EndWithoutOperator(); });
        static const bool atExit = std::atexit(SaveOnProgramExit) == 0;
        (void)atExit;
        g_running = console.get();
        console->DoModal();
        g_running = nullptr;
    }
    return false;
}
