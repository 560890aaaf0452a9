// A script answering the device, in the real window: the device writes
// "ping", the script's expect("ping") then send("pong\r"); printed is the time
// from the device's write to the pong readable on the pty, idle and while the
// device floods the display between prompts (at a fast line's pace, and in a
// burst as fast as the pty takes it). "soak" runs 100,000 rounds in one
// script and prints the memory at its start and end. Needs an X server
// (bench/run_latency_bench.sh BUILD ROUNDS script_bench starts Xvfb).
#include "BenchSupport.h"

#include "script/ScriptCommands.h"

#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <poll.h>
#include <thread>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;

double msSince(Steady::time_point from) {
    return std::chrono::duration<double, std::milli>(Steady::now() - from).count();
}

void writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            return;
        data += n;
        size -= size_t(n);
    }
}

// Reads the master until "pong\r" has come; false after two seconds.
bool awaitPong(int master, QByteArray& pending) {
    const auto start = Steady::now();
    char buffer[256];
    while (!pending.contains("pong\r")) {
        if (msSince(start) > 2000)
            return false;
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            pending.append(buffer, n);
    }
    pending.remove(0, pending.indexOf("pong\r") + 5);
    return true;
}

// `rounds` prompts, each after `gapMs`; the device writes `floodBytes` of
// numbered lines before each prompt, spread over the gap (a line's pace) or
// all at once as fast as the pty takes them. Returns the latencies; an answer
// that does not come counts in `lost`.
std::vector<double> playDevice(int master, int rounds, int gapMs, long floodBytes, bool burst,
                               long& lost) {
    std::vector<double> out;
    const long lines = floodBytes / bench::lineLength;
    const int pieces = burst || gapMs <= 0 ? 1 : gapMs;
    std::vector<char> chunk(size_t(lines / pieces + 1) * bench::lineLength);
    long line = 1;
    QByteArray pending;
    for (int i = 0; i < rounds; ++i) {
        for (int piece = 0; piece < pieces; ++piece) {
            const long count = lines / pieces;
            for (long at = 0; at < count; ++at)
                bench::formatLine(chunk.data() + at * bench::lineLength, line++);
            writeAll(master, chunk.data(), size_t(count) * bench::lineLength);
            if (!burst && gapMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(gapMs / pieces));
        }
        if (burst && gapMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
        const auto wrote = Steady::now();
        writeAll(master, "ping", 4);
        if (awaitPong(master, pending))
            out.push_back(msSince(wrote));
        else
            ++lost;
    }
    return out;
}

void print(const char* what, std::vector<double> values, long lost) {
    if (values.empty()) {
        std::printf("  %-40s no samples\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const size_t p99 = std::min(n - 1, size_t(std::ceil(0.99 * double(n))) - 1);
    std::printf("  %-40s n=%5zu  p50 %6.2f ms  p99 %6.2f ms  max %7.2f ms  lost %ld\n", what, n,
                values[n / 2], values[p99], values[n - 1], lost);
}

QString loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(' ', 0, 2)
                                          : QString();
}

// Runs the device on its own thread while the window's event loop runs.
template <class Device> void alongside(Device&& device) {
    std::atomic<bool> done{false};
    std::thread player([&] {
        device();
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    player.join();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // figures show while the next run goes on
    const bool soak = argc > 2 && std::strcmp(argv[2], "soak") == 0;
    const int rounds = argc > 1 ? std::max(100, std::atoi(argv[1])) : 1000;

    QTemporaryDir config;
    QString slave;
    const int master = bench::openPinnedPty(config, slave);
    bench::BenchWindow bw;
    if (master < 0 || !bw.open(config.filePath(QStringLiteral("SCRIPT.LOG"))))
        return 1;
    const QString path = config.filePath(QStringLiteral("pong.lua"));
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly) ||
        script.write("while true do\n  expect('ping', -1)\n  send('pong\\r')\nend\n") < 0)
        return 1;
    script.close();
    auto* commands = bw.window.findChild<ScriptCommands*>();
    commands->runFile(path);
    if (!commands->runner().running()) {
        std::printf("the script did not start: %s\n",
                    qPrintable(bw.prompts.asked.join(QStringLiteral(" / "))));
        return 1;
    }
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    if (soak) {
        std::printf("soak: %d rounds in one script, capture log on (load %s)\n", rounds,
                    qPrintable(loadAverage()));
        std::printf("  start: resident %ld kB, script %zu kB\n", bench::residentKb(),
                    commands->runner().scriptMemory() / 1024);
        long lost = 0;
        std::vector<double> latencies;
        const auto start = Steady::now();
        // Halfway too, to tell a plateau from a slope.
        for (const char* when : {"half:", "end: "}) {
            alongside([&] {
                const std::vector<double> half = playDevice(master, rounds / 2, 0, 0, false, lost);
                latencies.insert(latencies.end(), half.begin(), half.end());
            });
            std::printf("  %s  resident %ld kB, script %zu kB, %.1f s, still running: %s\n", when,
                        bench::residentKb(), commands->runner().scriptMemory() / 1024,
                        msSince(start) / 1000, commands->runner().running() ? "yes" : "no");
        }
        print("prompt to reply", latencies, lost);
        return 0;
    }
    std::printf("prompt to reply on the wire, %d rounds each, capture log on\n", rounds);
    const struct {
        const char* what;
        long floodBytes;
        bool burst;
    } runs[] = {
        {"idle, 5 ms between prompts", 0, false},
        {"1,500 B spread over the 5 ms (300 kB/s)", 1500, false},
        {"64 KiB burst just before each prompt", 64 * 1024, true},
    };
    for (const auto& run : runs) {
        const QString load = loadAverage();
        long lost = 0;
        std::vector<double> latencies;
        alongside(
            [&] { latencies = playDevice(master, rounds, 5, run.floodBytes, run.burst, lost); });
        print(run.what, latencies, lost);
        std::printf("  %-40s load %s\n", "", qPrintable(load));
    }
    return 0;
}
