#pragma once

#include "datapath/TextTarget.h"

#include <QHash>
#include <QPlainTextEdit>
#include <QTextCharFormat>
#include <QTimer>
#include <functional>

class QTextCursor;

// txtTerm: the terminal area. Every character typed, committed by the input
// method or pasted goes through keyPressHandler before the control inserts
// it; the handler may change the code or set it to 0 to drop the key.
//
// The document holds a CR LF pair as one block break. A carriage return or a
// line feed without its partner (left by a trim or an erase) is kept as a
// visible marker character, so positions count exactly as the plain text does.
class TerminalEdit : public QPlainTextEdit, public TextTarget {
    Q_OBJECT
public:
    explicit TerminalEdit(QWidget* parent = nullptr);

    QString Text() const override;
    void setText(const QString& text) override;
    int TextLength() const override;
    int SelStart() const override;
    void setSelStart(int position) override;
    int SelLength() const override;
    void setSelLength(int length) override;
    QString SelText() const override;
    void setSelText(const QString& text) override;
    void setSelStyledText(const StyledText& text) override;
    QChar charAt(int position) const override;
    void removeFront(int count) override;

    std::function<void(int& keyCode)> keyPressHandler;
    // Offered every paste first; true when it took the text (to type it
    // later), false to have it typed at once.
    std::function<bool(const QString& text)> pasteHandler;

    // Offers one typed character to keyPressHandler and inserts what it leaves.
    void typeCharacter(int keyCode);

    // Brings the document up to date with text received since the last frame.
    void flushReceived();

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    void modelSelection(int& start, int& end) const;
    void replaceRange(int start, int end, const StyledText& text);
    void splitBreak(QTextCursor& cursor, int docPosition);
    void insertModelText(QTextCursor& cursor, const StyledText& text);
    void insertRun(QTextCursor& cursor, const QString& text, qsizetype from, qsizetype to,
                   const QTextCharFormat& format);
    const QTextCharFormat& styleFormat(TextStyle style);
    void placeCursor(int anchor, int position);
    int documentLength() const;
    bool caretAtDocumentEnd() const;
    void removeFrontNow(int count);
    void holdPaint();
    void endFrame();

    QTextCharFormat m_plain;
    QTextCharFormat m_marker;
    QHash<int, QTextCharFormat> m_styleFormats;
    // A selection whose ends fall inside a CR LF pair, which the document
    // cannot place a cursor in.
    bool m_pairSelection = false;
    int m_pairStart = 0;
    int m_pairLength = 0;
    bool m_editing = false;
    QTimer m_frame;
    bool m_endingFrame = false;
    // Received text is kept here between frames rather than put into the
    // document chunk by chunk: during a flood most of it is trimmed again
    // before it could ever be seen. While `m_deferred` the caret is at the
    // end with nothing selected; the document lacks its first `m_pendingCut`
    // characters' removal and `m_pendingTail` at its end.
    bool m_deferred = false;
    int m_pendingCut = 0;
    StyledText m_pendingTail;
};
