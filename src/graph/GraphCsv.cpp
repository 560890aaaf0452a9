#include "graph/GraphCsv.h"

#include "graph/GraphFeed.h"

#include <QDateTime>
#include <QSaveFile>
#include <charconv>
#include <cmath>

namespace {

constexpr qsizetype flushBytes = 1 << 20;

QByteArray quoted(const QString& name) {
    QByteArray text = name.toUtf8();
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    return '"' + text.replace("\"", "\"\"") + '"';
}

// The local time of a read; the date and second part is made once a second.
class TimeText {
public:
    void append(QByteArray& out, qint64 ms) {
        const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
        if (second != m_second || m_prefix.isEmpty()) {
            m_second = second;
            m_prefix = QDateTime::fromMSecsSinceEpoch(second * 1000)
                           .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss."))
                           .toLatin1();
        }
        const int milli = int(ms - second * 1000);
        out += m_prefix;
        out += char('0' + milli / 100);
        out += char('0' + milli / 10 % 10);
        out += char('0' + milli % 10);
    }

private:
    qint64 m_second = 0;
    QByteArray m_prefix;
};

} // namespace

QByteArray csvNumber(double value, bool wide) {
    char text[400];
    std::to_chars_result printed;
    const double size = std::fabs(value);
    // Plain digits where they stay short; the shortest form elsewhere.
    const auto format = size == 0 || (size >= 1e-4 && size < 1e15) ? std::chars_format::fixed
                                                                   : std::chars_format::general;
    if (wide)
        printed = std::to_chars(text, text + sizeof text, value, format);
    else
        printed = std::to_chars(text, text + sizeof text, float(value), format);
    return QByteArray(text, int(printed.ptr - text));
}

bool writeGraphCsv(const GraphFeed& feed, const QString& path, QString* error) {
    const SampleStore& store = feed.store();
    const QStringList& names = feed.parser().channels();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QByteArray out("\xef\xbb\xbf");
    out += QStringLiteral("時刻").toUtf8();
    for (int channel = 0; channel < store.channelCount(); ++channel)
        out += ',' + quoted(names.value(channel));
    out += "\r\n";
    TimeText time;
    bool written = true;
    for (qint64 sample = store.first(); sample < store.end() && written; ++sample) {
        time.append(out, store.timeAt(sample));
        for (int channel = 0; channel < store.channelCount(); ++channel) {
            out += ',';
            if (store.present(channel, sample))
                out += csvNumber(store.valueAt(channel, sample), store.wide(channel));
        }
        out += "\r\n";
        if (out.size() >= flushBytes) {
            written = file.write(out) == out.size();
            out.clear();
        }
    }
    if (!written || file.write(out) != out.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
