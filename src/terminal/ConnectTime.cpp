#include "terminal/ConnectTime.h"

QString formatConnectTime(qint64 elapsedMs) {
    const qint64 seconds = qMax<qint64>(0, (elapsedMs + 500) / 1000) % (24 * 60 * 60);
    return QStringLiteral("%1:%2:%3 ")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
