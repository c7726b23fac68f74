#pragma once
// Reader of TI-TXT firmware images: "@ADDR" lines start a section, data lines
// hold bytes as one or two hex digits, "q" ends the file. Case, CRLF, blank
// lines, trailing blanks and any number of bytes per line are accepted; data
// before the first "@", a malformed token, an address beyond 20 bits,
// overlapping bytes with different values and a missing "q" are errors that
// name their line.

#include <string>
#include <string_view>

#include "Image.h"

namespace velk {

using ETiTxtStatus = EImageStatus;
using CTiTxtResult = CImageResult;
constexpr uint64_t kMaxTiTxtFileBytes = kMaxImageFileBytes;

// Reads a whole TI-TXT text.
CTiTxtResult ReadTiTxt(std::string_view text);
// Reads a file as ReadImageFile does, taking TI-TXT only.
CTiTxtResult ReadTiTxtFile(const std::string& path);

}  // namespace velk
