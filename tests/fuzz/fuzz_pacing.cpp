// Any bytes, any pacing, a port that drains at any pace: what reaches the
// port is the input once, in order, and every wait sits after the byte the
// pacing puts it after.
#include "platform/Clock.h"
#include "sending/SendEngine.h"

#include <cstdint>
#include <cstdlib>

namespace {

struct DrainingPort : SendPort {
    QByteArray line;       // what has left
    QByteArray queue;      // taken, not yet left
    const uint8_t* drains; // how much leaves per look, from the input
    size_t drainCount = 0, next = 0;
    void write(const QByteArray& bytes) override { queue += bytes; }
    int pending() const override { return int(queue.size()); }
    void discard() override { queue.clear(); }
    void drain() {
        const qsizetype n = drainCount ? (drains[next++ % drainCount] % 8 + 1) * 16 : queue.size();
        line += queue.left(n);
        queue.remove(0, std::min(n, queue.size()));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6)
        return 0;
    Pacing pacing;
    pacing.charDelayMs = data[0] % 3;
    pacing.lineDelayMs = data[1] % 4 * 5;
    pacing.waitEcho = data[2] & 1;
    pacing.echoTimeoutMs = data[2] >> 1;
    const qsizetype maxChunk = data[3] % 16 + 1;
    const QByteArray input(reinterpret_cast<const char*>(data + 6), qsizetype(size - 6));

    // The plan alone: pieces tile the input, and each carries the wait its last byte calls for.
    const bool linesPaced = pacing.lineDelayMs > 0 || pacing.echoWaits();
    QByteArray joined;
    for (qsizetype pos = 0; pos < input.size();) {
        const SendStep step = planStep(input, pos, pacing, maxChunk);
        if (step.length < 1 || step.length > std::max<qsizetype>(maxChunk, 1))
            std::abort();
        const qsizetype last = pos + step.length - 1;
        for (qsizetype i = pos; i < last; ++i)
            if (linesPaced && isLineEnd(input, i))
                std::abort();
        if (pacing.charDelayMs > 0 && step.length != 1)
            std::abort();
        const bool ends = linesPaced && isLineEnd(input, last);
        if (step.delayMs != pacing.charDelayMs + (ends ? pacing.lineDelayMs : 0) ||
            step.awaitEcho != (ends && pacing.echoWaits()))
            std::abort();
        joined += input.mid(pos, step.length);
        pos += step.length;
    }
    if (joined != input)
        std::abort();

    // The engine over a slow port: the same bytes once each, then it ends.
    DrainingPort port;
    port.drains = data + 4;
    port.drainCount = data[5] % 3 == 0 ? 0 : 2;
    ManualClock clock;
    SendEngine engine(clock);
    engine.start(port, input, pacing);
    for (int rounds = 0; engine.active(); ++rounds) {
        if (rounds > 100000000)
            std::abort();
        const int wait = engine.run();
        if (wait > 0)
            clock.advance(wait);
        port.drain();
        if (port.line.size() > input.size() || port.line != input.left(port.line.size()))
            std::abort();
    }
    if (engine.end() != SendEngine::End::Completed || port.line != input ||
        engine.sent() != input.size())
        std::abort();
    return 0;
}
