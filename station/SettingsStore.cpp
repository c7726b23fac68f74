#include "SettingsStore.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSettings>

namespace {

QString Key(const std::string& section, const std::string& name)
{
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(name);
}

bool ReadSettingsDevice(QIODevice& device, QSettings::SettingsMap& map)
{
    const QByteArray bytes = device.readAll();
    const CSettingsValues values =
        ParseSettingsText(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    for (const auto& [key, value] : values)
        map.insert(QString::fromStdString(key), QString::fromStdString(value));
    return true;
}

bool WriteSettingsDevice(QIODevice& device, const QSettings::SettingsMap& map)
{
    CSettingsValues values;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        values[it.key().toStdString()] = it.value().toString().toStdString();
    const std::string text = RenderSettingsText(values);
    return device.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
}

// The store's INI files: the same file name as QSettings' own (.conf),
// read and written by the rules above.
QSettings::Format TextFormat()
{
#ifdef Q_OS_WIN
    return QSettings::NativeFormat;
#else
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("conf"), ReadSettingsDevice, WriteSettingsDevice);
    return format;
#endif
}

}  // namespace

CSettingsStore::CSettingsStore(const std::string& company, const std::string& application)
    : m_settings(std::make_unique<QSettings>(TextFormat(), QSettings::UserScope,
                                             QString::fromStdString(company),
                                             QString::fromStdString(application)))
{
    // Only the user's own file: no "<company>.conf" beside it and no system
    // files, which would supply values the operator never wrote.
    m_settings->setFallbacksEnabled(false);
}

CSettingsStore::CSettingsStore(std::unique_ptr<QSettings> settings) : m_settings(std::move(settings)) {}

CSettingsStore CSettingsStore::AtFile(const std::string& iniPath)
{
    return CSettingsStore(
        std::make_unique<QSettings>(QString::fromStdString(iniPath), TextFormat()));
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
    // A writer killed between creating the lock file and writing its process
    // id into it leaves an empty lock, which QSettings only takes for stale
    // after 30 s: the first write after such a crash would hang the station
    // that long. A live writer fills its lock within microseconds.
    const QString lock = m_settings->fileName() + QStringLiteral(".lock");
    const QFileInfo info(lock);
    if (info.exists() && info.isFile() && info.size() == 0 &&
        info.lastModified().msecsTo(QDateTime::currentDateTime()) > 100)
        QFile::remove(lock);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

std::string CSettingsStore::Location() const { return m_settings->fileName().toStdString(); }
