#include "platform/SettingsStore.h"

#include "platform/SystemError.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cerrno>

QSettingsStore::QSettingsStore(QString filePath) : m_filePath(std::move(filePath)) {}

QString QSettingsStore::fileFor(const QString& app) const {
    if (!m_filePath.isEmpty())
        return m_filePath;
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return base + QLatin1Char('/') + app + QLatin1Char('/') + app + QStringLiteral(".conf");
}

QString QSettingsStore::GetSetting(const QString& app, const QString& section, const QString& key,
                                   const QString& defaultValue) {
    QSettings settings(fileFor(app), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return defaultValue;
    const QVariant value = settings.value(section + QLatin1Char('/') + key);
    if (!value.isValid())
        return defaultValue;
    // A value edited by hand without quotes reads as a list at its commas.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

bool QSettingsStore::SaveSetting(const QString& app, const QString& section, const QString& key,
                                 const QString& value, QString* error) {
    const QString path = fileFor(app);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings settings(path, QSettings::IniFormat);
    // Written to a temporary file and renamed over the old one, never in place.
    settings.setAtomicSyncRequired(true);
    settings.setValue(section + QLatin1Char('/') + key, value);
    errno = 0;
    settings.sync();
    // A format error only says the old file was unreadable; it is replaced.
    if (settings.status() != QSettings::AccessError)
        return true;
    // QSettings gives no reason of its own; the failed call's errno does.
    const int reason = errno;
    if (error)
        *error =
            QStringLiteral("設定を %1 に保存できません: %2")
                .arg(path, reason != 0 ? describeErrno(reason) : QStringLiteral("書き込めません"));
    return false;
}

static QString memoryKey(const QString& app, const QString& section, const QString& key) {
    return app + QLatin1Char('/') + section + QLatin1Char('/') + key;
}

QString MemorySettingsStore::GetSetting(const QString& app, const QString& section,
                                        const QString& key, const QString& defaultValue) {
    return values.value(memoryKey(app, section, key), defaultValue);
}

bool MemorySettingsStore::SaveSetting(const QString& app, const QString& section,
                                      const QString& key, const QString& value, QString* error) {
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return false;
    }
    values.insert(memoryKey(app, section, key), value);
    ++saves;
    return true;
}
