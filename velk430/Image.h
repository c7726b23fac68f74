#pragma once
// Firmware images as the library programs them, and the reader that takes
// every file format a build hands over: TI-TXT, Intel HEX, Motorola
// S-records and 32-bit little-endian ELF for the MSP430. The format is known
// from the content, never from the file name. Every reader is strict in the
// same way: a malformed record, a wrong checksum, an address beyond 20 bits,
// bytes given twice with different values or text after the end refuse the
// whole file, naming the line (for ELF, the file offset) and the reason.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
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

enum class EImageStatus { Ok, Syntax, Truncated, Unreadable };

struct CImageResult {
    EImageStatus Status = EImageStatus::Ok;
    int Line = 0;             // 1-based line of the error; 0 when none applies (ELF: the offset is in Message)
    std::string Message;      // what is wrong, without the line
    CImage Image;             // empty unless Status is Ok
    bool Ok() const { return Status == EImageStatus::Ok; }
};

CImageResult ImageFailure(EImageStatus status, int line, std::string message);

// Largest firmware file read: 16 MiB, some five times the text of an image
// filling the whole 20-bit address space (about 3.3 MB of TI-TXT written 16
// bytes to a line), so no real firmware comes near it.
constexpr uint64_t kMaxImageFileBytes = uint64_t{16} << 20;

// Collects the bytes of a file's records in file order and merges them into
// an image. Each run of bytes carries where it came from (a line, or an ELF
// offset), so that a conflict names the later of the two places.
class CImageBuilder {
public:
    // Null, or what is wrong ("address beyond 20 bits").
    const char* Add(uint32_t address, const uint8_t* bytes, size_t count, int where);
    // The sorted, merged image; false with the place and reason of the
    // first byte given twice with different values.
    bool Finish(CImage& image, int& where, std::string& message);

private:
    struct CRun {
        CSection Section;
        std::vector<std::pair<uint32_t, int>> Marks;  // (first address, place) ascending
        int WhereOf(uint32_t address) const;
    };
    std::vector<CRun> Runs;
};

// Reads a whole file of any of the formats above.
CImageResult ReadImage(std::string_view bytes);
// Reads a regular file of at most kMaxImageFileBytes, refusing a larger one
// before reading it. A missing, unreadable, too large or non-regular file
// (directory, pipe, device) gives Unreadable; a named pipe never blocks.
CImageResult ReadImageFile(const std::string& path);
// The raw bytes of such a file, or the Unreadable failure.
CImageResult ReadFileBytes(const std::string& path, std::string& bytes);

// The readers behind ReadImage, each for its own format.
CImageResult ReadIntelHex(std::string_view text);
CImageResult ReadSRecord(std::string_view text);
CImageResult ReadElf(std::string_view bytes);

}  // namespace velk
