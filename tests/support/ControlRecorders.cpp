#include "ControlRecorders.h"

#include "VELK.h"

void CStatusRecorder::SetWindowText(const std::string& text)
{
    Text = text;
    Texts.push_back(text);
    if (Events)
        Events->push_back("status: " + text);
}

void CProgressRecorder::SetRange32(int32_t low, int32_t high)
{
    Low = low;
    High = high;
    if (Events)
        Events->push_back("range: " + std::to_string(low) + ".." + std::to_string(high));
}

int32_t CProgressRecorder::SetPos(int32_t pos)
{
    const int32_t previous = Pos;
    Pos = pos;
    Positions.push_back(pos);
    if (Events)
        Events->push_back("bar: " + std::to_string(pos));
    return previous;
}

CSessionWindow::CSessionWindow()
{
    Deliver = [](VelkNotifyWindow* self, uint32_t message, uintptr_t type, intptr_t value) {
        auto* window = static_cast<CSessionWindow*>(self);
        window->LastMessage = message;
        if (window->OnlyMessage != 0 && message != window->OnlyMessage)
            return;
        if (window->Session)
            window->Session->OnNotification(static_cast<uint32_t>(type), static_cast<int32_t>(value));
    };
}
