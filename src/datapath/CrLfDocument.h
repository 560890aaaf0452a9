#pragma once

#include <QChar>
#include <QString>
#include <QTextFormat>

class QTextDocument;

// The terminal's text as a QTextDocument holds it. A CR LF pair is one block
// break: one document position, two characters of the text. A CR or LF
// without its partner is a marker character whose format carries
// `markerProperty`, so positions count exactly as the plain text does.
// These map between the two ways of counting; no widget is involved.
namespace crlf {

constexpr char16_t CR = 13, LF = 10;
// How a carriage return or line feed without its partner is drawn.
constexpr char16_t CrMark = 0x240D, LfMark = 0x240A;
constexpr int markerProperty = QTextFormat::UserProperty + 1;

struct DocPos {
    int pos;
    bool midPair; // between the CR and the LF of the break after `pos`
};

int textLength(const QTextDocument& doc);
// A text position (clamped to the text) as a document position.
DocPos toDocument(const QTextDocument& doc, int position);
int toText(const QTextDocument& doc, int docPosition);
bool isMarker(const QTextDocument& doc, int docPosition);
QChar charAt(const QTextDocument& doc, int position);
QString text(const QTextDocument& doc);

} // namespace crlf
