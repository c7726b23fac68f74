#pragma once
// The serial number record of one Run Batch: turns the operator's serial
// number, width code and hexadecimal address text into the bytes and the
// address that the batch procedure writes to the target.

#include <cstdint>
#include <string>

class CSerialNumber {
public:
    CSerialNumber();
    virtual ~CSerialNumber() = default;

    // Set by the creator before Convert.
    uint32_t Value = 0;              // the serial number to write
    int32_t Type = 0;                // width: 0 none, 1 byte, 2 word, 3 and 4 dword,
                                     // anything else none
    std::string AddressText = "1000";  // hexadecimal; rewritten as "%04X" by Convert

    std::string ErrorText = "No error";  // last failure; a success does not reset it
    unsigned char Bytes[16];         // bytes to write, lowest-addressed first
    int32_t Address = 0x1000;        // set by Convert
    int32_t ByteCount = 0;           // leading valid bytes of Bytes (0, 1, 2 or 4)

    // Reads AddressText as hexadecimal (white space, optional sign, optional 0x,
    // digits up to the first non-digit, modulo 2^32, minus negates), rewrites
    // it in normal form and fills Bytes little-endian by Type.
    // Returns 1, or 0 with "Unable to convert serial number address" when the
    // text has no hexadecimal digit after white space, sign and any "0x" (so "0x"
    // and "0xg" fail; the record is then unchanged).
    int Convert();

    int32_t GetAddress();

    // Copies min(ByteCount, max) bytes into dest and returns that count.
    // A negative max or a null dest copies nothing and returns 0.
    int32_t CopyBytes(unsigned char* dest, int32_t max);

    void GetErrorText(std::string& text);

    // The "%X" reading rule on its own; false when no digit could be read.
    static bool ParseHex(const std::string& text, uint32_t& number);
};
