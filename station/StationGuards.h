#pragma once
// Checks that keep the station from issuing a serial number twice: a number
// that does not fit its width, a settings file that exists but cannot be
// read, and where a settings file really lives when it is a link.

#include <cstdint>
#include <string>

// Serial number widths as the Type box lists them: 0 none, 1 BYTE, 2 WORD,
// 3 DWORD.
bool IsSerialType(int32_t type);

// Empty when `value` can be issued as a `type` serial number; otherwise the
// operator's message. A number beyond the width's largest value would write
// the same bytes as a smaller one already issued, and 4294967295 as a DWORD
// is refused too: the station could not hold the next number after it (it
// would wrap to 0). Type outside 0..3: no width chosen.
std::string SerialNumberProblem(uint32_t value, int32_t type);

// Empty when the settings file is absent (a first run) or a regular file
// this process can open for reading; otherwise the reason, e.g. "it is a
// folder" or the system's text ("Too many levels of symbolic links").
// Never blocks (a named pipe is not opened).
std::string SettingsFileProblem(const std::string& path);

// The file a path finally names, with every symbolic link resolved (also
// when the file itself does not exist yet); the path itself when it cannot
// be resolved.
std::string ResolvedFilePath(const std::string& path);

// Empty when the account uid (with its groups) cannot change what path
// names: neither the file or folder itself nor, by renaming or replacing
// it, any folder above it, read both as given and with every link
// resolved. Otherwise the operator's message, naming the path and why. A
// folder others may write is acceptable above path only with its sticky
// bit (no one renames another's entry there); uid 0 can change anything.
// Access control lists are not read.
std::string OperatorCanChange(const std::string& path, uint32_t uid);
