// The terminal view's keyboard, input method, mouse, clipboard and menu.
#include "screen/TerminalView.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextLayout>
#include <memory>

namespace {

constexpr int CR = 13, BS = 8;

// Characters a text control would turn into structure rather than show.
bool isStructural(char32_t ch) {
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

// Keys that carry text but edit: they are not typed.
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

// Anything the user does sees the screen up to date; nothing else does, so a
// flood is drawn once a frame (the scroll bars' own events came several times
// a frame and each brought the bars up to date and had them repainted).
bool TerminalView::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::InputMethod:
    case QEvent::InputMethodQuery:
    case QEvent::ContextMenu:
    case QEvent::FocusIn:
        flushReceived();
        break;
    default:
        break;
    }
    // No shortcut elsewhere takes the terminal's own keys.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (controlCode(key) != 0 || clipboardKey(key) != Clip::None) {
            event->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(event);
}

void TerminalView::typeCharacter(int keyCode) {
    if (keyPressHandler)
        keyPressHandler(keyCode);
    if (keyCode == 0)
        return;
    const auto code = char32_t(keyCode);
    QString text;
    if (keyCode == CR)
        text = QStringLiteral("\r\n");
    else if (keyCode == '\t' || (keyCode >= 0x20 && code != 0x7F && code <= 0x10FFFF &&
                                 !isStructural(code) && (code < 0xD800 || code > 0xDFFF)))
        text = QString::fromUcs4(&code, 1);
    else if (keyCode != BS)
        return; // other control characters are sent, not drawn
    // The store is edited at its end only: typing goes there.
    const int end = m_store.TextLength();
    if (keyCode == BS) {
        if (end == 0)
            return;
        const bool pair = end >= 2 && m_store.charAt(end - 1).isLowSurrogate() &&
                          m_store.charAt(end - 2).isHighSurrogate();
        m_store.setSelStart(end - (pair ? 2 : 1));
        m_store.setSelLength(pair ? 2 : 1);
    } else {
        m_store.setSelStart(end);
    }
    m_store.setSelText(text);
    m_caretAtEnd = m_follow = true;
    refresh();
    viewport()->update();
}

void TerminalView::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        typeCharacter(CR);
        return;
    }
    if (event->key() == Qt::Key_Backspace) {
        typeCharacter(BS);
        return;
    }
    if (const int code = controlCode(event)) {
        typeCharacter(code);
        return;
    }
    switch (clipboardKey(event)) {
    case Clip::Copy:
        copy();
        return;
    case Clip::Paste:
        paste();
        return;
    case Clip::None:
        break;
    }
    if (navigate(event))
        return;
    const QString text = event->text();
    if (text.isEmpty() || isEditingShortcut(event)) {
        event->ignore();
        return;
    }
    for (const uint code : text.toUcs4())
        typeCharacter(int(code));
}

// Moves the caret for the navigation keys; Shift extends the selection.
bool TerminalView::navigate(QKeyEvent* event) {
    const auto modifiers = event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = modifiers == Qt::ControlModifier;
    if (modifiers != Qt::NoModifier && !ctrl)
        return false;
    TextPos to = m_caret;
    const qint64 rows = rowCount();
    const auto rowStep = [&](qint64 by) {
        if (rows == 0)
            return;
        const qint64 row = std::clamp<qint64>(rowOfLine(to.line) + by, 0, rows - 1);
        to.line = lineAtRow(row);
    };
    switch (event->key()) {
    case Qt::Key_Left:
        if (to.column > 0)
            --to.column;
        else if (rowOfLine(to.line) > 0) {
            rowStep(-1);
            to.column = m_store.line(to.line).size();
        }
        break;
    case Qt::Key_Right:
        if (to.column < m_store.line(to.line).size())
            ++to.column;
        else if (rowOfLine(to.line) + 1 < rows) {
            rowStep(1);
            to.column = 0;
        }
        break;
    case Qt::Key_Up:
        rowStep(-1);
        break;
    case Qt::Key_Down:
        rowStep(1);
        break;
    case Qt::Key_PageUp:
        rowStep(-visibleRows());
        break;
    case Qt::Key_PageDown:
        rowStep(visibleRows());
        break;
    case Qt::Key_Home:
        if (ctrl && rows > 0)
            to.line = lineAtRow(0);
        to.column = 0;
        break;
    case Qt::Key_End:
        // End goes to the newest text and follows it again; Shift+End
        // selects to the end of the line.
        if (extend && !ctrl)
            to.column = m_store.line(to.line).size();
        else
            to = endPos();
        break;
    default:
        return false;
    }
    moveCaret(to, extend);
    return true;
}

