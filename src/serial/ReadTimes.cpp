#include "serial/ReadTimes.h"

#include <algorithm>

void ReadTimes::add(long count, qint64 ms) {
    if (count <= 0)
        return;
    if (!m_spans.empty() && m_spans.back().ms == ms)
        m_spans.back().bytes += count;
    else
        m_spans.push_back({count, ms});
}

ReadSpans ReadTimes::take(long count) {
    ReadSpans taken;
    while (count > 0 && !m_spans.empty()) {
        ReadSpan& first = m_spans.front();
        const long used = std::min(count, first.bytes);
        taken.append({used, first.ms});
        first.bytes -= used;
        count -= used;
        if (first.bytes == 0)
            m_spans.pop_front();
    }
    return taken;
}
