#include "screen/LineFinder.h"

#include <algorithm>
#include <cstring>

bool LineFinder::setQuery(const FindQuery& query, QString* error) {
    m_query = query;
    m_active = false;
    m_lines.clear();
    m_counts.clear();
    m_total = 0;
    m_stale = 0;
    m_openCounted = false;
    m_doneEnd = m_store.firstLine();
    m_needle.clear();
    if (query.text.isEmpty())
        return true;
    // Only ASCII letters fold to ASCII among Latin-1 characters, so an ASCII
    // text can be looked for in Latin-1 lines as bytes.
    const bool ascii = std::all_of(query.text.begin(), query.text.end(),
                                   [](QChar ch) { return ch.unicode() < 0x80; });
    if (!query.regex && ascii)
        m_needle = query.caseSensitive ? query.text.toLatin1() : query.text.toLatin1().toLower();
    if (query.regex) {
        m_regex = QRegularExpression(query.text, query.caseSensitive
                                                     ? QRegularExpression::NoPatternOption
                                                     : QRegularExpression::CaseInsensitiveOption);
        if (!m_regex.isValid()) {
            if (error)
                *error = m_regex.errorString();
            return false;
        }
        m_regex.optimize();
    }
    m_active = true;
    return true;
}

// Where the first match at or after `from` begins, -1 for none.
qsizetype LineFinder::matchAt(QStringView text, qsizetype from, qsizetype* length) const {
    if (!m_query.regex) {
        *length = m_query.text.size();
        return text.indexOf(m_query.text, from,
                            m_query.caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
    }
    if (from > text.size())
        return -1;
    const QRegularExpressionMatch match = m_regex.match(text, from);
    if (!match.hasMatch())
        return -1;
    *length = match.capturedLength();
    return match.capturedStart();
}

std::vector<TextMark> LineFinder::marksIn(qint64 line, QStringView text) const {
    std::vector<TextMark> marks;
    if (!m_active)
        return marks;
    qsizetype length = 0;
    for (qsizetype at = matchAt(text, 0, &length); at >= 0;
         at = matchAt(text, at + std::max<qsizetype>(1, length), &length)) {
        marks.push_back({line, at, length});
        if (at >= text.size())
            break;
    }
    return marks;
}

// A block is searched as one text; a match reaching into the next line is
// none, and the search goes on just after where it began.
void LineFinder::countBlock(const LineBlock& block) {
    const std::function<void(qint64)> add = [this](qint64 line) {
        if (!m_lines.empty() && m_lines.back() == line) {
            ++m_counts.back();
        } else {
            m_lines.push_back(line);
            m_counts.push_back(1);
        }
        ++m_total;
    };
    if (m_query.regex) {
        for (qsizetype k = 0; k < block.count; ++k) {
            const QStringView text =
                block.text.mid(block.lineStart(k), block.lineEnd(k) - block.lineStart(k));
            const std::vector<TextMark> marks = marksIn(block.first + k, text);
            for (size_t i = 0; i < marks.size(); ++i)
                add(block.first + k);
        }
        return;
    }
    if (block.latin) {
        countLatin(block, add);
        return;
    }
    const QStringView text = block.text.left(block.end);
    const qsizetype first = block.lineStart(0);
    qsizetype length = 0;
    qsizetype k = 0;
    for (qsizetype at = matchAt(text, first, &length); at >= 0;) {
        while (k + 1 < block.count && block.lineStart(k + 1) <= at)
            ++k;
        if (at + length <= block.lineEnd(k)) {
            add(block.first + k);
            at = matchAt(text, at + std::max<qsizetype>(1, length), &length);
        } else {
            at = matchAt(text, at + 1, &length);
        }
    }
}

// The same over Latin-1 bytes with an ASCII text: a byte search, after
// folding the block's ASCII letters when case does not count.
void LineFinder::countLatin(const LineBlock& block, const std::function<void(qint64)>& add) {
    const qsizetype first = block.lineStart(0);
    const char* base = block.latin;
    if (!m_query.caseSensitive) {
        m_folded.resize(block.end);
        char* out = m_folded.data();
        for (qsizetype i = first; i < block.end; ++i) {
            const char ch = block.latin[i];
            out[i] = ch >= 'A' && ch <= 'Z' ? char(ch + 32) : ch;
        }
        base = out;
    }
    const qsizetype length = m_needle.size();
    const char* end = base + block.end;
    qsizetype k = 0;
    for (const char* p = base + first; p < end;) {
        p = static_cast<const char*>(
            memmem(p, size_t(end - p), m_needle.constData(), size_t(length)));
        if (!p)
            break;
        const qsizetype at = p - base;
        while (k + 1 < block.count && block.lineStart(k + 1) <= at)
            ++k;
        if (at + length <= block.lineEnd(k)) {
            add(block.first + k);
            p += length;
        } else {
            ++p;
        }
    }
}

void LineFinder::forget(qint64 fromLine) {
    while (!m_lines.empty() && m_lines.back() >= fromLine && m_lines.size() > m_stale) {
        m_total -= m_counts.back();
        m_lines.pop_back();
        m_counts.pop_back();
    }
}

void LineFinder::update() {
    if (!m_active)
        return;
    const qint64 open = m_store.endLine() - 1;
    // Lines trimmed from the store leave the count; the list is compacted
    // once they are a good part of it.
    const size_t firstKept =
        std::lower_bound(m_lines.begin(), m_lines.end(), m_store.firstLine()) - m_lines.begin();
    for (; m_stale < firstKept; ++m_stale)
        m_total -= m_counts[m_stale];
    if (m_stale > 4096 && m_stale * 2 > m_lines.size()) {
        m_lines.erase(m_lines.begin(), m_lines.begin() + qsizetype(m_stale));
        m_counts.erase(m_counts.begin(), m_counts.begin() + qsizetype(m_stale));
        m_stale = 0;
    }
    // The open line changes, and an edit may reopen finished lines.
    const qint64 from = std::max(m_store.firstLine(), std::min(m_doneEnd, m_store.changedFrom()));
    if (m_openCounted || from < m_doneEnd)
        forget(std::min(from, m_doneEnd));
    m_store.markSeen();
    m_store.scan(
        from, open + 1,
        [this](const LineBlock& block) {
            countBlock(block);
            return true;
        },
        !m_needle.isEmpty());
    m_doneEnd = open;
    m_openCounted = true;
}

std::optional<TextMark> LineFinder::next(TextPos from, bool backward) const {
    if (!m_active)
        return std::nullopt;
    const qint64 first = m_store.firstLine();
    const qint64 end = m_store.endLine();
    const qint64 lines = end - first;
    from.line = std::clamp(from.line, first, end - 1);
    for (qint64 step = 0; step <= lines; ++step) {
        const qint64 line =
            first + ((from.line - first + (backward ? -step : step)) % lines + lines) % lines;
        const std::vector<TextMark> marks = marksIn(line, m_store.line(line));
        if (backward) {
            for (auto it = marks.rbegin(); it != marks.rend(); ++it)
                if (step > 0 || it->column < from.column)
                    return *it;
        } else {
            for (const TextMark& mark : marks)
                if (step > 0 || mark.column >= from.column)
                    return mark;
        }
    }
    return std::nullopt;
}
