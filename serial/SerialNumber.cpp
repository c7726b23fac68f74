#include "SerialNumber.h"

#include <cstdio>
#include <cstring>

#include "Blanks.h"

CSerialNumber::CSerialNumber()
{
    std::memset(Bytes, 0, sizeof Bytes);
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool CSerialNumber::ParseHex(const std::string& text, uint32_t& number)
{
    size_t i = 0;
    const size_t n = text.size();
    while (i < n && IsWhiteSpace(text[i])) ++i;  // as "%X" skips it
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // A "0x" prefix must be followed by a hexadecimal digit: "0x", "0xg" or
    // "0x 1" name no address and fail, rather than aim at address 0.
    if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X'))
        i += 2;
    uint32_t value = 0;
    bool any = false;
    for (; i < n; ++i) {
        int d = HexDigit(text[i]);
        if (d < 0) break;
        value = (value << 4) | static_cast<uint32_t>(d);  // keeps the low 32 bits
        any = true;
    }
    if (!any) return false;
    number = negative ? 0u - value : value;
    return true;
}

int CSerialNumber::Convert()
{
    uint32_t number = 0;
    if (!ParseHex(AddressText, number)) {
        ErrorText = "Unable to convert serial number address";
        return 0;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(number));
    AddressText = text;
    Address = static_cast<int32_t>(number);
    ByteCount = 0;
    int width = 0;
    switch (Type) {
    case 1: width = 1; break;
    case 2: width = 2; break;
    case 3:
    case 4: width = 4; break;
    default: width = 0; break;
    }
    for (int k = 0; k < width; ++k)
        Bytes[k] = static_cast<unsigned char>((Value >> (8 * k)) & 0xFFu);
    ByteCount = width;
    return 1;
}

int32_t CSerialNumber::GetAddress()
{
    return Address;
}

int32_t CSerialNumber::CopyBytes(unsigned char* dest, int32_t max)
{
    if (dest == nullptr || max <= 0) return 0;
    int32_t count = ByteCount < max ? ByteCount : max;
    if (count < 0) count = 0;
    if (count > static_cast<int32_t>(sizeof Bytes)) count = sizeof Bytes;
    std::memcpy(dest, Bytes, static_cast<size_t>(count));
    return count;
}

void CSerialNumber::GetErrorText(std::string& text)
{
    text = ErrorText;
}
