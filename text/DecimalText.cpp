#include "DecimalText.h"

#include "Blanks.h"

std::optional<CDecimalNumber> ReadDecimal(std::string_view text, bool allowMinus)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    CDecimalNumber n;
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
    return n;
}

namespace {

// An edit field's number: the first 31 characters, zero only from a '0'.
std::optional<CDecimalNumber> ReadField(std::string_view text, bool allowMinus)
{
    auto n = ReadDecimal(text.substr(0, DecimalTextLimit), allowMinus);
    if (n && n->magnitude == 0 && !n->leadingZero)
        return std::nullopt;
    return n;
}

}  // namespace

std::optional<uint32_t> ParseUnsignedDecimal(std::string_view text)
{
    auto n = ReadField(text, false);
    if (!n)
        return std::nullopt;
    if (n->magnitude > UINT32_MAX)
        return UINT32_MAX;
    return static_cast<uint32_t>(n->magnitude);
}

std::optional<int32_t> ParseSignedDecimal(std::string_view text)
{
    auto n = ReadField(text, true);
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
    const auto n = ReadField(text, false);
    return n && n->magnitude > UINT32_MAX;
}
