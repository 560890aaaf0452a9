#include "graph/SampleStore.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// A quiet NaN with a payload no parsed "nan" carries marks a line that
// lacked the channel.
constexpr quint32 absentFloatBits = 0x7fc0dea1u;
constexpr quint64 absentDoubleBits = 0x7ff80000dea10000ull;

template <class T, class Bits> T fromBits(Bits bits) {
    T value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
template <class Bits, class T> Bits toBits(T value) {
    Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

const float absentFloat = fromBits<float>(absentFloatBits);
const double absentDouble = fromBits<double>(absentDoubleBits);
constexpr SampleStore::Extent noExtent{std::numeric_limits<double>::infinity(),
                                       -std::numeric_limits<double>::infinity()};

void widenBy(SampleStore::Extent& extent, double value) {
    if (std::fabs(value) <= std::numeric_limits<double>::max()) { // neither NaN nor infinite
        extent.low = std::min(extent.low, value);
        extent.high = std::max(extent.high, value);
    }
}

// The double a float's shortest decimal form stands for: 0.1f becomes 0.1.
double asPrinted(float value) {
    if (!std::isfinite(value))
        return double(value);
    char text[32];
    const auto printed = std::to_chars(text, text + sizeof text, value);
    double wide = double(value);
    std::from_chars(text, printed.ptr, wide);
    return wide;
}

} // namespace

SampleStore::SampleStore(qint64 capacity) : m_capacity(std::max<qint64>(capacity, BlockRows)) {}

void SampleStore::clear() {
    *this = SampleStore(m_capacity);
}

size_t SampleStore::blockSlot(qint64 sample) const {
    return size_t((sample / BlockRows) % (m_capacity / BlockRows + 2));
}

template <class T> void SampleStore::put(std::vector<T>& rows, qint64 sample, T value) {
    const size_t at = slot(sample);
    if (at < rows.size()) {
        rows[at] = value;
        return;
    }
    // Grown by hand so a full ring holds no more than its rows.
    if (rows.size() == rows.capacity())
        rows.reserve(size_t(std::min<qint64>(m_capacity, std::max<qint64>(4096, 2 * size()))));
    rows.push_back(value);
}

SampleStore::Column& SampleStore::column(int channel) {
    while (int(m_columns.size()) <= channel) {
        Column added;
        // Rows before the channel appeared lack it.
        added.narrow.assign(m_times.size(), absentFloat);
        added.blocks.assign(size_t(m_capacity / BlockRows + 2), noExtent);
        m_columns.push_back(std::move(added));
    }
    return m_columns[size_t(channel)];
}

void SampleStore::widen(Column& column) {
    column.doubles.reserve(column.narrow.capacity());
    for (float value : column.narrow)
        column.doubles.push_back(toBits<quint32>(value) == absentFloatBits ? absentDouble
                                                                           : asPrinted(value));
    column.narrow = std::vector<float>();
    column.wide = true;
    // The blocks held the floats' values.
    for (qint64 sample = first(); sample < m_end; ++sample) {
        Extent& block = column.blocks[blockSlot(sample)];
        if (sample % BlockRows == 0 || sample == first())
            block = noExtent;
        if (toBits<quint64>(column.doubles[slot(sample)]) != absentDoubleBits)
            widenBy(block, column.doubles[slot(sample)]);
    }
}

void SampleStore::append(qint64 readMs, const std::vector<GraphParser::Value>& values) {
    const qint64 sample = m_end;
    const bool blockStarts = sample % BlockRows == 0;
    quint32 given = 0;
    for (const GraphParser::Value& value : values) {
        Column& target = column(value.channel);
        if (!value.narrow && !target.wide)
            widen(target);
        given |= 1u << value.channel;
    }
    for (size_t channel = 0; channel < m_columns.size(); ++channel) {
        Column& target = m_columns[channel];
        if (blockStarts)
            target.blocks[blockSlot(sample)] = noExtent;
        if (given & (1u << channel))
            continue;
        if (target.wide)
            put(target.doubles, sample, absentDouble);
        else
            put(target.narrow, sample, absentFloat);
    }
    for (auto value = values.begin(); value != values.end(); ++value) {
        // A channel given twice on one line keeps the last value.
        if (std::any_of(value + 1, values.end(), [&](const GraphParser::Value& later) {
                return later.channel == value->channel;
            }))
            continue;
        Column& target = m_columns[size_t(value->channel)];
        double stored = value->value;
        if (target.wide) {
            put(target.doubles, sample, stored);
        } else {
            put(target.narrow, sample, float(stored));
            stored = double(float(stored));
        }
        widenBy(target.blocks[blockSlot(sample)], stored);
    }
    put(m_times, sample, readMs);
    ++m_end;
}

bool SampleStore::present(int channel, qint64 sample) const {
    const Column& source = m_columns[size_t(channel)];
    return source.wide ? toBits<quint64>(source.doubles[slot(sample)]) != absentDoubleBits
                       : toBits<quint32>(source.narrow[slot(sample)]) != absentFloatBits;
}

double SampleStore::valueAt(int channel, qint64 sample) const {
    const Column& source = m_columns[size_t(channel)];
    return source.wide ? source.doubles[slot(sample)] : double(source.narrow[slot(sample)]);
}

// Rows [at, at + count) of a column, wrapping round the ring. Absent
// markers are NaN and drop out with the other values that are not finite.
template <class T>
void SampleStore::scan(const std::vector<T>& rows, qint64 from, qint64 count, Extent& found) const {
    size_t at = slot(from);
    Extent local = found; // kept in registers, not written back per row
    while (count > 0) {
        const size_t run = size_t(std::min<qint64>(count, qint64(rows.size() - at)));
        for (const T *p = rows.data() + at, *stop = p + run; p != stop; ++p)
            widenBy(local, double(*p));
        count -= qint64(run);
        at = 0;
    }
    found = local;
}

SampleStore::Extent SampleStore::extent(int channel, qint64 from, qint64 to) const {
    Extent found = noExtent;
    from = std::max(from, first());
    to = std::min(to, m_end);
    if (from >= to)
        return found;
    const Column& source = m_columns[size_t(channel)];
    const auto raw = [&](qint64 start, qint64 stop) {
        if (source.wide)
            scan(source.doubles, start, stop - start, found);
        else
            scan(source.narrow, start, stop - start, found);
    };
    const qint64 firstWhole = (from + BlockRows - 1) / BlockRows * BlockRows;
    const qint64 lastWhole = to / BlockRows * BlockRows;
    if (firstWhole >= lastWhole) {
        raw(from, to);
        return found;
    }
    raw(from, firstWhole);
    // Walked by slot: a division per block would cost more than the block.
    const size_t blockCount = source.blocks.size();
    size_t at = blockSlot(firstWhole);
    for (qint64 block = firstWhole; block < lastWhole; block += BlockRows) {
        const Extent& kept = source.blocks[at];
        found.low = std::min(found.low, kept.low);
        found.high = std::max(found.high, kept.high);
        if (++at == blockCount)
            at = 0;
    }
    raw(lastWhole, to);
    return found;
}

qint64 SampleStore::sampleAtTime(qint64 ms) const {
    qint64 low = first(), high = m_end;
    while (low < high) {
        const qint64 middle = low + (high - low) / 2;
        if (timeAt(middle) < ms)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

qint64 SampleStore::bytes() const {
    qint64 total = qint64(m_times.capacity() * sizeof(qint64));
    for (const Column& column : m_columns)
        total += qint64(column.narrow.capacity() * sizeof(float) +
                        column.doubles.capacity() * sizeof(double) +
                        column.blocks.capacity() * sizeof(Extent));
    return total;
}
