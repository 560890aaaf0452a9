#include "screen/TerminalView.h"

#include <QApplication>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <algorithm>

namespace {

// One repaint per display frame at most.
constexpr int FrameMs = 15;
constexpr int Margin = 4;
// Longer lines are laid out only around what is on screen.
constexpr qsizetype SliceUnits = 4000;

QTextCharFormat styleFormat(TextStyle style) {
    QTextCharFormat format;
    if (style.foreground >= 0)
        format.setForeground(QColor(terminalColour(style.foreground)));
    if (style.background >= 0)
        format.setBackground(QColor(terminalColour(style.background)));
    if (style.bold)
        format.setFontWeight(QFont::Bold);
    return format;
}

} // namespace

TerminalView::TerminalView(QWidget* parent) : QAbstractScrollArea(parent) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    m_frame.setSingleShot(true);
    m_frame.setInterval(FrameMs);
    connect(&m_frame, &QTimer::timeout, this, &TerminalView::endFrame);
    const int flash = QApplication::cursorFlashTime();
    m_blink.setInterval(flash > 0 ? flash / 2 : 500);
    connect(&m_blink, &QTimer::timeout, this, [this] {
        m_caretShown = !m_caretShown;
        viewport()->update(caretRect().adjusted(-2, -2, 2, 2));
    });
}

void TerminalView::setSelStyledText(const StyledText& text) {
    m_store.setSelStyledText(text);
    storeChanged();
}

void TerminalView::removeFront(int count) {
    m_store.removeFront(count);
    storeChanged();
}

void TerminalView::keepLines(qint64 lines) {
    const quint64 before = m_store.revision();
    m_store.keepLines(lines);
    if (m_store.revision() != before)
        storeChanged();
}

// Received text can arrive thousands of times a second; the screen catches up
// once a frame.
void TerminalView::storeChanged() {
    if (!m_frame.isActive())
        m_frame.start();
}

void TerminalView::endFrame() {
    flushReceived();
    viewport()->update();
}

qint64 TerminalView::rowCount() const {
    if (!m_rows)
        return m_store.lineCount();
    const auto first = std::lower_bound(m_rows->begin(), m_rows->end(), m_store.firstLine());
    return m_rows->end() - first;
}

qint64 TerminalView::lineAtRow(qint64 row) const {
    if (!m_rows)
        return m_store.firstLine() + row;
    const auto first = std::lower_bound(m_rows->begin(), m_rows->end(), m_store.firstLine());
    return *(first + row);
}

qint64 TerminalView::rowOfLine(qint64 line) const {
    if (!m_rows)
        return std::max<qint64>(0, line - m_store.firstLine());
    const auto first = std::lower_bound(m_rows->begin(), m_rows->end(), m_store.firstLine());
    return std::lower_bound(first, m_rows->end(), line) - first;
}

int TerminalView::lineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int TerminalView::visibleRows() const {
    return std::max(1, (viewport()->height() - Margin) / lineHeight());
}

TextPos TerminalView::endPos() const {
    const qint64 last = m_store.endLine() - 1;
    return {last, m_store.line(last).size()};
}

TextPos TerminalView::clamped(TextPos pos) const {
    if (pos.line < m_store.firstLine())
        return {m_store.firstLine(), 0};
    if (pos.line >= m_store.endLine())
        return endPos();
    pos.column = std::clamp<qsizetype>(pos.column, 0, m_store.line(pos.line).size());
    return pos;
}

void TerminalView::flushReceived() {
    m_frame.stop();
    if (m_drawnRevision != m_store.revision())
        refresh();
}

void TerminalView::refresh() {
    m_drawnRevision = m_store.revision();
    if (m_caretAtEnd) {
        m_caret = m_anchor = endPos();
    } else {
        m_caret = clamped(m_caret);
        m_anchor = clamped(m_anchor);
    }
    m_top = std::max(m_top, m_store.firstLine());
    syncScrollBars();
    if (m_follow && m_caretAtEnd)
        ensureCaretVisible();
}

void TerminalView::syncScrollBars() {
    m_syncing = true;
    const qint64 rows = rowCount();
    QScrollBar* v = verticalScrollBar();
    const int most = int(std::clamp<qint64>(rows - visibleRows(), 0, INT_MAX));
    v->setRange(0, most);
    v->setPageStep(visibleRows());
    v->setSingleStep(1);
    if (m_follow)
        m_top = rows > 0 ? lineAtRow(most) : m_store.firstLine();
    v->setValue(int(std::min<qint64>(rowOfLine(m_top), most)));
    if (rows > 0)
        m_top = lineAtRow(v->value());
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, std::max(0, m_widest + 2 * Margin - viewport()->width()));
    h->setPageStep(viewport()->width());
    h->setSingleStep(fontMetrics().averageCharWidth() * 2);
    m_syncing = false;
}

