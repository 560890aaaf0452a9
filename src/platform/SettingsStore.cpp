#include "platform/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

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

void QSettingsStore::SaveSetting(const QString& app, const QString& section, const QString& key,
                                 const QString& value) {
    const QString path = fileFor(app);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings settings(path, QSettings::IniFormat);
    // Written to a temporary file and renamed over the old one, never in place.
    settings.setAtomicSyncRequired(true);
    settings.setValue(section + QLatin1Char('/') + key, value);
    settings.sync();
}

static QString memoryKey(const QString& app, const QString& section, const QString& key) {
    return app + QLatin1Char('/') + section + QLatin1Char('/') + key;
}

QString MemorySettingsStore::GetSetting(const QString& app, const QString& section,
                                        const QString& key, const QString& defaultValue) {
    return values.value(memoryKey(app, section, key), defaultValue);
}

void MemorySettingsStore::SaveSetting(const QString& app, const QString& section,
                                      const QString& key, const QString& value) {
    values.insert(memoryKey(app, section, key), value);
    ++saves;
}
