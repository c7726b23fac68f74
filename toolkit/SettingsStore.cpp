#include "SettingsStore.h"

#include <QSettings>

namespace {

QString Key(const std::string& section, const std::string& name)
{
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(name);
}

}  // namespace

bool ParseStoredInt(const std::string& text, uint32_t& pattern)
{
    std::size_t i = 0;
    auto blank = [&](std::size_t k) { return k < text.size() && (text[k] == ' ' || text[k] == '\t'); };
    while (blank(i))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    uint64_t magnitude = 0;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        magnitude = magnitude * 10 + static_cast<uint64_t>(text[i++] - '0');
        if (magnitude > UINT32_MAX)
            return false;
        ++digits;
    }
    while (blank(i))
        ++i;
    if (digits == 0 || i != text.size())
        return false;
    if (negative) {
        if (magnitude > uint64_t{1} << 31)
            return false;
        pattern = static_cast<uint32_t>((uint64_t{1} << 32) - magnitude);
    } else {
        pattern = static_cast<uint32_t>(magnitude);
    }
    return true;
}

CSettingsStore::CSettingsStore(const std::string& company, const std::string& application)
    : m_settings(std::make_unique<QSettings>(QString::fromStdString(company),
                                             QString::fromStdString(application)))
{
}

CSettingsStore::CSettingsStore(std::unique_ptr<QSettings> settings) : m_settings(std::move(settings)) {}

CSettingsStore CSettingsStore::AtFile(const std::string& iniPath)
{
    return CSettingsStore(
        std::make_unique<QSettings>(QString::fromStdString(iniPath), QSettings::IniFormat));
}

CSettingsStore::~CSettingsStore() = default;
CSettingsStore::CSettingsStore(CSettingsStore&&) noexcept = default;
CSettingsStore& CSettingsStore::operator=(CSettingsStore&&) noexcept = default;

std::string CSettingsStore::GetProfileString(const std::string& section, const std::string& name,
                                             const std::string& defaultValue) const
{
    const QVariant v = m_settings->value(Key(section, name));
    if (!v.isValid())
        return defaultValue;
    return v.toString().toStdString();
}

uint32_t CSettingsStore::GetProfileInt(const std::string& section, const std::string& name,
                                       uint32_t defaultValue) const
{
    const QVariant v = m_settings->value(Key(section, name));
    uint32_t pattern = 0;
    if (v.isValid() && ParseStoredInt(v.toString().toStdString(), pattern))
        return pattern;
    return defaultValue;
}

void CSettingsStore::WriteProfileString(const std::string& section, const std::string& name,
                                        const std::string& value)
{
    m_settings->setValue(Key(section, name), QString::fromStdString(value));
}

void CSettingsStore::WriteProfileInt(const std::string& section, const std::string& name, int32_t value)
{
    m_settings->setValue(Key(section, name), QString::number(value));
}

void CSettingsStore::WriteProfileInt(const std::string& section, const std::string& name, uint32_t value)
{
    m_settings->setValue(Key(section, name), QString::number(value));
}

bool CSettingsStore::Flush()
{
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

std::string CSettingsStore::Location() const { return m_settings->fileName().toStdString(); }
