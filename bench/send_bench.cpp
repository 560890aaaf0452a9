// Paced-send benchmark: a file goes out through the window's "send a file"
// into a pty whose far end (a child process) timestamps every read. Prints
// whether the bytes arrived equal, the gaps after characters and after line
// ends (median, 99th percentile), the program's CPU time and how late a 10 ms
// UI timer ran meanwhile.
//
//   send_bench [KB] [char delay ms] [line delay ms] [line length]   (1024 0 0 1024)
#include "BenchSupport.h"
#include "sending/Pacing.h"
#include "sending/SendCommands.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <vector>

namespace {

using namespace bench;

long nowUs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return long(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

double cpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

// Printable bytes with a LF ending every line.
QByteArray content(qsizetype size, int lineLength) {
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = (i + 1) % lineLength == 0 ? '\n' : char(0x20 + (i * 7) % 90);
    return data;
}

double percentile(std::vector<long> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return double(values[size_t(p * double(values.size() - 1))]) / 1000.0;
}

// The far end: reads until the whole file has come, stamping each byte with
// the time of the read that brought it, and reports on `report`.
pid_t startFarEnd(int master, const QByteArray& expected, int report) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) & ~O_NONBLOCK);
    std::vector<long> stamp;
    stamp.reserve(size_t(expected.size()));
    QByteArray got;
    char buffer[65536];
    while (got.size() < expected.size()) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;
        const long t = nowUs();
        got.append(buffer, n);
        stamp.insert(stamp.end(), size_t(n), t);
    }
    long differences = std::abs(long(got.size() - expected.size()));
    for (qsizetype i = 0; i < std::min(got.size(), expected.size()); ++i)
        differences += got[i] != expected[i];
    std::vector<long> charGaps, lineGaps;
    for (size_t i = 1; i < stamp.size(); ++i)
        (isLineEnd(expected, qsizetype(i - 1)) ? lineGaps : charGaps)
            .push_back(stamp[i] - stamp[i - 1]);
    char text[512];
    const int length = std::snprintf(
        text, sizeof text,
        "  bytes received:      %lld of %lld, %ld differences\n"
        "  gap after a character, median / p99: %.2f / %.2f ms (%zu gaps)\n"
        "  gap after a line end,  median / p99: %.2f / %.2f ms (%zu gaps)\n"
        "  first to last byte:  %.2f s\n",
        static_cast<long long>(got.size()), static_cast<long long>(expected.size()), differences,
        percentile(charGaps, 0.5), percentile(charGaps, 0.99), charGaps.size(),
        percentile(lineGaps, 0.5), percentile(lineGaps, 0.99), lineGaps.size(),
        stamp.empty() ? 0.0 : double(stamp.back() - stamp.front()) / 1e6);
    [[maybe_unused]] const auto w = ::write(report, text, size_t(length));
    _exit(0);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const qsizetype size = (argc > 1 ? std::atol(argv[1]) : 1024) * 1024;
    Pacing pacing;
    pacing.charDelayMs = argc > 2 ? std::atoi(argv[2]) : 0;
    pacing.lineDelayMs = argc > 3 ? std::atoi(argv[3]) : 0;
    const int lineLength = std::max(argc > 4 ? std::atoi(argv[4]) : 1024, 2);

    QTemporaryDir config;
    QString slave;
    const int master = openPinnedPty(config, slave);
    if (master < 0)
        return 1;
    const QByteArray data = content(size, lineLength);
    const QString sendPath = config.path() + QStringLiteral("/send.bin");
    QFile out(sendPath);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size())
        return 1;
    out.close();

    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 1;
    const pid_t farEnd = startFarEnd(master, data, pipeFds[1]);
    ::close(pipeFds[1]);

    BenchWindow rig;
    if (!rig.open(config.path() + QStringLiteral("/log.txt")))
        return 1;
    auto* commands = rig.window.findChild<SendCommands*>();
    if (!commands || !commands->setPacing(pacing))
        return 1;
    rig.prompts.logPath = sendPath;

    std::vector<long> late;
    QElapsedTimer ui;
    long lastUs = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const long now = long(ui.nsecsElapsed() / 1000);
        if (lastUs > 0)
            late.push_back(std::max(0L, now - lastUs - 10000));
        lastUs = now;
    });

    std::printf("send_bench: %lld bytes, lines of %d, character delay %d ms, line delay %d ms\n",
                static_cast<long long>(size), lineLength, pacing.charDelayMs, pacing.lineDelayMs);
    const double cpuBefore = cpuSeconds();
    const long startUs = nowUs();
    ui.start();
    tick.start(10);
    commands->mnuSendFile->trigger();
    while (commands->busy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const long endUs = nowUs();
    const double cpu = cpuSeconds() - cpuBefore;
    tick.stop();

    char report[1024] = {};
    long got = 0;
    for (ssize_t n; (n = ::read(pipeFds[0], report + got, sizeof report - 1 - size_t(got))) > 0;)
        got += n;
    waitpid(farEnd, nullptr, 0);
    std::fputs(report, stdout);
    std::printf("  send took:           %.2f s, %.2f CPU s (%.4f CPU s per MB)\n",
                double(endUs - startUs) / 1e6, cpu, cpu / (double(size) / MB));
    std::printf("  10 ms UI timer late, worst / p99: %.2f / %.2f ms\n",
                late.empty() ? 0.0 : double(*std::max_element(late.begin(), late.end())) / 1000,
                percentile(late, 0.99));
    std::printf("  status: %s\n", qPrintable(commands->lblSend->text()));
    return 0;
}
