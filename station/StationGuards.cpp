#include "StationGuards.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

bool IsSerialType(int32_t type) { return type >= 0 && type <= 3; }

std::string SerialNumberProblem(uint32_t value, int32_t type)
{
    static const char* const names[] = {"", "BYTE", "WORD", "DWORD"};
    static const uint32_t largest[] = {0, 0xFF, 0xFFFF, 0xFFFFFFFF};
    if (!IsSerialType(type))
        return "No serial number type is chosen.\nChoose (none), BYTE, WORD or DWORD.";
    if (type == 0)
        return {};
    const std::string number = std::to_string(value);
    const std::string name = names[type];
    if (value > largest[type])
        return "Serial number " + number + " does not fit a " + name + " serial number: the largest is " +
               std::to_string(largest[type]) + ".\nChoose a wider type or another number.";
    if (value == 0xFFFFFFFF)
        return "Serial number 4294967295 is the largest a DWORD holds, and no number can follow it:\n"
               "the station does not issue it, so that the numbering never starts again at 0.";
    return {};
}

std::string SettingsFileProblem(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? std::string() : std::string(std::strerror(errno));
    if (S_ISDIR(st.st_mode))
        return "it is a folder";
    if (!S_ISREG(st.st_mode))
        return "it is not a regular file";
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    return {};
}

std::string ResolvedFilePath(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path file = path;
    // The file's own links first (weakly_canonical stops at a link whose
    // target does not exist yet); a loop ends after the system's own limit.
    for (int hops = 0; hops < 40 && fs::is_symlink(file, error); ++hops) {
        const fs::path target = fs::read_symlink(file, error);
        if (error)
            return path;
        file = target.is_absolute() ? target : file.parent_path() / target;
    }
    const fs::path resolved = fs::weakly_canonical(file, error);
    return error || resolved.empty() ? path : resolved.string();
}
