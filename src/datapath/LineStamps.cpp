#include "datapath/LineStamps.h"

#include <QDateTime>

QString stampText(qint64 msSinceEpoch) {
    return QDateTime::fromMSecsSinceEpoch(msSinceEpoch)
        .time()
        .toString(QStringLiteral("[hh:mm:ss.zzz] "));
}

QString insertStamps(const QString& edited, const QString& stamp, bool& atLineStart) {
    if (edited.isEmpty())
        return edited;
    QString stamped;
    stamped.reserve(edited.size() + stamp.size() * 2);
    qsizetype from = 0;
    while (from < edited.size()) {
        if (atLineStart)
            stamped += stamp;
        const qsizetype lf = edited.indexOf(QChar(10), from);
        const qsizetype end = lf < 0 ? edited.size() : lf + 1;
        stamped += QStringView(edited).mid(from, end - from);
        atLineStart = lf >= 0;
        from = end;
    }
    return stamped;
}
