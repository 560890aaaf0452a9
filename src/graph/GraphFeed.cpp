#include "graph/GraphFeed.h"

void GraphFeed::clear() {
    m_parser.clear();
    m_store.clear();
    m_skipped = 0;
    ++m_revision;
}

void GraphFeed::receivedText(const QString& text, qint64 readMs) {
    const auto* const units = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype size = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        qsizetype next = i;
        while (next < size && units[next] != u'\r' && units[next] != u'\n')
            ++next;
        if (next > i) {
            if (!m_inLine) {
                m_inLine = true;
                m_partialMs = readMs;
            }
            m_afterCr = false;
            i = next;
            if (i == size)
                break;
        }
        const bool swallowed = units[i] == u'\n' && m_afterCr;
        m_afterCr = units[i] == u'\r';
        if (!swallowed) {
            const QStringView piece = QStringView(text).mid(start, i - start);
            if (m_partial.isEmpty() && !m_overlong) {
                takeLine(piece, m_partialMs);
            } else {
                if (!m_overlong && m_partial.size() + piece.size() <= MaxLineLength)
                    m_partial += piece;
                else
                    m_overlong = true;
                takeLine(m_partial, m_partialMs);
                m_partial.clear();
            }
            m_inLine = false;
        }
        start = i + 1;
    }
    if (start < size) {
        if (m_overlong || m_partial.size() + (size - start) > MaxLineLength) {
            m_overlong = true;
            m_partial.clear();
        } else {
            m_partial += QStringView(text).mid(start);
        }
    }
}

void GraphFeed::takeLine(QStringView line, qint64 readMs) {
    GraphParser::Outcome outcome = GraphParser::Outcome::Skipped;
    if (!m_overlong)
        outcome = m_parser.parse(line, m_values);
    m_overlong = false;
    if (outcome == GraphParser::Outcome::Empty)
        return;
    if (outcome == GraphParser::Outcome::Sample)
        m_store.append(readMs, m_values);
    else
        ++m_skipped;
    ++m_revision;
}

void GraphFeed::portOpened() {
    m_partial.clear();
    m_inLine = m_overlong = m_afterCr = false;
}

void GraphFeed::portClosed() {
    if (m_inLine || m_overlong) {
        takeLine(m_partial, m_partialMs);
        m_partial.clear();
    }
    m_inLine = m_afterCr = false;
}
