// Any received text, cut into any reads, through the graph's line cutting,
// parsing and ring: no channel past the limit, no row past the capacity, and
// the block extents agree with the rows they stand for.
#include "graph/GraphCsv.h"
#include "graph/GraphFeed.h"

#include <QString>
#include <cmath>
#include <cstdint>
#include <cstdlib>

// Input: one byte (the length of each read, 1 to 32 units), then UTF-8 text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 8193)
        return 0;
    const qsizetype step = data[0] % 32 + 1;
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    GraphFeed feed(SampleStore::BlockRows * 2);
    for (qsizetype at = 0; at < text.size(); at += step)
        feed.receivedText(text.mid(at, step), at);
    feed.portClosed();

    const SampleStore& store = feed.store();
    if (feed.parser().channels().size() > GraphParser::MaxChannels ||
        store.channelCount() > feed.parser().channels().size() || store.size() > store.capacity())
        std::abort();
    for (int channel = 0; channel < store.channelCount(); ++channel) {
        double low = HUGE_VAL, high = -HUGE_VAL;
        for (qint64 sample = store.first(); sample < store.end(); ++sample) {
            const double value = store.valueAt(channel, sample);
            if (store.present(channel, sample) && std::isfinite(value)) {
                low = std::min(low, value);
                high = std::max(high, value);
            }
            if (store.present(channel, sample) && csvNumber(value, store.wide(channel)).isEmpty())
                std::abort();
        }
        const SampleStore::Extent extent = store.extent(channel, store.first(), store.end());
        if (extent.any() != (low <= high) ||
            (extent.any() && (extent.low != low || extent.high != high)))
            std::abort();
    }
    return 0;
}
