#include "screen/LineStore.h"

#include <QDateTime>
#include <algorithm>

namespace {

// A chunk takes lines until it holds this many units; lines are never split.
constexpr qsizetype ChunkUnits = 16384;
// TextTarget positions are ints: they count from an origin that moves on
// once the text kept grows past this.
constexpr qint64 OriginSpan = qint64(1) << 30;
constexpr char16_t CR = 13, LF = 10;

StyledText styledMid(const StyledText& from, qsizetype at, qsizetype length) {
    if (from.runs.isEmpty())
        return {from.text.mid(at, length), {}};
    StyledText out;
    qsizetype start = 0;
    const qsizetype stop = at + length;
    for (const StyleRun& run : from.runs) {
        const qsizetype a = std::max(start, at);
        const qsizetype b = std::min(start + run.length, stop);
        if (a < b)
            appendStyled(out, QStringView(from.text).mid(a, b - a), run.style);
        start += run.length;
        if (start >= stop)
            break;
    }
    if (out.runs.size() == 1 && out.runs.first().style.isPlain())
        out.runs.clear();
    return out;
}

bool isLatin1(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar ch) { return ch.unicode() < 0x100; });
}

} // namespace

QString LineStore::Chunk::text(qsizetype from, qsizetype to) const {
    return isWide ? wide.mid(from, to - from)
                  : QString::fromLatin1(latin.constData() + from, to - from);
}

StyleRuns LineStore::Chunk::runs(qsizetype from, qsizetype to) const {
    StyleRuns out;
    auto it = std::lower_bound(spans.begin(), spans.end(), from,
                               [](const Span& s, qsizetype at) { return s.start < at; });
    qsizetype at = from;
    for (; it != spans.end() && it->start < to; ++it) {
        if (it->start > at)
            out.append({it->start - at, TextStyle()});
        out.append({it->length, it->style});
        at = it->start + it->length;
    }
    if (!out.isEmpty() && at < to)
        out.append({to - at, TextStyle()});
    return out;
}

void LineStore::changed() {
    ++m_revision;
    m_origin = std::max(m_origin, m_frontPos);
    if (endPos() - m_origin > OriginSpan)
        m_origin = endPos() - OriginSpan / 2;
    m_selStart = std::clamp(m_selStart, m_origin, endPos());
    m_selEnd = std::clamp(m_selEnd, m_selStart, endPos());
}

const LineStore::Chunk& LineStore::chunkOf(qint64 number) const {
    auto it = std::upper_bound(m_chunks.begin(), m_chunks.end(), number,
                               [](qint64 n, const Chunk& c) { return n < c.firstLine; });
    return *(it - 1);
}

LineStore::Where LineStore::locate(qint64 pos) const {
    if (pos >= m_tailPos || m_chunks.empty())
        return {nullptr, 0, pos - m_tailPos};
    auto it = std::upper_bound(m_chunks.begin(), m_chunks.end(), pos,
                               [](qint64 p, const Chunk& c) { return p < c.firstPos; });
    const Chunk& c = *(it == m_chunks.begin() ? it : it - 1);
    qsizetype lo = 0, hi = c.lineCount(); // the last line starting at or before pos
    while (hi - lo > 1) {
        const qsizetype mid = (lo + hi) / 2;
        (c.linePos(mid) <= pos ? lo : hi) = mid;
    }
    return {&c, lo, pos - c.linePos(lo)};
}

QChar LineStore::charAt(int position) const {
    const Where w = locate(m_origin + position);
    if (!w.chunk)
        return m_tail.text.at(w.offset);
    const qsizetype start = w.chunk->starts[w.index];
    const qsizetype length = w.chunk->lineEnd(w.index) - start;
    if (w.offset < length)
        return w.chunk->at(start + w.offset);
    return QChar(w.offset == length ? CR : LF);
}

