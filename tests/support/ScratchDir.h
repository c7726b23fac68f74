#pragma once
// CScratchDir: one test's own scratch folder, made with a unique name under
// $TMPDIR (/tmp when unset) and removed with everything in it when the
// object goes. A fixed name there (or one made from the test's name alone)
// is shared by every suite that runs on the machine at the same time, from
// another build folder or another checkout: one run's clean-up would delete
// the other's unit, settings or record.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

class CScratchDir {
public:
    // label: the readable part of the name, e.g. the suite's ("corv-<label>-XXXXXX").
    explicit CScratchDir(std::string label)
    {
        label.resize(std::min<std::size_t>(label.size(), 80));
        for (char& c : label)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
                c = '-';
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/corv-" + label + "-XXXXXX";
        if (::mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~CScratchDir()
    {
        std::error_code ignored;  // a test that failed half-way still leaves nothing
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;

    // False when the folder could not be made (Path() is then empty).
    bool Valid() const { return !m_path.empty(); }
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};
