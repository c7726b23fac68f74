#include "Child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int i = 0; i < 3; ++i) posix_spawn_file_actions_adddup2(&actions, theirs[i], i);
    // Its own process group: a Ctrl+C meant for the station does not reach it;
    // default signal handling whatever the station ignores.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    for (int& fd : theirs) CloseFd(fd);
    if (rc != 0) {
        error = "cannot start " + path + ": " + std::strerror(rc);
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
