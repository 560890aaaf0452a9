// Output control the sending commands use: dropping queued output, BREAK and RTS.
#include "serial/SerialCtl.h"

#include "platform/Failure.h"
#include "platform/SystemError.h"

#include <QTimer>
#include <cerrno>

namespace {

constexpr int breakMs = 250;

} // namespace

void SerialCtl::discardOutput() {
    m_session->discardOutput();
}

void SerialCtl::sendBreak() {
    if (!m_session->isOpen())
        throw Failure(
            QStringLiteral("Com%1 は開いていないためﾌﾞﾚｰｸ信号を送れません。").arg(m_port));
    const int rc = m_session->backend().setBreak(true);
    if (rc < 0)
        throw Failure(QStringLiteral("%1 でﾌﾞﾚｰｸ信号を送れません。理由: %2")
                          .arg(portName(), describeErrno(-rc)));
    // Ended from the event loop so the window does not wait out the break.
    QTimer::singleShot(breakMs, this, [this] {
        if (m_session->isOpen())
            m_session->backend().setBreak(false);
    });
}

bool SerialCtl::RTSEnable() const {
    return m_rts;
}

void SerialCtl::setRTSEnable(bool enable) {
    if (m_session->isOpen() && rtsIsOurs()) {
        const int rc = m_session->backend().setRts(enable);
        if (rc < 0 && rc != -ENOTTY && rc != -EINVAL &&
            !noticeUnconfirmed(rc, QStringLiteral("RTS")))
            throw Failure(QStringLiteral("%1 の RTS 信号を変更できません。理由: %2")
                              .arg(portName(), describeErrno(-rc)));
    }
    m_rts = enable;
}
