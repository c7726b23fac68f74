#pragma once
// CGang: the station core driving several programmers at once. The
// programmer library holds one open port per process, so each socket runs
// in a worker process of its own (corvantis-gang-worker, beside the running
// program), which runs the session's procedure for the setup and the number
// it is given and streams what happens, one JSON object a line. This side
// keeps everything that must be kept once: the setup check (once, before
// anything is reserved), the numbers (one per socket, reserved in socket
// order before any worker starts, from the pool in a line), one record row
// per socket with its port, and the settling: a number is consumed once it
// may have reached its unit, otherwise given back.
//
// A socket that fails does not stop the others. A worker that crashes, is
// killed or stays silent past SilenceLimitMs fails its own socket only: it is
// killed (which releases its port) and its number is settled as for a
// killed station, consumed when it may have reached the unit. The worker
// says so on its stream before the library is asked to write the number.
//
// The settings store keeps one next serial number: while a Run All runs it
// holds the number after the last socket's, so a crash leaves gaps, never a
// duplicate. When every socket finished it holds the number after the
// highest one that stays consumed: numbers given back at the top of the run
// are issued again, one given back below a consumed one stays unused.
//
// Runs in the Qt event loop of the thread that made it (QProcess signals);
// Wait() runs one until the Run All is over.

#include "Station.h"

#include <QJsonObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QProcess;

// What the gang tells its face about each socket (index into the ports of
// the run), besides the station's own CStationView (Tell: why nothing ran).
struct CGangView {
    virtual ~CGangView() = default;
    // The socket's number (none for Check Fuse or without a serial number);
    // its worker starts next.
    virtual void SocketStarted(size_t socket, std::optional<uint32_t> serial) = 0;
    virtual void SocketStatus(size_t socket, const std::string& text) = 0;
    virtual void SocketRange(size_t socket, int32_t low, int32_t high) = 0;
    virtual void SocketBar(size_t socket, int32_t pos) = 0;
    // The socket's end, its row completed. message: what the operator reads
    // (the error with the library's explanation), empty after a pass.
    virtual void SocketFinished(size_t socket, const CUnitResult& result, const std::string& message) = 0;
    // Every socket of the run has finished and the numbers are settled.
    virtual void AllFinished() = 0;
};

class CGang {
public:
    CGang(CStation& station, CGangView& view);
    ~CGang();  // a run still going: its workers are killed and settled
    CGang(const CGang&) = delete;
    CGang& operator=(const CGang&) = delete;

    // Run All (Run Batch on every port) or Check Fuse on every port; returns
    // at once. false: nothing started, the station told why (a run still
    // going, no port, the setup refused).
    bool RunAll(const CStationSetup& setup, const std::vector<std::string>& ports);
    bool CheckFuse(const CStationSetup& setup, const std::vector<std::string>& ports);
    bool Running() const { return Unfinished > 0; }
    // Runs an event loop until the run is over; once *stop is set, Stop().
    void Wait(const std::atomic<bool>* stop = nullptr);
    // Asks every worker to stop at its next step (SIGTERM): its unit ends
    // interrupted, its port released.
    void Stop();

    // The setup as the last run left it: next serial number and count.
    const CStationSetup& Setup() const { return RunSetup; }
    // The last run's results, one per port.
    std::vector<CUnitResult> Results() const;

    // A worker silent this long is killed; its socket fails.
    int SilenceLimitMs = 60000;
    // The worker program; empty: corvantis-gang-worker beside the program.
    QString WorkerProgram;
    // Called on each worker before it starts (its environment, say).
    std::function<void(size_t socket, QProcess& worker)> PrepareWorker;

private:
    struct CSocket;
    bool Start(const char* kind, const CStationSetup& setup, const std::vector<std::string>& ports);
    bool BeginSocket(CSocket& socket, CSerialNumber& record, uint32_t& nextLocal);
    void StartWorker(size_t index);
    void ReadWorker(size_t index);
    void TakeLine(CSocket& socket, size_t index, const QJsonObject& line);
    void SettleSocket(size_t index);
    void Finish(size_t index);
    void Settle();
    void EndSocket(CSocket& socket, const CAttemptEnd* failure);

    CStation& Station;
    CGangView& View;
    CStationSetup RunSetup;
    std::string Kind;                // "batch" or "fuse"
    bool Numbered = false;           // numbers from the settings store
    uint32_t FirstNumber = 0;        // the settings' number before the run
    std::vector<std::unique_ptr<CSocket>> Sockets;
    size_t Unfinished = 0;
};

// The worker's request: the command ("batch" or "fuse"), the setup with
// the socket's port and number.
QJsonObject GangRequest(const char* command, const CStationSetup& setup);
CStationSetup GangRequestSetup(const QJsonObject& request);
