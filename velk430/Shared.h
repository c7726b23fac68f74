#pragma once
// What both programmers behind the C interface share: reading the caller's
// fixed-size texts, the results of a firmware file, the check of its data
// against the device's memory, progress notifications, and the text of the
// last failure.

#include <cstdint>
#include <string>

#include "velk430.h"
#include "DeviceTable.h"
#include "Image.h"

namespace velk {

// A name the caller handed in a fixed buffer: read only within it, and
// refused when it has no terminator there.
bool ReadName(const char* text, size_t buffer, std::string& out);

// The result code of a file the image reader read (kOk when it is good).
int32_t FileCode(const CImageResult& file);

// 0 when every byte of the image lies in the device's writable flash, else
// kFileRange (outside the flash) or kProtected.
int32_t CheckImage(const CDevice& device, const CImage& image);

// The bytes an image holds in [start, start + count), 0xFF where it holds none.
void ImageBytes(const CImage& image, uint32_t start, uint32_t count, uint8_t* out);

// Progress of one operation, delivered as values from 50 to 100.
class CProgress {
public:
    CProgress(VelkNotifyWindow* w, uint32_t msg, uint32_t type, uint64_t total);
    void Step(uint64_t n);
    void Finish() { Send(100); }

private:
    void Send(int value);
    VelkNotifyWindow* Window;
    uint32_t Message;
    uint32_t Type;
    uint64_t Total;
    uint64_t Done = 0;
    int Last = -1;
};

// The library's explanation of its last failure (the codes say what failed;
// this says with which part, port or message). Also written to stderr.
// Each exported call but the two that read texts starts by clearing it, so
// GetLastErrorText tells the reason for the last call only.
void SetLastError(const std::string& text);
void ClearLastError();
const std::string& LastError();
// Copies text into a caller's buffer of size bytes, cut to fit and
// terminated; returns the text's full length (the C exports' convention).
int32_t CopyText(const std::string& text, char* buffer, int32_t size);

}  // namespace velk
