#pragma once
// The supply voltage between its text (the Vcc field, the stored "VCC") and
// its number of volts. Both directions use the C locale's number form, so a
// station set up for a comma-decimal language still reads and shows "3.3".

#include <string>

// Volts assumed when the text holds no number.
constexpr double DefaultVcc = 3.3;

// The "%lf" reading: leading white space skipped, the longest number read,
// trailing text ignored ("3.3abc" is 3.3). DefaultVcc when no number can be
// read. Overflow gives an infinite value, as the C conversion does.
double ParseVccText(const std::string& text);

// "%0.1lf": exactly one decimal ("3.3", "1.9", "0.0").
std::string FormatVccText(double volts);
