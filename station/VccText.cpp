#include "VccText.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

#include "Blanks.h"

namespace {

// Switches the calling thread to the C locale for one conversion.
class CCLocaleScope {
public:
    CCLocaleScope()
    {
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        if (cLocale)
            m_previous = uselocale(cLocale);
    }
    ~CCLocaleScope()
    {
        if (m_previous)
            uselocale(m_previous);
    }
    CCLocaleScope(const CCLocaleScope&) = delete;
    CCLocaleScope& operator=(const CCLocaleScope&) = delete;

private:
    locale_t m_previous = static_cast<locale_t>(0);
};

}  // namespace

bool IsUsableVcc(double volts)
{
    return std::isfinite(volts) && volts >= 0.0 && volts * 1000.0 < 4294967296.0;
}

namespace {

enum class EVolts { None, Number, Trailing };

// The "%lf" reading, then only blanks may follow: "3,9" is no 3 V.
EVolts ReadVolts(const std::string& text, double& volts)
{
    const CCLocaleScope scope;
    const char* begin = text.c_str();
    char* end = nullptr;
    // strtod, not sscanf: same syntax, but defined on overflow.
    volts = std::strtod(begin, &end);
    if (end == begin)
        return EVolts::None;
    while (IsBlank(*end))
        ++end;
    return end == begin + text.size() ? EVolts::Number : EVolts::Trailing;
}

}  // namespace

double ParseVccText(const std::string& text)
{
    double volts = 0.0;
    return ReadVolts(text, volts) == EVolts::Number && IsUsableVcc(volts) ? volts : DefaultVcc;
}

bool IsAcceptableVccText(const std::string& text)
{
    double volts = 0.0;
    switch (ReadVolts(text, volts)) {
    case EVolts::None: return true;
    case EVolts::Number: return IsUsableVcc(volts);
    case EVolts::Trailing: return false;
    }
    return false;
}

std::string FormatVccText(double volts)
{
    const CCLocaleScope scope;
    const int length = std::snprintf(nullptr, 0, "%0.1lf", volts);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%0.1lf", volts);
    text.resize(static_cast<std::size_t>(length));
    return text;
}
