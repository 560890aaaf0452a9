#include "datapath/TerminalEdit.h"

#include "datapath/CrLfDocument.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <memory>
#include <utility>

namespace {

using crlf::CR;
using crlf::CrMark;
using crlf::LF;
using crlf::LfMark;
// One repaint per display frame at most.
constexpr int FrameMs = 15;

// Characters the document would turn into structure rather than store.
bool isStructural(char16_t ch) {
    return ch == 0x2029 || ch == 0xFDD0 || ch == 0xFDD1 || ch == 0xFFFC;
}

// Ctrl+letter (and Ctrl+[ \ ]) gives its control code to the key handler, as
// in any terminal; 0 for other keys.
int controlCode(const QKeyEvent* event) {
    if ((event->modifiers() & ~Qt::KeypadModifier) != Qt::ControlModifier)
        return 0;
    const int key = event->key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return key - Qt::Key_A + 1;
    switch (key) {
    case Qt::Key_BracketLeft:
        return 27;
    case Qt::Key_Backslash:
        return 28;
    case Qt::Key_BracketRight:
        return 29;
    default:
        return 0;
    }
}

// Copy and paste keep the terminal's keys: Ctrl+Shift+C or Ctrl+Insert,
// Ctrl+Shift+V or Shift+Insert.
enum class Clip { None, Copy, Paste };
Clip clipboardKey(const QKeyEvent* event) {
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier))
        return key == Qt::Key_C ? Clip::Copy : key == Qt::Key_V ? Clip::Paste : Clip::None;
    if (key == Qt::Key_Insert)
        return modifiers == Qt::ControlModifier ? Clip::Copy
               : modifiers == Qt::ShiftModifier ? Clip::Paste
                                                : Clip::None;
    return Clip::None;
}

// Other keys that carry text but edit: the control keeps them.
bool isEditingShortcut(QKeyEvent* event) {
    static const QKeySequence::StandardKey keys[] = {QKeySequence::Copy,
                                                     QKeySequence::Cut,
                                                     QKeySequence::Paste,
                                                     QKeySequence::SelectAll,
                                                     QKeySequence::Undo,
                                                     QKeySequence::Redo,
                                                     QKeySequence::Delete,
                                                     QKeySequence::DeleteEndOfLine,
                                                     QKeySequence::DeleteEndOfWord,
                                                     QKeySequence::DeleteStartOfWord,
                                                     QKeySequence::DeleteCompleteLine};
    for (const auto key : keys)
        if (event->matches(key))
            return true;
    return event->key() == Qt::Key_Delete;
}

} // namespace

TerminalEdit::TerminalEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // An undo history would keep every received chunk.
    setUndoRedoEnabled(false);
    m_marker.setProperty(crlf::markerProperty, true);
    m_marker.setForeground(Qt::gray);
    m_frame.setSingleShot(true);
    m_frame.setInterval(FrameMs);
    connect(&m_frame, &QTimer::timeout, this, &TerminalEdit::endFrame);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        if (!m_editing)
            m_pairSelection = false;
    });
}

int TerminalEdit::documentLength() const {
    return crlf::textLength(*document());
}

int TerminalEdit::TextLength() const {
    if (m_deferred)
        return documentLength() - m_pendingCut + int(m_pendingTail.text.size());
    return documentLength();
}

bool TerminalEdit::caretAtDocumentEnd() const {
    const QTextCursor cursor = textCursor();
    return !m_pairSelection && !cursor.hasSelection() &&
           cursor.position() == document()->characterCount() - 1;
}

void TerminalEdit::flushReceived() {
    if (!m_deferred)
        return;
    m_deferred = false;
    const int cut = std::exchange(m_pendingCut, 0);
    const StyledText tail = std::exchange(m_pendingTail, StyledText());
    // One edit block: the layout hears of the frame's changes once.
    QTextCursor block(document());
    block.beginEditBlock();
    if (cut > 0)
        removeFrontNow(cut);
    const int end = documentLength();
    if (!tail.text.isEmpty())
        replaceRange(end, end, tail);
    block.endEditBlock();
    placeCursor(documentLength(), documentLength());
}

// Anything the user does, and anything drawn, sees the document up to date.
// Timers and queued calls do not: the frame's own timer flushes, and Qt's
// queued calls during a flood would otherwise flush several times a frame.
bool TerminalEdit::event(QEvent* event) {
    if (m_deferred && event->type() != QEvent::Timer && event->type() != QEvent::MetaCall)
        flushReceived();
    // No shortcut elsewhere takes the terminal's own keys.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (controlCode(key) != 0 || clipboardKey(key) != Clip::None) {
            event->accept();
            return true;
        }
    }
    return QPlainTextEdit::event(event);
}

