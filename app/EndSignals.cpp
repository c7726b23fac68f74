#include "EndSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace {

int g_pipe[2] = {-1, -1};
struct sigaction g_previousTerm {}, g_previousHup {};

extern "C" void WriteSignal(int signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    // Non-blocking: a full pipe already holds a request to end.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

CEndSignals::CEndSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal))
{
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { OnReadable(); });
    struct sigaction action {};
    action.sa_handler = WriteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_active = sigaction(SIGTERM, &action, &g_previousTerm) == 0 && sigaction(SIGHUP, &action, &g_previousHup) == 0;
}

CEndSignals::~CEndSignals()
{
    if (g_pipe[0] < 0 || !m_notifier)
        return;
    sigaction(SIGTERM, &g_previousTerm, nullptr);
    sigaction(SIGHUP, &g_previousHup, nullptr);
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void CEndSignals::OnReadable()
{
    char bytes[16];
    const ssize_t n = ::read(g_pipe[0], bytes, sizeof bytes);
    if (n > 0 && m_onSignal)
        m_onSignal(static_cast<unsigned char>(bytes[0]));
}
