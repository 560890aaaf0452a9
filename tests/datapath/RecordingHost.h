#pragma once

#include "ScriptedPrompts.h"
#include "datapath/DataPath.h"

#include <QStringList>

// The window as the data path sees it: records what it is asked to do and
// keeps the log in memory. `failWrites` makes that many log writes fail.
class RecordingHost : public DataPathHost {
public:
    Prompts& prompts() override { return scripted; }
    int LogFileNumber() const override { return logNumber; }
    bool writeLog(const QByteArray& bytes, QString* error) override {
        writeAttempts << bytes;
        if (failWrites > 0) {
            --failWrites;
            *error = QStringLiteral("ディスクがいっぱいです");
            return false;
        }
        log += bytes;
        return true;
    }
    void mnuCloseLog_Click() override {
        transcript << QStringLiteral("closeLog");
        logNumber = 0;
    }
    void refreshConnectionDisplay() override { transcript << QStringLiteral("refresh"); }
    void setStatusText(const QString& text) override {
        status = text;
        transcript << QStringLiteral("status:") + text;
    }
    void enableTimer2() override { transcript << QStringLiteral("timer2"); }

    ScriptedPrompts scripted;
    int logNumber = 1;
    int failWrites = 0;
    QByteArray log;
    QList<QByteArray> writeAttempts;
    QString status;
    QStringList transcript;
};
