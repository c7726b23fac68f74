#include "QueuedInputFilter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QInputEvent>

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
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

CQueuedInputFilter::~CQueuedInputFilter()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

void CQueuedInputFilter::BeginCommand()
{
    if (m_depth++ == 0)
        m_timer.start();
}

void CQueuedInputFilter::EndCommand()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    // Without a stamped input (a command started by the program) there is
    // no clock to compare with: nothing is dropped.
    m_cutoff = m_lastInput ? m_lastInput + static_cast<uint64_t>(m_timer.elapsed()) : 0;
}

bool CQueuedInputFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (!IsOperatorInput(event->type()))
        return QObject::eventFilter(watched, event);
    const uint64_t stamp = static_cast<QInputEvent*>(event)->timestamp();
    if (stamp == 0 || m_depth > 0)
        return QObject::eventFilter(watched, event);
    if (m_cutoff != 0 && stamp <= m_cutoff) {
        ++m_dropped;
        return true;
    }
    m_cutoff = 0;
    m_lastInput = stamp;
    return QObject::eventFilter(watched, event);
}
