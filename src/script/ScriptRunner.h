#pragma once

#include "datapath/ReceiveConsumer.h"
#include "script/LuaScript.h"
#include "script/ScriptInbox.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>

class ISerialCtl;
class TerminalSession;

// Where print() and log() go: the status bar and the capture log in the
// window, the standard output without one. log() throws Failure when the line
// cannot be written.
class ScriptOutput {
public:
    virtual ~ScriptOutput() = default;
    virtual void print(const QString& text) = 0;
    virtual void log(const QString& text) = 0;
};

// How a script ended.
struct ScriptEnd {
    enum Kind { Finished, Failed, Stopped, PortClosed };
    Kind kind = Finished;
    int status = 0;  // exit(n), else 0; 1 when it failed
    QString message; // "FILE:LINE: message" when it failed
};

// Runs one script at a time against the port: its waits are timers and the
// received text, so the event loop never waits on it. Received text is
// matched the moment the session hands it over, before the screen shows it,
// and the script's answer is written to the port from there.
class ScriptRunner : public QObject, public ReceiveConsumer, private ScriptCalls {
    Q_OBJECT
public:
    ScriptRunner(ISerialCtl& serial, ScriptOutput& output, QObject* parent = nullptr);
    ~ScriptRunner() override;

    // Compiles the file; false with "FILE:LINE: message" or why it cannot be read.
    bool load(const QString& path, QString* error);
    // Runs what was loaded, watching what `session` receives from now on,
    // until it ends, fails, is stopped or the port closes; then `ended`
    // follows from the event loop.
    void run(TerminalSession& session);
    void stop();
    bool running() const { return m_session != nullptr; }
    // The file's name, without its folder.
    const QString& name() const { return m_name; }
    size_t scriptMemory() const { return m_script ? m_script->memoryUsed() : 0; }

    // ReceiveConsumer.
    void receivedBytes(const QByteArray& bytes, qint64 readMs) override;
    void receivedText(const QString& text, qint64 readMs) override;
    void portClosed() override;

signals:
    void ended(const ScriptEnd& end);

private:
    enum class Wait { None, Text, Pattern, Silence, Sleep, Slice };

    // ScriptCalls.
    void send(const QString& text) override;
    void sendBytes(const QByteArray& bytes) override;
    void setDtr(bool on) override;
    void setRts(bool on) override;
    void sendBreak() override;
    void log(const QString& text) override;
    void print(const QString& text) override;
    std::optional<ScriptValues> expect(const QString& text, int timeoutMs) override;
    std::optional<ScriptValues> expectPattern(const QString& pattern, int timeoutMs) override;
    std::optional<ScriptValues> waitSilence(int silenceMs, int timeoutMs) override;
    std::optional<ScriptValues> sleep(int ms) override;
    void exit(int status) override;
    bool sliceOver() override;

    void checkLineFree() const;
    void waitFor(Wait wait, int timeoutMs);
    void wake(const ScriptValues& results);
    void timedOut();
    void finish(const ScriptEnd& end);

    ISerialCtl& m_serial;
    ScriptOutput& m_output;
    std::unique_ptr<LuaScript> m_script;
    TerminalSession* m_session = nullptr;
    QString m_name;
    ScriptInbox m_inbox;
    Wait m_wait = Wait::None;
    QString m_needle;
    QRegularExpression m_pattern;
    QTimer m_timeout;
    QTimer m_silence;
    QTimer m_next; // resumes a script that paused to let events run
    QElapsedTimer m_clock;
    qint64 m_sliceStart = 0;
    bool m_resuming = false;
    std::optional<int> m_exit;
    std::optional<ScriptEnd> m_endWhileResuming;
};
