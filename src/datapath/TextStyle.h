#pragma once

#include <QList>
#include <QRgb>
#include <QString>
#include <cstdint>

// How a stretch of received text is drawn: a colour is one of the 16
// terminal colours (0-7 standard, 8-15 bright), -1 the terminal's own.
struct TextStyle {
    int8_t foreground = -1;
    int8_t background = -1;
    bool bold = false;

    bool isPlain() const { return foreground < 0 && background < 0 && !bold; }
    friend bool operator==(TextStyle a, TextStyle b) {
        return a.foreground == b.foreground && a.background == b.background && a.bold == b.bold;
    }
    friend bool operator!=(TextStyle a, TextStyle b) { return !(a == b); }
};

struct StyleRun {
    qsizetype length;
    TextStyle style;
};

// Consecutive runs from the start of a text, covering all of it. No runs at
// all means the whole text is plain, so plain text costs nothing extra.
using StyleRuns = QList<StyleRun>;

struct StyledText {
    QString text;
    StyleRuns runs;
};

// The 16 colours as drawn, the colours of a common X terminal.
QRgb terminalColour(int index);

// Appends text in a style, going on with the last run where the style is the same.
void appendStyled(StyledText& to, QStringView text, TextStyle style);
void appendStyled(StyledText& to, const StyledText& more);
// Drops the first `count` units.
void removeFront(StyledText& styled, qsizetype count);
