// Latency, printed: wire to screen (the device's write to the paint of the
// frame that shows it), wire to the log (to the bytes readable in the file),
// key to wire (an X key event to the byte readable on the pty), and how far a
// line's stamp is from the device's write. Each idle and during 8 MiB floods.
// Needs an X server with XTest (bench/run_latency_bench.sh starts Xvfb).
//   bench/run_latency_bench.sh build-bench 40 latency_bench [--hex | --colour]
// --hex shows hex rows (a marker is seen only where one row holds it whole);
// --colour floods coloured lines with escape interpretation on.
#include "BenchSupport.h"

#include "screen/TerminalView.h"

#include <QApplication>
#include <QDateTime>
#include <QTextBlock>
#include <QTimer>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/inotify.h>
#include <thread>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;

bool colour = false;
// A key not answered within this long counts as unanswered.
constexpr int answerMs = 2000;

double msSince(Steady::time_point from, Steady::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// When each numbered marker was written and when it was seen.
struct Samples {
    std::mutex mutex;
    std::map<int, Steady::time_point> written;
    std::map<int, qint64> writtenWall;
    std::map<int, Steady::time_point> seen;
    void wrote(int n) {
        const std::lock_guard<std::mutex> lock(mutex);
        written[n] = Steady::now();
        writtenWall[n] = QDateTime::currentMSecsSinceEpoch();
    }
    void saw(int n) {
        const std::lock_guard<std::mutex> lock(mutex);
        seen.emplace(n, Steady::now());
    }
    std::vector<double> latencies() {
        const std::lock_guard<std::mutex> lock(mutex);
        std::vector<double> out;
        for (const auto& [n, at] : seen)
            if (written.count(n))
                out.push_back(msSince(written[n], at));
        return out;
    }
};

void print(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("  %-34s no samples\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const size_t p99 = std::min(n - 1, size_t(std::ceil(0.99 * double(n))) - 1);
    std::printf("  %-34s n=%4zu  median %7.2f ms  p99 %7.2f ms  max %7.2f ms\n", what, n,
                values[n / 2], values[p99], values[n - 1]);
}

QByteArray marker(int n) {
    return QByteArray("MARK ") + QByteArray::number(n).rightJustified(6, '0') + "\r\n";
}

// Markers seen in `text` (a block or a log's new bytes).
template <class Found> void findMarkers(const QByteArray& text, Found&& found) {
    for (qsizetype at = text.indexOf("MARK "); at >= 0; at = text.indexOf("MARK ", at + 5)) {
        bool ok = false;
        const int n = text.mid(at + 5, 6).toInt(&ok);
        if (ok)
            found(n);
    }
}

// Sees markers in the document as a paint of the terminal is about to show it.
class PaintWatch : public QObject {
public:
    PaintWatch(TerminalView& term, Samples& samples) : m_term(term), m_samples(samples) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Paint)
            return false;
        // Newest first, back to a marker seen before.
        int newest = m_last;
        int blocks = 0;
        const LineStore& store = m_term.store();
        for (qint64 line = store.endLine() - 1; line >= store.firstLine() && blocks < 400;
             --line, ++blocks) {
            bool older = false;
            findMarkers(store.line(line).toLatin1(), [&](int n) {
                older = older || n <= m_last;
                if (n > m_last)
                    m_samples.saw(n);
                newest = std::max(newest, n);
            });
            if (older)
                break;
        }
        m_last = newest;
        return false;
    }

private:
    TerminalView& m_term;
    Samples& m_samples;
    int m_last = -1;
};

