#pragma once
// Decimal numbers in text, free of any widget so they can be tested on their
// own: the edit-field rules of the dialog data exchange and the stored-integer
// rule of the settings store share one reader.
//
// The reader takes blanks (Blanks.h), an optional sign, decimal digits and
// blanks, and nothing else.
//
// Edit fields: only the first 31 characters of the text count. A zero result
// is accepted only when the number's first character is the digit 0 (so "+0"
// and "-0" fail). A number beyond the type's range is taken as the nearest
// limit.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// One decimal number with blanks around it, as read before any range rule.
struct CDecimalNumber {
    bool negative = false;
    bool leadingZero = false;  // the number's first character is the digit 0
    uint64_t magnitude = 0;    // saturated at 2^32, so no arithmetic overflows
};

// nullopt unless the whole text is blanks, a sign ('+', or also '-' when
// allowMinus), at least one digit, blanks.
std::optional<CDecimalNumber> ReadDecimal(std::string_view text, bool allowMinus);

// Characters of an edit field that take part in a number conversion.
constexpr std::size_t DecimalTextLimit = 31;

// Optional '+', then digits. nullopt when the text is not such a number.
std::optional<uint32_t> ParseUnsignedDecimal(std::string_view text);

// Optional '+' or '-', then digits. nullopt when the text is not such a number.
std::optional<int32_t> ParseSignedDecimal(std::string_view text);

// True when the text is a number by the unsigned rule above whose value lies
// beyond 4294967295 (which that rule takes as 4294967295).
bool UnsignedDecimalOverflows(std::string_view text);
