// The terminal's line store at scale: memory for a million lines, and the
// time to count every match, to find the next one and to filter by a regular
// expression. Prints figures; asserts nothing.
#include "BenchSupport.h"
#include "datapath/DataPath.h"
#include "platform/Prompts.h"
#include "screen/LineFinder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>
#include <ctime>

namespace {

class NoPrompts : public Prompts {
public:
    int messageBox(const QString&, const QString&, MsgButtons, MsgIcon, int) override { return 0; }
    std::optional<QString> inputBox(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    FileDialogResult fileOpen(const FileDialogSetup&) override { return {}; }
    void beep() override {}
};

qint64 residentBytes() {
    return qint64(bench::residentKb()) * 1024;
}

// The machine is shared: the thread's own CPU time says what the work costs,
// the wall time what a user waits for on it today.
struct Stopwatch {
    QElapsedTimer wall;
    double cpuStart = 0;
    static double cpuMs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
    }
    void start() {
        wall.start();
        cpuStart = cpuMs();
    }
    void restart() { start(); }
    double cpu() const { return cpuMs() - cpuStart; }
    QByteArray both() const {
        return QByteArray::number(cpu(), 'f', 1) + " ms CPU, " +
               QByteArray::number(double(wall.nsecsElapsed()) / 1e6, 'f', 1) + " ms wall";
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 lines = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    NoPrompts prompts;
    LoglessHost host(prompts);
    LineStore store;
    TerminalSession session(store, host, "UTF-8");
    session.setScrollback(lines);

    // Lines of about 60 characters, 20 of them with the word looked for;
    // shares of 4 KiB as a fast line delivers them.
    const qint64 before = residentBytes();
    Stopwatch timer;
    timer.start();
    qint64 utf8 = 0;
    QString share;
    for (qint64 i = 0; i < lines; ++i) {
        const bool hit = i % (lines / 20) == lines / 40;
        const QString line = QStringLiteral("%1 sensor=%2 temp=%3.%4 status=%5 value=0x%6\r\n")
                                 .arg(i, 8, 10, QLatin1Char('0'))
                                 .arg(i % 17)
                                 .arg(20 + i % 13)
                                 .arg(i % 10)
                                 .arg(hit ? QStringLiteral("needle") : QStringLiteral("OK    "))
                                 .arg(i * 2654435761u % 65536, 4, 16, QLatin1Char('0'));
        utf8 += line.size() - 1; // the text as saved with LF line ends
        share += line;
        if (share.size() >= 4096) {
            session.append(share);
            share.clear();
        }
    }
    session.append(share);
    const QByteArray fillTime = timer.both();
    const qint64 grown = residentBytes() - before;
    std::printf("lines kept                 %lld\n", store.lineCount() - 1);
    std::printf("text (UTF-8)               %.1f MB\n", utf8 / 1e6);
    std::printf("store's own count          %.1f MB (%.2f x the text)\n", store.memoryUse() / 1e6,
                double(store.memoryUse()) / double(utf8));
    std::printf("resident growth            %.1f MB (%.2f x the text)\n", grown / 1e6,
                double(grown) / double(utf8));
    std::printf("fill through the session   %s\n", fillTime.constData());

    LineFinder finder(store);
    timer.restart();
    finder.setQuery({QStringLiteral("needle"), false, true});
    finder.update();
    std::printf("count all matches          %s (%lld found)\n", timer.both().constData(),
                finder.count());

    timer.restart();
    finder.setQuery({QStringLiteral("NEEDLE"), false, false});
    finder.update();
    std::printf("count, any case            %s (%lld found)\n", timer.both().constData(),
                finder.count());

    double worst = 0;
    TextPos from{store.firstLine(), 0};
    for (int i = 0; i < 21; ++i) {
        timer.restart();
        const std::optional<TextMark> found = finder.next(from, false);
        worst = std::max(worst, timer.cpu());
        if (!found)
            break;
        from = {found->line, found->column + found->length};
    }
    std::printf("next match, slowest of 21  %.1f ms CPU\n", worst);

    timer.restart();
    finder.setQuery({QStringLiteral("temp=2[0-4]\\.[0-3] status=needle"), true, false});
    finder.update();
    std::printf("regex filter               %s (%zu lines)\n", timer.both().constData(),
                finder.lines().size());

    timer.restart();
    finder.setQuery({QStringLiteral("sensor=1[0-6] .*0x0"), true, true});
    finder.update();
    std::printf("regex filter, many lines   %s (%zu lines)\n", timer.both().constData(),
                finder.lines().size());
    return 0;
}
