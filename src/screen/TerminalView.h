#pragma once

#include "screen/LineStore.h"

#include <QAbstractScrollArea>
#include <QTimer>
#include <functional>
#include <vector>

class QTextLayout;

// A place in the text: a line by its number and a unit within it.
struct TextPos {
    qint64 line = 0;
    qsizetype column = 0;
    friend bool operator==(TextPos a, TextPos b) {
        return a.line == b.line && a.column == b.column;
    }
    friend bool operator!=(TextPos a, TextPos b) { return !(a == b); }
    friend bool operator<(TextPos a, TextPos b) {
        return a.line < b.line || (a.line == b.line && a.column < b.column);
    }
};

// A stretch to mark on screen, within one line.
struct TextMark {
    qint64 line;
    qsizetype column;
    qsizetype length;
};

// txtTerm: the terminal area, drawn from its line store. Only the lines on
// screen are laid out, once a frame at most, so a flood costs what the store
// costs. Every character typed, committed by the input method or pasted goes
// through keyPressHandler before it is put at the end of the text; the
// handler may change the code or set it to 0 to drop the key.
//
// The view follows the newest text while its caret is at the end; moved
// elsewhere it stays on the same lines while lines arrive and old ones go.
class TerminalView : public QAbstractScrollArea, public TextTarget {
    Q_OBJECT
public:
    explicit TerminalView(QWidget* parent = nullptr);

    LineStore& store() { return m_store; }
    const LineStore& store() const { return m_store; }

    // TextTarget, on the store.
    QString Text() const override { return m_store.Text(); }
    void setText(const QString& text) override { m_store.setText(text); }
    int TextLength() const override { return m_store.TextLength(); }
    int SelStart() const override { return m_store.SelStart(); }
    void setSelStart(int position) override { m_store.setSelStart(position); }
    int SelLength() const override { return m_store.SelLength(); }
    void setSelLength(int length) override { m_store.setSelLength(length); }
    QString SelText() const override { return m_store.SelText(); }
    void setSelText(const QString& text) override { setSelStyledText(StyledText{text, {}}); }
    void setSelStyledText(const StyledText& text) override;
    QChar charAt(int position) const override { return m_store.charAt(position); }
    void removeFront(int count) override;
    void setReadTime(qint64 ms) override { m_store.setReadTime(ms); }
    void keepLines(qint64 lines) override;

    std::function<void(int& keyCode)> keyPressHandler;
    // Offered every paste first; true when it took the text (to type it
    // later), false to have it typed at once.
    std::function<bool(const QString& text)> pasteHandler;
    // Asked for the marks to draw on a line (found text); may be empty.
    std::function<std::vector<TextMark>(qint64 line, const QString& text)> marksOn;

    // Offers one typed character to keyPressHandler and puts what it leaves
    // at the end.
    void typeCharacter(int keyCode);
    // Brings the screen up to date with the store now rather than at the frame's end.
    void flushReceived();

    // Shown lines: all the store's, or only these (in order) while filtering.
    void showOnly(const std::vector<qint64>* lines);
    bool filtering() const { return m_rows != nullptr; }
    // The lines drawn, top to bottom, complete or not.
    std::vector<qint64> visibleLines() const;
    bool followsEnd() const { return m_follow; }

    // The user's selection, drawn and copied.
    TextPos caret() const { return m_caret; }
    TextPos anchor() const { return m_anchor; }
    void select(TextPos anchor, TextPos caret);
    QString selectedText() const;
    void selectAll();
    void copy() const;
    void paste();
    // Brings a line into view, in the middle when it was off screen.
    void showLine(qint64 line);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    qint64 rowCount() const;
    qint64 lineAtRow(qint64 row) const;
    qint64 rowOfLine(qint64 line) const;
    int visibleRows() const;
    int lineHeight() const;
    TextPos endPos() const;
    TextPos clamped(TextPos pos) const;
    void layoutLine(QTextLayout& layout, qint64 line, qsizetype& from) const;
    TextPos posAt(const QPoint& point) const;
    QRect caretRect() const;
    void moveCaret(TextPos to, bool extend);
    bool navigate(QKeyEvent* event);
    void storeChanged();
    void refresh();
    void endFrame();
    void syncScrollBars();
    void ensureCaretVisible();

    LineStore m_store;
    const std::vector<qint64>* m_rows = nullptr;
    qint64 m_top = 0;         // line at the top
    bool m_follow = true;     // the view keeps the newest line in sight
    bool m_caretAtEnd = true; // the caret stays after the newest character
    TextPos m_caret;
    TextPos m_anchor;
    bool m_caretShown = true;
    QTimer m_blink;
    QTimer m_frame;
    quint64 m_drawnRevision = 0;
    int m_widest = 0;
    QString m_preedit;
    bool m_syncing = false;
};
