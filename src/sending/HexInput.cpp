#include "sending/HexInput.h"

namespace {

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

HexInput refuse(qsizetype index, const QString& text) {
    HexInput result;
    result.badPosition = index + 1;
    if (index < text.size())
        result.error = QStringLiteral("%1 文字目の「%2」は16進の2桁になっていません。")
                           .arg(index + 1)
                           .arg(text.at(index));
    else
        result.error = QStringLiteral("%1 文字目で16進の2桁目が足りません。").arg(index + 1);
    return result;
}

} // namespace

HexInput parseHexInput(const QString& text) {
    HexInput result;
    qsizetype i = 0;
    while (i < text.size()) {
        if (isBlank(text.at(i))) {
            ++i;
            continue;
        }
        const int high = hexValue(text.at(i));
        if (high < 0)
            return refuse(i, text);
        if (i + 1 >= text.size())
            return refuse(i + 1, text);
        const int low = hexValue(text.at(i + 1));
        if (low < 0)
            return refuse(i + 1, text);
        result.bytes.append(char(high * 16 + low));
        i += 2;
    }
    if (result.bytes.isEmpty()) {
        result.error = QStringLiteral("送信するﾊﾞｲﾄがありません。");
        return result;
    }
    result.ok = true;
    return result;
}
