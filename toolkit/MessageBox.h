#pragma once
// Every box the program shows goes through these two functions. Tests swap
// the implementations for a recorder so that no test waits on a modal box.

#include <functional>
#include <string>
#include <vector>

class QWidget;

// Result of a box: its only button.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDRETRY = 4;

// Operator message: modal to owner (null: application modal), one OK button,
// warning icon, caption = QCoreApplication::applicationName(). Returns IDOK.
int MessageBox(QWidget* owner, const std::string& text);

// The same box with Retry and Cancel instead of OK: IDRETRY or IDCANCEL
// (a replaced handler's IDRETRY counts as Retry, anything else as Cancel).
int RetryCancelBox(QWidget* owner, const std::string& text);

// Program fault: no owner, stop icon, the given caption, one OK button.
// Its signature fits the session's critical-error hook.
void CriticalBox(const std::string& caption, const std::string& text);

using MessageBoxHandler = std::function<int(QWidget* owner, const std::string& text)>;
using CriticalBoxHandler = std::function<void(const std::string& caption, const std::string& text)>;

// Replace the implementation; an empty function restores the real box.
// Each returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
CriticalBoxHandler SetCriticalBoxHandler(CriticalBoxHandler handler);

// For tests: while alive, records every box instead of showing it, and
// restores the previous handlers when destroyed.
class CMessageBoxRecorder {
public:
    struct Box {
        bool critical = false;
        QWidget* owner = nullptr;  // always null for a critical box
        std::string caption;       // application name for a message box
        std::string text;
        QWidget* focusAtShow = nullptr;  // the application's focus widget when shown
    };

    CMessageBoxRecorder();
    ~CMessageBoxRecorder();
    CMessageBoxRecorder(const CMessageBoxRecorder&) = delete;
    CMessageBoxRecorder& operator=(const CMessageBoxRecorder&) = delete;

    std::vector<Box> Boxes;
    // Texts of the recorded boxes, in order.
    std::vector<std::string> Texts() const;
    // Runs while a box is "shown", e.g. to act like an operator.
    std::function<void(const Box&)> OnShow;
    // Answers of the next message boxes, first one first (e.g. IDRETRY for
    // a Retry/Cancel box); IDOK once they are used up.
    std::vector<int> Answers;

private:
    MessageBoxHandler m_previousMessage;
    CriticalBoxHandler m_previousCritical;
};
