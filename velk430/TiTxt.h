#pragma once
// Reader of TI-TXT firmware images: "@ADDR" lines start a section, data lines
// hold bytes as one or two hex digits, "q" ends the file. Case, CRLF, blank
// lines, trailing blanks and any number of bytes per line are accepted; data
// before the first "@", a malformed token, an address beyond 20 bits,
// overlapping bytes with different values and a missing "q" are errors that
// name their line.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velk {

struct CSection {
    uint32_t Start = 0;
    std::vector<uint8_t> Bytes;
    uint32_t End() const { return Start + static_cast<uint32_t>(Bytes.size()); }
};

// Sections sorted by address, never overlapping, touching runs merged.
struct CImage {
    std::vector<CSection> Sections;
    size_t ByteCount() const;
};

enum class ETiTxtStatus { Ok, Syntax, Truncated, Unreadable };

struct CTiTxtResult {
    ETiTxtStatus Status = ETiTxtStatus::Ok;
    int Line = 0;             // 1-based line of the error; 0 when none applies
    std::string Message;      // what is wrong, without the line
    CImage Image;             // empty unless Status is Ok
    bool Ok() const { return Status == ETiTxtStatus::Ok; }
};

// Reads a whole TI-TXT text.
CTiTxtResult ReadTiTxt(std::string_view text);
// Reads a file (at most 64 MiB); a missing or unreadable file gives Unreadable.
CTiTxtResult ReadTiTxtFile(const std::string& path);

}  // namespace velk