void TerminalView::scrollContentsBy(int dx, int dy) {
    Q_UNUSED(dx);
    if (m_syncing)
        return;
    if (dy != 0 && rowCount() > 0) {
        QScrollBar* v = verticalScrollBar();
        m_top = lineAtRow(v->value());
        // At the bottom the view follows the newest lines again.
        m_follow = v->value() >= v->maximum();
    }
    viewport()->update();
}

void TerminalView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    syncScrollBars();
}

void TerminalView::showOnly(const std::vector<qint64>* lines) {
    m_rows = lines;
    m_frame.stop();
    refresh();
    if (!m_follow)
        showLine(m_caret.line);
    viewport()->update();
}

std::vector<qint64> TerminalView::visibleLines() const {
    std::vector<qint64> lines;
    const qint64 rows = rowCount();
    for (qint64 row = rowOfLine(m_top), n = 0; row < rows && n <= visibleRows(); ++row, ++n)
        lines.push_back(lineAtRow(row));
    return lines;
}

void TerminalView::showLine(qint64 line) {
    const qint64 row = rowOfLine(line);
    const qint64 top = rowOfLine(m_top);
    if (row < top || row >= top + visibleRows()) {
        const qint64 rows = rowCount();
        const qint64 want = std::clamp<qint64>(row - visibleRows() / 2, 0,
                                               std::max<qint64>(0, rows - visibleRows()));
        m_top = rows > 0 ? lineAtRow(want) : m_store.firstLine();
    }
    m_follow = false;
    syncScrollBars();
    viewport()->update();
}

void TerminalView::ensureCaretVisible() {
    const qint64 row = rowOfLine(m_caret.line);
    const qint64 top = rowOfLine(m_top);
    if (row < top)
        m_top = m_caret.line;
    else if (row >= top + visibleRows())
        m_top = lineAtRow(std::max<qint64>(0, row - visibleRows() + 1));
    syncScrollBars();
    const QRect caret = caretRect();
    QScrollBar* h = horizontalScrollBar();
    if (caret.isValid() && (caret.left() < 0 || caret.right() > viewport()->width())) {
        if (caret.right() + h->value() + 2 * Margin > h->maximum() + viewport()->width())
            h->setRange(0, caret.right() + h->value() + 2 * Margin - viewport()->width());
        h->setValue(std::max(0, h->value() + caret.left() - viewport()->width() / 2));
    }
}

void TerminalView::layoutLine(QTextLayout& layout, qint64 line, qsizetype& from) const {
    QString text = m_store.line(line);
    StyleRuns runs = m_store.lineRuns(line);
    from = 0;
    if (text.size() > SliceUnits) {
        const int charWidth = std::max(1, fontMetrics().averageCharWidth());
        from = std::clamp<qsizetype>(horizontalScrollBar()->value() / charWidth - SliceUnits / 4, 0,
                                     text.size() - SliceUnits);
        StyledText sliced{text, runs};
        ::removeFront(sliced, from);
        text = sliced.text.left(SliceUnits);
        runs = sliced.runs;
    }
    QList<QTextLayout::FormatRange> formats;
    qsizetype at = 0;
    for (const StyleRun& run : runs) {
        if (!run.style.isPlain() && at < text.size())
            formats.append(
                {int(at), int(std::min(run.length, text.size() - at)), styleFormat(run.style)});
        at += run.length;
    }
    // A CR or LF without its partner shows as a mark.
    QTextCharFormat marker;
    marker.setForeground(Qt::gray);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t ch = text.at(i).unicode();
        if (ch == 13 || ch == 10) {
            text[i] = QChar(ch == 13 ? 0x240D : 0x240A);
            formats.append({int(i), 1, marker});
        }
    }
    layout.setText(text);
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTabStopDistance(80);
    layout.setTextOption(option);
    layout.setFormats(formats);
    if (line == m_caret.line && !m_preedit.isEmpty())
        layout.setPreeditArea(int(std::clamp<qsizetype>(m_caret.column - from, 0, text.size())),
                              m_preedit);
    layout.beginLayout();
    QTextLine row = layout.createLine();
    row.setLineWidth(1e7);
    row.setPosition(QPointF(0, 0));
    layout.endLayout();
    if (from > 0) // where the slice starts, as near as a monospaced font tells
        layout.setPosition(QPointF(from * fontMetrics().averageCharWidth(), 0));
}