bool TerminalEdit::viewportEvent(QEvent* event) {
    if (m_deferred)
        flushReceived();
    return QPlainTextEdit::viewportEvent(event);
}

QString TerminalEdit::Text() const {
    if (m_deferred)
        return crlf::text(*document()).mid(m_pendingCut) + m_pendingTail.text;
    return crlf::text(*document());
}

QChar TerminalEdit::charAt(int position) const {
    if (m_deferred) {
        const int kept = documentLength() - m_pendingCut;
        if (position >= kept)
            return m_pendingTail.text.at(position - kept);
        position += m_pendingCut;
    }
    return crlf::charAt(*document(), position);
}

void TerminalEdit::setText(const QString& text) {
    flushReceived();
    replaceRange(0, TextLength(), StyledText{text, {}});
    placeCursor(0, 0);
}

void TerminalEdit::modelSelection(int& start, int& end) const {
    if (m_deferred) {
        start = end = TextLength();
        return;
    }
    if (m_pairSelection) {
        start = m_pairStart;
        end = m_pairStart + m_pairLength;
        return;
    }
    const QTextCursor cursor = textCursor();
    start = crlf::toText(*document(), cursor.selectionStart());
    end = crlf::toText(*document(), cursor.selectionEnd());
}

int TerminalEdit::SelStart() const {
    int start = 0, end = 0;
    modelSelection(start, end);
    return start;
}

int TerminalEdit::SelLength() const {
    int start = 0, end = 0;
    modelSelection(start, end);
    return end - start;
}

QString TerminalEdit::SelText() const {
    if (m_deferred)
        return QString();
    int start = 0, end = 0;
    modelSelection(start, end);
    return Text().mid(start, end - start);
}

void TerminalEdit::placeCursor(int anchor, int position) {
    const int start = std::clamp(anchor, 0, documentLength());
    const int end = std::clamp(position, start, documentLength());
    const crlf::DocPos from = crlf::toDocument(*document(), start);
    const crlf::DocPos to = crlf::toDocument(*document(), end);
    QTextCursor cursor = textCursor();
    m_editing = true;
    if (end == start && !to.midPair && cursor.position() == to.pos && !cursor.hasSelection()) {
        // Already there. Bringing the caret into view lays out its line, so
        // it waits until the events of this round are done.
        holdPaint();
    } else {
        cursor.setPosition(from.pos);
        cursor.setPosition(to.pos + (to.midPair && end > start ? 1 : 0), QTextCursor::KeepAnchor);
        setTextCursor(cursor);
    }
    m_editing = false;
    m_pairSelection = from.midPair || to.midPair;
    m_pairStart = start;
    m_pairLength = end - start;
}

// Received text can arrive thousands of times a second; drawing it at that
// rate would cost far more than storing it. Edits made through the text
// target hold painting back for one frame; received text waits outside the
// document until then (see m_deferred) and goes in as one edit block, and
// the view then repaints what is visible once.
void TerminalEdit::holdPaint() {
    if (m_frame.isActive() || m_endingFrame)
        return;
    setUpdatesEnabled(false);
    m_frame.start();
}

void TerminalEdit::endFrame() {
    m_endingFrame = true;
    flushReceived();
    m_endingFrame = false;
    setUpdatesEnabled(true);
    ensureCursorVisible();
    // Drawn now, while the document is fresh; a paint left to the next round
    // would find more text received and flush a second time in the frame.
    viewport()->repaint();
}

void TerminalEdit::setSelStart(int position) {
    if (m_deferred && position >= TextLength())
        return; // already at the end
    flushReceived();
    placeCursor(position, position);
}

void TerminalEdit::setSelLength(int length) {
    if (m_deferred && length <= 0)
        return;
    flushReceived();
    const int start = SelStart();
    placeCursor(start, start + std::max(0, length));
}

void TerminalEdit::setSelText(const QString& text) {
    setSelStyledText(StyledText{text, {}});
}

void TerminalEdit::setSelStyledText(const StyledText& text) {
    if (m_deferred || caretAtDocumentEnd()) {
        if (text.text.isEmpty())
            return;
        // Appending at the end: kept until the frame ends.
        m_deferred = true;
        appendStyled(m_pendingTail, text);
        holdPaint();
        return;
    }
    int start = 0, end = 0;
    modelSelection(start, end);
    replaceRange(start, end, text);
    const int after = start + int(text.text.size());
    placeCursor(after, after);
}

