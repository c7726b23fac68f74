#include "CriticalError.h"

#include <cstdio>
#include <utility>

namespace {
CriticalErrorHook& Hook()
{
    static CriticalErrorHook hook;
    return hook;
}
}

CriticalErrorHook SetCriticalErrorHook(CriticalErrorHook hook)
{
    return std::exchange(Hook(), std::move(hook));
}

void ShowCriticalError(const std::string& caption, const std::string& text)
{
    if (Hook()) {
        Hook()(caption, text);
        return;
    }
    std::fprintf(stderr, "%s\n%s", caption.c_str(), text.c_str());
    std::fflush(stderr);
}
