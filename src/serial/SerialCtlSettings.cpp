// The component's line settings: the settings text and flow control, applied
// to an open port and read back from the driver.
#include "serial/SerialCtl.h"

#include "platform/Failure.h"
#include "platform/SystemError.h"
#include "serial/LineSettings.h"

#include <cerrno>

void SerialCtl::applyConfig(const LineConfig& config, const LineConfig* restore) {
    const bool open = m_session->isOpen();
    const PortSession::Applied applied = m_session->apply(config, restore);
    if (applied.applyError == EIO && open) {
        m_session->lose(EIO, true);
        deliverLater();
        throw Failure(m_lossDescription, ErrorKind::Lost);
    }
    if (applied.applyError)
        throw Failure(QStringLiteral("%1 の設定を変更できません。理由: %2")
                          .arg(portName(), describeErrno(applied.applyError)));
    if (applied.readBackError) {
        if (open) {
            raise(CommErrorConfig);
            deliverLater();
        }
        throw Failure(QStringLiteral("%1 の設定を読み取れません。理由: %2")
                          .arg(portName(), describeErrno(applied.readBackError)));
    }
    if (applied.kept)
        throw Failure(
            QStringLiteral("%1 は設定 %2 を受け付けませんでした。実際の設定: %3")
                .arg(
                    portName(), LineSettings::fromConfig(config).describe(config.handshaking),
                    LineSettings::fromConfig(applied.actual).describe(applied.actual.handshaking)));
}

QString SerialCtl::Settings() const {
    return m_settings.compose();
}

void SerialCtl::setSettings(const QString& text) {
    const QString refusal = LineSettings::validate(text);
    if (!refusal.isEmpty())
        throw Failure(refusal, ErrorKind::Refused);
    const LineSettings settings = *LineSettings::parse(text);
    if (m_session->isOpen())
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
    if (m_session->isOpen())
        applyToOpenPort(m_settings, mode);
    m_handshaking = mode;
}

void SerialCtl::applyToOpenPort(const LineSettings& settings, int handshaking) {
    LineConfig config;
    const QString refusal = settings.toConfig(handshaking, config);
    if (!refusal.isEmpty())
        throw Failure(QStringLiteral("%1 に設定 %2 を適用できません: %3")
                          .arg(portName(), settings.compose(), refusal));
    const LineConfig previous = m_session->applied();
    applyConfig(config, &previous);
}
