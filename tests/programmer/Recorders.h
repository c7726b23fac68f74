#pragma once
// Test doubles for the session's controls, and a fixture that wires a
// session to the fake library with one interleaved timeline of library
// calls, status texts and bar positions.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Controls.h"
#include "CriticalError.h"
#include "FakeVelk.h"
#include "SerialNumber.h"
#include "VELK.h"

using Timeline = std::vector<std::string>;

class CStatusRecorder : public CTextWindow {
public:
    explicit CStatusRecorder(Timeline* timeline) : Events(timeline) {}
    void SetWindowText(const std::string& text) override
    {
        Text = text;
        Texts.push_back(text);
        if (Events) Events->push_back("status: " + text);
    }
    std::string Text;
    std::vector<std::string> Texts;

private:
    Timeline* Events;
};

class CProgressRecorder : public CProgressWindow {
public:
    explicit CProgressRecorder(Timeline* timeline) : Events(timeline) {}
    void SetRange32(int32_t low, int32_t high) override
    {
        Low = low;
        High = high;
        if (Events) Events->push_back("range: " + std::to_string(low) + ".." + std::to_string(high));
    }
    int32_t SetPos(int32_t pos) override
    {
        const int32_t previous = Pos;
        Pos = pos;
        Positions.push_back(pos);
        if (Events) Events->push_back("bar: " + std::to_string(pos));
        return previous;
    }
    int32_t Low = -1, High = -1, Pos = 0;
    std::vector<int32_t> Positions;

private:
    Timeline* Events;
};

// The console's window as the library sees it: hands notifications to the
// session, as the console's handler of message 1129 does.
struct CSessionWindow : VelkNotifyWindow {
    CVELK* Session = nullptr;
    uint32_t LastMessage = 0;
    CSessionWindow()
    {
        Deliver = [](VelkNotifyWindow* self, uint32_t message, uintptr_t type, intptr_t value) {
            auto* window = static_cast<CSessionWindow*>(self);
            window->LastMessage = message;
            if (window->Session)
                window->Session->OnNotification(static_cast<uint32_t>(type),
                                                static_cast<int32_t>(value));
        };
    }
};

class SessionTest : public testing::Test {
protected:
    void SetUp() override
    {
        Fake.Reset();
        Fake.SetObserver([this](const CFakeCall& call) { Events.push_back("call: " + call.ToString()); });
        PreviousHook = SetCriticalErrorHook([this](const std::string& caption, const std::string& text) {
            Critical.push_back({caption, text});
        });
        Session = std::make_unique<CVELK>(&Window, VELK_NOTIFY_MESSAGE, &Status, &Progress);
        Window.Session = Session.get();
    }
    void TearDown() override
    {
        SetCriticalErrorHook(PreviousHook);
        Fake.Reset();
    }

    std::string Error()
    {
        std::string text;
        Session->GetErrorText(text);
        return text;
    }

    // The calls of the log, readable.
    std::vector<std::string> Calls() const { return Fake.LogStrings(); }

    // The timeline entries that are library calls to one of the functions.
    static bool IsCall(const std::string& entry, const std::string& function)
    {
        return entry.rfind("call: " + function + "(", 0) == 0;
    }

    CFakeVelk& Fake = CFakeVelk::Instance();
    Timeline Events;
    CStatusRecorder Status{&Events};
    CProgressRecorder Progress{&Events};
    CSessionWindow Window;
    std::unique_ptr<CVELK> Session;
    std::vector<std::pair<std::string, std::string>> Critical;
    CriticalErrorHook PreviousHook;
};

// A converted record with the given width code and value, at 0x1000.
inline CSerialNumber MakeRecord(int32_t type, uint32_t value = 0xABCD, const char* address = "1000")
{
    CSerialNumber record;
    record.Type = type;
    record.Value = value;
    record.AddressText = address;
    record.Convert();
    return record;
}
