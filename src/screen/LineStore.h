#pragma once

#include "datapath/TextTarget.h"

#include <QByteArray>
#include <QStringView>
#include <algorithm>
#include <deque>
#include <functional>
#include <vector>

// Consecutive stored lines as one text: line k spans [starts[k], starts[k + 1]),
// the last one up to `end`.
struct LineBlock {
    qint64 first = 0; // number of its first line
    QStringView text;
    const char* latin = nullptr; // the text as Latin-1 bytes instead, when asked for
    const quint32* starts = nullptr;
    qsizetype count = 0;
    qsizetype end = 0;

    qsizetype lineStart(qsizetype k) const { return starts[k]; }
    qsizetype lineEnd(qsizetype k) const { return k + 1 < count ? qsizetype(starts[k + 1]) : end; }
};

// What the terminal shows, line by line: each line's text without its break,
// the time its first character was read, and its colours. Finished lines are
// packed into chunks, one byte a character while a chunk holds Latin-1 only
// and two otherwise, so the store is about the size of the text. The open last
// line is kept apart. An edit reopens the lines from its point on into the
// open line, so the edits the terminal makes, at the end, stay cheap.
//
// As a TextTarget each line but the last ends in CR LF; a lone CR or LF is a
// character of its line. A trim may leave the first line without its start.
class LineStore : public TextTarget {
public:
    QString Text() const override;
    void setText(const QString& text) override;
    int TextLength() const override { return int(endPos() - m_origin); }
    int SelStart() const override { return int(m_selStart - m_origin); }
    void setSelStart(int position) override;
    int SelLength() const override { return int(m_selEnd - m_selStart); }
    void setSelLength(int length) override;
    QString SelText() const override { return textBetween(m_selStart, m_selEnd); }
    void setSelText(const QString& text) override { setSelStyledText(StyledText{text, {}}); }
    void setSelStyledText(const StyledText& text) override;
    QChar charAt(int position) const override;
    void removeFront(int count) override;
    void setReadTime(qint64 msSinceEpoch) override { m_readMs = msSinceEpoch; }
    void keepLines(qint64 lines) override;

    // Lines are numbered on from the first ever kept: a number names the same
    // line after older ones are trimmed. The open last line is endLine() - 1.
    qint64 firstLine() const { return m_firstLine; }
    qint64 endLine() const { return m_firstLine + m_committed + 1; }
    qint64 lineCount() const { return m_committed + 1; }
    QString line(qint64 number) const;
    // Runs over line(number); none when it is plain.
    StyleRuns lineRuns(qint64 number) const;
    qint64 lineReadMs(qint64 number) const;
    // Lines [from, to) as blocks, oldest first, until `visit` returns false.
    // With `latinAsIs`, Latin-1 lines come as their bytes, not converted.
    void scan(qint64 from, qint64 to, const std::function<bool(const LineBlock&)>& visit,
              bool latinAsIs = false) const;
    // The lowest line an edit reopened since markSeen(), or the open line.
    qint64 changedFrom() const { return std::min(m_changedFrom, endLine() - 1); }
    void markSeen() const { m_changedFrom = endLine() - 1; }
    // Goes up with every change.
    quint64 revision() const { return m_revision; }
    // Bytes held for the text and its lines.
    qsizetype memoryUse() const;

private:
    struct Span {
        quint32 start;
        quint32 length;
        TextStyle style;
    };
    struct Chunk {
        QByteArray latin;
        QString wide;
        bool isWide = false;
        std::vector<quint32> starts;
        std::vector<qint64> readMs;
        std::vector<Span> spans; // coloured stretches, in order
        qint64 firstLine = 0;
        qint64 firstPos = 0; // position of its line 0 as if nothing were trimmed

        qsizetype units() const { return isWide ? wide.size() : latin.size(); }
        qsizetype lineCount() const { return qsizetype(starts.size()); }
        qsizetype lineEnd(qsizetype i) const {
            return i + 1 < lineCount() ? qsizetype(starts[i + 1]) : units();
        }
        qint64 linePos(qsizetype i) const { return firstPos + starts[i] + 2 * i; }
        QString text(qsizetype from, qsizetype to) const;
        QChar at(qsizetype i) const { return isWide ? wide.at(i) : QChar(uchar(latin.at(i))); }
        StyleRuns runs(qsizetype from, qsizetype to) const;
    };
    struct Where {
        const Chunk* chunk = nullptr; // nullptr: the open line
        qsizetype index = 0;
        qint64 offset = 0; // from the line's start, its break counted
    };

    qint64 endPos() const { return m_tailPos + m_tail.text.size(); }
    const Chunk& chunkOf(qint64 number) const;
    Where locate(qint64 pos) const;
    QString textBetween(qint64 from, qint64 to) const;
    void dropFrontLine();
    void reopenFrom(qint64 pos);
    void commitTail(qsizetype scanFrom);
    void commitLine(QStringView text, const StyleRuns& runs, qint64 pos, qint64 readMs);
    void changed();

    std::deque<Chunk> m_chunks;
    qint64 m_firstLine = 0;
    qsizetype m_skip = 0;   // lines of the first chunk trimmed already
    qint64 m_committed = 0; // finished lines kept
    qint64 m_frontCut = 0;  // units trimmed off the first finished line, its break counted
    qint64 m_frontPos = 0;  // where the kept text begins
    qint64 m_tailPos = 0;   // where the open line begins
    StyledText m_tail;      // the open line
    qint64 m_tailMs = 0;
    qint64 m_readMs = 0;
    qint64 m_selStart = 0;
    qint64 m_selEnd = 0;
    qint64 m_origin = 0; // TextTarget's position 0
    quint64 m_revision = 0;
    mutable qint64 m_changedFrom = 0;
};
