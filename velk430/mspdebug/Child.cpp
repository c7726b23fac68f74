#include "Child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace velk::msp {

namespace {

int Remaining(CClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - CClock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// A socket pair rather than a pipe: writing to a child that has died must
// fail with EPIPE (send with MSG_NOSIGNAL), not kill the station with SIGPIPE.
bool Pair(int& ours, int& theirs)
{
    int fd[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd) != 0) return false;
    ours = fd[0];
    theirs = fd[1];
    fcntl(ours, F_SETFL, fcntl(ours, F_GETFL) | O_NONBLOCK);
    return true;
}

void CloseFd(int& fd)
{
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

bool CChild::Start(const std::string& path, const std::vector<std::string>& argv, std::string& error)
{
    Kill();
    Errors.clear();
    int theirs[3] = {-1, -1, -1};
    if (!Pair(In, theirs[0]) || !Pair(Out, theirs[1]) || !Pair(Err, theirs[2])) {
        error = std::string("cannot create its pipes: ") + std::strerror(errno);
        for (int& fd : theirs) CloseFd(fd);
        CloseAll();
        return false;
    }
    // argv and the signal sets are ready before the fork: between fork and
    // exec the child may only make async-signal-safe calls.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    sigset_t none;
    sigemptyset(&none);
    // A pipe that exec closes: the child writes its errno to it when exec fails.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = std::string("cannot create its pipes: ") + std::strerror(errno);
        for (int& fd : theirs) CloseFd(fd);
        CloseAll();
        return false;
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // It dies with the thread that started it: a station killed with
        // SIGKILL leaves no mspdebug holding the programmer. A station that
        // died before prctl took effect has already handed it to another parent.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
        // Its own process group: a Ctrl+C meant for the station does not reach
        // it; default signal handling whatever the station ignores.
        setpgid(0, 0);
        struct sigaction defaults {};
        defaults.sa_handler = SIG_DFL;
        for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaction(s, &defaults, nullptr);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int i = 0; i < 3; ++i) dup2(theirs[i], i);  // dup2 clears close-on-exec
        execve(path.c_str(), args.data(), environ);
        const int code = errno;
        [[maybe_unused]] const ssize_t ignored = write(report[1], &code, sizeof code);
        _exit(127);
    }
    const int forkError = errno;
    close(report[1]);
    for (int& fd : theirs) CloseFd(fd);
    int code = 0;
    ssize_t got = -1;
    if (pid > 0)
        while ((got = read(report[0], &code, sizeof code)) < 0 && errno == EINTR) {
        }
    close(report[0]);
    if (pid < 0 || got > 0) {
        if (pid > 0)
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        error = "cannot start " + path + ": " + std::strerror(pid < 0 ? forkError : code);
        CloseAll();
        return false;
    }
    Pid = pid;
    return true;
}

bool CChild::Fill(CClock::time_point deadline)
{
    pollfd fds[2] = {{Out, POLLIN, 0}, {Err, POLLIN, 0}};
    const nfds_t n = Err >= 0 ? 2 : 1;
    const int ready = poll(fds, n, Remaining(deadline));
    if (ready < 0 && errno == EINTR) return true;
    if (ready <= 0) return false;
    if (n == 2 && fds[1].revents) DrainErrors();
    if (!fds[0].revents) return true;
    char buffer[65536];
    const ssize_t got = read(Out, buffer, sizeof buffer);
    if (got > 0) Pending.append(buffer, static_cast<size_t>(got));
    else if (got == 0 || (errno != EAGAIN && errno != EINTR)) CloseFd(Out);
    return true;
}

CChild::ERead CChild::ReadLine(std::string& line, CClock::time_point deadline)
{
    for (;;) {
        const size_t end = Pending.find('\n');
        if (end != std::string::npos) {
            line.assign(Pending, 0, end);
            Pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return ERead::Line;
        }
        if (Out < 0) {
            if (Pending.empty()) return ERead::Closed;
            line.swap(Pending);
            Pending.clear();
            return ERead::Line;
        }
        if (!Fill(deadline) && CClock::now() >= deadline) return ERead::Timeout;
    }
}

bool CChild::WriteLine(const std::string& text, CClock::time_point deadline)
{
    if (In < 0) return false;
    const std::string line = text + "\n";
    size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = send(In, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        pollfd fd{In, POLLOUT, 0};
        if (poll(&fd, 1, Remaining(deadline)) <= 0 && CClock::now() >= deadline) return false;
    }
    return true;
}

void CChild::DrainErrors()
{
    char buffer[4096];
    for (;;) {
        const ssize_t got = Err >= 0 ? read(Err, buffer, sizeof buffer) : -1;
        if (got > 0) {
            if (Errors.size() < 65536) Errors.append(buffer, static_cast<size_t>(got));
            continue;
        }
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) CloseFd(Err);
        return;
    }
}

std::string CChild::ErrorOutput()
{
    DrainErrors();
    return Errors;
}

void CChild::Stop(CClock::time_point deadline)
{
    CloseFd(In);
    // Its output ends when it exits; draining it also keeps it from blocking
    // on a full socket meanwhile.
    std::string discard;
    while (Out >= 0 && ReadLine(discard, deadline) == ERead::Line) {
    }
    while (Pid > 0) {
        int status = 0;
        const pid_t r = waitpid(Pid, &status, WNOHANG);
        if (r == Pid || (r < 0 && errno == ECHILD)) Pid = -1;
        else if (CClock::now() >= deadline) Kill();
        else std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    CloseAll();
}

void CChild::Kill()
{
    if (Pid > 0) {
        kill(Pid, SIGKILL);
        int status = 0;
        while (waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
        }
        Pid = -1;
    }
    CloseAll();
}

void CChild::CloseAll()
{
    DrainErrors();
    CloseFd(In);
    CloseFd(Out);
    CloseFd(Err);
    Pending.clear();
}

}  // namespace velk::msp
