// Stall benchmark: a simulated device sends numbered lines at a paced
// 1.2 MB/s (a 12 Mbaud adapter) into the real window with its capture log
// open, while a test hook blocks the UI thread for 300 ms once a second.
// Reports how long the device's write() was held back at most, and the
// lines lost.
//
//   stall_bench [seconds]      (default 6)
#include "BenchSupport.h"
#include "platform/Clock.h"
#include "platform/SettingsStore.h"
#include "serial/SerialCtl.h"
#include "terminal/frmTerminal.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace bench;

constexpr long rate = 1200000;     // bytes per second
constexpr int slotUs = 1000;       // one write per millisecond
constexpr int stallMs = 300;       // the UI thread's stall ...
constexpr int stallEveryMs = 1000; // ... once a second

struct DeviceReport {
    long maxHoldUs = 0;
    long heldOver1ms = 0;
    long writes = 0;
};

long nowUs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return long(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

// The device: a child writing whole lines on a fixed schedule to the blocking
// master, timing every write(). The report goes back through `report`.
pid_t startDevice(int master, long lines, int report) {
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int flags = fcntl(master, F_GETFL);
    fcntl(master, F_SETFL, flags & ~O_NONBLOCK);
    const long perSlot = rate * slotUs / 1000000 / lineLength; // lines per slot
    std::vector<char> buffer(size_t(perSlot * lineLength));
    DeviceReport result;
    long next = 1;
    const long start = nowUs();
    for (long slot = 0; next <= lines; ++slot) {
        const long due = start + slot * slotUs;
        const long wait = due - nowUs();
        if (wait > 0)
            usleep(useconds_t(wait));
        size_t filled = 0;
        for (long i = 0; i < perSlot && next <= lines; ++i) {
            formatLine(buffer.data() + filled, next++);
            filled += lineLength;
        }
        size_t done = 0;
        const long before = nowUs();
        while (done < filled) {
            const ssize_t n = ::write(master, buffer.data() + done, filled - done);
            if (n > 0)
                done += size_t(n);
            else if (n < 0 && errno != EINTR)
                _exit(2);
        }
        const long held = nowUs() - before;
        result.maxHoldUs = std::max(result.maxHoldUs, held);
        result.heldOver1ms += held > 1000 ? 1 : 0;
        ++result.writes;
    }
    [[maybe_unused]] const auto n = ::write(report, &result, sizeof result);
    _exit(0);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const double seconds = argc > 1 && std::atof(argv[1]) > 0 ? std::atof(argv[1]) : 6;
    const long lines = long(seconds * rate / lineLength);
    const qint64 total = qint64(lines) * lineLength;

    QTemporaryDir config;
    QString slavePath;
    const int master = openPinnedPty(config, slavePath);
    int pipeFds[2];
    if (master < 0 || pipe(pipeFds) != 0)
        return 1;

    QApplication app(argc, argv);
    const QString logPath = config.path() + QStringLiteral("/STALL.LOG");
    BenchWindow rig;
    if (!rig.open(logPath))
        return 1;
    BenchPrompts& prompts = rig.prompts;
    SerialCtl& serial = rig.serial;
    frmTerminal& window = rig.window;

    // The test hook: the UI thread does nothing else for 300 ms, once a second.
    QTimer stall;
    stall.setInterval(stallEveryMs);
    int stalls = 0;
    QObject::connect(&stall, &QTimer::timeout, [&] {
        ++stalls;
        std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
    });
    std::printf("stall_bench: %.1f MB at %.1f MB/s through %s, UI blocked %d ms every %d ms\n",
                double(total) / MB, double(rate) / MB, qPrintable(slavePath), stallMs,
                stallEveryMs);
    stall.start();
    const pid_t device = startDevice(master, lines, pipeFds[1]);
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = qint64(seconds * 1000) * 3 + 10000;
    while (fileSize(logPath) < total && clock.elapsed() < limitMs && serial.PortOpen())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    stall.stop();
    DeviceReport report;
    if (::read(pipeFds[0], &report, sizeof report) != sizeof report)
        std::printf("  ** the device did not report **\n");
    waitpid(device, nullptr, 0);
    window.mnuCloseLog_Click();
    window.mnuOpen_Click();

    const LineCheck check = checkLines(logPath, lines);
    std::printf("  UI stalls:           %d\n", stalls);
    std::printf("  write() held back:   longest %.1f ms; %ld of %ld writes over 1 ms\n",
                double(report.maxHoldUs) / 1000, report.heldOver1ms, report.writes);
    std::printf("  bytes lost:          %lld\n",
                (long long)(check.lost * lineLength + check.malformed * lineLength));
    printCheck(check);
    if (!prompts.asked.isEmpty())
        std::printf("  boxes shown:         %s\n",
                    qPrintable(prompts.asked.join(QStringLiteral(" / "))));
    ::close(master);
    return check.exact ? 0 : 1;
}
