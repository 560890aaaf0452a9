#pragma once

#include "serial/PortResolver.h"
#include "serial/SerialBackend.h"
#include "serial/TelnetComPort.h"

#include <QByteArray>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace remote {

using Clock = std::chrono::steady_clock;

constexpr auto connectLimit = std::chrono::seconds(5);
// A server that has unacknowledged data this long without a word is gone; a
// device holding flow off still gets its window probes answered.
constexpr auto silenceLimit = std::chrono::seconds(10);
constexpr long chunk = 64 * 1024;
// Data taken from the pair per round: what a stop can no longer recall.
constexpr long dataChunk = 8 * 1024;
// The kernel's send buffer toward the server, kept as short as a device's.
constexpr int socketSendBuffer = 8 * 1024;
// Received data waiting for the reader before the socket is left unread.
constexpr qsizetype nearLimit = 256 * 1024;
// Replies the server has not read before the socket is left unread.
constexpr qsizetype replyLimit = 16 * 1024;

// Errors of our own making, each with its own text.
constexpr int resolveError = EADDRNOTAVAIL;
constexpr int closedError = ECONNABORTED;
constexpr int noComPortError = EPROTONOSUPPORT;
// Handshaking 3: the protocol has one flow-control setting for both kinds.
constexpr int bothFlowsError = EOPNOTSUPP;

// SET-CONTROL answers share one code; they are told apart by what they set.
int answerKey(int command, const QByteArray& value);
constexpr int keyCount = 21;
constexpr int flowKey = 16, dtrKey = 18, rtsKey = 19;

// Why a connection could not be made, or, `lost`, why it ended.
QString describe(int error, const RemoteTarget& target, bool lost);

// The connection, shared by the backend and the thread that serves it, so
// a thread stuck in name resolution can be left to finish alone. The
// backend owns both ends of the socket pair.
struct Link {
    RemoteTarget target;
    bool telnet = true;
    int far = -1;  // our end of the pair; the reader has the other
    int wake = -1; // eventfd: stop, or commands to send
    std::atomic<int> tcp{-1};

    std::mutex mutex;
    std::condition_variable changed;
    bool running = false, ended = false, stop = false, resolving = true, flush = false;
    int error = 0;
    QByteArray control; // commands waiting to go out
    quint64 answers[keyCount] = {};
    QByteArray values[keyCount];
    int modem = 0;
    LineCounters counters;
    bool suspended = false;
    QByteArray leftover;         // received, not yet passed on when the connection ended
    std::atomic<long> queued{0}; // taken from the pair, not yet in the socket

    // The thread's own.
    TelnetComPort codec;
    QByteArray out, replies, toNear;
    bool outIsData = false, pairOpen = false;

    ~Link();

    void run();
    int connectTcp(Clock::time_point deadline);
    int negotiate(Clock::time_point deadline);
    int waitFor(int fd, short events, Clock::time_point deadline);
    bool stopping();
    // One read from the server: 0, -1 when there was nothing, or a positive
    // errno when the connection ended.
    // verdict: 1 when the server takes the COM-PORT-OPTION, -1 when it refuses.
    int receive(std::vector<char>& buffer, int* verdict);
    void take(const QVector<TelnetComPort::Event>& events, int* verdict);
    void pump();
    int pumpOnce(std::vector<char>& buffer);
    // Sent `n` bytes of `out`.
    void sent(long n);
    bool serverSilent() const;
    void end(int why);
};

} // namespace remote
