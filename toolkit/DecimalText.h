#pragma once
// The edit-field number rules of the dialog data exchange, free of any
// widget so they can be tested on their own.
//
// Only the first 31 characters of the text count. They must hold one decimal
// number with nothing but blanks and tabs before and after it. A zero result
// is accepted only when the number's first character is the digit 0 (so "+0"
// and "-0" fail). A number beyond the type's range is taken as the nearest
// limit.

#include <cstdint>
#include <optional>
#include <string_view>

// Characters of an edit field that take part in a number conversion.
constexpr std::size_t DecimalTextLimit = 31;

// Optional '+', then digits. nullopt when the text is not such a number.
std::optional<uint32_t> ParseUnsignedDecimal(std::string_view text);

// Optional '+' or '-', then digits. nullopt when the text is not such a number.
std::optional<int32_t> ParseSignedDecimal(std::string_view text);

// True when the text is a number by the unsigned rule above whose value lies
// beyond 4294967295 (which that rule takes as 4294967295).
bool UnsignedDecimalOverflows(std::string_view text);
