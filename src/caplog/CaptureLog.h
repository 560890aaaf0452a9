#pragma once

#include <QByteArray>
#include <QString>

// The open capture log file. LogFileNumber is its handle, 0 when none is open.
class CaptureLog {
public:
    CaptureLog() = default;
    ~CaptureLog();
    CaptureLog(const CaptureLog&) = delete;
    CaptureLog& operator=(const CaptureLog&) = delete;

    qint16 LogFileNumber() const { return m_number; }
    // Opens for writing raw bytes without truncating, creating the file when
    // missing, positioned at its end. False with the platform's description.
    bool open(const QString& path, QString* error);
    // Appends all of `bytes`; false with a description when any part fails.
    bool write(const QByteArray& bytes, QString* error);
    void close();

private:
    int m_fd = -1;
    qint16 m_number = 0;
    qint16 m_nextNumber = 1;
};

class Prompts;

// The open-log command: file dialog, overwrite question, delete, open.
// Returns the file title when a log was opened (LogFileNumber set), else an
// empty string; the window then switches its caption and commands.
QString runOpenLogCommand(Prompts& prompts, CaptureLog& log);
