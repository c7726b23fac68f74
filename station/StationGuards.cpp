#include "StationGuards.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

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

namespace {

// The groups of account uid: the process's own when it is this process's.
std::vector<gid_t> GroupsOf(uint32_t uid)
{
    std::vector<gid_t> groups;
    if (uid == ::geteuid()) {
        const int n = ::getgroups(0, nullptr);
        groups.resize(n > 0 ? size_t(n) : 0);
        if (n > 0 && ::getgroups(n, groups.data()) != n)
            groups.clear();
        groups.push_back(::getegid());
        return groups;
    }
    const passwd* pw = ::getpwuid(uid);
    if (!pw)
        return groups;
    int n = 64;
    groups.resize(size_t(n));
    if (::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &n) == -1) {
        groups.resize(size_t(n));
        ::getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &n);
    }
    groups.resize(size_t(std::max(n, 0)));
    return groups;
}

// Why uid can change the entry at each step of an absolute path; empty when
// it cannot. Every step is read without following links.
std::string ChainProblem(const std::filesystem::path& path, uint32_t uid, const std::vector<gid_t>& groups)
{
    std::filesystem::path step;
    const auto end = path.end();
    for (auto part = path.begin(); part != end; ++part) {
        step /= *part;
        struct stat st {};
        if (::lstat(step.c_str(), &st) != 0)
            return step.string() + " cannot be read (" + std::strerror(errno) + ")";
        const bool last = std::next(part) == end;
        const bool group = (st.st_mode & S_IWGRP) && std::find(groups.begin(), groups.end(), st.st_gid) != groups.end();
        const bool other = (st.st_mode & S_IWOTH) != 0;
        if (st.st_uid == uid)
            return step.string() + " belongs to the operator's account";
        if (S_ISLNK(st.st_mode))
            continue;  // the link cannot be changed in place; its folder is checked
        // A folder above: others may add entries under a sticky bit, but not
        // rename or replace one that is not theirs.
        const bool sticky = S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) && !last;
        if ((group || other) && !sticky)
            return step.string() + (group ? " can be written by a group of the operator's account"
                                          : " can be written by every account");
    }
    return {};
}

}  // namespace

std::string OperatorCanChange(const std::string& path, uint32_t uid)
{
    namespace fs = std::filesystem;
    const std::string tail = "\nProduction mode needs recipes that only their engineer can change: the station "
                             "does not start until the operator's account cannot change this.";
    std::error_code error;
    const fs::path given = fs::absolute(path, error).lexically_normal();
    const std::vector<gid_t> groups = GroupsOf(uid);
    std::string problem = uid == 0 ? "the station runs as root, which can change every file"
                          : error  ? path + " cannot be read"
                                   : ChainProblem(given, uid, groups);
    if (problem.empty()) {
        const fs::path real = fs::canonical(given, error);
        problem = error ? path + " cannot be read (" + error.message() + ")" : ChainProblem(real, uid, groups);
    }
    return problem.empty() ? problem : "The operator's account can change " + path + ":\n" + problem + "." + tail;
}
