#pragma once
// What the benchmarks share: the numbered flood, its check, and prompts that
// answer without a person.
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "serial/SerialCtl.h"
#include "terminal/frmTerminal.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bench {

// Resident memory of this process in KiB, -1 when it cannot be read.
inline long residentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

constexpr double MB = 1e6;

// Every line has the same length, so a byte count gives the line count.
constexpr int lineLength = 50;
// A pty whose slave is Com1 through a link in `config`, which becomes the
// private settings folder (XDG_CONFIG_HOME). Returns the master, or -1.
inline int openPinnedPty(const QTemporaryDir& config, QString& slavePath) {
    if (!config.isValid() || !QDir().mkpath(config.path() + QStringLiteral("/velmora/ports")))
        return -1;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        std::perror("pty");
        if (master >= 0)
            ::close(master);
        return -1;
    }
    slavePath = QString::fromLocal8Bit(name);
    QFile::link(slavePath, config.path() + QStringLiteral("/velmora/ports/com1"));
    return master;
}

inline void formatLine(char* out, long number) {
    char text[96];
    std::snprintf(text, sizeof text, "LINE %010ld ABCDEFGHIJKLMNOPQRSTUVWXYZ012345\r\n", number);
    std::memcpy(out, text, lineLength);
}
// A line as sent: plain, or with colour as ESC[32m line ESC[0m CR LF.
constexpr char colourOn[] = "\x1b[32m", colourOff[] = "\x1b[0m\r\n";
inline size_t wireLength(bool colour) {
    return colour ? lineLength + sizeof colourOn - 1 + sizeof colourOff - 1 - 2 : lineLength;
}
inline void formatWireLine(char* out, long number, bool colour) {
    if (!colour) {
        formatLine(out, number);
        return;
    }
    char line[lineLength + 1];
    formatLine(line, number);
    std::memcpy(out, colourOn, sizeof colourOn - 1);
    out += sizeof colourOn - 1;
    std::memcpy(out, line, lineLength - 2);
    std::memcpy(out + lineLength - 2, colourOff, sizeof colourOff - 1);
}
inline QByteArray lineText(long number) {
    char text[lineLength + 1];
    formatLine(text, number);
    return QByteArray(text, lineLength);
}

// Answers every box without a person: the file dialog with the log path,
// everything else with its first button (Cancel for Retry/Cancel).
class BenchPrompts : public Prompts {
public:
    QString logPath;
    QStringList asked;
    int messageBox(const QString& text, const QString&, MsgButtons buttons, MsgIcon, int) override {
        asked << text;
        return buttons == MsgButtons::RetryCancel ? AnswerCancel : AnswerOK;
    }
    std::optional<QString> inputBox(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    FileDialogResult fileOpen(const FileDialogSetup&) override {
        FileDialogResult result;
        result.path = logPath;
        result.fileTitle = QFileInfo(logPath).fileName();
        return result;
    }
    void beep() override {}
};

// The real window and serial component, Com1 open and the capture log on,
// every box answered by BenchPrompts.
struct BenchWindow {
    BenchPrompts prompts;
    MemorySettingsStore store;
    SystemClock clock;
    SerialCtl serial;
    frmTerminal window{&serial, &prompts, &store, &clock};

    // False, saying why, when the port or the log did not open.
    bool open(const QString& logPath) {
        prompts.logPath = logPath;
        window.show();
        QCoreApplication::processEvents();
        window.mnuOpen_Click();
        window.mnuOpenLog_Click();
        if (serial.PortOpen() && window.LogFileNumber() != 0)
            return true;
        std::printf("port or log did not open: %s\n",
                    qPrintable(prompts.asked.join(QStringLiteral(" / "))));
        return false;
    }
};

struct LineCheck {
    long good = 0, lost = 0, reordered = 0, malformed = 0;
    bool exact = false;
};

// Reads the file line by line against the numbered sequence.
inline LineCheck checkLines(const QString& path, long lines) {
    LineCheck check;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        check.malformed = 1;
        return check;
    }
    long expected = 1;
    QByteArray pending;
    auto take = [&](const QByteArray& line) {
        bool ok = false;
        const long number = line.startsWith("LINE ") ? line.mid(5, 10).toLong(&ok) : 0;
        if (!ok || line != lineText(number)) {
            ++check.malformed;
            return;
        }
        if (number == expected) {
            ++check.good;
            ++expected;
        } else if (number > expected) {
            check.lost += number - expected;
            ++check.good;
            expected = number + 1;
        } else {
            ++check.reordered;
        }
    };
    while (!file.atEnd()) {
        pending += file.read(1 << 20);
        qsizetype start = 0;
        for (;;) {
            const qsizetype end = pending.indexOf('\n', start);
            if (end < 0)
                break;
            take(pending.mid(start, end + 1 - start));
            start = end + 1;
        }
        pending.remove(0, start);
    }
    if (!pending.isEmpty())
        ++check.malformed;
    check.lost += lines + 1 - expected;
    check.exact = check.good == lines && check.lost == 0 && check.reordered == 0 &&
                  check.malformed == 0 && file.size() == qint64(lines) * lineLength;
    return check;
}

inline qint64 fileSize(const QString& path) {
    struct stat st {};
    return ::stat(path.toLocal8Bit().constData(), &st) == 0 ? qint64(st.st_size) : -1;
}

inline void printCheck(const LineCheck& check) {
    std::printf("  lines in order:      %ld (lost %ld, reordered %ld, malformed %ld)%s\n",
                check.good, check.lost, check.reordered, check.malformed,
                check.exact ? ", byte-identical" : "  ** MISMATCH **");
}

} // namespace bench
