#include "LockFile.h"

#include <QFile>
#include <QProcess>

qint64 writeLockFile(const QString& lockPath, bool live, QProcess& sleeper) {
    qint64 pid = 0;
    if (live) {
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        if (!sleeper.waitForStarted())
            return 0;
        pid = sleeper.processId();
    } else {
        QProcess gone;
        gone.start(QStringLiteral("true"), {});
        if (!gone.waitForStarted())
            return 0;
        pid = gone.processId();
        if (!gone.waitForFinished())
            return 0;
    }
    QFile lock(lockPath);
    if (!lock.open(QIODevice::WriteOnly))
        return 0;
    lock.write(QByteArray::number(pid).rightJustified(10, ' ') + "\n");
    return pid;
}
