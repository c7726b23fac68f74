// The TI-TXT reader on hostile text: never crashes, and what it accepts is
// sorted, non-overlapping and inside the 20-bit address space.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Codes.h"
#include "TiTxt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto r = velk::ReadTiTxt(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!r.Ok()) {
        if (r.Message.empty() || !r.Image.Sections.empty()) std::abort();
        return 0;
    }
    uint32_t end = 0;
    bool first = true;
    for (const auto& s : r.Image.Sections) {
        if (s.Bytes.empty() || (!first && s.Start <= end) || s.End() > velk::kAddressSpace) std::abort();
        end = s.End();
        first = false;
    }
    return 0;
}
