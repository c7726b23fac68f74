#include "TiTxt.h"

#include <cstring>

#include "Blanks.h"
#include "Codes.h"
#include "HexDigits.h"

namespace velk {

namespace {

const char* Rest(const char* s, const char* eol)
{
    while (s < eol && IsWhiteSpace(*s)) ++s;
    return s;
}

// The hex digits after "@": null with the address, or what is wrong.
const char* AddressLine(const char* s, const char* eol, uint32_t& address)
{
    uint32_t addr = 0;
    int digits = 0;
    bool tooFar = false;
    for (; s < eol && HexDigit(*s) >= 0; ++s, ++digits) {
        addr = (addr << 4) | static_cast<uint32_t>(HexDigit(*s));
        if (addr >= kAddressSpace) tooFar = true;
        if (tooFar) addr &= 0xFFFFFu;
    }
    if (digits == 0 || Rest(s, eol) != eol) return "malformed address line";
    if (tooFar) return "address beyond 20 bits";
    address = addr;
    return nullptr;
}

// The bytes of a data line: null, or what is wrong.
const char* DataLine(const char* s, const char* eol, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    while (s < eol) {
        const int hi = HexDigit(*s);
        if (hi < 0) return "not a hex byte";
        ++s;
        int value = hi;
        if (s < eol && !IsWhiteSpace(*s)) {
            const int lo = HexDigit(*s);
            if (lo < 0) return "not a hex byte";
            value = (hi << 4) | lo;
            ++s;
            if (s < eol && !IsWhiteSpace(*s)) return "not a hex byte";
        }
        bytes.push_back(static_cast<uint8_t>(value));
        s = Rest(s, eol);
    }
    return nullptr;
}

}  // namespace

CTiTxtResult ReadTiTxt(std::string_view text)
{
    CImageBuilder builder;
    std::vector<uint8_t> bytes;
    const char* p = text.data();
    const char* const end = p + text.size();
    int line = 0;
    bool seenQ = false, seenAt = false;
    uint32_t next = 0;
    while (p < end) {
        ++line;
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!eol) eol = end;
        const char* s = p;
        p = eol < end ? eol + 1 : end;
        s = Rest(s, eol);
        if (s == eol) continue;
        if (seenQ) return ImageFailure(EImageStatus::Syntax, line, "text after the closing \"q\"");
        const char* bad = nullptr;
        if (*s == '@') {
            bad = AddressLine(s + 1, eol, next);
            seenAt = true;
        } else if (*s == 'q' || *s == 'Q') {
            seenQ = Rest(s + 1, eol) == eol;
            if (!seenQ) bad = "malformed end line";
        } else if (!seenAt) {
            bad = "data before the first \"@\"";
        } else if (!(bad = DataLine(s, eol, bytes))) {
            bad = builder.Add(next, bytes.data(), bytes.size(), line);
            next += static_cast<uint32_t>(bytes.size());
        }
        if (bad) return ImageFailure(EImageStatus::Syntax, line, bad);
    }
    if (!seenQ) return ImageFailure(EImageStatus::Truncated, line, "file ends without \"q\"");
    CTiTxtResult r;
    if (!builder.Finish(r.Image, r.Line, r.Message)) return ImageFailure(EImageStatus::Syntax, r.Line, r.Message);
    return r;
}

CTiTxtResult ReadTiTxtFile(const std::string& path)
{
    std::string text;
    CTiTxtResult r = ReadFileBytes(path, text);
    return r.Ok() ? ReadTiTxt(text) : r;
}

}  // namespace velk
