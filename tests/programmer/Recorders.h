#pragma once
// A fixture that wires a session to the fake library with one interleaved
// timeline of library calls, status texts and bar positions (the recorders
// are tests/support's).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ControlRecorders.h"
#include "Controls.h"
#include "CriticalError.h"
#include "FakeVelk.h"
#include "SerialNumber.h"
#include "VELK.h"

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
