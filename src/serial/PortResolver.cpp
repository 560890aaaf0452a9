#include "serial/PortResolver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <climits>
#include <unistd.h>

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
        const QString target = linkText(link);
        if (RemoteTarget::parse(target).isValid()) {
            port.remote = true;
            port.display = link + QStringLiteral(" → ") + target;
            return port;
        }
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

QString linkText(const QString& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return n > 0 ? QFile::decodeName(QByteArray(buffer, int(n))) : QString();
}

QString RemoteTarget::hostPort() const {
    const QString shown = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(shown).arg(port);
}

RemoteTarget RemoteTarget::parse(const QString& url) {
    static const QRegularExpression form(QStringLiteral(
        "^(rfc2217|tcp)://(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9.-]+)):(\\d{1,5})/?$"));
    const auto match = form.match(url);
    RemoteTarget target;
    if (!match.hasMatch())
        return target;
    const int port = match.captured(4).toInt();
    const QString host = match.captured(2).isEmpty() ? match.captured(3) : match.captured(2);
    if (port < 1 || port > 65535 || host.startsWith(QLatin1Char('-')) ||
        host.startsWith(QLatin1Char('.')))
        return target;
    target.kind = match.captured(1) == QLatin1String("tcp") ? Kind::RawTcp : Kind::Rfc2217;
    target.host = host;
    target.port = quint16(port);
    return target;
}
