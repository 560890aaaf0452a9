#pragma once

#include "graph/GraphParser.h"

#include <QtGlobal>
#include <vector>

// The samples the graph keeps: one row per line that held a number, in a
// ring of `capacity` rows. The rows share one column of read times; each
// channel is a column of floats, or of doubles once a value arrives that a
// float would change. Every block of rows keeps its lowest and highest value
// per channel, so a frame of a million rows reads blocks, not rows.
class SampleStore {
public:
    static constexpr qint64 DefaultCapacity = 1000000;
    static constexpr qint64 BlockRows = 16;

    explicit SampleStore(qint64 capacity = DefaultCapacity);

    // A row read at `readMs`; a channel the values leave out is absent from it.
    void append(qint64 readMs, const std::vector<GraphParser::Value>& values);
    void clear();

    qint64 capacity() const { return m_capacity; }
    // Every row gets the next sample number, from 0; [first(), end()) are kept.
    qint64 first() const { return m_end - size(); }
    qint64 end() const { return m_end; }
    qint64 size() const { return qint64(m_times.size()); }
    int channelCount() const { return int(m_columns.size()); }

    qint64 timeAt(qint64 sample) const { return m_times[slot(sample)]; }
    // False where the sample's line lacked the channel.
    bool present(int channel, qint64 sample) const;
    // NaN where the line said nan (or lacked the channel).
    double valueAt(int channel, qint64 sample) const;
    // Values kept as doubles print with all their digits.
    bool wide(int channel) const { return m_columns[size_t(channel)].wide; }

    struct Extent {
        double low;
        double high;
        bool any() const { return low <= high; }
    };
    // The lowest and highest finite value among the samples [from, to).
    Extent extent(int channel, qint64 from, qint64 to) const;
    // The first kept sample read at or after `ms`: times are taken as rising.
    qint64 sampleAtTime(qint64 ms) const;
    // Memory held, in bytes.
    qint64 bytes() const;

private:
    struct Column {
        bool wide = false;
        std::vector<float> narrow;
        std::vector<double> doubles;
        std::vector<Extent> blocks; // a ring of blockSlots()
    };
    size_t slot(qint64 sample) const { return size_t(sample % m_capacity); }
    size_t blockSlot(qint64 sample) const;
    Column& column(int channel);
    void widen(Column& column);
    template <class T> void put(std::vector<T>& rows, qint64 sample, T value);
    template <class T>
    void scan(const std::vector<T>& rows, qint64 from, qint64 count, Extent& found) const;

    qint64 m_capacity;
    qint64 m_end = 0;
    std::vector<qint64> m_times;
    std::vector<Column> m_columns;
};
