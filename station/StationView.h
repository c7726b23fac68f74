#pragma once
// What the station core tells the face that runs it (the console's window,
// corvantis-run), besides the status text and the bar, which the session
// writes itself through programmer/Controls.h. Every call comes on the
// thread that runs the command, in the order things happen.

#include <string>

struct CStationView {
    virtual ~CStationView() = default;
    // The setup was accepted: the record and the library come next (the
    // window disables its inputs and shows the question mark).
    virtual void AttemptStarted() = 0;
    // The unit's outcome, before any text about it.
    virtual void AttemptPassed() = 0;
    virtual void AttemptFailed() = 0;
    // A text the operator must read: why nothing ran, why the unit failed,
    // what could not be saved. The window shows it in a box and waits.
    virtual void Tell(const std::string& text) = 0;
};
