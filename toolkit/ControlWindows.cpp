#include "EditTextWindow.h"
#include "ProgressBarWindow.h"

#include <QLineEdit>
#include <QProgressBar>

void CEditTextWindow::SetWindowText(const std::string& text)
{
    if (!m_edit)
        return;
    m_edit->setText(QString::fromStdString(text));
    m_edit->setCursorPosition(0);
    m_edit->repaint();
}

CProgressBarWindow::CProgressBarWindow(QProgressBar* bar) : m_bar(bar) { Show(); }

void CProgressBarWindow::SetRange32(int32_t low, int32_t high)
{
    m_low = low;
    m_high = high;
    Show();
}

int32_t CProgressBarWindow::SetPos(int32_t pos)
{
    const int32_t previous = m_pos;
    m_pos = pos;
    Show();
    return previous;
}

void CProgressBarWindow::Show()
{
    if (!m_bar)
        return;
    if (m_high > m_low) {
        m_bar->setRange(m_low, m_high);
        m_bar->setValue(std::clamp(m_pos, m_low, m_high));
    } else {
        // An empty range would make Qt's bar a busy indicator.
        m_bar->setRange(0, 1);
        m_bar->setValue(m_pos > m_low ? 1 : 0);
    }
    m_bar->repaint();
}
