#include "SettingsStore.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include "RegistryKey.h"

namespace polyvant {

namespace {

constexpr const char* kMakerName = "Brellow Soft";

QString SectionName(const char* section)
{
    // The sections are named as in the registry layout with "\" between levels.
    return QString::fromLatin1(section).replace(QLatin1Char('\\'), QLatin1Char('/'));
}

} // namespace

SettingsStore::SettingsStore(const std::string& appKeyName) : m_path(FilePathFor(appKeyName)) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::FilePathFor(const std::string& appKeyName)
{
    // Resolved here rather than by QSettings' own organisation/application lookup,
    // which caches XDG_CONFIG_HOME for the life of the process.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base + QLatin1Char('/') + QLatin1String(kMakerName) + QLatin1Char('/') +
           QString::fromStdString(appKeyName) + QStringLiteral(".conf");
}

void SettingsStore::MoveAside(const QString& why)
{
    const QString aside =
        m_path + QStringLiteral(".corrupt-") + QString::number(QDateTime::currentSecsSinceEpoch());
    if (QFile::rename(m_path, aside))
        m_notice = QStringLiteral("Settings file %1: %2; moved to %3, defaults used")
                       .arg(m_path, why, aside);
    else
        m_notice = QStringLiteral("Settings file %1: %2; defaults used").arg(m_path, why);
}

void SettingsStore::BeginRead()
{
    m_settings.reset();
    m_notice.clear();
    const QFileInfo info(m_path);
    if (info.exists() || info.isSymLink()) {
        if (!info.isFile())
            MoveAside(QStringLiteral("not a regular file"));
        else if (info.size() > kMaxSettingsFileSize)
            MoveAside(QStringLiteral("larger than 1 MiB"));
    }
    m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
    const QSettings::Status status = m_settings->status();
    if (status == QSettings::FormatError) {
        m_settings.reset();
        MoveAside(QStringLiteral("damaged"));
        m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
    }
}

void SettingsStore::DropAbandonedLock() const
{
    // QSettings::sync() waits out the 30 s stale time of an empty lock file that a
    // killed save left behind. An empty lock nobody holds an flock on is dropped.
    const QByteArray lock = QFile::encodeName(m_path + QStringLiteral(".lock"));
    const int fd = ::open(lock.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0)
        ::unlink(lock.constData());
    ::close(fd);
}

void SettingsStore::KeepBackup() const
{
    const QFileInfo info(m_path);
    if (!info.isFile() || info.size() > kMaxSettingsFileSize)
        return;
    if (QSettings(m_path, QSettings::IniFormat).status() != QSettings::NoError)
        return; // only a file that reads cleanly replaces the last good copy
    const QString bak = m_path + QStringLiteral(".bak");
    const QString tmp = bak + QStringLiteral(".tmp");
    QFile::remove(tmp);
    // Copy, then rename: the .bak is never half written either.
    if (QFile::copy(m_path, tmp)) {
        const QByteArray from = QFile::encodeName(tmp), to = QFile::encodeName(bak);
        if (::rename(from.constData(), to.constData()) != 0)
            QFile::remove(tmp);
    }
}

void SettingsStore::BeginWrite()
{
    m_settings.reset();
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    DropAbandonedLock();
    KeepBackup();
    m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
}

bool SettingsStore::Commit()
{
    if (!m_settings)
        return false;
    m_settings->sync();
    const bool ok = m_settings->status() == QSettings::NoError;
    m_settings.reset();
    return ok;
}

long SettingsStore::ParseLong(const std::string& text) noexcept
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\r' || text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t(INT32_MAX) + 1)
            value = std::int64_t(INT32_MAX) + 1; // saturate; clamped below
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        value = INT32_MAX;
    if (value < INT32_MIN)
        value = INT32_MIN;
    return long(value);
}

int SettingsStore::ReadString(const char* section, const char* name, const char* defaultText,
                              std::string& out)
{
    std::string value;
    if (m_settings) {
        RegistryKey key(*m_settings);
        if (key.Create(SectionName(section)) && key.QueryString(QString::fromUtf8(name), value) &&
            value.size() <= kMaxTextLength && value.find('\0') == std::string::npos) {
            out = std::move(value);
            return 1;
        }
    }
    if (defaultText)
        out = defaultText;
    return 1;
}

int SettingsStore::ReadLong(const char* section, const char* name, long defaultValue, long& out)
{
    std::string text;
    const std::string fallback = std::to_string(defaultValue);
    ReadString(section, name, fallback.c_str(), text);
    out = ParseLong(text);
    return 1;
}

int SettingsStore::WriteString(const char* section, const char* name, const std::string& text)
{
    if (!m_settings)
        return 0;
    RegistryKey key(*m_settings);
    if (!key.Create(SectionName(section)))
        return 0;
    key.SetString(QString::fromUtf8(name), text);
    return 1;
}

int SettingsStore::WriteLong(const char* section, const char* name, long value)
{
    return WriteString(section, name, std::to_string(value));
}

int SettingsStore::CountValues(const char* section, int& count)
{
    if (!m_settings)
        return 0;
    RegistryKey key(*m_settings);
    return key.Create(SectionName(section)) && key.QueryValueCount(count) ? 1 : 0;
}

int SettingsStore::EnumValue(const char* section, int index, std::string& name, std::string& data)
{
    if (!m_settings)
        return 0;
    RegistryKey key(*m_settings);
    return key.Create(SectionName(section)) && key.EnumValue(index, name, data) ? 1 : 0;
}

} // namespace polyvant
