#include "StationLock.h"

#include <QLockFile>
#include <QSysInfo>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

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

}  // namespace

std::string TakeStationLock(QLockFile& lock, const QString& path)
{
    lock.setStaleLockTime(0);  // a lock naming a dead process here is stale at once
    const std::string file = path.toStdString();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (lock.tryLock(0))
            return {};
        if (lock.error() != QLockFile::LockFailedError) {
            const std::string reason = lock.error() == QLockFile::PermissionError
                                           ? "permission denied"
                                           : "it could not be created or written; is the disk full?";
            return "Unable to take the station lock\n" + file + "\n(" + reason +
                   ")\nThe station does not start: unlocked, a second station could "
                   "issue the same serial numbers.";
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
            return "Another station is already running with these settings: process " + std::to_string(pid) +
                   " on host " + host.toStdString() + ".\nIf no station runs there any more, delete\n" + file +
                   "\nand start again.";
        }
        break;
    }
    return "Another station is already running with these settings.\n"
           "Only one may run at a time, so that no serial number is issued twice.";
}
