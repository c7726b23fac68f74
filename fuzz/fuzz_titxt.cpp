// The TI-TXT reader on hostile text: never crashes, and what it accepts is
// sorted, non-overlapping and inside the 20-bit address space.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ImageCheck.h"
#include "TiTxt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckImageResult(velk::ReadTiTxt(std::string_view(reinterpret_cast<const char*>(data), size)));
    return 0;
}
