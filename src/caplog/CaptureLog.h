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
    // Opens for writing raw bytes, creating the file when missing, positioned
    // at its end. `empty` empties it once it is open, so a failed open leaves
    // the old content. False with the platform's description. A log already
    // open is closed first, so after a failure none is open.
    bool open(const QString& path, QString* error, bool empty = false);
    // Appends all of `bytes`; false with a description when any part fails
    // (or when no log is open). `written` gets how many bytes reached the
    // file, on failure too, so a retry writes only the rest.
    bool write(const QByteArray& bytes, QString* error, qsizetype* written = nullptr);
    // Safe to call when nothing is open.
    void close();

private:
    int m_fd = -1;
    qint16 m_number = 0;
    qint16 m_nextNumber = 1;
    QString m_path;
};

// The lookup the open command makes before the open, so a test can make it
// fail where the real file system would not.
class LogFileSystem {
public:
    virtual ~LogFileSystem() = default;
    // Whether a regular file (a folder does not count) exists at `path`.
    // A lookup that fails for another reason than "not there" returns false
    // with `error` set; otherwise `error` is left empty.
    virtual bool regularFileExists(const QString& path, QString* error) = 0;
};

// The operating system's files.
LogFileSystem& realLogFileSystem();

class Prompts;

// The open-log command: file dialog, overwrite question, open.
// Returns the file title when a log was opened (LogFileNumber set), else an
// empty string; the window then switches its caption and commands.
QString runOpenLogCommand(Prompts& prompts, CaptureLog& log);
QString runOpenLogCommand(Prompts& prompts, CaptureLog& log, LogFileSystem& files);
