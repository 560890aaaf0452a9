#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair for device tests: the code under test opens the
// slave path like a serial port; the test plays the device on the master.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool isValid() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    const QString& slavePath() const { return m_slavePath; }

    // Writes everything; false when the master would not take it in time.
    bool write(const QByteArray& bytes, int timeoutMs = 5000);
    // Reads until `count` bytes arrived or the time is up; returns what came.
    QByteArray read(int count, int timeoutMs = 5000);
    // Reads until `text` has arrived (or the time is up).
    QByteArray readUntil(const QByteArray& text, int timeoutMs = 5000);
    // Hangs the line up: the slave side sees POLLHUP and EIO.
    void closeMaster();
    // Points Com1 of the private settings folder ($XDG_CONFIG_HOME) at the slave.
    void pinAsCom1() const;

private:
    int m_master = -1;
    QString m_slavePath;
};
