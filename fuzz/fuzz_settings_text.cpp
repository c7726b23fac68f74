// The settings store's INI text rules on hostile text: reading never fails or
// crashes, and what it read, written out again, reads back as the very same
// values (so a file the station saves is a file it reads the same way).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "SettingsText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CSettingsValues values = ParseSettingsText(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& [key, value] : values) {
        if (key.empty() || key.find('\n') != std::string::npos) std::abort();
        uint32_t pattern = 0;
        (void)ParseStoredInt(value, pattern);
    }
    if (ParseSettingsText(RenderSettingsText(values)) != values) std::abort();
    return 0;
}
