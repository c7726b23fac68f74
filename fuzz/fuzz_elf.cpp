// The ELF reader (libelf underneath) on hostile bytes, held to the image
// rules; every refusal names an offset.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto r = velk::ReadElf(std::string_view(reinterpret_cast<const char*>(data), size));
    CheckImageResult(r);
    if (!r.Ok() && r.Message.rfind("offset 0x", 0) != 0) std::abort();
    return 0;
}
