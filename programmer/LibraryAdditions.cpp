#include "LibraryAdditions.h"

#include "velk430.h"

// Weak: a library without them resolves them to null instead of failing to load.
#pragma weak CheckSetup
#pragma weak GetLastErrorText
#pragma weak GetResultText

namespace {

CLibraryAdditions& Current()
{
    static CLibraryAdditions additions{&CheckSetup, &GetLastErrorText, &GetResultText};
    return additions;
}

// One of the text exports into a string; "" without it.
template <class F>
std::string ReadText(F read)
{
    char text[512];
    const int32_t length = read(text, static_cast<int32_t>(sizeof text));
    return length > 0 ? std::string(text) : std::string();
}

}  // namespace

const CLibraryAdditions& LibraryAdditions() { return Current(); }

CLibraryAdditions SetLibraryAdditions(const CLibraryAdditions& additions)
{
    const CLibraryAdditions previous = Current();
    Current() = additions;
    return previous;
}

std::string LibraryReason()
{
    const auto get = Current().GetLastErrorText;
    return get ? ReadText([&](char* text, int32_t size) { return get(text, size); }) : std::string();
}

std::string ResultMeaning(int32_t code)
{
    const auto get = Current().GetResultText;
    if (!get) return {};
    const std::string meaning = ReadText([&](char* text, int32_t size) { return get(code, text, size); });
    return meaning.empty() ? meaning : std::to_string(code) + ": " + meaning;
}
