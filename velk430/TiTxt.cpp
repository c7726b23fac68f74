#include "TiTxt.h"

#include <algorithm>
#include <cerrno>
#include <array>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Blanks.h"
#include "Codes.h"

namespace velk {

namespace {

constexpr std::array<int8_t, 256> MakeHexTable()
{
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<int8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<int8_t>(c - 'A' + 10);
    return t;
}
constexpr std::array<int8_t, 256> kHex = MakeHexTable();


CTiTxtResult Fail(ETiTxtStatus status, int line, std::string message)
{
    CTiTxtResult r;
    r.Status = status;
    r.Line = line;
    r.Message = std::move(message);
    return r;
}

// One pass over the text. With a watched address it also reports the line
// of each byte written there (used only to name the line of a conflict).
struct CParser {
    std::string_view Text;
    uint32_t Watch = 0;
    bool Watching = false;
    std::vector<int> WatchLines;

    CTiTxtResult Run(std::vector<CSection>& sections)
    {
        const char* p = Text.data();
        const char* const end = p + Text.size();
        int line = 0;
        bool seenQ = false;
        uint32_t next = 0;
        CSection* cur = nullptr;
        while (p < end) {
            ++line;
            const char* eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!eol) eol = end;
            const char* s = p;
            p = eol < end ? eol + 1 : end;
            while (s < eol && IsWhiteSpace(*s)) ++s;
            if (s == eol) continue;
            if (seenQ) return Fail(ETiTxtStatus::Syntax, line, "text after the closing \"q\"");
            const char* bad = nullptr;
            if (*s == '@') {
                bad = AddressLine(s + 1, eol, next);
                if (!bad) {
                    sections.emplace_back();
                    cur = &sections.back();
                    cur->Start = next;
                }
            } else if (*s == 'q' || *s == 'Q') {
                seenQ = Rest(s + 1, eol) == eol;
                if (!seenQ) bad = "malformed end line";
            } else {
                bad = cur ? DataLine(s, eol, line, next, *cur) : "data before the first \"@\"";
            }
            if (bad) return Fail(ETiTxtStatus::Syntax, line, bad);
        }
        if (!seenQ) return Fail(ETiTxtStatus::Truncated, line, "file ends without \"q\"");
        return {};
    }

    static const char* Rest(const char* s, const char* eol)
    {
        while (s < eol && IsWhiteSpace(*s)) ++s;
        return s;
    }

    // The hex digits after "@": null with the address, or what is wrong.
    static const char* AddressLine(const char* s, const char* eol, uint32_t& address)
    {
        uint32_t addr = 0;
        int digits = 0;
        bool tooFar = false;
        for (; s < eol && kHex[static_cast<unsigned char>(*s)] >= 0; ++s, ++digits) {
            addr = (addr << 4) | static_cast<uint32_t>(kHex[static_cast<unsigned char>(*s)]);
            if (addr >= kAddressSpace) tooFar = true;
            if (tooFar) addr &= 0xFFFFFu;
        }
        if (digits == 0 || Rest(s, eol) != eol) return "malformed address line";
        if (tooFar) return "address beyond 20 bits";
        address = addr;
        return nullptr;
    }

    // The bytes of a data line appended to the section: null, or what is wrong.
    const char* DataLine(const char* s, const char* eol, int line, uint32_t& next, CSection& cur)
    {
        while (s < eol) {
            int hi = kHex[static_cast<unsigned char>(*s)];
            if (hi < 0) return "not a hex byte";
            ++s;
            int value = hi;
            if (s < eol && !IsWhiteSpace(*s)) {
                int lo = kHex[static_cast<unsigned char>(*s)];
                if (lo < 0) return "not a hex byte";
                value = (hi << 4) | lo;
                ++s;
                if (s < eol && !IsWhiteSpace(*s)) return "not a hex byte";
            }
            if (next >= kAddressSpace) return "address beyond 20 bits";
            if (Watching && next == Watch) WatchLines.push_back(line);
            cur.Bytes.push_back(static_cast<uint8_t>(value));
            ++next;
            s = Rest(s, eol);
        }
        return nullptr;
    }
};

}  // namespace

size_t CImage::ByteCount() const
{
    size_t n = 0;
    for (const auto& s : Sections) n += s.Bytes.size();
    return n;
}

CTiTxtResult ReadTiTxt(std::string_view text)
{
    std::vector<CSection> raw;
    CParser parser;
    parser.Text = text;
    CTiTxtResult r = parser.Run(raw);
    if (!r.Ok()) return r;

    std::stable_sort(raw.begin(), raw.end(),
                     [](const CSection& a, const CSection& b) { return a.Start < b.Start; });
    std::vector<CSection>& out = r.Image.Sections;
    for (auto& s : raw) {
        if (s.Bytes.empty()) continue;
        if (out.empty() || s.Start > out.back().End()) {
            out.push_back(std::move(s));
            continue;
        }
        CSection& last = out.back();
        const uint32_t overlapEnd = std::min(last.End(), s.End());
        for (uint32_t a = s.Start; a < overlapEnd; ++a) {
            if (last.Bytes[a - last.Start] != s.Bytes[a - s.Start]) {
                CParser again;
                again.Text = text;
                again.Watch = a;
                again.Watching = true;
                std::vector<CSection> scratch;
                again.Run(scratch);
                const int line = again.WatchLines.size() > 1 ? again.WatchLines[1] : 0;
                char msg[80];
                std::snprintf(msg, sizeof msg, "byte at %05X given twice with different values", a);
                return Fail(ETiTxtStatus::Syntax, line, msg);
            }
        }
        if (s.End() > last.End())
            last.Bytes.insert(last.Bytes.end(), s.Bytes.begin() + (last.End() - s.Start), s.Bytes.end());
    }
    return r;
}

CTiTxtResult ReadTiTxtFile(const std::string& path)
{
    // Non-blocking, so that a named pipe without a writer cannot hold the
    // caller; only regular files are read, and their size is checked before
    // a byte is read or a buffer allocated.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Fail(ETiTxtStatus::Unreadable, 0, "cannot open the file");
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return Fail(ETiTxtStatus::Unreadable, 0, "cannot read the file");
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail(ETiTxtStatus::Unreadable, 0, "not a regular file");
    }
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kMaxTiTxtFileBytes) {
        ::close(fd);
        return Fail(ETiTxtStatus::Unreadable, 0, "file larger than 16 MiB");
    }
    std::string text;
    text.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    bool bad = false, tooBig = false;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            bad = true;
            break;
        }
        if (n == 0) break;
        // The file may grow while it is read.
        if (text.size() + static_cast<size_t>(n) > kMaxTiTxtFileBytes) {
            tooBig = true;
            break;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    if (bad) return Fail(ETiTxtStatus::Unreadable, 0, "cannot read the file");
    if (tooBig) return Fail(ETiTxtStatus::Unreadable, 0, "file larger than 16 MiB");
    return ReadTiTxt(text);
}

}  // namespace velk
