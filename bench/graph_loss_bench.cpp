// Loss with the graph on, printed: the simulated device prints RATE lines a
// second of eight labelled values, the first a sequence number, for SECONDS
// into the real window with the capture log open and the graph shown. Every
// number must be once and in order in the graph's store, in the CSV it
// exports and in the log. Meanwhile a key and Enter go in every 250 ms and
// the time to the device's receipt is taken (Enter to the wire).
//
//   graph_loss_bench [RATE, default 12500] [SECONDS, default 60] [--no-graph]
#include "BenchSupport.h"

#include "graph/GraphController.h"
#include "screen/TerminalView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using namespace bench;
using Steady = std::chrono::steady_clock;

class LossPrompts : public BenchPrompts {
public:
    QString csvPath;
    FileDialogResult fileOpen(const FileDialogSetup& setup) override {
        FileDialogResult result = BenchPrompts::fileOpen(setup);
        if (setup.saving)
            result.path = csvPath;
        return result;
    }
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Sequence numbers in `path` that are not 0, 1, 2 ... in order: in the log
// from lines with "seq:", in the CSV from the second cell of each row.
long outOfOrder(const QString& path, bool csv, long expected, long* seen) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return expected;
    if (csv)
        file.readLine();
    long next = 0, wrong = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        const qsizetype at = csv ? line.indexOf(',') + 1 : line.indexOf("seq:") + 4;
        if ((csv && at <= 0) || (!csv && at < 4))
            continue;
        const long number = line.mid(at, line.indexOf(',', at) - at).toLong();
        wrong += number != next;
        next = number + 1;
    }
    *seen = next;
    return wrong + std::max(0L, expected - next);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const long rate = args.size() > 1 ? args.at(1).toLong() : 12500;
    const long seconds = args.size() > 2 ? args.at(2).toLong() : 60;
    const bool graphOn = !args.contains(QStringLiteral("--no-graph"));
    const long lines = rate * seconds;

    QTemporaryDir work;
    QDir().mkpath(work.path() + QStringLiteral("/velmora/ports"));
    qputenv("XDG_CONFIG_HOME", work.path().toLocal8Bit());
    const QString record = work.filePath(QStringLiteral("record.bin"));
    QProcess device;
    device.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../tools/simdevice"),
                 {QStringLiteral("--link"), QStringLiteral("1"), QStringLiteral("--record"), record,
                  QStringLiteral("--plot"), QString::number(rate), QString::number(seconds)});
    if (!device.waitForReadyRead(10000)) {
        std::printf("simdevice did not start\n");
        return 1;
    }

    LossPrompts prompts;
    prompts.logPath = work.filePath(QStringLiteral("capture.log"));
    prompts.csvPath = work.filePath(QStringLiteral("graph.csv"));
    MemorySettingsStore store;
    SystemClock clock;
    SerialCtl serial;
    frmTerminal window(&serial, &prompts, &store, &clock);
    window.resize(1000, 560);
    window.show();
    if (graphOn)
        window.graph().setShown(true);
    window.mnuOpenLog_Click();
    const double cpu0 = cpuSeconds();
    window.mnuOpen_Click();
    if (!serial.PortOpen() || window.LogFileNumber() == 0) {
        std::printf("port or log did not open: %s\n", qPrintable(prompts.asked.join(" / ")));
        return 1;
    }

    // Enter to the wire: a key and Enter are queued as a person's would be,
    // and the device's record of what it receives tells when "A\r" arrived.
    std::atomic<bool> stop{false};
    std::atomic<qint64> waitFromNs{0}, waitForSize{0};
    std::vector<double> enterMs;
    const auto nowNs = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   Steady::now().time_since_epoch())
            .count();
    };
    std::thread watcher([&] {
        while (!stop) {
            const qint64 from = waitFromNs;
            if (from != 0 && fileSize(record) >= waitForSize) {
                enterMs.push_back(double(nowNs() - from) / 1e6);
                waitFromNs = 0;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    QTimer typing;
    typing.setInterval(250);
    QObject::connect(&typing, &QTimer::timeout, [&] {
        if (waitFromNs != 0)
            return;
        waitForSize = std::max<qint64>(fileSize(record), 0) + 2;
        waitFromNs = nowNs();
        QWidget* terminal = window.txtTerm;
        QCoreApplication::postEvent(terminal, new QKeyEvent(QEvent::KeyPress, Qt::Key_A,
                                                            Qt::NoModifier, QStringLiteral("a")));
        QCoreApplication::postEvent(terminal, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return,
                                                            Qt::NoModifier, QStringLiteral("\r")));
    });
    QElapsedTimer wall;
    wall.start();
    typing.start();
    const SampleStore& kept = window.graph().feed().store();
    while (wall.elapsed() < (seconds + 60) * 1000 &&
           (graphOn ? kept.end() < lines : fileSize(prompts.logPath) < lines * 60)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    typing.stop();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double cpu = cpuSeconds() - cpu0;
    stop = true;
    watcher.join();
    window.mnuCloseLog_Click();

    std::printf("graph_loss_bench: %ld lines/s of 8 labelled values for %ld s, graph %s\n", rate,
                seconds, graphOn ? "on" : "off");
    std::printf("  wall %.1f s, CPU %.1f s (%.0f%% of one core)\n", wall.elapsed() / 1e3, cpu,
                cpu * 100 / (wall.elapsed() / 1e3));
    long seen = 0;
    const long logWrong = outOfOrder(prompts.logPath, false, lines, &seen);
    std::printf("  capture log: %ld out of order or missing (%ld seen)\n", logWrong, seen);
    if (graphOn) {
        long wrong = 0;
        for (qint64 sample = kept.first(); sample < kept.end(); ++sample)
            wrong += kept.valueAt(0, sample) != double(sample);
        std::printf("  graph store: %lld kept, %ld out of order (sample number = sequence)\n",
                    static_cast<long long>(kept.size()), wrong + long(lines - kept.end()));
        QElapsedTimer exporting;
        exporting.start();
        window.graph().saveCsv();
        const double exportSeconds = exporting.elapsed() / 1e3;
        const long csvWrong = outOfOrder(prompts.csvPath, true, lines, &seen);
        std::printf("  CSV: %ld out of order or missing (%ld rows), written in %.1f s\n", csvWrong,
                    seen, exportSeconds);
    }
    std::sort(enterMs.begin(), enterMs.end());
    if (!enterMs.empty())
        std::printf("  Enter to the wire: p50 %.1f ms, p99 %.1f ms, max %.1f ms (%zu keys)\n",
                    enterMs[enterMs.size() / 2],
                    enterMs[std::min(enterMs.size() - 1, enterMs.size() * 99 / 100)],
                    enterMs.back(), enterMs.size());
    device.terminate();
    device.waitForFinished(5000);
    return 0;
}