QString LineStore::textBetween(qint64 from, qint64 to) const {
    QString out;
    if (to <= from)
        return out;
    Where w = locate(from);
    while (w.chunk) {
        const Chunk& c = *w.chunk;
        const qsizetype start = c.starts[w.index];
        const qsizetype length = c.lineEnd(w.index) - start;
        const qint64 lineEnd = c.linePos(w.index) + length + 2;
        const QString piece = c.text(start, c.lineEnd(w.index)) + QStringLiteral("\r\n");
        out += QStringView(piece).mid(w.offset,
                                      std::min(lineEnd, to) - (lineEnd - 2 - length) - w.offset);
        if (to <= lineEnd)
            return out;
        const qint64 next = c.firstLine + w.index + 1;
        if (next >= m_firstLine + m_committed)
            break;
        const Chunk& nc = chunkOf(next);
        w = {&nc, qsizetype(next - nc.firstLine), 0};
    }
    const qint64 a = std::max<qint64>(0, from - m_tailPos);
    out += QStringView(m_tail.text).mid(a, to - m_tailPos - a);
    return out;
}

QString LineStore::Text() const {
    return textBetween(m_origin, endPos());
}

void LineStore::setText(const QString& text) {
    m_selStart = m_frontPos;
    m_selEnd = endPos();
    setSelText(text);
    m_selStart = m_selEnd = m_origin;
    changed();
}

void LineStore::setSelStart(int position) {
    m_selStart = m_selEnd = std::clamp(m_origin + position, m_origin, endPos());
}

void LineStore::setSelLength(int length) {
    m_selEnd = std::clamp(m_selStart + std::max(0, length), m_selStart, endPos());
}

void LineStore::dropFrontLine() {
    ++m_skip;
    ++m_firstLine;
    --m_committed;
    m_frontCut = 0;
    if (m_skip == m_chunks.front().lineCount()) {
        m_chunks.pop_front();
        m_skip = 0;
    }
}

void LineStore::removeFront(int count) {
    const qint64 target = std::clamp(m_origin + std::max(0, count), m_frontPos, endPos());
    while (m_committed > 0) {
        const Chunk& c = m_chunks.front();
        const qint64 end = c.linePos(m_skip) + (c.lineEnd(m_skip) - c.starts[m_skip]) + 2;
        if (end > target)
            break;
        dropFrontLine();
    }
    if (m_committed > 0) {
        m_frontCut = target - m_chunks.front().linePos(m_skip);
    } else if (target > m_tailPos) {
        ::removeFront(m_tail, target - m_tailPos);
        m_tailPos = target;
    }
    m_frontPos = target;
    changed();
}

void LineStore::keepLines(qint64 lines) {
    if (m_committed + 1 <= lines)
        return;
    while (m_committed > 0 && m_committed + 1 > lines)
        dropFrontLine();
    m_frontPos = m_committed > 0 ? m_chunks.front().linePos(m_skip) : m_tailPos;
    changed();
}

// Puts finished lines back into the open line until it starts at or before `pos`.
void LineStore::reopenFrom(qint64 pos) {
    while (m_committed > 0 && pos < m_tailPos) {
        Chunk& c = m_chunks.back();
        const qsizetype i = c.lineCount() - 1;
        const qsizetype start = c.starts[i];
        const qsizetype end = c.units();
        StyledText piece{c.text(start, end), c.runs(start, end)};
        appendStyled(piece, QStringLiteral("\r\n"), TextStyle());
        if (piece.runs.size() == 1 && piece.runs.first().style.isPlain())
            piece.runs.clear();
        const bool front = m_committed == 1;
        m_changedFrom = std::min(m_changedFrom, m_firstLine + m_committed - 1);
        if (front && m_frontCut > 0)
            ::removeFront(piece, m_frontCut);
        m_tailPos -= piece.text.size();
        appendStyled(piece, m_tail);
        m_tail = std::move(piece);
        m_tailMs = c.readMs[i];
        c.starts.pop_back();
        c.readMs.pop_back();
        while (!c.spans.empty() && c.spans.back().start >= start)
            c.spans.pop_back();
        if (c.isWide)
            c.wide.truncate(start);
        else
            c.latin.truncate(start);
        --m_committed;
        if (front) {
            m_frontCut = 0;
            m_chunks.pop_back(); // only trimmed lines were left in it
            m_skip = 0;
        } else if (c.lineCount() == 0) {
            m_chunks.pop_back();
        }
    }
}

