#pragma once

#include "datapath/TextStyle.h"

#include <QString>

// A text control as the display routine sees it. Positions and lengths are
// in characters, a line break counting as the two characters CR LF.
class TextTarget {
public:
    virtual ~TextTarget() = default;
    virtual QString Text() const = 0;
    virtual void setText(const QString& text) = 0;
    virtual int TextLength() const { return int(Text().size()); }
    virtual int SelStart() const = 0;
    virtual void setSelStart(int position) = 0; // leaves an empty selection there
    virtual int SelLength() const = 0;
    virtual void setSelLength(int length) = 0;
    virtual QString SelText() const = 0;
    virtual void setSelText(const QString& text) = 0; // caret after the inserted text
    // The same, drawn in the styles of the runs where the control can.
    virtual void setSelStyledText(const StyledText& text) { setSelText(text.text); }

    // The character at a position (0-based, below TextLength()).
    virtual QChar charAt(int position) const { return Text().at(position); }
    // Drops the first `count` characters; the same content as setText(Text().mid(count))
    // without rebuilding what stays.
    virtual void removeFront(int count) { setText(Text().mid(count)); }

    // When what the next edit brings was read (ms since the epoch); the lines
    // it begins keep it as their read time.
    virtual void setReadTime(qint64 msSinceEpoch) { Q_UNUSED(msSinceEpoch); }
    // Keeps the last `lines` lines (a CR LF pair ends a line), dropping whole
    // lines from the front.
    virtual void keepLines(qint64 lines) {
        const QString text = Text();
        qsizetype cut = text.size() + 2; // as if a break followed the end
        for (qint64 k = 0; k < lines; ++k) {
            const qsizetype at = cut < 3 ? -1 : text.lastIndexOf(QStringLiteral("\r\n"), cut - 3);
            if (at < 0)
                return; // fewer lines than that
            cut = at + 2;
        }
        removeFront(int(cut));
    }
};
