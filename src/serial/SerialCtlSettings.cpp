// The component's line settings: the settings text and flow control, applied
// to an open port and read back from the driver.
#include "serial/SerialCtl.h"

#include "platform/Failure.h"
#include "platform/SystemError.h"
#include "serial/LineSettings.h"

#include <QTimer>
#include <cerrno>

bool SerialCtl::applyConfig(const LineConfig& config, const LineConfig* restore) {
    const bool open = m_session->isOpen();
    const PortSession::Applied applied = m_session->apply(config, restore);
    if (applied.pending)
        return true;
    if (applied.applyError == EIO && open) {
        m_session->lose(EIO, true);
        deliverLater();
        throw Failure(m_lossDescription, ErrorKind::Lost);
    }
    const QString failure = appliedFailure(applied, open);
    if (!failure.isEmpty())
        throw Failure(failure);
    return false;
}

QString SerialCtl::appliedFailure(const PortSession::Applied& applied, bool open) {
    if (applied.applyError) {
        const QString told = m_session->backend().explain(applied.applyError);
        return told.isEmpty()
                   ? QStringLiteral("%1 の設定を変更できません。理由: %2")
                         .arg(portName(), describeErrno(applied.applyError))
                   : QStringLiteral("%1 の設定を変更できません。%2").arg(portName(), told);
    }
    if (applied.readBackError) {
        if (open) {
            raise(CommErrorConfig);
            deliverLater();
        }
        return QStringLiteral("%1 の設定を読み取れません。理由: %2")
            .arg(portName(), describeErrno(applied.readBackError));
    }
    if (applied.kept) {
        const LineConfig& config = applied.requested;
        return QStringLiteral("%1 は設定 %2 を受け付けませんでした。実際の設定: %3")
            .arg(portName(), LineSettings::fromConfig(config).describe(config.handshaking),
                 LineSettings::fromConfig(applied.actual).describe(applied.actual.handshaking));
    }
    return {};
}

// A far end's answers, looked at from the event loop: a settings change
// that did not take is undone and told, a line change never confirmed noticed.
void SerialCtl::checkAnswers() {
    if (m_changing && m_session->isOpen()) {
        const PortSession::Applied applied = m_session->settle();
        if (!applied.pending) {
            m_changing = false;
            // A line gone meanwhile is told as a loss by the reader.
            const QString failure =
                applied.applyError == EIO ? QString() : appliedFailure(applied, true);
            if (!applied.ok() && !failure.isEmpty()) {
                m_settings = m_confirmedSettings;
                m_handshaking = m_confirmedHandshaking;
                emit SettingsRefused(failure);
            }
        }
    }
    int lines = 0;
    const int rc = m_session->isOpen() ? m_session->backend().unconfirmed(lines) : 0;
    if (lines & LineDTR)
        noticeUnconfirmed(-ETIMEDOUT, QStringLiteral("DTR"));
    if (lines & LineRTS)
        noticeUnconfirmed(-ETIMEDOUT, QStringLiteral("RTS"));
    if (!m_session->isOpen() || (!m_changing && rc != -EINPROGRESS)) {
        m_changing = false;
        m_answerTimer->stop();
    }
}

void SerialCtl::awaitAnswers() {
    if (!m_answerTimer->isActive())
        m_answerTimer->start();
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
    const bool wasChanging = m_changing;
    if (!applyConfig(config, &previous))
        return;
    // Taken for now; undone if the far end does not confirm it.
    if (!wasChanging) {
        m_confirmedSettings = m_settings;
        m_confirmedHandshaking = m_handshaking;
    }
    m_changing = true;
    awaitAnswers();
}
