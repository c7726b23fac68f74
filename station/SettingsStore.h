#pragma once
// The per-user settings store: text and 32-bit integer values under a
// company key, an application key and a section. On Windows QSettings keeps
// them in HKEY_CURRENT_USER\Software\<company>\<application>; elsewhere in
// the INI file $XDG_CONFIG_HOME/<company>/<application>.conf. Only that
// file (or key) is read: values it lacks read as the caller's default, never
// from a company-wide or system-wide file.
//
// Integers are 32-bit patterns: the signed write stores "-5", the unsigned
// one "4294967295", and both read back as the same pattern. A stored integer
// is read as: blanks, an optional sign, decimal digits, blanks, with a value
// from -2147483648 to 4294967295 (negatives become their two's-complement
// pattern). Anything else, e.g. a hand-edited "abc", "12x" or a number
// beyond 32 bits, reads as the default, as an absent value does.
//
// Off Windows the file is read and written by the store's own INI text rules
// (ParseSettingsText, RenderSettingsText in SettingsText.h), not by QSettings' INI
// dialect: that one turns "@Variant(...)" values into typed objects, so a
// hand-edited line could make the program decode images or allocate
// gigabytes at start-up. Every value here is plain text.

#include <cstdint>
#include <memory>
#include <string>

#include "SettingsText.h"

class QSettings;

class CSettingsStore {
public:
    CSettingsStore(const std::string& company, const std::string& application);
    // A store in one INI file (tests and tools).
    static CSettingsStore AtFile(const std::string& iniPath);
    ~CSettingsStore();
    CSettingsStore(CSettingsStore&&) noexcept;
    CSettingsStore& operator=(CSettingsStore&&) noexcept;

    std::string GetProfileString(const std::string& section, const std::string& name,
                                 const std::string& defaultValue) const;
    uint32_t GetProfileInt(const std::string& section, const std::string& name,
                           uint32_t defaultValue) const;
    void WriteProfileString(const std::string& section, const std::string& name,
                            const std::string& value);
    void WriteProfileInt(const std::string& section, const std::string& name, int32_t value);
    void WriteProfileInt(const std::string& section, const std::string& name, uint32_t value);
    // Writes pending changes to permanent storage. true when that worked.
    bool Flush();
    // Where the values live (file path or registry key), for messages.
    std::string Location() const;

private:
    explicit CSettingsStore(std::unique_ptr<QSettings> settings);
    std::unique_ptr<QSettings> m_settings;
};
