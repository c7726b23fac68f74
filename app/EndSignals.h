#pragma once
// SIGTERM (a desktop log-out, a service stop) and SIGHUP (the terminal or
// session gone) end the station as Exit does, with its settings saved,
// instead of killing it where it stands. The handlers only write the
// signal's number into a pipe; a QSocketNotifier on the other end runs the
// given action from the event loop, where Qt may be called.

#include <QObject>

#include <functional>

class QSocketNotifier;

class CEndSignals : public QObject {
public:
    // Installs the handlers (SA_RESTART); at most one object at a time.
    explicit CEndSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    // Restores the previous handlers.
    ~CEndSignals() override;

    // False when the pipe or the handlers could not be set up.
    bool Active() const { return m_active; }

private:
    void OnReadable();

    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
    bool m_active = false;
};
