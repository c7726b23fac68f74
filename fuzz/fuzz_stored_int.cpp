// The settings store's integer rule on hostile text: a stored integer is
// blanks, an optional sign, decimal digits, blanks, from -2147483648 to
// 4294967295, anything else reads as the default. What it accepts is the
// value of its digits as a 32-bit pattern, and what the store writes
// (either signed or unsigned decimal) reads back as the same pattern.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "SettingsText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    uint32_t pattern = 0x5A5A5A5Au;
    const bool ok = ParseStoredInt(text, pattern);

    // Independent reading: trim blanks and tabs, one sign, then from_chars.
    std::string_view t(text);
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    bool negative = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    bool expectOk = false;
    int64_t expect = 0;
    if (!t.empty() && t.front() >= '0' && t.front() <= '9') {
        uint64_t magnitude = 0;
        const auto r = std::from_chars(t.data(), t.data() + t.size(), magnitude);
        if (r.ptr == t.data() + t.size() && r.ec == std::errc()) {
            if (!negative && magnitude <= UINT32_MAX) {
                expectOk = true;
                expect = static_cast<int64_t>(magnitude);
            } else if (negative && magnitude <= (uint64_t{1} << 31)) {
                expectOk = true;
                expect = -static_cast<int64_t>(magnitude);
            }
        }
    }
    if (ok != expectOk) std::abort();
    if (!ok) {
        if (pattern != 0x5A5A5A5Au) std::abort();  // untouched on refusal
        return 0;
    }
    if (pattern != static_cast<uint32_t>(expect)) std::abort();

    // Both ways the store writes a pattern read back as that pattern.
    uint32_t back = 0;
    if (!ParseStoredInt(std::to_string(pattern), back) || back != pattern) std::abort();
    if (!ParseStoredInt(std::to_string(static_cast<int32_t>(pattern)), back) || back != pattern) std::abort();
    return 0;
}
