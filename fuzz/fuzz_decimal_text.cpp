// The edit fields' number rules (unsigned and signed decimal) on hostile
// text: never crash, and what they accept is exactly one decimal number with
// blanks around it, read to its value or the nearest limit, and written back
// in decimal it reads as the same value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "DecimalText.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The accepted shape, checked independently of the parser: the first 31
// characters hold blanks, a sign, digits and blanks, and nothing else.
struct Shape {
    bool ok = false;
    char sign = 0;
    std::string digits;  // without leading zeros ("" for zero)
    bool firstIsZero = false;
};

Shape Inspect(std::string_view text) {
    Shape s;
    text = text.substr(0, DecimalTextLimit);
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    if (text.empty()) return s;
    s.firstIsZero = text.front() == '0';
    if (text.front() == '+' || text.front() == '-') {
        s.sign = text.front();
        text.remove_prefix(1);
    }
    if (text.empty()) return s;
    for (char c : text)
        if (c < '0' || c > '9') return s;
    while (!text.empty() && text.front() == '0') text.remove_prefix(1);
    s.digits = std::string(text);
    s.ok = true;
    return s;
}

// Compares a digit string without leading zeros with a decimal limit.
int Compare(const std::string& digits, const std::string& limit) {
    if (digits.size() != limit.size()) return digits.size() < limit.size() ? -1 : 1;
    return digits.compare(limit) < 0 ? -1 : (digits == limit ? 0 : 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Shape shape = Inspect(text);
    const auto u = ParseUnsignedDecimal(text);
    const auto s = ParseSignedDecimal(text);

    // Only the first 31 characters count.
    if (size > DecimalTextLimit) {
        const std::string_view head = text.substr(0, DecimalTextLimit);
        if (ParseUnsignedDecimal(head) != u || ParseSignedDecimal(head) != s) std::abort();
    }

    // Zero is accepted only when the number begins with the digit 0.
    const bool zeroRefused = shape.ok && shape.digits.empty() && !shape.firstIsZero;
    const bool unsignedShape = shape.ok && shape.sign != '-' && !zeroRefused;
    const bool signedShape = shape.ok && !zeroRefused;
    if (u.has_value() != unsignedShape) std::abort();
    if (s.has_value() != signedShape) std::abort();

    if (u) {
        // The digits' value, or the largest value beyond the range.
        if (Compare(shape.digits, "4294967295") >= 0) {
            if (*u != UINT32_MAX) std::abort();
        } else if (std::to_string(*u) != (shape.digits.empty() ? "0" : shape.digits)) {
            std::abort();
        }
        if (ParseUnsignedDecimal(std::to_string(*u)) != u) std::abort();
        if (ParseUnsignedDecimal(" \t" + std::to_string(*u) + "\t ") != u) std::abort();
    }
    if (s) {
        const bool negative = shape.sign == '-';
        const std::string limit = negative ? "2147483648" : "2147483647";
        if (Compare(shape.digits, limit) >= 0) {
            if (*s != (negative ? INT32_MIN : INT32_MAX)) std::abort();
        } else {
            const std::string expect = shape.digits.empty() ? "0" : (negative ? "-" : "") + shape.digits;
            if (std::to_string(*s) != expect) std::abort();
        }
        if (ParseSignedDecimal(std::to_string(*s)) != s) std::abort();
        // The unsigned rule agrees wherever both accept a value in common range.
        if (u && *u <= INT32_MAX && static_cast<uint32_t>(*s) != *u) std::abort();
    }
    return 0;
}
