#include "QueuedInputFilter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QInputEvent>
#include <QWidget>

#include <algorithm>

namespace {

bool IsOperatorInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        return true;
    default:
        return false;
    }
}

}  // namespace

CQueuedInputFilter::CQueuedInputFilter(QObject* parent) : QObject(parent)
{
    m_clock.start();
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

CQueuedInputFilter::~CQueuedInputFilter()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

bool CQueuedInputFilter::BeginCommand()
{
    if (m_depth++ == 0) {
        m_timer.start();
        return true;
    }
    return false;
}

void CQueuedInputFilter::EndCommand()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    // Without a stamped input (a command started by the program) there is
    // no clock to compare with: nothing is dropped.
    if (!m_lastInput) {
        m_cutoff = 0;
        return;
    }
    m_cutoff = m_lastInput + static_cast<uint64_t>(m_timer.elapsed());
    if (m_haveOffset) {
        // The window system's time now, as late as the input seen suggests.
        const int64_t now = m_clock.elapsed() + m_offset;
        const int64_t late = std::clamp<int64_t>(now - static_cast<int64_t>(m_cutoff), 0, kMaxLateMs);
        m_cutoff += static_cast<uint64_t>(late);
    }
}

bool CQueuedInputFilter::IntoGuardedWindow(QObject* watched) const
{
    const auto* guarded = qobject_cast<const QWidget*>(parent());
    const auto* widget = qobject_cast<const QWidget*>(watched);
    return guarded && widget && widget->window() == guarded;
}

void CQueuedInputFilter::Learn(uint64_t stamp)
{
    // An input is delivered after it was made: its stamp minus our clock is
    // at most the clocks' true difference, and the largest is the nearest.
    const int64_t offset = static_cast<int64_t>(stamp) - m_clock.elapsed();
    if (!m_haveOffset || offset > m_offset)
        m_offset = offset;
    m_haveOffset = true;
}

bool CQueuedInputFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (!event->isInputEvent())
        return QObject::eventFilter(watched, event);
    const uint64_t stamp = static_cast<QInputEvent*>(event)->timestamp();
    if (!IsOperatorInput(event->type())) {
        if (stamp != 0)
            Learn(stamp);
        return QObject::eventFilter(watched, event);
    }
    if (m_depth > 0) {
        if (stamp != 0)
            Learn(stamp);
        if (!IntoGuardedWindow(watched))
            return QObject::eventFilter(watched, event);
        ++m_dropped;
        return true;
    }
    if (stamp == 0)
        return QObject::eventFilter(watched, event);
    if (stamp < m_lastInput) {
        // The window system's clock started again: nothing learnt holds.
        m_cutoff = 0;
        m_haveOffset = false;
    }
    Learn(stamp);
    if (m_cutoff != 0 && stamp <= m_cutoff) {
        ++m_dropped;
        return true;
    }
    m_cutoff = 0;
    m_lastInput = stamp;
    return QObject::eventFilter(watched, event);
}
