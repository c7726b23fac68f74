#pragma once
// corvantis-run: programs units without a window, for automated test
// stations and the line's own scripts. The station core runs each unit
// exactly as a press of Run Batch does (same store, same lock, same record,
// the line's pool in a line); options not given come from the settings.
//
//   corvantis-run [--settings FILE] [--port P] [--baud B] [--device NAME]
//                 [--vcc V] [--firmware FILE] [--serial-type none|byte|word|dword]
//                 [--serial-address HEX] [--erase-info|--no-erase-info]
//                 [--blow-fuse|--no-blow-fuse] [--units N] [--check-fuse] [--json]
//                 [--ports P1,P2,...]
//
// --ports: a gang, one programmer per port (up to eight); each of the N
// units is then a Run All on every port at once, every event carries its
// socket's port, and the status is 0 only when every socket passed.
// Output: one line per unit on standard output; with --json one JSON object
// per line for every status text, bar position, message and result.

#include <QStringList>

#include <atomic>
#include <cstdio>

// Exit statuses.
enum ERunExit {
    RunPassed = 0,       // every unit passed
    RunUnitFailed = 1,   // a unit failed (the batch's own failure)
    RunRefused = 2,      // refused before any unit was touched
    RunInterrupted = 3,  // a signal stopped the run
};

// Runs the command (arguments without the program name). stop: set by a
// signal handler; the unit in progress ends at its next step, is recorded
// as interrupted, and no further unit starts. Needs a QCoreApplication
// whose organisation and application name the station's settings.
int RunStationCommand(const QStringList& arguments, std::atomic<bool>& stop, std::FILE* out, std::FILE* err);
