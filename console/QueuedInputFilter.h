#pragma once
// Input the operator made while a command blocked the thread is delivered
// only after the command, to whatever is enabled then: a second click on
// Run Batch would run a second batch on the same unit. This filter (on the
// application) drops every mouse press, release and double click and every
// key press and release made before the command ended, judged by the
// event's own timestamp (the window system's milliseconds). The command
// ended at the window system's time of its trigger plus its measured run
// time, or later: on a busy machine the trigger itself reaches the window
// late. How late is learnt from the input seen so far (its stamp against
// this process's clock; the least delayed input tells best), up to
// kMaxLateMs. Events without a timestamp (0, made by the program itself)
// pass after a command.
// While a command runs, operator input to the window the filter guards (its
// parent) is dropped whatever the state of its controls; input to other
// windows (e.g. a message box the command shows) is not touched. A command
// never starts inside another one (CCommandInput::Inside).

#include <QElapsedTimer>
#include <QObject>

#include <cstdint>

class CQueuedInputFilter : public QObject {
public:
    explicit CQueuedInputFilter(QObject* parent = nullptr);
    ~CQueuedInputFilter() override;

    // Around one command; nested pairs count as one. BeginCommand is false
    // when a command already runs.
    bool BeginCommand();
    void EndCommand();

    // Events dropped so far (for tests and diagnostics).
    int Dropped() const { return m_dropped; }

    // The longest delay of a trigger that the cutoff allows for.
    static constexpr int64_t kMaxLateMs = 30000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IntoGuardedWindow(QObject* watched) const;
    void Learn(uint64_t stamp);

    uint64_t m_lastInput = 0;  // timestamp of the last input that passed
    uint64_t m_cutoff = 0;     // drop input stamped up to here; 0: none
    int m_depth = 0;
    int m_dropped = 0;
    QElapsedTimer m_timer;     // the command's run time
    QElapsedTimer m_clock;     // this process's clock, since construction
    int64_t m_offset = 0;      // window system time minus m_clock, at most
    bool m_haveOffset = false;
};

// RAII: one command.
class CCommandInput {
public:
    explicit CCommandInput(CQueuedInputFilter* filter) : m_filter(filter)
    {
        if (m_filter)
            m_inside = !m_filter->BeginCommand();
    }
    ~CCommandInput()
    {
        if (m_filter)
            m_filter->EndCommand();
    }
    CCommandInput(const CCommandInput&) = delete;
    CCommandInput& operator=(const CCommandInput&) = delete;

    // Started while another command runs: do nothing.
    bool Inside() const { return m_inside; }

private:
    CQueuedInputFilter* m_filter;
    bool m_inside = false;
};
