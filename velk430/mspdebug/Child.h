#pragma once
// One child process with its standard input, output and error on sockets of
// ours: started by full path, every read and write bounded by a deadline,
// ended by its PID and always reaped.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace velk::msp {

using CClock = std::chrono::steady_clock;

class CChild {
public:
    CChild() = default;
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;
    ~CChild() { Kill(); }

    // Starts path with the arguments (argv[0] included); false with error when
    // it could not be started.
    bool Start(const std::string& path, const std::vector<std::string>& argv, std::string& error);
    bool Running() const { return Pid > 0; }
    pid_t Id() const { return Pid; }

    enum class ERead { Line, Timeout, Closed };
    // The next line of standard output without its end of line; Closed at end
    // of output, Timeout when nothing complete came before the deadline.
    ERead ReadLine(std::string& line, CClock::time_point deadline);
    // Writes one line (a newline is added); false when the child does not
    // take it before the deadline or has gone.
    bool WriteLine(const std::string& line, CClock::time_point deadline);
    // What the child wrote to standard error so far.
    std::string ErrorOutput();

    // Closes its input and waits for it to end until the deadline; then kills
    // it. Reaped either way.
    void Stop(CClock::time_point deadline);
    // Kills it now (SIGKILL by PID) and reaps it.
    void Kill();

private:
    bool Fill(CClock::time_point deadline);
    void DrainErrors();
    void CloseAll();

    pid_t Pid = -1;
    int In = -1;
    int Out = -1;
    int Err = -1;
    std::string Pending;
    std::string Errors;
};

}  // namespace velk::msp
