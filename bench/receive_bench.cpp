// Receive benchmark: floods numbered text lines through a pty into the real
// window (real serial component, capture log open) and, on the same pty, into
// a plain reader that copies to a file (the ceiling of the path).
//
//   receive_bench [MB] [--no-cat] [--no-window] [--colour] [--scrollback LINES]
//
// MB is decimal megabytes (default 100) of text. With --colour every line
// comes as ESC[32m line ESC[0m CR LF, with escape interpretation on; the log
// then holds the same plain lines. The producer is a child process
// writing the master at full speed, so the CPU figures are the terminal's.
#include "BenchSupport.h"
#include "platform/Clock.h"
#include "platform/Prompts.h"
#include "platform/SettingsStore.h"
#include "screen/TerminalView.h"
#include "serial/SerialCtl.h"
#include "terminal/frmTerminal.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;

bool colour = false;
long long scrollback = 0; // lines the terminal keeps; 0 its character limit
// Bytes on the wire per line.
size_t wireLength() {
    return bench::wireLength(colour);
}

// Line `number` as sent, at `out`.
void formatWireLine(char* out, long number) {
    bench::formatWireLine(out, number, colour);
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).count()) - 2;
}

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Writes `lines` numbered lines to the master and exits. Only write() and
// formatting run in the child.
pid_t startProducer(int master, long lines) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const size_t length = wireLength();
    std::vector<char> buffer(length * 1024 + 1);
    long next = 1;
    while (next <= lines) {
        size_t filled = 0;
        while (next <= lines && filled + length <= length * 1024) {
            formatWireLine(buffer.data() + filled, next++);
            filled += length;
        }
        size_t done = 0;
        while (done < filled) {
            const ssize_t n = ::write(master, buffer.data() + done, filled - done);
            if (n > 0)
                done += size_t(n);
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                _exit(2);
        }
    }
    _exit(0);
}

