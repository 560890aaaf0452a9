// The component's line settings: the settings text and flow control, applied
// to an open port and read back from the driver.
#include "serial/SerialCtl.h"

#include "platform/Failure.h"
#include "platform/SystemError.h"
#include "serial/LineSettings.h"
#include "serial/TermiosHelpers.h"

#include <cerrno>

void SerialCtl::applyConfig(const LineConfig& config, const LineConfig* restore) {
    int rc = m_backend->apply(config);
    if (rc < 0) {
        if (m_open && rc == -EIO) {
            lose(EIO, true);
            deliverLater();
            throw Failure(m_lossDescription, ErrorKind::Lost);
        }
        if (restore)
            m_backend->apply(*restore);
        throw Failure(QStringLiteral("%1 の設定を変更できません。理由: %2")
                          .arg(portName(), describeErrno(-rc)));
    }
    LineConfig actual;
    rc = m_backend->readBack(actual);
    if (rc < 0) {
        if (m_open) {
            raise(CommErrorConfig);
            deliverLater();
        }
        // Refused sets keep the old value, so the port gets it back too.
        if (restore)
            m_backend->apply(*restore);
        throw Failure(QStringLiteral("%1 の設定を読み取れません。理由: %2")
                          .arg(portName(), describeErrno(-rc)));
    }
    LineConfig sameRate = actual;
    sameRate.speed = config.speed;
    if (sameRate != config || !rateWithinTolerance(config.speed, actual.speed)) {
        if (restore)
            m_backend->apply(*restore);
        throw Failure(QStringLiteral("%1 は設定 %2 を受け付けませんでした。実際の設定: %3")
                          .arg(portName(),
                               LineSettings::fromConfig(config).describe(config.handshaking),
                               LineSettings::fromConfig(actual).describe(actual.handshaking)));
    }
    // A rate a little off is what UARTs make; the request stands.
    m_applied = config;
}

QString SerialCtl::Settings() const {
    return m_settings.compose();
}

void SerialCtl::setSettings(const QString& text) {
    const QString refusal = LineSettings::validate(text);
    if (!refusal.isEmpty())
        throw Failure(refusal, ErrorKind::Refused);
    const LineSettings settings = *LineSettings::parse(text);
    if (m_open)
        applyToOpenPort(settings, m_handshaking);
    m_settings = settings;
}

qint32 SerialCtl::Handshaking() const {
    return m_handshaking;
}

void SerialCtl::setHandshaking(qint32 mode) {
    if (mode < 0 || mode > 3)
        throw Failure(QStringLiteral("フロー制御の値 %1 は使えません (0 から 3 まで)。").arg(mode),
                      ErrorKind::Refused);
    if (m_open)
        applyToOpenPort(m_settings, mode);
    m_handshaking = mode;
}

void SerialCtl::applyToOpenPort(const LineSettings& settings, int handshaking) {
    LineConfig config;
    const QString refusal = settings.toConfig(handshaking, config);
    if (!refusal.isEmpty())
        throw Failure(QStringLiteral("%1 に設定 %2 を適用できません: %3")
                          .arg(portName(), settings.compose(), refusal));
    const LineConfig previous = m_applied;
    applyConfig(config, &previous);
}
