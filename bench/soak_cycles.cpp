// Soak: opens and closes the port through the real window many times over a
// pty, and reports memory and open descriptors before and after.
//   soak_cycles [cycles, default 10000]
#include "BenchSupport.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "serial/SerialCtl.h"
#include "terminal/frmTerminal.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace {

class CountingPrompts : public Prompts {
public:
    int messageBox(const QString& text, const QString&, MsgButtons, MsgIcon, int) override {
        ++boxes;
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
        return AnswerOK;
    }
    std::optional<QString> inputBox(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    FileDialogResult fileOpen(const FileDialogSetup&) override { return {true, {}, {}}; }
    void beep() override {}
    int boxes = 0;
};

int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).count()) - 2;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 10000;

    int master = -1, slave = -1;
    char slaveName[256] = {};
    if (openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    // Keep the slave open so the pty survives every close of the port.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QDir().mkpath(config.path() + QStringLiteral("/velmora/ports"));
    QFile::link(QString::fromLocal8Bit(slaveName),
                config.path() + QStringLiteral("/velmora/ports/com1"));

    QApplication app(argc, argv);
    SerialCtl serial;
    CountingPrompts prompts;
    MemorySettingsStore store;
    SystemClock clock;
    frmTerminal window(&serial, &prompts, &store, &clock);
    window.show();
    QCoreApplication::processEvents();

    // One cycle first, so lazily made things are not counted as growth.
    window.mnuOpen_Click();
    window.mnuOpen_Click();
    QCoreApplication::processEvents();
    const long rssBefore = bench::residentKb();
    const int fdsBefore = openDescriptors();

    int failures = 0;
    for (int i = 0; i < cycles; ++i) {
        window.mnuOpen_Click();
        if (!serial.PortOpen())
            ++failures;
        const char line[] = "ping\r\n";
        if (write(master, line, sizeof line - 1) < 0)
            ++failures;
        QCoreApplication::processEvents();
        window.mnuOpen_Click();
        if (serial.PortOpen())
            ++failures;
        QCoreApplication::processEvents();
        // No event loop runs here, so objects given to deleteLater need a push.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    const long rssAfter = bench::residentKb();
    const int fdsAfter = openDescriptors();

    std::printf("open/close cycles:        %d\n", cycles);
    std::printf("failed cycles:            %d\n", failures);
    std::printf("message boxes:            %d\n", prompts.boxes);
    std::printf("resident memory (KiB):    %ld before, %ld after\n", rssBefore, rssAfter);
    std::printf("open descriptors:         %d before, %d after\n", fdsBefore, fdsAfter);
    close(master);
    close(slave);
    return failures == 0 && fdsAfter == fdsBefore ? 0 : 1;
}
