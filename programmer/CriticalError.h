#pragma once
// Program faults (not programmer failures) leave the session through this
// hook. The application installs a box with no owner and the stop icon;
// tests install a recorder. With no hook installed the text goes to stderr.

#include <functional>
#include <string>

using CriticalErrorHook =
    std::function<void(const std::string& caption, const std::string& text)>;

// Installs the hook (an empty function restores the stderr default) and
// returns the previous one.
CriticalErrorHook SetCriticalErrorHook(CriticalErrorHook hook);

// Shows a program fault through the installed hook.
void ShowCriticalError(const std::string& caption, const std::string& text);
