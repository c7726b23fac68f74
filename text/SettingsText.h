#pragma once
// The settings file's text rules, in plain C++: the INI reader and writer and
// the stored-integer rule. The settings store (toolkit/SettingsStore.h) reads
// and writes its file through them; they know nothing of where the file is.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// A stored integer is: blanks, an optional sign, decimal digits, blanks, with
// a value from -2147483648 to 4294967295 (negatives become their
// two's-complement pattern). False when the text is not such a number
// (pattern is then unchanged).
bool ParseStoredInt(const std::string& text, uint32_t& pattern);

// Values of a settings file by "Section/Name" ("Name" before any section).
using CSettingsValues = std::map<std::string, std::string>;

// The INI text rules. Lines end in LF or CRLF; blanks (space, tab) around a
// line, a name or a value do not count. Empty lines and lines starting with
// ';' or '#' are comments. "[Section]" starts a section (a line starting with
// '[' without a closing ']' is ignored, and so are the names under it until
// the next good section line). "Name=Value": the name is what comes before
// the first '='; an empty name, or a line without '=', is ignored. A value
// starting with '"' ends at the next unescaped '"' (blanks inside count,
// anything after it is ignored). Escapes in values: \\ \" \' \? \a \b \f \n
// \r \t \v, \x followed by hex digits and \0 followed by octal digits (a
// character code, stored as UTF-8; a code beyond U+10FFFF or a surrogate
// reads as U+FFFD); any other escaped character stands for itself. A value
// whose closing '"' is missing ends with its line. A later value of the same
// name replaces an earlier one. Never fails: what it cannot read it skips.
CSettingsValues ParseSettingsText(std::string_view text);

// Writes values so that ParseSettingsText reads back exactly the same map:
// names that cannot be split into a section and a name first, then the
// sections ("Options/Baud" as "Baud=..." under "[Options]"). Values that need
// it are quoted and escaped.
std::string RenderSettingsText(const CSettingsValues& values);
