#pragma once
// The session's progress bar on a QProgressBar: the position is kept as
// given, even outside the range, and shown as an empty bar below the range
// and a full bar above it. (Qt's bar would ignore such values, so the
// logical position lives here.)

#include "Controls.h"

class QProgressBar;

class CProgressBarWindow : public CProgressWindow {
public:
    // Takes over the bar with range 0..100 and position 0. A null bar keeps only the logical state.
    explicit CProgressBarWindow(QProgressBar* bar);

    // Range [low, high]; high <= low shows an empty bar until the position
    // exceeds low. Repaints at once.
    void SetRange32(int32_t low, int32_t high) override;
    // Returns the previous position. Repaints at once.
    int32_t SetPos(int32_t pos) override;

    int32_t GetPos() const { return m_pos; }
    int32_t GetLow() const { return m_low; }
    int32_t GetHigh() const { return m_high; }

private:
    void Show();

    QProgressBar* m_bar;
    int32_t m_low = 0;
    int32_t m_high = 100;
    int32_t m_pos = 0;
};
