#pragma once
// Recorders for the session's two controls and the console's window as the
// library sees it. Each recorder keeps what it was given; when it has a
// Timeline, it also adds one line per call to it ("status: <text>",
// "range: <low>..<high>", "bar: <pos>"), so a test can read library calls,
// status texts and bar positions in the order they happened.

#include "Controls.h"
#include "velk430.h"

#include <cstdint>
#include <string>
#include <vector>

class CVELK;

using Timeline = std::vector<std::string>;

class CStatusRecorder : public CTextWindow {
public:
    explicit CStatusRecorder(Timeline* timeline = nullptr) : Events(timeline) {}
    void SetWindowText(const std::string& text) override;
    std::string Text;                // the last text
    std::vector<std::string> Texts;  // every text, in order

private:
    Timeline* Events;
};

class CProgressRecorder : public CProgressWindow {
public:
    explicit CProgressRecorder(Timeline* timeline = nullptr) : Events(timeline) {}
    void SetRange32(int32_t low, int32_t high) override;
    int32_t SetPos(int32_t pos) override;
    int32_t Low = -1, High = -1, Pos = 0;
    std::vector<int32_t> Positions;  // every position set, in order

private:
    Timeline* Events;
};

// The console's window as the library sees it: hands the library's
// notifications to the session, as the console's handler of the
// notification message does. With OnlyMessage set, other messages are
// recorded in LastMessage but not handed on.
struct CSessionWindow : VelkNotifyWindow {
    CSessionWindow();
    CVELK* Session = nullptr;
    uint32_t LastMessage = 0;
    uint32_t OnlyMessage = 0;  // 0: every message
};
