#pragma once

#include "screen/TerminalView.h"

#include <QRegularExpression>
#include <functional>
#include <optional>
#include <vector>

struct FindQuery {
    QString text;
    bool regex = false;
    bool caseSensitive = false;
};

// Finds text in a line store: every match in a line, the next one from a
// place, and which lines hold one. A match never spans two lines. What it
// knows of the store is brought up to date by update(), a step at the pace
// lines arrive: only the lines new or changed since are searched again.
class LineFinder {
public:
    explicit LineFinder(const LineStore& store) : m_store(store) {}

    // False with a description when the expression does not compile; an
    // empty text finds nothing.
    bool setQuery(const FindQuery& query, QString* error = nullptr);
    bool active() const { return m_active; }

    // Matches in one line's text, in order.
    std::vector<TextMark> marksIn(qint64 line, QStringView text) const;
    // The first match after `from` (before it, backward), wrapping round.
    std::optional<TextMark> next(TextPos from, bool backward) const;

    void update();
    // Matches in the whole store, and the lines that hold one, in order.
    qint64 count() const { return m_total; }
    const std::vector<qint64>& lines() const { return m_lines; }

private:
    void countBlock(const LineBlock& block);
    void countLatin(const LineBlock& block, const std::function<void(qint64)>& add);
    qsizetype matchAt(QStringView text, qsizetype from, qsizetype* length) const;
    void forget(qint64 fromLine);

    const LineStore& m_store;
    FindQuery m_query;
    QRegularExpression m_regex;
    QByteArray m_needle; // an ASCII text, folded when case does not count
    QByteArray m_folded; // a Latin-1 block folded the same way
    bool m_active = false;
    std::vector<qint64> m_lines;
    std::vector<qint32> m_counts; // matches on each of m_lines
    qint64 m_total = 0;
    qint64 m_doneEnd = 0;       // lines below this are counted
    bool m_openCounted = false; // the open last line is, as it was
    size_t m_stale = 0;         // entries of m_lines trimmed from the store
};