void stopProducer(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// The ceiling: the same pty read raw by a plain loop into a file.
void runCat(int master, const QString& slavePath, const QString& outPath, long lines) {
    const qint64 total = qint64(lines) * lineLength;
    const int slave = ::open(slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    const int out = ::open(outPath.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (slave < 0 || out < 0) {
        std::printf("cat: cannot open: %s\n", std::strerror(errno));
        return;
    }
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    const double cpu0 = cpuSeconds();
    QElapsedTimer clock;
    const pid_t producer = startProducer(master, lines);
    std::vector<char> buffer(1 << 16);
    qint64 got = 0;
    qint64 firstNs = -1;
    clock.start();
    while (got < total) {
        const ssize_t n = ::read(slave, buffer.data(), buffer.size());
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        if (firstNs < 0)
            firstNs = clock.nsecsElapsed();
        if (::write(out, buffer.data(), size_t(n)) != n)
            break;
        got += n;
    }
    const qint64 lastNs = clock.nsecsElapsed();
    const double cpu = cpuSeconds() - cpu0;
    waitpid(producer, nullptr, 0);
    ::close(out);
    ::close(slave);
    const double seconds = double(lastNs - std::max<qint64>(firstNs, 0)) / 1e9;
    std::printf("cat-equivalent (raw read of the same pty into a file):\n");
    std::printf("  throughput:          %.1f MB/s (%.1f MB in %.3f s)\n",
                double(got) / MB / seconds, double(got) / MB, seconds);
    std::printf("  CPU (reader):        %.4f s/MB\n", cpu / (double(got) / MB));
    printCheck(checkLines(outPath, lines));
}

bool runWindow(int master, const QString& dir, long lines) {
    const qint64 total = qint64(lines) * lineLength;
    const QString logPath = dir + QStringLiteral("/FLOOD.LOG");
    BenchWindow rig;
    if (!rig.open(logPath))
        return false;
    if (colour)
        rig.window.mnuEscapes->trigger();
    rig.window.session().setScrollback(scrollback);
    BenchPrompts& prompts = rig.prompts;
    SerialCtl& serial = rig.serial;
    frmTerminal& window = rig.window;
    QCoreApplication::processEvents();

    // A 10 ms UI timer: how late each tick comes while the flood runs. The
    // same tick watches the log for its first and last byte.
    std::vector<qint64> lateUs;
    lateUs.reserve(1 << 16);
    QElapsedTimer clock;
    qint64 lastTickNs = -1, firstByteNs = -1, lastByteNs = -1;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTickNs >= 0)
            lateUs.push_back(std::max<qint64>(0, (now - lastTickNs) / 1000 - 10000));
        lastTickNs = now;
        const qint64 size = fileSize(logPath);
        if (firstByteNs < 0 && size > 0)
            firstByteNs = now;
        if (lastByteNs < 0 && size >= total)
            lastByteNs = now;
    });

    const double cpu0 = cpuSeconds();
    clock.start();
    tick.start();
    const pid_t producer = startProducer(master, lines);
    const qint64 limitNs = qint64(600) * 1000000000;
    while (lastByteNs < 0 && clock.nsecsElapsed() < limitNs && serial.PortOpen())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double cpu = cpuSeconds() - cpu0;
    tick.stop();
    if (waitpid(producer, nullptr, WNOHANG) == 0)
        stopProducer(producer);

    // The display has kept up when the last line is on screen once events settle.
    const QByteArray lastLine = lineText(lines).chopped(2);
    const qint64 settleFrom = clock.nsecsElapsed();
    bool onScreen = false;
    while (clock.nsecsElapsed() - settleFrom < qint64(5) * 1000000000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        // Read from the store line by line: the whole text of a long
        // scrollback would cost more than the flood.
        const LineStore& store = window.txtTerm->store();
        if (store.line(store.endLine() - 1).isEmpty() &&
            store.line(store.endLine() - 2).endsWith(QString::fromLatin1(lastLine))) {
            onScreen = true;
            break;
        }
    }
    const double screenLagMs = double(clock.nsecsElapsed() - settleFrom) / 1e6;

    window.mnuCloseLog_Click();
    window.mnuOpen_Click(); // closes the port
    QCoreApplication::processEvents();

    std::sort(lateUs.begin(), lateUs.end());
    const double worstMs = lateUs.empty() ? 0 : double(lateUs.back()) / 1000;
    const double p99Ms =
        lateUs.empty()
            ? 0
            : double(lateUs[std::min(lateUs.size() - 1, lateUs.size() * 99 / 100)]) / 1000;
    const double seconds =
        lastByteNs > 0 ? double(lastByteNs - std::max<qint64>(firstByteNs, 0)) / 1e9 : 0;
    const double mb = double(fileSize(logPath)) / MB;
    std::printf("window (real frmTerminal + SerialCtl, capture log open):\n");
    if (lastByteNs < 0)
        std::printf("  ** the log never reached %.1f MB (has %.1f MB) **\n", double(total) / MB,
                    mb);
    std::printf(
        "  throughput:          %.1f MB/s (%.1f MB, first to last byte in the log %.3f s)\n",
        seconds > 0 ? mb / seconds : 0.0, mb, seconds);
    std::printf("  CPU:                 %.4f s/MB (%.2f s)\n", cpu / mb, cpu);
    std::printf("  UI timer 10 ms late: worst %.1f ms, p99 %.1f ms (%zu ticks)\n", worstMs, p99Ms,
                lateUs.size());
    std::printf("  last line on screen: %s (%.0f ms after the last byte was logged)\n",
                onScreen ? "yes" : "NO", screenLagMs);
    if (!prompts.asked.isEmpty())
        std::printf("  boxes shown:         %s\n",
                    qPrintable(prompts.asked.join(QStringLiteral(" / "))));
    const LineCheck check = checkLines(logPath, lines);
    printCheck(check);
    QFile::remove(logPath);
    return check.exact && onScreen;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    double megabytes = 100;
    bool cat = true, window = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-cat") == 0)
            cat = false;
        else if (std::strcmp(argv[i], "--no-window") == 0)
            window = false;
        else if (std::strcmp(argv[i], "--scrollback") == 0 && i + 1 < argc)
            scrollback = std::atoll(argv[++i]);
        else if (std::strcmp(argv[i], "--colour") == 0)
            colour = true;
        else if (std::atof(argv[i]) > 0)
            megabytes = std::atof(argv[i]);
        else {
            std::fprintf(stderr, "usage: receive_bench [MB] [--no-cat] [--no-window] [--colour] "
                                 "[--scrollback LINES]\n");
            return 2;
        }
    }
    // The plain reader's copy would hold the sequences, so it is not checked.
    cat = cat && !colour;
    const long lines = std::max(1L, long(megabytes * MB / lineLength));

    QTemporaryDir config;
    QString slavePath;
    const int master = openPinnedPty(config, slavePath);
    if (master < 0)
        return 1;

    QApplication app(argc, argv);
    std::printf("receive_bench: %ld lines of %d bytes = %.1f MB through %s\n", lines, lineLength,
                double(lines) * lineLength / MB, qPrintable(slavePath));
    bool ok = true;
    if (window) {
        const long rssBefore = peakRssKb();
        const int fdsBefore = openDescriptors();
        ok = runWindow(master, config.path(), lines);
        std::printf("  peak RSS:            %ld KB (%ld KB before the window)\n", peakRssKb(),
                    rssBefore);
        std::printf("  open descriptors:    %d before the window, %d after it closed\n", fdsBefore,
                    openDescriptors());
    }
    if (cat)
        runCat(master, slavePath, config.path() + QStringLiteral("/cat.out"), lines);
    std::fflush(stdout);
    ::close(master);
    return ok ? 0 : 1;
}