// Follows the log file with inotify and sees markers as they become readable.
void followLog(const QString& path, Samples& samples, const std::atomic<bool>& stop) {
    const int watch = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(watch, path.toLocal8Bit().constData(), IN_MODIFY);
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    QByteArray tail;
    std::vector<char> buffer(1 << 16);
    while (!stop) {
        pollfd p{watch, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        [[maybe_unused]] const auto drained = ::read(watch, buffer.data(), buffer.size());
        for (long n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) {
            tail += QByteArray(buffer.data(), n);
            const qsizetype end = tail.lastIndexOf('\n');
            if (end < 0)
                continue;
            findMarkers(tail.left(end + 1), [&](int m) { samples.saw(m); });
            tail.remove(0, end + 1);
        }
    }
    ::close(fd);
    ::close(watch);
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

// Writes markers `gapMs` apart from `first` on; with `floodBytes`, numbered
// flood lines fill the gaps, repeated until `count` markers are out.
void device(int master, int first, int count, int gapMs, long floodBytes, Samples& screen,
            Samples& log) {
    std::vector<char> chunk(4096);
    const size_t wire = bench::wireLength(colour);
    long line = 1, flooded = 0;
    for (int n = first; n < first + count; ++n) {
        const auto due = Steady::now() + std::chrono::milliseconds(gapMs);
        while (floodBytes > 0 && Steady::now() < due) {
            for (size_t at = 0; at + wire <= chunk.size(); at += wire)
                bench::formatWireLine(chunk.data() + at, line++, colour);
            writeAll(master, chunk.data(), chunk.size() / wire * wire);
            flooded += long(chunk.size());
            if (flooded >= floodBytes) {
                flooded = 0;
                line = 1;
            }
        }
        std::this_thread::sleep_until(due);
        const QByteArray text = marker(n);
        writeAll(master, text.constData(), size_t(text.size()));
        screen.wrote(n);
        log.wrote(n);
    }
}

// Presses Enter through XTest `count` times, `gapMs` apart; each press sends
// one CR, read back from the pty's master. `unanswered` gets the keys whose
// CR did not come within answerMs.
std::vector<double> keysToWire(Display* x, int master, int count, int gapMs, int& unanswered) {
    std::vector<Steady::time_point> pressed;
    std::vector<double> out;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::thread reader([&] {
        char byte[256];
        size_t index = 0;
        while (!stop || index < pressed.size()) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) {
                if (stop)
                    break;
                continue;
            }
            const ssize_t n = ::read(master, byte, sizeof byte);
            const auto now = Steady::now();
            for (ssize_t i = 0; i < n; ++i) {
                if (byte[i] != '\r')
                    continue;
                const std::lock_guard<std::mutex> lock(mutex);
                if (index < pressed.size())
                    out.push_back(msSince(pressed[index++], now));
            }
        }
    });
    const KeyCode enter = XKeysymToKeycode(x, XK_Return);
    for (int i = 0; i < count; ++i) {
        XTestFakeKeyEvent(x, enter, True, CurrentTime);
        XTestFakeKeyEvent(x, enter, False, CurrentTime);
        XFlush(x);
        {
            const std::lock_guard<std::mutex> lock(mutex);
            pressed.push_back(Steady::now());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
    }
    for (auto waited = Steady::now();
         Steady::now() - waited < std::chrono::milliseconds(answerMs);) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (out.size() == pressed.size())
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    reader.join();
    out.erase(std::remove_if(out.begin(), out.end(), [](double ms) { return ms > answerMs; }),
              out.end());
    unanswered = count - int(out.size());
    return out;
}

// Runs the event loop until `done`.
void runUntil(const std::atomic<bool>& done) {
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// How far each marker's stamp is from the device's write, in ms.
std::vector<double> stampOffsets(TerminalView& term, Samples& samples) {
    std::vector<double> out;
    const QDate today = QDate::currentDate();
    const LineStore& store = term.store();
    for (qint64 line = store.firstLine(); line < store.endLine(); ++line) {
        const QString text = store.line(line);
        const qsizetype at = text.indexOf(QLatin1String("] MARK "));
        if (at != 13)
            continue;
        const QTime time = QTime::fromString(text.mid(1, 12), QStringLiteral("hh:mm:ss.zzz"));
        const int n = text.mid(at + 7, 6).toInt();
        const std::lock_guard<std::mutex> lock(samples.mutex);
        if (time.isValid() && samples.writtenWall.count(n))
            out.push_back(double(
                std::llabs(QDateTime(today, time).toMSecsSinceEpoch() - samples.writtenWall[n])));
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int samples = 220;
    bool hex = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--hex") == 0)
            hex = true;
        else if (std::strcmp(argv[i], "--colour") == 0)
            colour = true;
        else if (std::atoi(argv[i]) > 0)
            samples = std::max(40, std::atoi(argv[i]));
    }
    const long floodBytes = 8L << 20;

    QTemporaryDir config;
    QString slave;
    const int master = bench::openPinnedPty(config, slave);
    Display* x = XOpenDisplay(nullptr);
    int event = 0, error = 0, major = 0, minor = 0;
    if (master < 0 || !x || !XTestQueryExtension(x, &event, &error, &major, &minor)) {
        std::printf("needs a pty and an X display with XTest\n");
        return 1;
    }
    bench::BenchWindow bw;
    const QString logPath = config.filePath(QStringLiteral("LATENCY.LOG"));
    if (!bw.open(logPath))
        return 1;
    bw.window.mnuTimestamp->trigger();
    if (hex)
        bw.window.mnuHexView->trigger();
    if (colour)
        bw.window.mnuEscapes->trigger();
    bw.window.activateWindow();
    bw.window.txtTerm->setFocus();
    XSetInputFocus(x, Window(bw.window.winId()), RevertToParent, CurrentTime);
    XSync(x, False);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    std::printf("latency, %d samples each, timestamps on, capture log on, %s display\n", samples,
                hex      ? "hex"
                : colour ? "colour"
                         : "plain");
    for (const bool flood : {false, true}) {
        Samples screen, log;
        PaintWatch watch(*bw.window.txtTerm, screen);
        bw.window.txtTerm->viewport()->installEventFilter(&watch);
        std::atomic<bool> stop{false}, done{false};
        std::thread follower([&] { followLog(logPath, log, stop); });
        const int first = flood ? 100000 : 0;
        std::thread writer([&] {
            device(master, first, samples, flood ? 2 : 10, flood ? floodBytes : 0, screen, log);
            std::this_thread::sleep_for(std::chrono::milliseconds(1000));
            done = true;
        });
        std::vector<double> keys;
        int unanswered = 0;
        std::atomic<bool> keysDone{false};
        std::thread typist([&] {
            // Idle: keys on their own, after the markers; in a flood, beside it.
            if (!flood)
                while (!done)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            keys = keysToWire(x, master, samples, flood ? 5 : 10, unanswered);
            keysDone = true;
        });
        runUntil(done);
        runUntil(keysDone);
        writer.join();
        typist.join();
        stop = true;
        follower.join();
        bw.window.txtTerm->viewport()->removeEventFilter(&watch);

        std::printf("%s:\n", flood ? "during 8 MiB floods" : "idle");
        print("wire to screen", screen.latencies());
        print("wire to log readable", log.latencies());
        print("key to wire", keys);
        std::printf("  %-34s %d of %d\n", "keys unanswered within 2 s", unanswered, samples);
        if (!flood)
            print("stamp minus device write (10 ms)", stampOffsets(*bw.window.txtTerm, screen));
    }
    XCloseDisplay(x);
    return 0;
}
