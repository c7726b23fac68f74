#pragma once
// The two ways this program's texts skip spacing, named once.
//
// A blank is a space or a tab: the only spacing allowed around a number in an
// edit field, a stored setting or a voltage, and around a settings line, name
// or value. A line end, form feed or vertical tab is no blank: "5\n" typed
// into a field is no number.
//
// White space is what C's "%X" and strtod skip before a number: blanks plus
// line feed, carriage return, vertical tab and form feed (isspace in the C
// locale). Only readers that follow those C conversions skip it.

#include <string_view>

constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

constexpr bool IsWhiteSpace(char c)
{
    return IsBlank(c) || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The text without the blanks at either end.
constexpr std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}
