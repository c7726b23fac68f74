#pragma once
// The two console controls a programmer session writes to. The console
// implements them on its widgets; tests implement them with recorders.

#include <cstdint>
#include <string>

// The status field ("Operation").
struct CTextWindow {
    virtual ~CTextWindow() = default;
    virtual void SetWindowText(const std::string& text) = 0;
};

// The progress bar. The range is [low, high]; a position outside it is kept
// as given and shown as an empty (below) or full (above) bar.
struct CProgressWindow {
    virtual ~CProgressWindow() = default;
    virtual void SetRange32(int32_t low, int32_t high) = 0;
    // Returns the previous position.
    virtual int32_t SetPos(int32_t pos) = 0;
};
