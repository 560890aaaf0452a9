// Opening the port: found, locked, opened (a connection may take a while),
// set up (a far end may confirm its settings later), and opened again after
// a loss. Whatever takes a while is looked at on a timer, never waited for.
#include "serial/SerialCtl.h"

#include "platform/Failure.h"
#include "platform/SystemError.h"

#include <QFileInfo>
#include <QTimer>

void SerialCtl::openPort() {
    LineConfig config;
    const QString refusal = configFor(config);
    if (!refusal.isEmpty())
        throw Failure(refusal, ErrorKind::Refused);

    const OpenFailure found = m_opener.resolve(m_port);
    if (found)
        throw Failure(describe(found), found.kind());
    openDevice(found.port, config);
    m_session->clearInput();
}

void SerialCtl::openDevice(const ResolvedPort& port, const LineConfig& config) {
    const OpenFailure failure = m_opener.open(port, m_session->backend(), m_session->lock(), false);
    if (failure)
        throw Failure(describe(failure), failure.kind());
    if (failure.pending || startOpened(port, config))
        beginConnecting(port, false);
}

void SerialCtl::beginConnecting(const ResolvedPort& port, bool again) {
    m_connecting = true;
    m_connectingAgain = again;
    m_connectingPort = port;
    m_connectTimer->start();
}

void SerialCtl::cancelConnecting() {
    m_connectTimer->stop();
    m_connecting = false;
    m_settlingOpen = false;
    m_session->close();
}

void SerialCtl::settleConnecting() {
    const ResolvedPort port = m_connectingPort;
    QString why;
    try {
        if (m_settlingOpen) {
            const PortSession::Applied applied = m_session->settle();
            if (applied.pending)
                return;
            m_settlingOpen = false;
            why = appliedFailure(applied, false);
            LineConfig latest;
            if (!why.isEmpty())
                m_session->close();
            else if (!configFor(latest).isEmpty() || latest == applied.requested)
                finishOpened(port);
            else if (startOpened(port, latest)) // changed meanwhile: those count
                return;
        } else {
            const OpenFailure failure =
                m_opener.finish(port, m_session->backend(), m_session->lock());
            if (failure.pending)
                return;
            // Settings changed meanwhile are the ones that count.
            LineConfig config;
            why = failure ? describe(failure) : configFor(config);
            if (!why.isEmpty())
                m_session->close();
            else if (startOpened(port, config))
                return;
        }
    } catch (const Failure& refused) {
        why = refused.description();
    }
    m_connectTimer->stop();
    m_connecting = false;
    if (m_connectingAgain) {
        if (why.isEmpty())
            announceReconnect(port);
        m_reconnector->tried(why.isEmpty());
        return;
    }
    emit OpenSettled(why);
}

bool SerialCtl::startOpened(const ResolvedPort& port, const LineConfig& config) {
    m_display = port.display;
    try {
        m_settlingOpen = applyConfig(config, nullptr);
    } catch (const Failure&) {
        m_session->close();
        throw;
    }
    if (!m_settlingOpen)
        finishOpened(port);
    return m_settlingOpen;
}

void SerialCtl::finishOpened(const ResolvedPort& port) {
    int dtrSet = 0;
    if (const int error = m_session->start(m_dtr, &dtrSet)) {
        m_session->close();
        throw Failure(QStringLiteral("Com%1 を開けません: 受信を始められません。理由: %2")
                          .arg(m_port)
                          .arg(describeErrno(error)));
    }
    // A pty has no DTR; a real failure shows in DTREnable's set.
    noticeUnconfirmed(dtrSet, QStringLiteral("DTR"));
    // Opening raises RTS by itself; only a lowered RTS needs saying again.
    if (!m_rts && rtsIsOurs())
        noticeUnconfirmed(m_session->backend().setRts(false), QStringLiteral("RTS"));
    m_events.clear();
    m_opened = OpenedDevice::of(m_port, port, m_opener.paths());
}

Reconnector::Reopened SerialCtl::reopen(const ResolvedPort& port) {
    using Reopened = Reconnector::Reopened;
    LineConfig config;
    if (!configFor(config).isEmpty())
        return Reopened::No;
    // Still away, busy or not ready: the wait goes on, and nobody reads why.
    const OpenFailure failure = m_opener.open(port, m_session->backend(), m_session->lock(), false);
    if (failure)
        return Reopened::No;
    try {
        if (failure.pending || startOpened(port, config)) {
            beginConnecting(port, true);
            return Reopened::Later;
        }
    } catch (const Failure&) {
        return Reopened::No;
    }
    announceReconnect(port);
    return Reopened::Yes;
}

void SerialCtl::announceReconnect(const ResolvedPort& port) {
    const QString device = QFileInfo(port.path).canonicalFilePath();
    m_reconnectDescription = QStringLiteral("Com%1 に再接続しました (%2)。")
                                 .arg(m_port)
                                 .arg(device.isEmpty() ? port.display : device);
    m_events.mark(CommEventQueue::Reconnected);
    deliverLater();
}

void SerialCtl::stopWaiting() {
    if (m_connecting && m_connectingAgain)
        cancelConnecting();
    m_reconnector->stop();
}
