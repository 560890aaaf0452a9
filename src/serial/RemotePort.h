#pragma once

#include "serial/RemoteLink.h"

#include <initializer_list>
#include <memory>
#include <thread>

namespace remote {

// A question put to the server: the answers it waits for, by key, and until when.
struct Ask {
    bool active = false;
    quint64 need[keyCount] = {};
    Clock::time_point deadline;
};

// The backend of a port on another machine (see RemoteBackend.h). Nothing
// here waits for the server: settings and line changes are sent, and their
// answers are looked at later (readBack, unconfirmed).
class RemoteBackend : public SerialBackend {
public:
    explicit RemoteBackend(const RemoteTarget& target) : m_target(target) {}
    ~RemoteBackend() override { close(); }

    int open(const QString& path) override;
    int beginOpen(const QString& path) override;
    int finishOpen() override;
    void close() override;
    int fd() const override { return m_near; }
    bool marksLineErrors() const override { return false; }
    long read(char* buffer, long size) override;
    long write(const char* data, long size) override;

    int apply(const LineConfig& config) override;
    int readBack(LineConfig& config) override;
    int modemLines(int& bits) override;
    int setDtr(bool on) override;
    int setRts(bool on) override;
    int unconfirmed(int& lines) override;
    int setBreak(bool on) override;
    int flushOutput() override;
    int counters(LineCounters& counters) override;
    int outQueue(int& bytes) override;
    QString explain(int error) const override;

private:
    bool telnet() const { return m_target.kind == RemoteTarget::Kind::Rfc2217; }
    void wake();
    // Queues `commands` for the server; `ask` then waits for an answer under
    // each key within `limit`. -EIO once the connection has ended.
    int post(const QByteArray& commands, Ask* ask = nullptr, std::initializer_list<int> keys = {},
             int answersEach = 1, std::chrono::milliseconds limit = {});
    // 0 when `ask` is answered, -EINPROGRESS while it may still be, else -ETIMEDOUT
    // (-EIO when the connection ended). Called with the link's mutex held.
    int state(Ask& ask, std::initializer_list<int> keys) const;
    int setLine(Ask& ask, int key, int bit, bool on, unsigned char onCode);

    RemoteTarget m_target;
    std::shared_ptr<Link> m_link;
    std::thread m_thread;
    int m_near = -1;
    Clock::time_point m_giveUpAt;
    int m_lines = 0;
    LineConfig m_config;
    Ask m_settingsAsk, m_dtrAsk, m_rtsAsk;
    int m_explainedError = 0;
    QString m_explained;
};

} // namespace remote
