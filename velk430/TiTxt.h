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

// Largest file ReadTiTxtFile reads: 16 MiB, some five times the text of an
// image filling the whole 20-bit address space (about 3.3 MB written 16 bytes
// to a line), so no real firmware comes near it.
constexpr uint64_t kMaxTiTxtFileBytes = uint64_t{16} << 20;

// Reads a whole TI-TXT text.
CTiTxtResult ReadTiTxt(std::string_view text);
// Reads a regular file of at most kMaxTiTxtFileBytes, refusing a larger one
// before reading it. A missing, unreadable, too large or non-regular file
// (directory, pipe, device) gives Unreadable; a named pipe never blocks.
CTiTxtResult ReadTiTxtFile(const std::string& path);

}  // namespace velk