void LineStore::setSelStyledText(const StyledText& text) {
    if (m_committed > 0 && m_selStart <= m_frontPos && m_selEnd >= endPos()) {
        // All of it replaced: nothing to reopen, and numbers go on.
        m_firstLine += m_committed;
        m_chunks.clear();
        m_skip = 0;
        m_committed = 0;
        m_frontCut = 0;
        m_tail = StyledText();
        m_tailPos = m_selStart = m_selEnd = m_frontPos;
    }
    reopenFrom(m_selStart);
    const qsizetype a = m_selStart - m_tailPos;
    const qsizetype b = m_selEnd - m_tailPos;
    const qsizetype size = m_tail.text.size();
    if (size == 0 || a == 0)
        m_tailMs = m_readMs ? m_readMs : QDateTime::currentMSecsSinceEpoch();
    qsizetype scanFrom = std::max<qsizetype>(0, a - 1);
    if (a == size && b == size) {
        appendStyled(m_tail, text);
    } else {
        StyledText edited = styledMid(m_tail, 0, a);
        appendStyled(edited, text);
        appendStyled(edited, styledMid(m_tail, b, size - b));
        m_tail = std::move(edited);
        scanFrom = 0;
    }
    m_selStart = m_selEnd = m_tailPos + a + text.text.size();
    commitTail(scanFrom);
    changed();
}

// Every CR LF pair in the open line ends a finished line.
void LineStore::commitTail(qsizetype scanFrom) {
    const QString& text = m_tail.text;
    qsizetype from = 0;
    qsizetype runsAt = 0; // first run not wholly before `from`, and where it starts
    qsizetype runStart = 0;
    for (qsizetype i = text.indexOf(QChar(CR), scanFrom); i >= 0 && i + 1 < text.size();
         i = text.indexOf(QChar(CR), i + 1)) {
        if (text.at(i + 1).unicode() != LF)
            continue;
        StyleRuns runs;
        if (!m_tail.runs.isEmpty()) {
            while (runStart + m_tail.runs[runsAt].length <= from) {
                runStart += m_tail.runs[runsAt].length;
                ++runsAt;
            }
            qsizetype at = from;
            for (qsizetype r = runsAt, s = runStart; at < i; s += m_tail.runs[r++].length) {
                const qsizetype b = std::min(s + m_tail.runs[r].length, i);
                runs.append({b - at, m_tail.runs[r].style});
                at = b;
            }
        }
        commitLine(QStringView(text).mid(from, i - from), runs, m_tailPos + from, m_tailMs);
        m_tailMs = m_readMs ? m_readMs : QDateTime::currentMSecsSinceEpoch();
        from = i + 2;
    }
    if (from > 0) {
        ::removeFront(m_tail, from);
        m_tailPos += from;
    }
}

void LineStore::commitLine(QStringView text, const StyleRuns& runs, qint64 pos, qint64 readMs) {
    if (m_chunks.empty() || m_chunks.back().units() >= ChunkUnits) {
        if (!m_chunks.empty()) {
            Chunk& done = m_chunks.back();
            done.latin.squeeze();
            done.wide.squeeze();
            done.starts.shrink_to_fit();
            done.readMs.shrink_to_fit();
            done.spans.shrink_to_fit();
        }
        Chunk fresh;
        fresh.firstLine = m_firstLine + m_committed;
        fresh.firstPos = pos; // lines before it in this commit are not counted in m_tailPos yet
        fresh.latin.reserve(ChunkUnits + 128);
        m_chunks.push_back(std::move(fresh));
    }
    Chunk& c = m_chunks.back();
    const qsizetype start = c.units();
    if (!c.isWide && !isLatin1(text)) {
        c.wide = QString::fromLatin1(c.latin);
        c.latin = QByteArray();
        c.isWide = true;
    }
    if (c.isWide) {
        c.wide += text;
    } else {
        c.latin.resize(start + text.size());
        char* out = c.latin.data() + start;
        for (const QChar ch : text)
            *out++ = char(ch.unicode());
    }
    c.starts.push_back(quint32(start));
    c.readMs.push_back(readMs);
    qsizetype at = start;
    for (const StyleRun& run : runs) {
        if (!run.style.isPlain() && run.length > 0)
            c.spans.push_back({quint32(at), quint32(run.length), run.style});
        at += run.length;
    }
    ++m_committed;
}