void TerminalEdit::removeFront(int count) {
    count = std::clamp(count, 0, TextLength());
    if (count == 0)
        return;
    if (m_deferred || caretAtDocumentEnd()) {
        const int kept = documentLength() - m_pendingCut;
        if (count <= kept) {
            m_pendingCut += count;
        } else {
            m_pendingCut += kept;
            ::removeFront(m_pendingTail, count - kept);
        }
        m_deferred = true;
        holdPaint();
        return;
    }
    removeFrontNow(count);
}

void TerminalEdit::removeFrontNow(int count) {
    const int end = std::clamp(count, 0, documentLength());
    if (end == 0)
        return;
    const crlf::DocPos at = crlf::toDocument(*document(), end);
    holdPaint();
    QTextCursor cursor(document());
    m_editing = true;
    cursor.beginEditBlock();
    cursor.setPosition(0);
    if (at.midPair) {
        // The cut falls inside a CR LF pair: its line feed stays, alone.
        cursor.setPosition(at.pos + 1, QTextCursor::KeepAnchor);
        cursor.insertText(QString(QChar(LfMark)), m_marker);
    } else {
        cursor.setPosition(at.pos, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.endEditBlock();
    m_editing = false;
    m_pairSelection = false;
}

// Turns the block break after docPosition into a marked CR and a marked LF.
void TerminalEdit::splitBreak(QTextCursor& cursor, int docPosition) {
    cursor.setPosition(docPosition);
    cursor.setPosition(docPosition + 1, QTextCursor::KeepAnchor);
    const QChar pair[] = {QChar(CrMark), QChar(LfMark)};
    cursor.insertText(QString(pair, 2), m_marker);
}

void TerminalEdit::insertModelText(QTextCursor& cursor, const StyledText& text) {
    const qsizetype size = text.text.size();
    if (text.runs.isEmpty()) {
        insertRun(cursor, text.text, 0, size, m_plain);
        return;
    }
    // Line breaks show no colour, so a run of nothing else goes in with the
    // run before it: coloured lines come as one insertion, not two a line.
    const auto* chars = reinterpret_cast<const char16_t*>(text.text.constData());
    const auto onlyBreaks = [chars](qsizetype from, qsizetype to) {
        return std::all_of(chars + from, chars + to,
                           [](char16_t ch) { return ch == CR || ch == LF; });
    };
    qsizetype from = 0, to = 0, runEnd = 0;
    TextStyle style = text.runs.first().style;
    for (const StyleRun& run : text.runs) {
        runEnd += run.length;
        qsizetype end = std::max(to, runEnd);
        // A run that ends between CR and LF takes the LF along: the pair is one break.
        if (end > 0 && end < size && chars[end - 1] == CR && chars[end] == LF)
            ++end;
        if (run.style != style && !onlyBreaks(to, end)) {
            insertRun(cursor, text.text, from, to, styleFormat(style));
            from = to;
            style = run.style;
        }
        to = end;
    }
    insertRun(cursor, text.text, from, to, styleFormat(style));
}

void TerminalEdit::insertRun(QTextCursor& cursor, const QString& text, qsizetype from, qsizetype to,
                             const QTextCharFormat& format) {
    // CR LF pairs and ordinary characters go in as they are; a lone CR or LF
    // becomes a marker.
    const auto* chars = reinterpret_cast<const char16_t*>(text.constData());
    qsizetype runStart = from;
    auto flush = [&](qsizetype upTo) {
        if (runStart == 0 && upTo == text.size())
            cursor.insertText(text, format);
        else if (upTo > runStart)
            cursor.insertText(text.mid(runStart, upTo - runStart), format);
    };
    for (qsizetype i = from; i < to; ++i) {
        const char16_t ch = chars[i];
        if (ch > CR && !isStructural(ch))
            continue;
        if (ch == CR && i + 1 < to && chars[i + 1] == LF) {
            ++i;
        } else if (ch == CR || ch == LF) {
            flush(i);
            cursor.insertText(QString(QChar(ch == CR ? CrMark : LfMark)), m_marker);
            runStart = i + 1;
        } else if (isStructural(ch)) {
            flush(i);
            cursor.insertText(QString(QChar::ReplacementCharacter), format);
            runStart = i + 1;
        }
    }
    flush(to);
}

const QTextCharFormat& TerminalEdit::styleFormat(TextStyle style) {
    const int key = (style.foreground + 1) | (style.background + 1) << 5 | int(style.bold) << 10;
    auto found = m_styleFormats.find(key);
    if (found != m_styleFormats.end())
        return *found;
    QTextCharFormat format;
    if (style.foreground >= 0)
        format.setForeground(QColor(terminalColour(style.foreground)));
    if (style.background >= 0)
        format.setBackground(QColor(terminalColour(style.background)));
    if (style.bold)
        format.setFontWeight(QFont::Bold);
    return *m_styleFormats.insert(key, format);
}

void TerminalEdit::replaceRange(int start, int end, const StyledText& text) {
    crlf::DocPos from = crlf::toDocument(*document(), start);
    crlf::DocPos to = crlf::toDocument(*document(), end);
    holdPaint();
    QTextCursor cursor(document());
    m_editing = true;
    cursor.beginEditBlock();
    // Split a pair an end falls inside, so both ends are document positions.
    const bool sameBreak = from.midPair && to.midPair && from.pos == to.pos;
    if (to.midPair) {
        splitBreak(cursor, to.pos);
        to = {to.pos + 1, false};
    }
    if (from.midPair) {
        if (!sameBreak) {
            splitBreak(cursor, from.pos);
            ++to.pos;
        }
        from = {from.pos + 1, false};
    }
    cursor.setPosition(from.pos);
    cursor.setPosition(to.pos, QTextCursor::KeepAnchor);
    if (cursor.hasSelection())
        cursor.removeSelectedText();
    insertModelText(cursor, text);
    cursor.endEditBlock();
    m_editing = false;
    m_pairSelection = false;
}

void TerminalEdit::typeCharacter(int keyCode) {
    if (keyPressHandler)
        keyPressHandler(keyCode);
    // The handler may have opened an echoed line at the end.
    flushReceived();
    if (keyCode == 0 || isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    if (keyCode == CR) {
        cursor.insertText(QStringLiteral("\n"), m_plain);
    } else if (keyCode == 8) {
        cursor.deletePreviousChar();
    } else if (keyCode == '\t' || keyCode >= 0x20) {
        const auto code = char32_t(keyCode);
        if (code == 0x7F || code > 0x10FFFF || (code <= 0xFFFF && isStructural(char16_t(code))))
            return;
        cursor.insertText(QString::fromUcs4(&code, 1), m_plain);
    } else {
        return; // other control characters are sent, not drawn
    }
    setTextCursor(cursor);
}

void TerminalEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        typeCharacter(CR);
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Backspace) {
        typeCharacter(8);
        event->accept();
        return;
    }
    if (const int code = controlCode(event)) {
        typeCharacter(code);
        event->accept();
        return;
    }
    switch (clipboardKey(event)) {
    case Clip::Copy:
        copy();
        event->accept();
        return;
    case Clip::Paste:
        paste();
        event->accept();
        return;
    case Clip::None:
        break;
    }
    const QString text = event->text();
    if (text.isEmpty() || isEditingShortcut(event)) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    for (const uint code : text.toUcs4())
        typeCharacter(int(code));
    event->accept();
}

// The standard menu names the editing keys; here Ctrl+letter is a control
// code, so it shows the keys that do copy and paste in this control.
void TerminalEdit::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    for (QAction* action : menu->actions()) {
        const QString name = action->objectName();
        if (name.isEmpty() || action->isSeparator())
            continue;
        QString text = action->text().section(QLatin1Char('\t'), 0, 0);
        if (name == QLatin1String("edit-copy"))
            text += QStringLiteral("\tCtrl+Shift+C");
        else if (name == QLatin1String("edit-paste"))
            text += QStringLiteral("\tCtrl+Shift+V");
        action->setText(text);
    }
    menu->exec(event->globalPos());
}

void TerminalEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (!commit.isEmpty()) {
        for (const uint code : commit.toUcs4())
            typeCharacter(int(code));
    }
    // The preedit text is drawn by the control as usual.
    QInputMethodEvent preedit(event->preeditString(), event->attributes());
    QPlainTextEdit::inputMethodEvent(&preedit);
    event->accept();
}

// Copies what the selection holds, a lone CR or LF as itself, line breaks as
// the desktop writes them.
QMimeData* TerminalEdit::createMimeDataFromSelection() const {
    auto* data = new QMimeData;
    data->setText(SelText().replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    return data;
}

void TerminalEdit::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText())
        return;
    if (pasteHandler && pasteHandler(source->text()))
        return;
    const QList<uint> codes = source->text().toUcs4();
    for (qsizetype i = 0; i < codes.size(); ++i) {
        if (codes[i] == CR && i + 1 < codes.size() && codes[i + 1] == LF)
            ++i;
        // A pasted line break is an Enter.
        typeCharacter(codes[i] == LF ? int(CR) : int(codes[i]));
    }
}
