// Graph benchmark, printed: lines a second through the parser alone and
// through the feed (cutting lines, parsing, storing); frame times of the
// plot drawn into an offscreen image the size of the window, with 8 channels
// of 100,000 and of 1,000,000 samples; the memory those hold.
//
//   graph_bench [frames, default 60]
#include "BenchSupport.h"
#include "graph/GraphFeed.h"
#include "graph/GraphPlot.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// A line as the simulated device's plot mode prints it.
QString plotLine(long n) {
    const double t = double(n) / 12500.0;
    return QString::asprintf("seq:%ld,sin:%.3f,cos:%.3f,saw:%.3f,square:%d,tri:%.3f,noise:%.3f,"
                             "ramp:%.1f\r\n",
                             n, std::sin(t * 6.2832), 0.5 * std::cos(t * 2.0),
                             std::fmod(t, 1.0) - 0.5, std::fmod(t, 2.0) < 1.0 ? 1 : -1,
                             std::fabs(std::fmod(t, 4.0) - 2.0) - 1, double(n % 1000) / 4000.0,
                             std::fmod(t * 10, 50.0));
}

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void parsing() {
    constexpr long distinct = 100000, rounds = 10;
    std::vector<QString> lines;
    QString block;
    for (long n = 0; n < distinct; ++n) {
        lines.push_back(plotLine(n));
        lines.back().chop(2);
        block += plotLine(n);
    }
    GraphParser parser;
    std::vector<GraphParser::Value> values;
    QElapsedTimer timer;
    timer.start();
    const double cpu0 = cpuSeconds();
    long samples = 0;
    for (long round = 0; round < rounds; ++round)
        for (const QString& line : lines)
            samples += parser.parse(line, values) == GraphParser::Outcome::Sample;
    const double parseSeconds = timer.nsecsElapsed() / 1e9;
    const double parseCpu = cpuSeconds() - cpu0;
    GraphFeed feed;
    timer.restart();
    // In reads of about 4 kB, as the port hands them over.
    for (long round = 0; round < rounds; ++round)
        for (qsizetype at = 0; at < block.size(); at += 2048)
            feed.receivedText(block.mid(at, 2048), round);
    const double feedSeconds = timer.nsecsElapsed() / 1e9;
    std::printf("parser: %.2f M lines/s, %.2f M lines per CPU second (%ld lines of 8 labelled "
                "values, %ld samples)\n",
                double(distinct * rounds) / parseSeconds / 1e6,
                double(distinct * rounds) / parseCpu / 1e6, distinct * rounds, samples);
    std::printf("feed (cut, parse, store): %.2f M lines/s, %lld kept\n",
                double(distinct * rounds) / feedSeconds / 1e6,
                static_cast<long long>(feed.store().size()));
}

void frames(long points, int count) {
    const long before = bench::residentKb();
    GraphFeed feed(points);
    QString block;
    const qint64 start = 1700000000000;
    for (long n = 0; n < points; ++n) {
        block += plotLine(n);
        if (block.size() > 8192 || n == points - 1) {
            feed.receivedText(block, start + n * 80 / 1000);
            block.clear();
        }
    }
    const SampleStore& store = feed.store();
    std::printf("%d x %ld points: store %.1f MB (resident +%.1f MB)\n", store.channelCount(),
                static_cast<long>(store.size()), double(store.bytes()) / 1e6,
                double(bench::residentKb() - before) / 1e3);
    // The pane of a 1000 x 560 window, as the README's picture shows it.
    QImage image(1000, 560, QImage::Format_RGB32);
    GraphPlot plot;
    for (GraphAxis axis : {GraphAxis::Sample, GraphAxis::Time}) {
        PlotRequest request;
        request.axis = axis;
        request.pointerX = 500;
        std::vector<double> ms;
        for (int frame = 0; frame < count; ++frame) {
            // A view that follows the newest samples, as they arrive.
            GraphPlot::fullRange(store, axis, request.from, request.to);
            request.from += frame;
            QElapsedTimer timer;
            timer.start();
            QPainter painter(&image);
            plot.paint(painter, image.rect(), store, request);
            painter.end();
            ms.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("  frame, X by %s: p50 %.1f ms, p95 %.1f ms, max %.1f ms (%d frames)\n",
                    axis == GraphAxis::Sample ? "sample" : "time  ", ms[ms.size() / 2],
                    ms[std::min(ms.size() - 1, ms.size() * 95 / 100)], ms.back(), count);
    }
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    // The large store first, so its memory is not taken from what the
    // others freed.
    frames(1000000, count);
    frames(100000, count);
    parsing();
    return 0;
}
