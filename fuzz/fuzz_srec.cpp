// The Motorola S-record reader on hostile text, held to the image rules.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ImageCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckImageResult(velk::ReadSRecord(std::string_view(reinterpret_cast<const char*>(data), size)));
    return 0;
}
