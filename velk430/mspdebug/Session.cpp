#include "Session.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>

#include "DeviceTable.h"

namespace velk::msp {

namespace {

CMillis FromEnv(const char* name, CMillis fallback)
{
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value > 0 && value <= 3600000) ? CMillis(value) : fallback;
}

// Colour codes appear only with "opt color true", which -n keeps away; removed anyway.
std::string StripEscapes(const std::string& line)
{
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\x1b' && i + 1 < line.size() && line[i + 1] == '[') {
            i += 2;
            while (i < line.size() && !(line[i] >= '@' && line[i] <= '~')) ++i;
            continue;
        }
        out += line[i];
    }
    return out;
}

std::string Which(const char* name)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

// Everything a short command prints, within the deadline.
bool Capture(const std::string& path, const char* option, CMillis limit, std::string& text, std::string& error)
{
    CChild child;
    if (!child.Start(path, {path, option}, error)) return false;
    const auto deadline = CClock::now() + limit;
    std::string line;
    CChild::ERead r;
    while ((r = child.ReadLine(line, deadline)) == CChild::ERead::Line) text += line + "\n";
    text += child.ErrorOutput();
    child.Stop(deadline);
    if (r == CChild::ERead::Timeout) error = path + " " + option + " did not answer";
    return r == CChild::ERead::Closed;
}

void ParseEngine(const std::string& version, const std::string& help, CEngine& engine)
{
    const size_t at = version.find("version ");
    if (at != std::string::npos) std::sscanf(version.c_str() + at + 8, "%d.%d", &engine.Major, &engine.Minor);
    const size_t list = help.find("Available drivers are:");
    std::stringstream lines(list == std::string::npos ? "" : help.substr(list));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line))
        // A driver's name is indented by four, its description by eight.
        if (line.size() > 4 && line.compare(0, 4, "    ") == 0 && line[4] != ' ')
            engine.Drivers.push_back(line.substr(4, line.find_first_of(" \t", 4) - 4));
}

}  // namespace

CTimeouts CTimeouts::FromEnvironment()
{
    CTimeouts t;
    t.Connect = FromEnv("VELK430_MSPDEBUG_CONNECT_MS", t.Connect);
    t.Command = FromEnv("VELK430_MSPDEBUG_COMMAND_MS", t.Command);
    t.Resend = FromEnv("VELK430_MSPDEBUG_RESEND_MS", t.Resend);
    return t;
}

const std::string* CReply::Find(const std::string& start) const
{
    for (const auto* list : {&Lines, &Debug})
        for (const auto& l : *list)
            if (l.compare(0, start.size(), start) == 0) return &l;
    return nullptr;
}

std::string CReply::Why() const
{
    if (!Errors.empty()) return Errors.front();
    if (End == EEnd::Timeout) return "mspdebug stopped answering";
    if (End == EEnd::Closed) return "mspdebug ended";
    return "mspdebug printed no result";
}

bool FindEngine(CEngine& engine, std::string& error)
{
    static std::mutex lock;
    static std::map<std::string, CEngine> known;
    const std::lock_guard<std::mutex> guard(lock);
    const std::string path = Which("mspdebug");
    if (path.empty()) {
        error = "mspdebug is not on PATH (Debian package mspdebug)";
        return false;
    }
    const auto it = known.find(path);
    if (it != known.end()) {
        engine = it->second;
        return true;
    }
    const CMillis limit = CTimeouts::FromEnvironment().Connect;
    std::string version, help;
    if (!Capture(path, "--version", limit, version, error) || !Capture(path, "--help", limit, help, error)) return false;
    CEngine found;
    found.Path = path;
    ParseEngine(version, help, found);
    if (found.Major == 0 && found.Minor == 0) {
        error = path + " --version names no version";
        return false;
    }
    engine = known[path] = found;
    return true;
}

void CSession::Collect(const std::string& raw, CReply& reply)
{
    const std::string line = StripEscapes(raw);
    if (line.empty()) return;
    const std::string text = line.substr(1);
    switch (line[0]) {
        case ':':
            reply.Lines.push_back(text);
            if (Watcher && *Watcher) (*Watcher)(text);
            break;
        case '-': reply.Debug.push_back(text); break;
        case '!':
            // mspdebug prints its warnings on the error channel too.
            if (text.find("warning:") == std::string::npos) reply.Errors.push_back(text);
            break;
        default: break;
    }
}

