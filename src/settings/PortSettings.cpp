#include "settings/PortSettings.h"

#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "serial/ISerialCtl.h"

#include <cmath>
#include <limits>

QStringList offeredPorts() {
    QStringList ports;
    for (int port = 1; port <= 16; ++port)
        ports << QStringLiteral("Com%1").arg(port);
    return ports;
}

QStringList offeredSpeeds() {
    return {QStringLiteral("110"),   QStringLiteral("300"),    QStringLiteral("600"),
            QStringLiteral("1200"),  QStringLiteral("2400"),   QStringLiteral("4800"),
            QStringLiteral("9600"),  QStringLiteral("14400"),  QStringLiteral("19200"),
            QStringLiteral("28800"), QStringLiteral("38400"),  QStringLiteral("56000"),
            QStringLiteral("57600"), QStringLiteral("115200"), QStringLiteral("128000"),
            QStringLiteral("256000")};
}

QStringList offeredParities() {
    return {QStringLiteral("Even"), QStringLiteral("Odd"), QStringLiteral("None"),
            QStringLiteral("Mark"), QStringLiteral("Space")};
}

QStringList offeredDataBits() {
    return {QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"),
            QStringLiteral("8")};
}

QStringList offeredStopBits() {
    return {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")};
}

QStringList offeredFlowModes() {
    return {QStringLiteral("なし"), QStringLiteral("Xon/Xoff"), QStringLiteral("RTS"),
            QStringLiteral("Xon/RTS")};
}

// One character at a 0-based index, or empty when the index is outside.
static QString charAt(const QString& text, qsizetype index) {
    if (index < 0 || index >= text.size())
        return QString();
    return text.mid(index, 1);
}

ParsedSettings parseSettings(const QString& settings) {
    const qsizetype length = settings.size();
    const qsizetype offset = settings.contains(QLatin1Char('.')) ? 2 : 0;
    ParsedSettings parsed;
    const qsizetype speedLength = length - 6 - offset;
    if (speedLength > 0)
        parsed.speed = settings.left(speedLength);
    parsed.parity = charAt(settings, length - 5 - offset);
    parsed.dataBits = charAt(settings, length - 3 - offset);
    if (length >= 1 + offset)
        parsed.stopBits = settings.right(1 + offset);
    return parsed;
}

int parityPosition(const QString& letter) {
    static const QString letters = QStringLiteral("eonms");
    if (letter.size() != 1)
        return -1;
    return int(letters.indexOf(letter.at(0)));
}

QString composeSettings(const QString& speed, const QString& parity, const QString& dataBits,
                        const QString& stopBits) {
    return speed.trimmed() + QLatin1Char(',') + parity.left(1) + QLatin1Char(',') +
           dataBits.trimmed() + QLatin1Char(',') + stopBits.trimmed();
}

// A stored number as an integer of [low, high]: a fraction rounds half to
// even; text that is no number, or a number out of range, is a failure.
static qint64 storedInteger(const QString& text, qint64 low, qint64 high) {
    const QString trimmed = text.trimmed();
    bool ok = false;
    const double value = trimmed.toDouble(&ok);
    if (!ok || std::isnan(value))
        throw Failure(QStringLiteral("型が一致しません。"));
    const double rounded = std::nearbyint(value);
    if (!std::isfinite(rounded) || rounded < double(low) || rounded > double(high))
        throw Failure(QStringLiteral("オーバーフローしました。"));
    return qint64(rounded);
}

qint16 storedInteger16(const QString& text) {
    return qint16(storedInteger(text, std::numeric_limits<qint16>::min(),
                                std::numeric_limits<qint16>::max()));
}

qint32 storedInteger32(const QString& text) {
    return qint32(storedInteger(text, std::numeric_limits<qint32>::min(),
                                std::numeric_limits<qint32>::max()));
}

std::optional<bool> storedBoolean(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

static QString stored(SettingsStore& store, const char* key) {
    return store.GetSetting(settingsApp(), settingsSection(), QLatin1String(key), QString());
}

// Shows the pending failure, if any; true when one was shown.
static bool checkPending(PendingFailure& pending, Prompts& prompts) {
    if (!pending.pending())
        return false;
    prompts.warn(pending.description());
    return true;
}

static void loadStoredValues(ISerialCtl& serial, SettingsStore& store, Prompts& prompts,
                             PendingFailure& pending, bool& LocalEcho) {
    const QString settings = stored(store, "Settings");
    if (!settings.isEmpty()) {
        pending.attempt([&] { serial.setSettings(settings); });
        if (checkPending(pending, prompts))
            return;
    }

    // A port number that does not apply is looked at only with the flow mode.
    const QString port = stored(store, "CommPort");
    if (!port.isEmpty())
        pending.attempt([&] { serial.setCommPort(storedInteger16(port)); });

    const QString flow = stored(store, "Handshaking");
    if (!flow.isEmpty()) {
        pending.attempt([&] { serial.setHandshaking(storedInteger32(flow)); });
        if (checkPending(pending, prompts))
            return;
    }

    if (const auto echo = storedBoolean(stored(store, "Echo")))
        LocalEcho = *echo;
}

void runLoadingSequence(ISerialCtl& serial, SettingsStore& store, Prompts& prompts,
                        PendingFailure& pending, bool& LocalEcho) {
    loadStoredValues(serial, store, prompts, pending, LocalEcho);
    pending.clear();
}

bool runSavingSequence(ISerialCtl& serial, SettingsStore& store, bool LocalEcho, QString* error) {
    bool saved = true;
    const auto save = [&](const char* key, auto&& readBack) {
        QString value;
        try {
            value = readBack();
        } catch (const Failure&) {
            return;
        }
        QString why;
        if (!store.SaveSetting(settingsApp(), settingsSection(), QLatin1String(key), value, &why) &&
            saved) {
            saved = false;
            if (error)
                *error = why;
        }
    };
    save("Settings", [&] { return serial.Settings(); });
    save("CommPort", [&] { return QString::number(serial.CommPort()); });
    save("Handshaking", [&] { return QString::number(serial.Handshaking()); });
    save("Echo", [&] { return LocalEcho ? QStringLiteral("True") : QStringLiteral("False"); });
    return saved;
}