void TerminalView::paintEvent(QPaintEvent* event) {
    Q_UNUSED(event);
    if (m_drawnRevision != m_store.revision())
        flushReceived();
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Text));
    const int height = lineHeight();
    const int x0 = Margin - horizontalScrollBar()->value();
    const TextPos start = std::min(m_anchor, m_caret);
    const TextPos end = std::max(m_anchor, m_caret);
    QTextCharFormat selected;
    selected.setBackground(palette().brush(QPalette::Highlight));
    selected.setForeground(palette().brush(QPalette::HighlightedText));
    QTextCharFormat found;
    found.setBackground(QColor(255, 230, 100));
    int widest = m_widest;
    const qint64 rows = rowCount();
    int y = Margin;
    for (qint64 row = rowOfLine(m_top); row < rows && y < viewport()->height();
         ++row, y += height) {
        const qint64 line = lineAtRow(row);
        QTextLayout layout;
        qsizetype from = 0;
        layoutLine(layout, line, from);
        const int length = int(layout.text().size());
        QList<QTextLayout::FormatRange> marks;
        if (marksOn) {
            for (const TextMark& mark : marksOn(line, m_store.line(line)))
                marks.append({int(mark.column - from), int(mark.length), found});
        }
        if (start != end && start.line <= line && line <= end.line) {
            const qsizetype a = line == start.line ? start.column - from : 0;
            const qsizetype b = line == end.line ? end.column - from : length + 1;
            marks.append(
                {int(std::max<qsizetype>(0, a)), int(std::max<qsizetype>(0, b - a)), selected});
        }
        const QPointF at(x0, y);
        layout.draw(&painter, at, marks);
        if (line == m_caret.line && hasFocus() && m_caretShown) {
            const qsizetype column = m_caret.column - from + layout.preeditAreaText().size();
            if (column >= 0 && column <= length + layout.preeditAreaText().size())
                layout.drawCursor(&painter, at, int(column), 1);
        }
        widest = std::max(widest, int(layout.position().x() + layout.lineAt(0).naturalTextWidth()));
    }
    if (widest > m_widest) {
        m_widest = widest;
        QScrollBar* h = horizontalScrollBar();
        h->setRange(0, std::max(0, m_widest + 2 * Margin - viewport()->width()));
    }
}

QRect TerminalView::caretRect() const {
    const qint64 row = rowOfLine(m_caret.line) - rowOfLine(m_top);
    if (m_rows && !std::binary_search(m_rows->begin(), m_rows->end(), m_caret.line))
        return QRect();
    QTextLayout layout;
    qsizetype from = 0;
    layoutLine(layout, m_caret.line, from);
    const qreal x = layout.position().x() +
                    layout.lineAt(0).cursorToX(int(std::max<qsizetype>(0, m_caret.column - from)));
    return QRect(int(x) + Margin - horizontalScrollBar()->value(), Margin + int(row) * lineHeight(),
                 1, lineHeight());
}

TextPos TerminalView::posAt(const QPoint& point) const {
    const qint64 rows = rowCount();
    if (rows == 0)
        return endPos();
    const qint64 row = std::clamp<qint64>(
        rowOfLine(m_top) + std::max(0, point.y() - Margin) / lineHeight(), 0, rows - 1);
    const qint64 line = lineAtRow(row);
    QTextLayout layout;
    qsizetype from = 0;
    layoutLine(layout, line, from);
    const qreal x = point.x() - Margin + horizontalScrollBar()->value() - layout.position().x();
    return {line, from + layout.lineAt(0).xToCursor(x)};
}

void TerminalView::select(TextPos anchor, TextPos caret) {
    flushReceived();
    m_anchor = clamped(anchor);
    m_caret = clamped(caret);
    m_caretAtEnd = m_caret == endPos() && m_anchor == m_caret;
    viewport()->update();
}

void TerminalView::moveCaret(TextPos to, bool extend) {
    m_caret = clamped(to);
    if (!extend)
        m_anchor = m_caret;
    m_caretAtEnd = m_caret == endPos() && m_anchor == m_caret;
    m_follow = m_caretAtEnd;
    m_caretShown = true;
    ensureCaretVisible();
    viewport()->update();
}

QString TerminalView::selectedText() const {
    const TextPos start = std::min(m_anchor, m_caret);
    const TextPos end = std::max(m_anchor, m_caret);
    QStringList lines;
    for (qint64 row = rowOfLine(start.line), rows = rowCount(); row < rows; ++row) {
        const qint64 line = lineAtRow(row);
        if (line > end.line)
            break;
        const QString text = m_store.line(line);
        const qsizetype a = line == start.line ? start.column : 0;
        const qsizetype b = line == end.line ? end.column : text.size();
        lines.append(text.mid(a, b - a));
    }
    return lines.join(QLatin1Char('\n'));
}

void TerminalView::selectAll() {
    flushReceived();
    const qint64 rows = rowCount();
    if (rows == 0)
        return;
    const qint64 last = lineAtRow(rows - 1);
    m_anchor = {lineAtRow(0), 0};
    m_caret = {last, m_store.line(last).size()};
    m_caretAtEnd = false;
    viewport()->update();
}
