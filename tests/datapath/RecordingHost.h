#pragma once

#include "ScriptedPrompts.h"
#include "datapath/DataPath.h"

#include <QStringList>
#include <algorithm>

// The window as the data path sees it: records what it is asked to do and
// keeps the log in memory. `failWrites` makes that many log writes fail,
// each after taking `partBeforeFailure` bytes.
class RecordingHost : public DataPathHost {
public:
    Prompts& prompts() override { return scripted; }
    bool logOpen() const override { return logNumber != 0; }
    bool writeLog(const QByteArray& bytes, QString* error, qsizetype* written) override {
        writeAttempts << bytes;
        if (failWrites > 0) {
            --failWrites;
            // A disk that fills part-way takes the first bytes, then fails.
            *written = std::min(partBeforeFailure, bytes.size());
            log += bytes.left(*written);
            *error = QStringLiteral("ディスクがいっぱいです");
            return false;
        }
        log += bytes;
        *written = bytes.size();
        return true;
    }
    void closeLog() override {
        transcript << QStringLiteral("closeLog");
        logNumber = 0;
    }
    void refreshConnectionDisplay() override { transcript << QStringLiteral("refresh"); }
    void showStatus(const QString& text) override {
        status = text;
        transcript << QStringLiteral("status:") + text;
    }
    void clearStatusSoon() override { transcript << QStringLiteral("clearSoon"); }

    ScriptedPrompts scripted;
    int logNumber = 1;
    int failWrites = 0;
    qsizetype partBeforeFailure = 0; // bytes a failing write still takes
    QByteArray log;
    QList<QByteArray> writeAttempts;
    QString status;
    QStringList transcript;
};
