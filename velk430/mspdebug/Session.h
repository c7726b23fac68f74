#pragma once
// mspdebug driven through its embedded mode: one process, one command at a
// time. Each command's result is decided from what mspdebug printed between
// its "\busy" and its next "\ready"; a command the 0.22 reader drops (it
// prints nothing, not even "\busy") is sent again.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "Child.h"

namespace velk::msp {

using CMillis = std::chrono::milliseconds;

// The library's own bounds on mspdebug. Defaults: connect 10 s (mspdebug's
// own serial timeout is 60 s), a command 30 s, a dropped command sent again
// after 5 ms (then 10, 20 ...), 2 s to exit. VELK430_MSPDEBUG_CONNECT_MS,
// VELK430_MSPDEBUG_COMMAND_MS and VELK430_MSPDEBUG_RESEND_MS override them.
struct CTimeouts {
    CMillis Connect{10000};
    CMillis Command{30000};
    CMillis Resend{5};
    CMillis Exit{2000};
    static CTimeouts FromEnvironment();
};

// What one command (or the connection) printed.
struct CReply {
    enum class EEnd { Ready, Timeout, Closed } End = EEnd::Ready;
    std::vector<std::string> Lines;   // ":" lines, sigil removed
    std::vector<std::string> Debug;   // "-" lines
    std::vector<std::string> Errors;  // "!" lines other than warnings
    bool Ok() const { return End == EEnd::Ready && Errors.empty(); }
    // The first line (of Lines, then Debug) that starts with the text, or null.
    const std::string* Find(const std::string& start) const;
    // Why it failed, in mspdebug's words where it gave any.
    std::string Why() const;
};

// The mspdebug found on PATH: its full path, version and drivers.
struct CEngine {
    std::string Path;
    int Major = 0;
    int Minor = 0;
    std::vector<std::string> Drivers;
    // 0.22 and 0.23 drop a line that arrives while the reader is not waiting.
    bool DropsLines() const { return Major == 0 && Minor < 24; }
};

// Finds and asks mspdebug once per process (again when PATH changes); false
// with error when none is on PATH or it does not answer.
bool FindEngine(CEngine& engine, std::string& error);

class CSession {
public:
    // Starts mspdebug with the options and driver and waits for its first
    // "\ready" within the connect timeout. The reply holds what it printed
    // while connecting; Closed or Timeout when it did not get there (the
    // process is gone then).
    CReply Open(const CEngine& engine, const std::vector<std::string>& options, const CTimeouts& timeouts);
    // Runs one command, handing each ":" line to the watcher as it comes;
    // on Timeout or Closed the process has been ended.
    CReply Run(const std::string& command, const std::function<void(const std::string&)>& watcher = {});
    // "exit", then ended by its PID if it does not go within the exit timeout.
    void Close();
    bool Running() const { return Child.Running(); }
    pid_t Pid() const { return Child.Id(); }

private:
    void Collect(const std::string& line, CReply& reply);
    CChild::ERead Next(const std::string& command, std::string& line, bool taken, CClock::time_point deadline,
                       CMillis& wait);
    CReply::EEnd Sync(CClock::time_point deadline);
    unsigned Nonce = 0;
    const std::function<void(const std::string&)>* Watcher = nullptr;
    CChild Child;
    CTimeouts Limits;
    bool Resend = false;
};

}  // namespace velk::msp
