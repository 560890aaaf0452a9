#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <mutex>
#include <thread>

// A scripted RFC 2217 server on 127.0.0.1 for what ser2net on a pty cannot
// show: notifications, flow control suspend, answers that never come or that
// differ from the request. It takes one client at a time, offers the
// COM-PORT-OPTION, keeps what the client sets and answers each command with
// the value it keeps; `reported` overrides what a query (value 0) gets back.
class FakeComPortServer {
public:
    FakeComPortServer();
    ~FakeComPortServer();
    FakeComPortServer(const FakeComPortServer&) = delete;
    FakeComPortServer& operator=(const FakeComPortServer&) = delete;

    quint16 port() const { return m_port; }
    QString url() const;

    // Set before the client connects.
    bool refuseOption = false;
    QSet<int> silentControls;            // SET-CONTROL values left unanswered
    QSet<int> silentCommands;            // commands left unanswered
    QMap<int, QByteArray> reported;      // command -> value a query gets back
    bool greet = true;                   // offers the option as a client connects
    QByteArray floodAtConnect;           // then sends this over and over, reading nothing
    bool closeMidSubnegotiation = false; // the first command gets half an answer, then close

    // From now on `pattern` goes out over and over as fast as the client
    // takes it (empty: nothing), and nothing more is read; resume() ends it.
    void flood(const QByteArray& pattern);
    void resume();
    // Closes the connection; `reset` drops what it would still send.
    void hangUp(bool reset = false);
    void silence(const QSet<int>& commands);
    // Bytes of the flood the client's side has taken.
    qint64 flooded();

    // Raw bytes to the client, as one send() each.
    void send(const QByteArray& bytes);
    // Data the client sent, FF undoubled, commands taken out.
    QByteArray data();
    // The client's commands, "code:hex value", in order.
    QStringList commands();
    bool connected();

private:
    void run();
    void serve(int client);
    bool parse(int client);

    int m_listener = -1, m_wake = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    bool m_stop = false, m_connected = false;
    QList<QByteArray> m_outgoing;
    QByteArray m_in, m_data;
    QStringList m_commands;
    QMap<int, QByteArray> m_kept;
    QByteArray m_flood;
    bool m_stalled = false, m_hangUp = false, m_reset = false;
    qint64 m_flooded = 0;
};
