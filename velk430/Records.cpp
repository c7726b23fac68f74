// Intel HEX and Motorola S-record readers. Both formats are a record a line:
// a start character, hex pairs, a checksum over them. Blank lines, CRLF and
// blanks around a record are accepted; anything else that is not exactly a
// record of its declared length with the right checksum refuses the file.

#include <cstdio>
#include <cstring>

#include "Blanks.h"
#include "HexDigits.h"
#include "Image.h"

namespace velk {

namespace {

// The non-blank lines of a text, with their 1-based numbers.
struct CLines {
    const char* P;
    const char* End;
    int Number = 0;

    explicit CLines(std::string_view text) : P(text.data()), End(text.data() + text.size()) {}

    bool Next(std::string_view& line)
    {
        while (P < End) {
            ++Number;
            const char* eol = static_cast<const char*>(std::memchr(P, '\n', static_cast<size_t>(End - P)));
            if (!eol) eol = End;
            const char* s = P;
            P = eol < End ? eol + 1 : End;
            while (s < eol && IsWhiteSpace(*s)) ++s;
            while (eol > s && IsWhiteSpace(eol[-1])) --eol;
            if (s == eol) continue;
            line = std::string_view(s, static_cast<size_t>(eol - s));
            return true;
        }
        return false;
    }
};

// Longest record: a count byte of 255 and the bytes it counts, plus the
// Intel HEX address, type and checksum.
constexpr size_t kMaxRecord = 260;

// The hex pairs of a record after its start characters, the first of them
// the count byte. `extra` is the number of bytes the count leaves out (Intel
// HEX: address, type and checksum; an S-record's count covers them).
// Null with the bytes, or what is wrong.
const char* Pairs(std::string_view hex, size_t extra, uint8_t* out, size_t& count)
{
    if (hex.size() < 2) return "record shorter than its header";
    for (size_t i = 0; i < hex.size(); ++i)
        if (HexDigit(hex[i]) < 0) return "not a hex digit";
    const size_t declared = static_cast<size_t>(HexDigit(hex[0]) << 4 | HexDigit(hex[1]));
    count = 1 + declared + extra;
    if (hex.size() < 2 * count) return "record runs past its line";
    if (hex.size() > 2 * count) return "text after the record's checksum";
    for (size_t i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(HexDigit(hex[2 * i]) << 4 | HexDigit(hex[2 * i + 1]));
    return nullptr;
}

uint32_t BigEndian(const uint8_t* p, size_t n)
{
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

CImageResult Finish(CImageBuilder& builder)
{
    CImageResult r;
    if (!builder.Finish(r.Image, r.Line, r.Message)) return ImageFailure(EImageStatus::Syntax, r.Line, r.Message);
    return r;
}

// One Intel HEX record: null, or what is wrong.
struct CIntelHex {
    CImageBuilder Builder;
    uint32_t Base = 0;
    bool Ended = false;

    bool Complete() const { return Ended; }

    const char* Record(std::string_view line, int number)
    {
        if (line[0] != ':') return "record does not start with ':'";
        uint8_t b[kMaxRecord];
        size_t n = 0;
        if (const char* bad = Pairs(line.substr(1), 4, b, n)) return bad;
        uint8_t sum = 0;
        for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + b[i]);
        if (sum != 0) return "wrong checksum";
        const size_t length = b[0];
        const uint32_t offset = BigEndian(b + 1, 2);
        const uint8_t* data = b + 4;
        switch (b[3]) {
            case 0x00:
                // A record wraps within its 64 KiB segment; one that would is refused.
                if (offset + length > 0x10000) return "record runs past the end of its 64 KiB segment";
                return Builder.Add(Base + offset, data, length, number);
            case 0x01:
                if (length != 0) return "end record with data";
                Ended = true;
                return nullptr;
            case 0x02:
                if (length != 2) return "segment address record not of 2 bytes";
                Base = BigEndian(data, 2) << 4;
                return nullptr;
            case 0x04:
                if (length != 2) return "linear address record not of 2 bytes";
                Base = BigEndian(data, 2) << 16;
                return nullptr;
            case 0x03:
            case 0x05:
                // Start addresses: the target starts from its reset vector.
                return length == 4 ? nullptr : "start address record not of 4 bytes";
            default:
                return "unknown record type";
        }
    }
};

// One Motorola S-record: null, or what is wrong.
struct CSRecord {
    CImageBuilder Builder;
    uint32_t DataRecords = 0;
    bool Ended = false;
    bool Counted = false;
    bool Any = false;

    // Without a start address srec_cat ends the file with the count record;
    // a matching count shows that no line went missing.
    bool Complete() const { return Ended || Counted; }

    const char* Record(std::string_view line, int number)
    {
        // Address bytes of S0 to S9; S4 is not defined.
        static constexpr int kAddressBytes[10] = {2, 2, 3, 4, -1, 2, 3, 4, 3, 2};
        if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9') return "record does not start with S0 to S9";
        const int type = line[1] - '0';
        const int addressBytes = kAddressBytes[type];
        if (addressBytes < 0) return "unknown record type S4";
        uint8_t b[kMaxRecord];
        size_t n = 0;
        if (const char* bad = Pairs(line.substr(2), 0, b, n)) return bad;
        if (n < static_cast<size_t>(2 + addressBytes)) return "record shorter than its address";
        uint8_t sum = 0;
        for (size_t i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + b[i]);
        if (sum != 0xFF) return "wrong checksum";
        const uint32_t address = BigEndian(b + 1, static_cast<size_t>(addressBytes));
        const uint8_t* data = b + 1 + addressBytes;
        const size_t length = n - 2 - static_cast<size_t>(addressBytes);
        const bool first = !Any;
        Any = true;
        if (Counted && type < 7) return "record after the count record";
        switch (type) {
            case 0:
                return first ? nullptr : "header record after the first line";
            case 1:
            case 2:
            case 3:
                ++DataRecords;
                return Builder.Add(address, data, length, number);
            case 5:
            case 6:
                if (length != 0) return "count record with data";
                if (address != DataRecords) return "record count differs from the data records";
                Counted = true;
                return nullptr;
            default:
                // S7 to S9 end the file; their start address is not programmed.
                if (length != 0) return "end record with data";
                Ended = true;
                return nullptr;
        }
    }
};

template <class Reader>
CImageResult ReadRecords(std::string_view text, const char* missingEnd)
{
    Reader reader;
    CLines lines(text);
    std::string_view line;
    while (lines.Next(line)) {
        if (reader.Ended) return ImageFailure(EImageStatus::Syntax, lines.Number, "text after the end record");
        if (const char* bad = reader.Record(line, lines.Number)) return ImageFailure(EImageStatus::Syntax, lines.Number, bad);
    }
    if (!reader.Complete()) return ImageFailure(EImageStatus::Truncated, lines.Number, missingEnd);
    return Finish(reader.Builder);
}

}  // namespace

CImageResult ReadIntelHex(std::string_view text)
{
    return ReadRecords<CIntelHex>(text, "file ends without an end record (type 01)");
}

CImageResult ReadSRecord(std::string_view text)
{
    return ReadRecords<CSRecord>(text, "file ends without a count (S5, S6) or end record (S7, S8, S9)");
}

}  // namespace velk
