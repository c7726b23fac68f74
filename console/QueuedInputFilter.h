#pragma once
// Input the operator made while a command blocked the thread is delivered
// only after the command, to whatever is enabled then: a second click on
// Run Batch would run a second batch on the same unit. This filter (on the
// application) drops every mouse press, release and double click and every
// key press and release made before the command ended, judged by the
// event's own timestamp (the window system's milliseconds): the command
// started at the timestamp of the input that triggered it and lasted the
// measured time, so anything stamped up to their sum was made meanwhile.
// Events without a timestamp (0, made by the program itself) always pass.
// Input during a command (e.g. to a message box it shows) is not touched.

#include <QElapsedTimer>
#include <QObject>

#include <cstdint>

class CQueuedInputFilter : public QObject {
public:
    explicit CQueuedInputFilter(QObject* parent = nullptr);
    ~CQueuedInputFilter() override;

    // Around one command; nested pairs count as one.
    void BeginCommand();
    void EndCommand();

    // Events dropped so far (for tests and diagnostics).
    int Dropped() const { return m_dropped; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    uint64_t m_lastInput = 0;  // timestamp of the last input that passed
    uint64_t m_cutoff = 0;     // drop input stamped up to here; 0: none
    int m_depth = 0;
    int m_dropped = 0;
    QElapsedTimer m_timer;
};

// RAII: one command.
class CCommandInput {
public:
    explicit CCommandInput(CQueuedInputFilter* filter) : m_filter(filter)
    {
        if (m_filter)
            m_filter->BeginCommand();
    }
    ~CCommandInput()
    {
        if (m_filter)
            m_filter->EndCommand();
    }
    CCommandInput(const CCommandInput&) = delete;
    CCommandInput& operator=(const CCommandInput&) = delete;

private:
    CQueuedInputFilter* m_filter;
};