void TerminalView::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    for (const uint code : commit.toUcs4())
        typeCharacter(int(code));
    // The text being composed is drawn at the caret until it is committed.
    m_preedit = event->preeditString();
    viewport()->update();
    event->accept();
}

QVariant TerminalView::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return QRectF(caretRect().translated(viewport()->pos()));
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return int(m_caret.column);
    case Qt::ImAnchorPosition:
        return int(m_anchor.line == m_caret.line ? m_anchor.column : m_caret.column);
    case Qt::ImSurroundingText:
        return m_store.line(m_caret.line);
    case Qt::ImCurrentSelection:
        return selectedText();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

void TerminalView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        moveCaret(posAt(event->pos()), event->modifiers() & Qt::ShiftModifier);
}

void TerminalView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton)
        moveCaret(posAt(event->pos()), true);
}

void TerminalView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const TextPos at = posAt(event->pos());
    const QString text = m_store.line(at.line);
    const auto inWord = [&](qsizetype i) {
        return text.at(i).isLetterOrNumber() || text.at(i) == u'_';
    };
    qsizetype a = at.column, b = at.column;
    while (a > 0 && inWord(a - 1))
        --a;
    while (b < text.size() && inWord(b))
        ++b;
    moveCaret({at.line, a}, false);
    moveCaret({at.line, b}, true);
}

void TerminalView::copy() const {
    if (m_anchor == m_caret)
        return;
    QGuiApplication::clipboard()->setText(selectedText());
}

void TerminalView::paste() {
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    if (pasteHandler && pasteHandler(text))
        return;
    const QList<uint> codes = text.toUcs4();
    for (qsizetype i = 0; i < codes.size(); ++i) {
        if (codes[i] == uint(CR) && i + 1 < codes.size() && codes[i + 1] == 10)
            ++i;
        // A pasted line break is an Enter.
        typeCharacter(codes[i] == 10 ? CR : int(codes[i]));
    }
}

// The editing items a text area offers, those that change text off, and the
// keys that copy and paste here: Ctrl+letter is a control code.
void TerminalView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu;
    const auto item = [&](const char* name, const QString& text, bool enabled) {
        QAction* action = menu.addAction(text);
        action->setObjectName(QLatin1String(name));
        action->setEnabled(enabled);
        return action;
    };
    item("edit-undo", QStringLiteral("元に戻す(&U)"), false);
    item("edit-redo", QStringLiteral("やり直し(&R)"), false);
    menu.addSeparator();
    item("edit-cut", QStringLiteral("切り取り(&T)"), false);
    QAction* copying =
        item("edit-copy", QStringLiteral("コピー(&C)\tCtrl+Shift+C"), m_anchor != m_caret);
    QAction* pasting = item("edit-paste", QStringLiteral("貼り付け(&P)\tCtrl+Shift+V"),
                            !QGuiApplication::clipboard()->text().isEmpty());
    item("edit-delete", QStringLiteral("削除(&D)"), false);
    menu.addSeparator();
    QAction* all = item("select-all", QStringLiteral("すべて選択(&A)"), rowCount() > 0);
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen == copying)
        copy();
    else if (chosen == pasting)
        paste();
    else if (chosen == all)
        selectAll();
}

void TerminalView::focusInEvent(QFocusEvent* event) {
    m_caretShown = true;
    m_blink.start();
    viewport()->update();
    QAbstractScrollArea::focusInEvent(event);
}

void TerminalView::focusOutEvent(QFocusEvent* event) {
    m_blink.stop();
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(event);
}
