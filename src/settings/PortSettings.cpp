#include "settings/PortSettings.h"

#include "platform/Failure.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "serial/ISerialCtl.h"
#include "serial/LineSettings.h"
#include "serial/PortResolver.h"

#include <cmath>
#include <limits>

OfferedList offeredPorts(const QString& linkDir) {
    OfferedList ports;
    for (int port = 1; port <= 16; ++port) {
        const ResolvedPort pinned = resolvePort(port, linkDir, {});
        ports.append(
            {QStringLiteral("Com%1").arg(port), port, pinned.pinned ? pinned.display : QString()});
    }
    return ports;
}

OfferedList offeredSpeeds() {
    OfferedList speeds;
    for (const int speed : {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400,
                            56000, 57600, 115200, 128000, 256000})
        speeds.append({QString::number(speed), speed});
    return speeds;
}

OfferedList offeredParities() {
    // The letter written is the name's initial; the one read back is lower case.
    OfferedList parities;
    for (const char* name : {"Even", "Odd", "None", "Mark", "Space"})
        parities.append({QLatin1String(name), QString(QLatin1Char(name[0])).toLower()});
    return parities;
}

OfferedList offeredDataBits() {
    OfferedList dataBits;
    for (int bits = 4; bits <= 8; ++bits)
        dataBits.append({QString::number(bits), bits});
    return dataBits;
}

OfferedList offeredStopBits() {
    return {{QStringLiteral("1"), int(StopBits::One)},
            {QStringLiteral("1.5"), int(StopBits::OneAndHalf)},
            {QStringLiteral("2"), int(StopBits::Two)}};
}

QStringList offeredFlowModes() {
    QStringList modes;
    for (qint32 mode = 0; mode <= 3; ++mode)
        modes << flowControlName(mode);
    return modes;
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
    const QString settings = stored(store, StoredKey::Settings);
    if (!settings.isEmpty()) {
        pending.attempt([&] { serial.setSettings(settings); });
        if (checkPending(pending, prompts))
            return;
    }

    // A port number that does not apply is looked at only with the flow mode.
    const QString port = stored(store, StoredKey::CommPort);
    if (!port.isEmpty())
        pending.attempt([&] { serial.setCommPort(storedInteger16(port)); });

    const QString flow = stored(store, StoredKey::Handshaking);
    if (!flow.isEmpty()) {
        pending.attempt([&] { serial.setHandshaking(storedInteger32(flow)); });
        if (checkPending(pending, prompts))
            return;
    }

    if (const auto echo = storedBoolean(stored(store, StoredKey::Echo)))
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
    save(StoredKey::Settings, [&] { return serial.Settings(); });
    save(StoredKey::CommPort, [&] { return QString::number(serial.CommPort()); });
    save(StoredKey::Handshaking, [&] { return QString::number(serial.Handshaking()); });
    save(StoredKey::Echo,
         [&] { return LocalEcho ? QStringLiteral("True") : QStringLiteral("False"); });
    return saved;
}
