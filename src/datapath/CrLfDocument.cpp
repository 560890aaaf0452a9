#include "datapath/CrLfDocument.h"

#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>

namespace crlf {

int textLength(const QTextDocument& doc) {
    // Every block break is a CR LF pair: one document character, two of ours.
    return doc.characterCount() - 1 + doc.blockCount() - 1;
}

int toText(const QTextDocument& doc, int docPosition) {
    return docPosition + doc.findBlock(docPosition).blockNumber();
}

DocPos toDocument(const QTextDocument& doc, int position) {
    const int length = textLength(doc);
    position = std::clamp(position, 0, length);
    if (position == length)
        return {doc.characterCount() - 1, false};
    // The last block whose start, counted our way, is at or before position.
    int lo = 0;
    int hi = doc.blockCount() - 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (doc.findBlockByNumber(mid).position() + mid <= position)
            lo = mid;
        else
            hi = mid - 1;
    }
    const QTextBlock block = doc.findBlockByNumber(lo);
    const int offset = position - (block.position() + lo);
    const int blockText = block.length() - 1;
    if (offset <= blockText)
        return {block.position() + offset, false};
    return {block.position() + blockText, true};
}

bool isMarker(const QTextDocument& doc, int docPosition) {
    const QChar ch = doc.characterAt(docPosition);
    if (ch.unicode() != CrMark && ch.unicode() != LfMark)
        return false;
    const QTextBlock block = doc.findBlock(docPosition);
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.contains(docPosition))
            return fragment.charFormat().boolProperty(markerProperty);
    }
    return false;
}

QChar charAt(const QTextDocument& doc, int position) {
    const DocPos at = toDocument(doc, position);
    if (at.midPair)
        return QChar(LF);
    const QTextBlock block = doc.findBlock(at.pos);
    if (at.pos == block.position() + block.length() - 1)
        return QChar(CR);
    const QChar ch = doc.characterAt(at.pos);
    if (isMarker(doc, at.pos))
        return QChar(ch.unicode() == CrMark ? CR : LF);
    return ch;
}

QString text(const QTextDocument& doc) {
    QString result;
    result.reserve(textLength(doc));
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (block != doc.begin())
            result += QStringLiteral("\r\n");
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QString part = fragment.text();
            if (fragment.charFormat().boolProperty(markerProperty)) {
                part.replace(QChar(CrMark), QChar(CR));
                part.replace(QChar(LfMark), QChar(LF));
            }
            result += part;
        }
    }
    return result;
}

} // namespace crlf
