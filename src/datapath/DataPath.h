#pragma once

#include <QByteArray>
#include <QString>

class Prompts;

// What the data path asks of the main window.
class DataPathHost {
public:
    virtual ~DataPathHost() = default;

    virtual Prompts& prompts() = 0;
    virtual bool logOpen() const = 0;
    // Appends bytes to the open capture log; false with a description on
    // failure. `written` gets how many bytes reached the log, on failure too.
    virtual bool writeLog(const QByteArray& bytes, QString* error, qsizetype* written) = 0;
    virtual void closeLog() = 0;
    // Brings the connection display in line with the port's real state.
    virtual void refreshConnectionDisplay() = 0;
    // The "Status" panel; a shown text is cleared a while after clearStatusSoon().
    virtual void showStatus(const QString& text) = 0;
    virtual void clearStatusSoon() = 0;
    // Every received chunk as the port gave it, before it is shown.
    virtual void bytesReceived(const QByteArray& bytes) { Q_UNUSED(bytes); }
    // The raw log: every byte read, unchanged. As writeLog for the capture log.
    virtual bool rawLogOpen() const { return false; }
    virtual bool writeRawLog(const QByteArray&, QString*, qsizetype*) { return false; }
    virtual void closeRawLog() {}
};

// A host with no capture log and no window: headless runs and benchmarks.
class LoglessHost : public DataPathHost {
public:
    explicit LoglessHost(Prompts& prompts) : m_prompts(prompts) {}
    Prompts& prompts() override { return m_prompts; }
    bool logOpen() const override { return false; }
    bool writeLog(const QByteArray&, QString*, qsizetype*) override { return false; }
    void closeLog() override {}
    void refreshConnectionDisplay() override {}
    void showStatus(const QString&) override {}
    void clearStatusSoon() override {}

private:
    Prompts& m_prompts;
};

// A comm event's text for the status panel; errors also raise a prompt.
struct CommEventText {
    QString text; // empty for events that show nothing
    bool error = false;
};
CommEventText commEventText(int code);

#include "datapath/TerminalSession.h"
