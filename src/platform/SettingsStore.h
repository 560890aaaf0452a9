#pragma once

#include <QMap>
#include <QString>
#include <memory>

// Per-user store of text values by application, section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString GetSetting(const QString& app, const QString& section, const QString& key,
                               const QString& defaultValue) = 0;
    // False with a description naming the file and the reason when the value
    // did not reach the store.
    virtual bool SaveSetting(const QString& app, const QString& section, const QString& key,
                             const QString& value, QString* error) = 0;
};

// QSettings in the user's configuration folder (~/.config/<app>/<app>.conf).
// An unreadable or corrupt file reads as empty; QSettings writes atomically.
class QSettingsStore : public SettingsStore {
public:
    // An empty path means the standard per-user location.
    explicit QSettingsStore(QString filePath = QString());
    QString GetSetting(const QString& app, const QString& section, const QString& key,
                       const QString& defaultValue) override;
    bool SaveSetting(const QString& app, const QString& section, const QString& key,
                     const QString& value, QString* error) override;

private:
    QString fileFor(const QString& app) const;
    QString m_filePath;
};

// In memory, for tests and tools.
class MemorySettingsStore : public SettingsStore {
public:
    QString GetSetting(const QString& app, const QString& section, const QString& key,
                       const QString& defaultValue) override;
    bool SaveSetting(const QString& app, const QString& section, const QString& key,
                     const QString& value, QString* error) override;
    QMap<QString, QString> values; // "app/section/key" -> value
    int saves = 0;
    QString failure; // when set, every save fails with it
};
