#include "DecimalText.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Parses [sign] digits with blanks around; the magnitude saturates at 2^32
// so that no arithmetic can overflow.
struct RawNumber {
    bool negative = false;
    bool leadingZero = false;  // first character of the number is '0'
    uint64_t magnitude = 0;    // saturated at 2^32
};

std::optional<RawNumber> ParseRaw(std::string_view text, bool allowMinus)
{
    text = text.substr(0, DecimalTextLimit);
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    RawNumber n;
    n.leadingZero = i < text.size() && text[i] == '0';
    if (i < text.size() && (text[i] == '+' || (allowMinus && text[i] == '-'))) {
        n.negative = text[i] == '-';
        ++i;
    }
    std::size_t digits = 0;
    constexpr uint64_t cap = uint64_t{1} << 32;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        n.magnitude = n.magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
        if (n.magnitude > cap)
            n.magnitude = cap;
        ++digits;
        ++i;
    }
    if (digits == 0)
        return std::nullopt;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    if (i != text.size())
        return std::nullopt;
    if (n.magnitude == 0 && !n.leadingZero)
        return std::nullopt;
    return n;
}

}  // namespace

std::optional<uint32_t> ParseUnsignedDecimal(std::string_view text)
{
    auto n = ParseRaw(text, false);
    if (!n)
        return std::nullopt;
    if (n->magnitude > UINT32_MAX)
        return UINT32_MAX;
    return static_cast<uint32_t>(n->magnitude);
}

std::optional<int32_t> ParseSignedDecimal(std::string_view text)
{
    auto n = ParseRaw(text, true);
    if (!n)
        return std::nullopt;
    if (n->negative) {
        if (n->magnitude >= uint64_t{1} << 31)
            return INT32_MIN;
        return static_cast<int32_t>(-static_cast<int64_t>(n->magnitude));
    }
    if (n->magnitude > INT32_MAX)
        return INT32_MAX;
    return static_cast<int32_t>(n->magnitude);
}

bool UnsignedDecimalOverflows(std::string_view text)
{
    const auto n = ParseRaw(text, false);
    return n && n->magnitude > UINT32_MAX;
}
