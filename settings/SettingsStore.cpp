#include "settings/SettingsStore.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

// The same file and format QSettings gives for organisation and application "Corvade",
// but looked up anew each time, so the location follows XDG_CONFIG_HOME.
QString IniSettingsStore::defaultFileName()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/Corvade/Corvade.conf");
}

IniSettingsStore::IniSettingsStore(const QString &fileName)
    : m_settings(std::make_unique<QSettings>(fileName.isEmpty() ? defaultFileName() : fileName,
                                             QSettings::IniFormat))
{
}

IniSettingsStore::~IniSettingsStore() = default;

QString IniSettingsStore::value(const QString &section, const QString &key, const QString &defaultText)
{
    const QVariant v = m_settings->value(section + QLatin1Char('/') + key);
    if (!v.isValid())
        return defaultText;
    // An unquoted value with commas comes back as a list; the store's values are texts.
    if (v.userType() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

void IniSettingsStore::setValue(const QString &section, const QString &key, const QString &text)
{
    m_settings->setValue(section + QLatin1Char('/') + key, text);
}

bool IniSettingsStore::flush(QString *reason)
{
    m_settings->sync();
    // QSettings does not always flag a store whose file name is taken by a directory.
    if (m_settings->status() == QSettings::NoError && !QFileInfo(m_settings->fileName()).isDir())
        return true;
    if (reason) {
        const QFileInfo info(m_settings->fileName());
        if (info.isDir())
            *reason = QStringLiteral("it is a directory");
        else if (m_settings->status() == QSettings::AccessError)
            *reason = QStringLiteral("it cannot be written");
        else
            *reason = QStringLiteral("it is not a valid settings file");
    }
    return false;
}

QString IniSettingsStore::loadProblem() const
{
    if (m_settings->status() == QSettings::FormatError)
        return QStringLiteral("it is not a valid settings file");
    if (QFileInfo(m_settings->fileName()).isDir())
        return QStringLiteral("it is a directory");
    return {};
}

QString IniSettingsStore::fileName() const
{
    return m_settings->fileName();
}
