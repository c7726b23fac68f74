#pragma once
// The value of a hex digit by table, shared by the text readers.

#include <array>
#include <cstdint>

namespace velk {

constexpr std::array<int8_t, 256> MakeHexTable()
{
    std::array<int8_t, 256> t{};
    for (auto& v : t) v = -1;
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<int8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<int8_t>(c - 'A' + 10);
    return t;
}
inline constexpr std::array<int8_t, 256> kHex = MakeHexTable();

// -1 for anything but 0-9, a-f, A-F.
inline int HexDigit(char c) { return kHex[static_cast<unsigned char>(c)]; }

}  // namespace velk
