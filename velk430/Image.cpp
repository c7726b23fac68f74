#include "Image.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Blanks.h"
#include "Codes.h"
#include "TiTxt.h"

namespace velk {

size_t CImage::ByteCount() const
{
    size_t n = 0;
    for (const auto& s : Sections) n += s.Bytes.size();
    return n;
}

CImageResult ImageFailure(EImageStatus status, int line, std::string message)
{
    CImageResult r;
    r.Status = status;
    r.Line = line;
    r.Message = std::move(message);
    return r;
}

int CImageBuilder::CRun::WhereOf(uint32_t address) const
{
    auto it = std::upper_bound(Marks.begin(), Marks.end(), address,
                               [](uint32_t a, const std::pair<uint32_t, int>& m) { return a < m.first; });
    return std::prev(it)->second;
}

const char* CImageBuilder::Add(uint32_t address, const uint8_t* bytes, size_t count, int where)
{
    if (count == 0) return nullptr;
    if (address >= kAddressSpace || count > kAddressSpace - address) return "address beyond 20 bits";
    // Records that continue the last one (the usual case) extend its run.
    if (Runs.empty() || Runs.back().Section.End() != address) {
        Runs.emplace_back();
        Runs.back().Section.Start = address;
    }
    CRun& run = Runs.back();
    if (run.Marks.empty() || run.Marks.back().second != where) run.Marks.emplace_back(address, where);
    run.Section.Bytes.insert(run.Section.Bytes.end(), bytes, bytes + count);
    return nullptr;
}

bool CImageBuilder::Finish(CImage& image, int& where, std::string& message)
{
    std::stable_sort(Runs.begin(), Runs.end(),
                     [](const CRun& a, const CRun& b) { return a.Section.Start < b.Section.Start; });
    std::vector<CRun> out;
    for (auto& r : Runs) {
        if (out.empty() || r.Section.Start > out.back().Section.End()) {
            out.push_back(std::move(r));
            continue;
        }
        CRun& last = out.back();
        const CSection& s = r.Section;
        const uint32_t overlapEnd = std::min(last.Section.End(), s.End());
        for (uint32_t a = s.Start; a < overlapEnd; ++a) {
            if (last.Section.Bytes[a - last.Section.Start] != s.Bytes[a - s.Start]) {
                where = std::max(last.WhereOf(a), r.WhereOf(a));
                char msg[80];
                std::snprintf(msg, sizeof msg, "byte at %05X given twice with different values", a);
                message = msg;
                return false;
            }
        }
        if (s.End() <= last.Section.End()) continue;
        const uint32_t from = last.Section.End();
        last.Section.Bytes.insert(last.Section.Bytes.end(), s.Bytes.begin() + (from - s.Start), s.Bytes.end());
        last.Marks.emplace_back(from, r.WhereOf(from));
        for (const auto& m : r.Marks)
            if (m.first > from) last.Marks.push_back(m);
    }
    Runs.clear();
    image.Sections.clear();
    image.Sections.reserve(out.size());
    for (auto& r : out) image.Sections.push_back(std::move(r.Section));
    return true;
}

CImageResult ReadImage(std::string_view bytes)
{
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "\x7f" "ELF", 4) == 0) return ReadElf(bytes);
    size_t i = 0;
    while (i < bytes.size() && IsWhiteSpace(bytes[i])) ++i;
    if (i < bytes.size() && bytes[i] == ':') return ReadIntelHex(bytes);
    if (i < bytes.size() && bytes[i] == 'S') return ReadSRecord(bytes);
    return ReadTiTxt(bytes);
}

CImageResult ReadFileBytes(const std::string& path, std::string& bytes)
{
    // Non-blocking, so that a named pipe without a writer cannot hold the
    // caller; only regular files are read, and their size is checked before
    // a byte is read or a buffer allocated.
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return ImageFailure(EImageStatus::Unreadable, 0, "cannot open the file");
    struct stat st {};
    const char* bad = nullptr;
    if (::fstat(fd, &st) != 0) bad = "cannot read the file";
    else if (!S_ISREG(st.st_mode)) bad = "not a regular file";
    else if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > kMaxImageFileBytes) bad = "file larger than 16 MiB";
    if (!bad) bytes.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    while (!bad) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) bad = "cannot read the file";
        if (n <= 0) break;
        // The file may grow while it is read.
        if (bytes.size() + static_cast<size_t>(n) > kMaxImageFileBytes) bad = "file larger than 16 MiB";
        else bytes.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    if (bad) {
        bytes.clear();
        return ImageFailure(EImageStatus::Unreadable, 0, bad);
    }
    return {};
}

CImageResult ReadImageFile(const std::string& path)
{
    std::string bytes;
    CImageResult r = ReadFileBytes(path, bytes);
    return r.Ok() ? ReadImage(bytes) : r;
}

}  // namespace velk
