#include "Shared.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdint>

#include "Codes.h"

namespace velk {

bool ReadName(const char* text, size_t buffer, std::string& out)
{
    if (!text) return false;
    const size_t n = strnlen(text, buffer);
    if (n == buffer) return false;
    out.assign(text, n);
    return true;
}

int32_t FileCode(const CImageResult& file)
{
    switch (file.Status) {
        case EImageStatus::Ok: return kOk;
        case EImageStatus::Unreadable: return kFileOpen;
        case EImageStatus::Truncated: return kFileTruncated;
        case EImageStatus::Syntax: break;
    }
    return kFileSyntax;
}

int32_t CheckImage(const CDevice& device, const CImage& image)
{
    for (const auto& s : image.Sections) {
        const int32_t r = device.CheckWritable(s.Start, static_cast<uint32_t>(s.Bytes.size()));
        if (r == kNotFlash) return kFileRange;
        if (r != kOk) return r;
    }
    return kOk;
}

void ImageBytes(const CImage& image, uint32_t start, uint32_t count, uint8_t* out)
{
    std::memset(out, 0xFF, count);
    const uint64_t end = uint64_t{start} + count;
    for (const auto& s : image.Sections) {
        const uint64_t from = std::max<uint64_t>(s.Start, start);
        const uint64_t to = std::min<uint64_t>(s.End(), end);
        if (from < to) std::memcpy(out + (from - start), s.Bytes.data() + (from - s.Start), to - from);
    }
}

CProgress::CProgress(VelkNotifyWindow* w, uint32_t msg, uint32_t type, uint64_t total)
    : Window(w), Message(msg), Type(type), Total(total ? total : 1)
{
    Send(50);
}

void CProgress::Step(uint64_t n)
{
    Done = std::min(Total, Done + n);
    Send(static_cast<int>(50 + 50 * Done / Total));
}

void CProgress::Send(int value)
{
    if (value == Last) return;
    Last = value;
    if (Window && Window->Deliver) Window->Deliver(Window, Message, Type, value);
}

namespace {
std::string& ErrorText()
{
    static std::string text;
    return text;
}
}  // namespace

void SetLastError(const std::string& text)
{
    ErrorText() = text;
    std::fprintf(stderr, "VELK430: %s\n", text.c_str());
}

void ClearLastError() { ErrorText().clear(); }

const std::string& LastError() { return ErrorText(); }

int32_t CopyText(const std::string& text, char* buffer, int32_t size)
{
    if (buffer && size > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
}

}  // namespace velk