CReply CSession::Open(const CEngine& engine, const std::vector<std::string>& options, const CTimeouts& timeouts)
{
    Limits = timeouts;
    Resend = engine.DropsLines();
    CReply reply;
    std::vector<std::string> argv{engine.Path, "-n", "--embedded"};
    argv.insert(argv.end(), options.begin(), options.end());
    std::string error;
    if (!Child.Start(engine.Path, argv, error)) {
        reply.End = CReply::EEnd::Closed;
        reply.Errors.push_back(error);
        return reply;
    }
    const auto deadline = CClock::now() + Limits.Connect;
    std::string line;
    for (;;) {
        const CChild::ERead r = Child.ReadLine(line, deadline);
        if (r == CChild::ERead::Line && line == "\\ready") return reply;
        if (r == CChild::ERead::Line) {
            Collect(line, reply);
            continue;
        }
        reply.End = r == CChild::ERead::Timeout ? CReply::EEnd::Timeout : CReply::EEnd::Closed;
        break;
    }
    // Messages some drivers print with perror() arrive on standard error.
    std::stringstream errors(Child.ErrorOutput());
    while (std::getline(errors, line))
        if (!line.empty()) reply.Errors.push_back(line);
    Child.Kill();
    return reply;
}

// Waits for this command's "\\busy"; a command not taken within the resend
// interval was dropped by the 0.22 reader and goes again, each time after
// twice the wait (a busy machine is slow to answer, not dropping). Every
// command the library sends may run twice.
CChild::ERead CSession::Next(const std::string& command, std::string& line, bool taken,
                             CClock::time_point deadline, CMillis& wait)
{
    for (;;) {
        const auto until = taken || !Resend ? deadline : std::min(deadline, CClock::now() + wait);
        const CChild::ERead r = Child.ReadLine(line, until);
        if (r != CChild::ERead::Timeout || CClock::now() >= deadline) return r;
        if (!taken) {
            wait *= 2;
            if (!Child.WriteLine(command, deadline)) return CChild::ERead::Closed;
        }
    }
}

CReply CSession::Run(const std::string& command, const std::function<void(const std::string&)>& watcher)
{
    CReply reply;
    Watcher = &watcher;
    const auto deadline = CClock::now() + Limits.Command;
    bool busy = false;
    CMillis wait = Limits.Resend;
    if (!Child.WriteLine(command, deadline)) reply.End = CReply::EEnd::Closed;
    std::string line;
    while (reply.End == CReply::EEnd::Ready) {
        const CChild::ERead r = Next(command, line, busy, deadline, wait);
        if (r != CChild::ERead::Line) reply.End = r == CChild::ERead::Timeout ? CReply::EEnd::Timeout : CReply::EEnd::Closed;
        else if (line == "\\busy") busy = true;
        else if (line == "\\ready" && busy) break;
        else Collect(line, reply);
    }
    Watcher = nullptr;
    const bool resent = wait != Limits.Resend;
    if (reply.End == CReply::EEnd::Ready && resent) reply.End = Sync(deadline);
    if (reply.End != CReply::EEnd::Ready) Child.Kill();
    return reply;
}

// After a command went twice, its second run may still print: everything up
// to the answer to a fresh "= NONCE" is dropped, so the next command reads
// only its own output.
CReply::EEnd CSession::Sync(CClock::time_point deadline)
{
    for (;;) {
        Nonce = (Nonce + 1) & 0xFFFF;
        char command[16], answer[32];
        std::snprintf(command, sizeof command, "= 0x%04x", Nonce);
        std::snprintf(answer, sizeof answer, ":0x%05x = 0x%04x", Nonce, Nonce);
        bool seen = false;
        CMillis wait = Limits.Resend;
        if (!Child.WriteLine(command, deadline)) return CReply::EEnd::Closed;
        std::string line;
        for (;;) {
            const CChild::ERead r = Next(command, line, seen, deadline, wait);
            if (r != CChild::ERead::Line) return r == CChild::ERead::Timeout ? CReply::EEnd::Timeout : CReply::EEnd::Closed;
            if (line == answer) seen = true;
            else if (line == "\\ready" && seen) break;
        }
        if (wait == Limits.Resend) return CReply::EEnd::Ready;
    }
}

void CSession::Close()
{
    if (!Child.Running()) return;
    const auto deadline = CClock::now() + Limits.Exit;
    Child.WriteLine("exit", deadline);
    Child.Stop(deadline);
}

}  // namespace velk::msp