QString LineStore::line(qint64 number) const {
    if (number >= m_firstLine + m_committed)
        return number == m_firstLine + m_committed ? m_tail.text : QString();
    if (number < m_firstLine)
        return QString();
    const Chunk& c = chunkOf(number);
    const qsizetype i = number - c.firstLine;
    QString text = c.text(c.starts[i], c.lineEnd(i));
    if (number == m_firstLine && m_frontCut > 0)
        return m_frontCut <= text.size() ? text.mid(m_frontCut) : QString(QChar(LF));
    return text;
}

StyleRuns LineStore::lineRuns(qint64 number) const {
    if (number >= m_firstLine + m_committed)
        return number == m_firstLine + m_committed ? m_tail.runs : StyleRuns();
    if (number < m_firstLine)
        return {};
    const Chunk& c = chunkOf(number);
    const qsizetype i = number - c.firstLine;
    if (c.spans.empty())
        return {};
    StyledText styled{QString(c.lineEnd(i) - c.starts[i], QChar(' ')),
                      c.runs(c.starts[i], c.lineEnd(i))};
    if (number == m_firstLine && m_frontCut > 0)
        ::removeFront(styled, m_frontCut);
    return styled.runs;
}

qint64 LineStore::lineReadMs(qint64 number) const {
    if (number >= m_firstLine + m_committed)
        return number == m_firstLine + m_committed ? m_tailMs : 0;
    if (number < m_firstLine)
        return 0;
    const Chunk& c = chunkOf(number);
    return c.readMs[number - c.firstLine];
}

void LineStore::scan(qint64 from, qint64 to, const std::function<bool(const LineBlock&)>& visit,
                     bool latinAsIs) const {
    from = std::max(from, m_firstLine);
    to = std::min(to, endLine());
    const qint64 open = m_firstLine + m_committed;
    const auto single = [&](qint64 number) {
        const QString text = line(number);
        const quint32 zero = 0;
        return visit(LineBlock{number, text, nullptr, &zero, 1, text.size()});
    };
    qint64 n = from;
    if (n < to && n < open && n == m_firstLine && m_frontCut > 0) {
        if (!single(n))
            return;
        ++n;
    }
    QString converted;
    while (n < to && n < open) {
        const Chunk& c = chunkOf(n);
        const qsizetype i = n - c.firstLine;
        const qsizetype last = std::min<qint64>(c.lineCount(), i + (std::min(to, open) - n));
        const bool raw = latinAsIs && !c.isWide;
        if (!c.isWide && !raw)
            converted = QString::fromLatin1(c.latin);
        const QStringView text = c.isWide ? QStringView(c.wide) : QStringView(converted);
        if (!visit(LineBlock{n, text, raw ? c.latin.constData() : nullptr, c.starts.data() + i,
                             last - i, c.lineEnd(last - 1)}))
            return;
        n += last - i;
    }
    if (n < to)
        single(n);
}

qsizetype LineStore::memoryUse() const {
    qsizetype bytes = m_tail.text.capacity() * 2;
    for (const Chunk& c : m_chunks)
        bytes +=
            c.latin.capacity() + c.wide.capacity() * 2 + sizeof(Chunk) +
            qsizetype(c.starts.capacity() * sizeof(quint32) + c.readMs.capacity() * sizeof(qint64) +
                      c.spans.capacity() * sizeof(Span));
    return bytes;
}
