#include "SettingsText.h"

#include "Blanks.h"
#include "DecimalText.h"

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, uint32_t code)
{
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// A value after '=' (already trimmed): quoted or bare, escapes resolved.
std::string UnescapeValue(std::string_view v)
{
    std::string out;
    std::size_t i = 0;
    const bool quoted = !v.empty() && v.front() == '"';
    if (quoted)
        i = 1;
    while (i < v.size()) {
        const char c = v[i++];
        if (quoted && c == '"')
            break;
        if (c != '\\' || i == v.size()) {
            out += c;
            continue;
        }
        const char e = v[i++];
        switch (e) {
        case 'a': out += '\a'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'v': out += '\v'; break;
        case 'x':
        case '0': {
            // Saturates just past the last code point, so it cannot overflow.
            const uint32_t base = e == 'x' ? 16 : 8;
            uint32_t code = 0;
            while (i < v.size()) {
                const int d = HexValue(v[i]);
                if (d < 0 || static_cast<uint32_t>(d) >= base)
                    break;
                code = code * base + static_cast<uint32_t>(d);
                if (code > 0x110000)
                    code = 0x110000;
                ++i;
            }
            AppendUtf8(out, code);
            break;
        }
        default: out += e; break;
        }
    }
    return out;
}

bool NeedsQuotes(const std::string& v)
{
    if (v.empty())
        return false;
    if (IsBlank(v.front()) || IsBlank(v.back()))
        return true;
    for (unsigned char c : v)
        if (c < 0x20 || c == 0x7F || c == '"' || c == '\\')
            return true;
    return false;
}

std::string EscapeValue(const std::string& v)
{
    if (!NeedsQuotes(v))
        return v;
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    bool escapeHexDigit = false;  // a hex digit right after \xH.. must be escaped too
    for (unsigned char c : v) {
        const bool control = c < 0x20 || c == 0x7F;
        if (control || (escapeHexDigit && HexValue(static_cast<char>(c)) >= 0)) {
            out += "\\x";
            if (c >= 16)
                out += digits[c >> 4];
            out += digits[c & 15];
            escapeHexDigit = true;
            continue;
        }
        escapeHexDigit = false;
        if (c == '"' || c == '\\')
            out += '\\';
        out += static_cast<char>(c);
    }
    out += '"';
    return out;
}

}  // namespace

CSettingsValues ParseSettingsText(std::string_view text)
{
    CSettingsValues values;
    std::string section;
    bool inSection = false;  // names before the first section line have no prefix
    bool sectionOk = true;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = TrimBlanks(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            sectionOk = line.size() >= 2 && line.back() == ']';
            if (sectionOk) {
                section = std::string(TrimBlanks(line.substr(1, line.size() - 2)));
                inSection = true;
            }
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!sectionOk || eq == std::string_view::npos)
            continue;
        const std::string_view name = TrimBlanks(line.substr(0, eq));
        if (name.empty())
            continue;
        const std::string key = inSection ? section + "/" + std::string(name) : std::string(name);
        values[key] = UnescapeValue(TrimBlanks(line.substr(eq + 1)));
    }
    return values;
}

bool ParseStoredInt(const std::string& text, uint32_t& pattern)
{
    const auto n = ReadDecimal(text, true);
    if (!n || n->magnitude > (n->negative ? uint64_t{1} << 31 : uint64_t{UINT32_MAX}))
        return false;
    pattern = n->negative ? static_cast<uint32_t>((uint64_t{1} << 32) - n->magnitude)
                          : static_cast<uint32_t>(n->magnitude);
    return true;
}

namespace {

// Where "Section/Name" is split for writing: the first '/' that leaves a
// section line and a name line that read back as this very key (a section
// name may hold '/' itself). Npos when there is none: the key is then
// written before any section line, as a name of its own ("a/" or "a").
std::size_t SectionSplit(const std::string& key)
{
    for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
        const std::string_view section(key.data(), slash);
        const std::string_view name = std::string_view(key).substr(slash + 1);
        if (TrimBlanks(section) != section || name.empty() || TrimBlanks(name) != name ||
            name.find('=') != std::string_view::npos || name.front() == ';' || name.front() == '#' ||
            name.front() == '[')
            continue;
        return slash;
    }
    return std::string::npos;
}

}  // namespace

std::string RenderSettingsText(const CSettingsValues& values)
{
    std::string out;
    // Names without a section first, then the sections (a section line is
    // repeated when its names do not follow each other in key order).
    for (const auto& [key, value] : values)
        if (SectionSplit(key) == std::string::npos)
            out += key + "=" + EscapeValue(value) + "\n";
    std::string current;
    bool open = false;
    for (const auto& [key, value] : values) {
        const std::size_t slash = SectionSplit(key);
        if (slash == std::string::npos)
            continue;
        const std::string section = key.substr(0, slash);
        if (!open || section != current) {
            if (!out.empty())
                out += "\n";
            out += "[" + section + "]\n";
            current = section;
            open = true;
        }
        out += key.substr(slash + 1) + "=" + EscapeValue(value) + "\n";
    }
    return out;
}

