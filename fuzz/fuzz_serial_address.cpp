// The serial number record's address conversion on any address text, width
// code and value. A success leaves the address in normal form (at least four
// upper-case hexadecimal digits naming Address) and 0 to 4 bytes of the value;
// a failure leaves the record as it was. Wherever the "%X" conversion is well
// defined (at most eight digits after any "0x"), the result is what sscanf
// reads.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SerialNumber.h"

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Number of hexadecimal digits the conversion would read; -1 when the text
// holds a NUL before them (sscanf then sees a shorter text).
int DigitRun(const std::string& t) {
    size_t i = 0;
    while (i < t.size() && IsSpace(t[i])) ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    // A "0x" prefix needs a digit after it: "0x" alone or "0xg" reads none.
    if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X'))
        i += 2;
    int n = 0;
    while (i < t.size() && IsHexDigit(t[i])) ++i, ++n;
    return t.find('\0') < i ? -1 : n;
}

int Width(int32_t type) {
    switch (type) {
    case 1: return 1;
    case 2: return 2;
    case 3:
    case 4: return 4;
    default: return 0;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    CSerialNumber record;
    int32_t type;
    uint32_t value;
    std::memcpy(&type, data, 4);
    std::memcpy(&value, data + 4, 4);
    // Mostly the codes the console can hand over, sometimes any 32 bits.
    if (type >= 0 && type < 0x40000000) type %= 6;
    record.Type = type;
    record.Value = value;
    const std::string text(reinterpret_cast<const char*>(data) + 8, size - 8);
    record.AddressText = text;

    const int result = record.Convert();
    if (result == 0) {
        if (record.AddressText != text || record.Address != 0x1000 || record.ByteCount != 0 ||
            record.ErrorText != "Unable to convert serial number address")
            std::abort();
        if (DigitRun(text) > 0) std::abort();
        uint8_t out[16];
        if (record.CopyBytes(out, 16) != 0) std::abort();
        return 0;
    }
    if (result != 1 || DigitRun(text) == 0) std::abort();

    // Normal form: at least four upper-case hexadecimal digits, no more than
    // needed beyond that, naming Address.
    const std::string& a = record.AddressText;
    if (a.size() < 4 || a.size() > 8) std::abort();
    for (char c : a)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) std::abort();
    if (a.size() > 4 && a[0] == '0') std::abort();
    if (std::strtoul(a.c_str(), nullptr, 16) != static_cast<uint32_t>(record.Address)) std::abort();
    if (record.ErrorText != "No error") std::abort();

    // The width code picks 0, 1, 2 or 4 little-endian bytes of the value.
    if (record.ByteCount != Width(type)) std::abort();
    uint8_t out[16];
    std::memset(out, 0xA5, sizeof out);
    const int32_t copied = record.CopyBytes(out, 16);
    if (copied != record.ByteCount) std::abort();
    for (int32_t k = 0; k < copied; ++k)
        if (out[k] != static_cast<uint8_t>(value >> (8 * k))) std::abort();
    if (record.GetAddress() != record.Address) std::abort();

    // The formatted-input conversion, where it is well defined.
    const int run = DigitRun(text);
    if (run > 0 && run <= 8) {
        unsigned scanned = 0;
        if (std::sscanf(text.c_str(), "%X", &scanned) != 1 ||
            scanned != static_cast<uint32_t>(record.Address))
            std::abort();
    }

    // The normal form converts to itself.
    CSerialNumber again;
    again.AddressText = a;
    again.Type = type;
    again.Value = value;
    if (again.Convert() != 1 || again.AddressText != a || again.Address != record.Address) std::abort();
    return 0;
}
