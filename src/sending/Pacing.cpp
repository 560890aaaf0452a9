#include "sending/Pacing.h"

#include "platform/SettingsStore.h"
#include "settings/PortSettings.h"

#include <algorithm>

namespace {

QString sendingSection() {
    return QStringLiteral("Sending");
}

int readInt(SettingsStore& store, const char* key) {
    bool ok = false;
    const int value =
        store.GetSetting(settingsApp(), sendingSection(), QLatin1String(key), QString()).toInt(&ok);
    return ok ? value : 0;
}

} // namespace

Pacing Pacing::clamped() const {
    Pacing p = *this;
    p.charDelayMs = std::clamp(p.charDelayMs, 0, maxCharDelayMs);
    p.lineDelayMs = std::clamp(p.lineDelayMs, 0, maxLineDelayMs);
    p.echoTimeoutMs = std::clamp(p.echoTimeoutMs, 0, maxEchoTimeoutMs);
    return p;
}

Pacing loadPacing(SettingsStore& store) {
    Pacing p;
    p.charDelayMs = readInt(store, "CharDelay");
    p.lineDelayMs = readInt(store, "LineDelay");
    p.waitEcho = readInt(store, "WaitEcho") != 0;
    p.echoTimeoutMs = readInt(store, "EchoTimeout");
    return p.clamped();
}

bool savePacing(SettingsStore& store, const Pacing& pacing, QString* error) {
    const auto save = [&](const char* key, int value) {
        return store.SaveSetting(settingsApp(), sendingSection(), QLatin1String(key),
                                 QString::number(value), error);
    };
    return save("CharDelay", pacing.charDelayMs) && save("LineDelay", pacing.lineDelayMs) &&
           save("WaitEcho", pacing.waitEcho ? 1 : 0) && save("EchoTimeout", pacing.echoTimeoutMs);
}

bool isLineEnd(const QByteArray& data, qsizetype index) {
    const char c = data.at(index);
    if (c == '\n')
        return true;
    return c == '\r' && (index + 1 == data.size() || data.at(index + 1) != '\n');
}

SendStep planStep(const QByteArray& data, qsizetype pos, const Pacing& pacing, qsizetype maxChunk) {
    SendStep step;
    const qsizetype rest = data.size() - pos;
    if (rest <= 0)
        return step;
    const bool linesPaced = pacing.lineDelayMs > 0 || pacing.echoWaits();
    const auto endsLine = [&](qsizetype length) { return isLineEnd(data, pos + length - 1); };

    if (pacing.charDelayMs > 0) {
        step.length = 1;
    } else if (linesPaced) {
        const qsizetype limit = std::min(rest, std::max<qsizetype>(maxChunk, 1));
        step.length = limit;
        for (qsizetype i = 0; i < limit; ++i) {
            if (isLineEnd(data, pos + i)) {
                step.length = i + 1;
                break;
            }
        }
    } else {
        step.length = std::min(rest, std::max<qsizetype>(maxChunk, 1));
        return step;
    }
    step.delayMs = pacing.charDelayMs;
    if (linesPaced && endsLine(step.length)) {
        step.delayMs += pacing.lineDelayMs;
        step.awaitEcho = pacing.echoWaits();
    }
    return step;
}
