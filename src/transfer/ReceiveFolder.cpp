#include "transfer/ReceiveFolder.h"

#include "platform/SettingsStore.h"
#include "settings/PortSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>

namespace {

QString transferSection() {
    return QStringLiteral("Transfer");
}

QString folderKey() {
    return QStringLiteral("ReceiveFolder");
}

} // namespace

QString receiveFolder(SettingsStore& store) {
    QString fallback = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (fallback.isEmpty())
        fallback = QDir::home().filePath(QStringLiteral("Downloads"));
    const QString chosen =
        store.GetSetting(settingsApp(), transferSection(), folderKey(), QString());
    return chosen.isEmpty() ? fallback : chosen;
}

bool saveReceiveFolder(SettingsStore& store, const QString& folder, QString* error) {
    return store.SaveSetting(settingsApp(), transferSection(), folderKey(), folder, error);
}

QString freeName(const QString& folder, const QString& name) {
    const QDir dir(folder);
    if (!QFileInfo::exists(dir.filePath(name)))
        return name;
    // "fw.tar.gz" numbers as "fw (1).tar.gz"; a leading dot is no extension.
    const qsizetype dot = name.indexOf(QLatin1Char('.'), 1);
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    for (int n = 1;; ++n) {
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem).arg(n).arg(ext);
        if (!QFileInfo::exists(dir.filePath(candidate)))
            return candidate;
    }
}

QStringList moveReceived(const QString& from, const QString& folder, QString* error) {
    QStringList given;
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("受信ﾌｫﾙﾀﾞを作れません: %1").arg(folder);
        return given;
    }
    const QFileInfoList files = QDir(from).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QFileInfo& file : files) {
        // renameat2 without replacing: a file that appears meanwhile under
        // the chosen name is not overwritten, the next number is tried.
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const QString name = freeName(folder, file.fileName());
            const QByteArray source = QFile::encodeName(file.filePath());
            const QByteArray target = QFile::encodeName(QDir(folder).filePath(name));
            if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(),
                            RENAME_NOREPLACE) == 0) {
                given << name;
                break;
            }
            if (errno == EEXIST)
                continue;
            // Another file system, or no such call: copy, which never replaces.
            if (QFile::copy(file.filePath(), QDir(folder).filePath(name))) {
                QFile::remove(file.filePath());
                given << name;
            } else if (error) {
                *error = QStringLiteral("%1 を受信ﾌｫﾙﾀﾞに移せません: %2")
                             .arg(file.fileName(), QString::fromLocal8Bit(std::strerror(errno)));
            }
            break;
        }
    }
    return given;
}
