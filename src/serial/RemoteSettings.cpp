// A remote port's settings and lines: sent to the server without waiting,
// the answers looked at when asked for.
#include "serial/RemotePort.h"

#include <algorithm>
#include <iterator>

namespace remote {

namespace {

using TC = TelnetComPort;

constexpr auto answerLimit = std::chrono::seconds(2);
// ser2net does not answer DTR and RTS on a pty.
constexpr auto lineLimit = std::chrono::milliseconds(500);

QByteArray byteCommand(int code, int value) {
    return TC::command(code, static_cast<unsigned char>(value));
}

} // namespace

int RemoteBackend::post(const QByteArray& commands, Ask* ask, std::initializer_list<int> keys,
                        int answersEach, std::chrono::milliseconds limit) {
    {
        const std::lock_guard<std::mutex> lock(m_link->mutex);
        if (m_link->ended)
            return -EIO;
        if (ask) {
            *ask = Ask();
            ask->active = true;
            ask->deadline = Clock::now() + limit;
            for (const int key : keys)
                ask->need[key] = m_link->answers[key] + quint64(answersEach);
        }
        m_link->control += commands;
    }
    wake();
    return 0;
}

int RemoteBackend::state(Ask& ask, std::initializer_list<int> keys) const {
    if (m_link->ended)
        return -EIO;
    if (!ask.active)
        return 0;
    const bool answered = std::all_of(
        keys.begin(), keys.end(), [&](int key) { return m_link->answers[key] >= ask.need[key]; });
    if (answered || Clock::now() >= ask.deadline) {
        ask.active = false;
        return answered ? 0 : -ETIMEDOUT;
    }
    return -EINPROGRESS;
}

// The settings and, right behind them, the question what the port now has:
// an acknowledgement alone proves nothing.
int RemoteBackend::apply(const LineConfig& config) {
    m_config = config;
    if (!telnet())
        return 0;
    if (config.handshaking == 3)
        return -bothFlowsError;
    static const char parities[] = {'n', 'o', 'e', 'm', 's'};
    const auto parity = int(std::find(std::begin(parities), std::end(parities), config.parity) -
                            std::begin(parities) + 1);
    static const int flows[] = {1, 2, 3};
    const QByteArray commands = TC::command(TC::SetBaudrate, quint32(config.speed)) +
                                byteCommand(TC::SetDatasize, config.dataBits) +
                                byteCommand(TC::SetParity, parity) +
                                byteCommand(TC::SetStopsize, config.twoStopBits ? 2 : 1) +
                                byteCommand(TC::SetControl, flows[config.handshaking]) +
                                TC::command(TC::SetBaudrate, quint32(0)) +
                                byteCommand(TC::SetDatasize, 0) + byteCommand(TC::SetParity, 0) +
                                byteCommand(TC::SetStopsize, 0) + byteCommand(TC::SetControl, 0);
    const int rc = post(commands, &m_settingsAsk,
                        {TC::SetBaudrate, TC::SetDatasize, TC::SetParity, TC::SetStopsize, flowKey},
                        2, answerLimit);
    return rc == 0 ? -EINPROGRESS : rc;
}

int RemoteBackend::readBack(LineConfig& config) {
    if (!telnet()) {
        config = m_config;
        return 0;
    }
    if (!m_link)
        return -EBADF;
    QByteArray values[keyCount];
    {
        const std::lock_guard<std::mutex> lock(m_link->mutex);
        const int rc = state(m_settingsAsk, {TC::SetBaudrate, TC::SetDatasize, TC::SetParity,
                                             TC::SetStopsize, flowKey});
        if (rc != 0)
            return rc;
        std::copy(std::begin(m_link->values), std::end(m_link->values), values);
    }
    const QByteArray& rate = values[TC::SetBaudrate];
    const auto byte = [&](int key) {
        return values[key].size() == 1 ? static_cast<unsigned char>(values[key][0]) : 0;
    };
    const int parity = byte(TC::SetParity), stop = byte(TC::SetStopsize), flow = byte(flowKey);
    if (rate.size() != 4 || parity < 1 || parity > 5 || stop < 1 || stop > 3 || flow < 1 ||
        flow > 3)
        return -EPROTO;
    config.speed = 0;
    for (const char part : rate)
        config.speed = (config.speed << 8) | static_cast<unsigned char>(part);
    config.dataBits = byte(TC::SetDatasize);
    config.parity = "noems"[parity - 1];
    config.twoStopBits = stop != 1;
    config.handshaking = flow - 1;
    return 0;
}

int RemoteBackend::modemLines(int& bits) {
    if (!telnet())
        return -ENOTTY;
    const std::lock_guard<std::mutex> lock(m_link->mutex);
    const int modem = m_link->modem;
    bits = m_lines | ((modem & 0x10) ? LineCTS : 0) | ((modem & 0x20) ? LineDSR : 0) |
           ((modem & 0x40) ? LineRI : 0) | ((modem & 0x80) ? LineCD : 0);
    return 0;
}

int RemoteBackend::setLine(Ask& ask, int key, int bit, bool on, unsigned char onCode) {
    if (!telnet())
        return -ENOTTY;
    m_lines = on ? (m_lines | bit) : (m_lines & ~bit);
    const int rc =
        post(byteCommand(TC::SetControl, on ? onCode : onCode + 1), &ask, {key}, 1, lineLimit);
    return rc == 0 ? -EINPROGRESS : rc;
}

int RemoteBackend::setDtr(bool on) {
    return setLine(m_dtrAsk, dtrKey, LineDTR, on, 8);
}

int RemoteBackend::setRts(bool on) {
    return setLine(m_rtsAsk, rtsKey, LineRTS, on, 11);
}

int RemoteBackend::unconfirmed(int& lines) {
    lines = 0;
    if (!telnet() || !m_link)
        return 0;
    const std::lock_guard<std::mutex> lock(m_link->mutex);
    const int dtr = state(m_dtrAsk, {dtrKey}), rts = state(m_rtsAsk, {rtsKey});
    lines = (dtr == -ETIMEDOUT ? LineDTR : 0) | (rts == -ETIMEDOUT ? LineRTS : 0);
    return dtr == -EINPROGRESS || rts == -EINPROGRESS ? -EINPROGRESS : 0;
}

// Sent without waiting for the answer: the window must not wait on the network.
int RemoteBackend::setBreak(bool on) {
    if (!telnet())
        return -ENOTTY;
    return post(byteCommand(TC::SetControl, on ? 5 : 6));
}

int RemoteBackend::counters(LineCounters& counters) {
    if (!telnet())
        return -ENOTTY;
    const std::lock_guard<std::mutex> lock(m_link->mutex);
    counters = m_link->counters;
    return 0;
}

} // namespace remote
