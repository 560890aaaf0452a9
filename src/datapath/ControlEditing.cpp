#include "datapath/ControlEditing.h"

#include "datapath/LineStamps.h"
#include "datapath/TextTarget.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int SizeLimit = 16000;
constexpr int TrimAmount = 4096;
constexpr char16_t BS = 8, LF = 10, CR = 13;

// Whether none of the 16 units at `p` is at or below CR. Most of a flood is
// printable text, and this is the one pass over every character received.
bool noLowControls(const char16_t* p) {
#if defined(__SSE2__)
    // x - CR saturates to 0 exactly for the units at or below CR.
    const __m128i cr = _mm_set1_epi16(CR);
    const __m128i zero = _mm_setzero_si128();
    const __m128i a = _mm_subs_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), cr);
    const __m128i b = _mm_subs_epu16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), cr);
    return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero))) == 0;
#else
    return std::all_of(p, p + 16, [](char16_t ch) { return ch > CR; });
#endif
}

// Usual case: no backspace and every break already a CR LF pair.
bool needsEditing(const QString& data) {
    const auto* chars = reinterpret_cast<const char16_t*>(data.constData());
    const qsizetype size = data.size();
    qsizetype i = 0;
    while (i < size) {
        while (i + 16 <= size && noLowControls(chars + i))
            i += 16;
        for (const qsizetype stop = std::min(i + 16, size); i < stop; ++i) {
            const char16_t ch = chars[i];
            if (ch == CR && i + 1 < size && chars[i + 1] == LF)
                ++i;
            else if (ch == BS || ch == CR || ch == LF)
                return true;
        }
    }
    return false;
}

// Backspaces, then line feeds and carriage returns. A backspace erases the
// chunk's own previous character; one with nothing before it in the chunk
// reports `leadingBackspace` instead. `origin`, when given, gets for each
// character of an edited result the position it came from in `data`.
QString editForControl(const QString& data, bool& leadingBackspace,
                       QList<qsizetype>* origin = nullptr) {
    leadingBackspace = false;
    if (!needsEditing(data))
        return data;

    QString erased;
    erased.reserve(data.size());
    QList<qsizetype> erasedOrigin;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const QChar ch = data.at(i);
        if (ch.unicode() != BS) {
            erased.append(ch);
            if (origin)
                erasedOrigin.append(i);
        } else if (erased.isEmpty()) {
            leadingBackspace = true;
        } else {
            erased.chop(lastCharWidth(erased));
            if (origin)
                erasedOrigin.resize(erased.size());
        }
    }
    QString edited;
    edited.reserve(erased.size() + erased.size() / 8 + 2);
    for (qsizetype i = 0; i < erased.size(); ++i) {
        const QChar ch = erased.at(i);
        if (ch.unicode() == LF)
            continue;
        edited.append(ch);
        if (origin)
            origin->append(erasedOrigin[i]);
        if (ch.unicode() == CR) {
            edited.append(QChar(LF));
            if (origin)
                origin->append(erasedOrigin[i]);
        }
    }
    return edited;
}

} // namespace

// Units the last character of `text` takes: 2 for a surrogate pair, so an
// erase never leaves half a character behind.
int lastCharWidth(const QString& text) {
    const qsizetype n = text.size();
    if (n >= 2 && text.at(n - 1).isLowSurrogate() && text.at(n - 2).isHighSurrogate())
        return 2;
    return n > 0 ? 1 : 0;
}

// The same edit on styled text: each character keeps its style, and the line
// feed after a carriage return takes the carriage return's.
StyledText editForControl(const StyledText& data, bool& leadingBackspace) {
    if (data.runs.isEmpty())
        return {editForControl(data.text, leadingBackspace), {}};
    QList<qsizetype> origin;
    StyledText edited{editForControl(data.text, leadingBackspace, &origin), {}};
    if (origin.size() != edited.text.size())
        return data; // nothing to edit
    // Origins only grow, so the runs are walked once; each stretch of
    // characters from one run goes in as one piece.
    StyledText restyled;
    qsizetype run = 0, runStart = 0;
    for (qsizetype i = 0; i < origin.size();) {
        if (origin[i] < runStart)
            run = runStart = 0;
        while (origin[i] >= runStart + data.runs[run].length)
            runStart += data.runs[run++].length;
        const qsizetype runEnd = runStart + data.runs[run].length;
        qsizetype j = i + 1;
        while (j < origin.size() && origin[j] >= runStart && origin[j] < runEnd)
            ++j;
        appendStyled(restyled, QStringView(edited.text).mid(i, j - i), data.runs[run].style);
        i = j;
    }
    return restyled;
}

// The same for styled text; the stamps are plain.
StyledText insertStamps(const StyledText& edited, const QString& stamp, bool& atLineStart) {
    if (edited.runs.isEmpty())
        return {insertStamps(edited.text, stamp, atLineStart), {}};
    StyledText stamped;
    qsizetype at = 0;
    for (const StyleRun& run : edited.runs) {
        const QStringView text = QStringView(edited.text).mid(at, run.length);
        at += run.length;
        for (qsizetype from = 0; from < text.size();) {
            if (atLineStart)
                appendStyled(stamped, stamp, TextStyle());
            const qsizetype lf = text.indexOf(QChar(LF), from);
            const qsizetype end = lf < 0 ? text.size() : lf + 1;
            appendStyled(stamped, text.mid(from, end - from), run.style);
            atLineStart = lf >= 0;
            from = end;
        }
    }
    return stamped;
}

// Drops whole trim amounts from the front until the content is within the
// limit: one drop per call would let chunks longer than the trim amount grow
// the content without bound.
void boundContent(TextTarget& term) {
    const int n = term.TextLength();
    if (n <= SizeLimit)
        return;
    int cut = ((n - SizeLimit + TrimAmount - 1) / TrimAmount) * TrimAmount;
    if (cut < n && term.charAt(cut).isLowSurrogate() && term.charAt(cut - 1).isHighSurrogate())
        ++cut;
    term.removeFront(cut);
}

// Code point of a key code as text; empty for codes that are no character.
QString keyText(int keyCode) {
    const auto code = char32_t(keyCode);
    if (keyCode <= 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return QString();
    return QString::fromUcs4(&code, 1);
}

int upperKey(int keyCode) {
    const QString key = keyText(keyCode);
    if (key.isEmpty())
        return keyCode;
    const QString upper = key.toUpper();
    const QList<uint> codes = upper.toUcs4();
    return codes.size() == 1 ? int(codes.first()) : keyCode;
}
