#pragma once
// The supply voltage between its text (the Vcc field, the stored "VCC") and
// its number of volts. Both directions use the C locale's number form, so a
// station set up for a comma-decimal language still reads and shows "3.3".

#include <string>

// Volts assumed when the text holds no number, and that number as the Vcc
// field shows it (the stored "VCC" when there is none).
constexpr double DefaultVcc = 3.3;
constexpr const char* DefaultVccText = "3.3";

// What the station says of a voltage text it refuses, typed or stored.
constexpr const char* VccRefusedMessage = "Please enter a supply voltage in volts.";

// A voltage the library can be given: finite, not negative, and within the
// 32-bit millivolts it takes.
bool IsUsableVcc(double volts);

// The "%lf" reading: leading white space skipped, the longest number read,
// then nothing but blanks. DefaultVcc when no number can be read, when
// anything else follows the number ("3,9" under any locale, "3.3V"), and when
// the number is no usable voltage ("nan", "inf", "1e999", "-1"): such a text,
// typed or stored, never reaches the library.
double ParseVccText(const std::string& text);

// True unless the text reads as a number that is no usable voltage or has
// anything but blanks after its number: the operator who typed "3,9" is told,
// rather than given 3 V. A text with no number at all is acceptable (it means
// DefaultVcc).
bool IsAcceptableVccText(const std::string& text);

// "%0.1lf": exactly one decimal ("3.3", "1.9", "0.0").
std::string FormatVccText(double volts);
