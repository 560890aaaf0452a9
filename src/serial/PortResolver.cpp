#include "serial/PortResolver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

QString portLinkDir() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/velmora/ports");
}

SystemPaths SystemPaths::live() {
    SystemPaths paths;
    paths.ports = portLinkDir();
    return paths;
}

namespace {

QStringList numbered(const QString& devDir, const QString& prefix) {
    const QRegularExpression form(QStringLiteral("^%1(\\d+)$").arg(prefix));
    QVector<QPair<long, QString>> found;
    const QStringList names =
        QDir(devDir).entryList({prefix + QLatin1Char('*')}, QDir::System | QDir::Files);
    for (const QString& name : names) {
        const auto match = form.match(name);
        if (match.hasMatch())
            found.append({match.captured(1).toLong(), name});
    }
    std::sort(found.begin(), found.end());
    QStringList result;
    for (const auto& entry : found)
        result << entry.second;
    return result;
}

} // namespace

QStringList presentSerialDevices(const SystemPaths& paths) {
    const QString& devDir = paths.dev;
    QStringList result;
    for (const QString& name :
         numbered(devDir, QStringLiteral("ttyUSB")) + numbered(devDir, QStringLiteral("ttyACM")))
        result << devDir + QLatin1Char('/') + name;
    // Built-in ttyS entries exist whether or not a UART is behind them; the
    // type says so without opening (which would raise DTR).
    for (const QString& name : numbered(devDir, QStringLiteral("ttyS"))) {
        QFile type(paths.sysTty + QLatin1Char('/') + name + QStringLiteral("/type"));
        if (!type.open(QIODevice::ReadOnly))
            continue;
        const QByteArray value = type.readAll().trimmed();
        if (!value.isEmpty() && value != "0")
            result << devDir + QLatin1Char('/') + name;
    }
    return result;
}

ResolvedPort resolvePort(int number, const QString& linkDir, const QStringList& present) {
    ResolvedPort port;
    const QString link = linkDir + QStringLiteral("/com%1").arg(number);
    const QFileInfo info(link);
    if (info.isSymLink() || info.exists()) {
        port.path = link;
        port.pinned = true;
        port.display =
            info.isSymLink() ? link + QStringLiteral(" → ") + info.symLinkTarget() : link;
        return port;
    }
    port.present = int(present.size());
    if (number >= 1 && number <= present.size()) {
        port.path = present.at(number - 1);
        port.display = port.path;
    }
    return port;
}
