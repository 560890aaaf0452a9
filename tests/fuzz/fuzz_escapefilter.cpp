// Two kinds of input. Built: visible text and well-formed sequences, cut
// anywhere; what comes out is exactly the visible text. Raw: any units; cut or
// whole, the result is the same. Either way no ESC comes out and the runs
// cover the text.
#include "datapath/EscapeFilter.h"

#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_size == 0; }
    uint8_t next() {
        if (m_size == 0)
            return 0;
        --m_size;
        return *m_data++;
    }
    char16_t unit() { return char16_t(next() | next() << 8); }

private:
    const uint8_t* m_data;
    size_t m_size;
};

constexpr char16_t Esc = 27, Bel = 7;

void check(const StyledText& out) {
    if (out.text.contains(QChar(Esc)))
        std::abort();
    qsizetype covered = 0;
    for (const StyleRun& run : out.runs) {
        if (run.length <= 0)
            std::abort();
        covered += run.length;
    }
    if (!out.runs.isEmpty() && covered != out.text.size())
        std::abort();
}

bool same(const StyledText& a, const StyledText& b) {
    return a.text == b.text && std::equal(a.runs.begin(), a.runs.end(), b.runs.begin(),
                                          b.runs.end(), [](const StyleRun& x, const StyleRun& y) {
                                              return x.length == y.length && x.style == y.style;
                                          });
}

// The chunks' results joined, the runs merged where the style goes on.
StyledText filterAll(const QStringList& chunks) {
    EscapeFilter filter;
    StyledText all;
    for (const QString& chunk : chunks) {
        const StyledText part = filter.filter(chunk);
        check(part);
        appendStyled(all, part);
    }
    const StyledText rest = filter.flush();
    check(rest);
    appendStyled(all, rest);
    return all;
}

void appendSequence(Bytes& in, QString& input) {
    static const char params[] = "0123456789:;<=>?";
    input += QChar(Esc);
    switch (in.next() % 4) {
    case 0: // CSI
        input += QLatin1Char('[');
        for (int n = in.next() % 8; n > 0; --n)
            input += QLatin1Char(params[in.next() % 16]);
        for (int n = in.next() % 3; n > 0; --n)
            input += QChar(0x20 + in.next() % 16);
        input += QChar(0x40 + in.next() % 63);
        break;
    case 1: // SGR
        input += QLatin1Char('[');
        for (int n = in.next() % 8; n > 0; --n) {
            const uint8_t b = in.next();
            input += QString::number(b % 110) + QLatin1Char(b & 0x80 ? ':' : ';');
        }
        input += QLatin1Char('m');
        break;
    case 2: { // OSC, DCS, SOS, PM, APC: a string up to ST (BEL too for OSC)
        static const char introducers[] = "]PX^_";
        const char introducer = introducers[in.next() % 5];
        input += QLatin1Char(introducer);
        for (int n = in.next() % 40; n > 0; --n) {
            const char16_t u = in.unit();
            input += QChar(u == Esc || u == Bel ? u'x' : u);
        }
        input += introducer == ']' && in.next() % 2 ? QString(QChar(Bel))
                                                    : QString(QChar(Esc)) + QLatin1Char('\\');
        break;
    }
    default: { // ESC, intermediates, final
        const int intermediates = in.next() % 3;
        for (int n = intermediates; n > 0; --n)
            input += QChar(0x20 + in.next() % 16);
        QChar final(0x30 + in.next() % 79);
        if (intermediates == 0 && QStringLiteral("[]PX^_").contains(final))
            final = QLatin1Char('c'); // those open a sequence or a string
        input += final;
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in(data, size);
    if (in.next() % 2 == 0) {
        QString input, visible;
        QStringList chunks;
        while (!in.empty()) {
            const uint8_t kind = in.next();
            if (kind & 0x40) {
                for (int n = in.next() % 12; n > 0; --n) {
                    const char16_t u = in.unit();
                    visible += QChar(u == Esc ? u'x' : u);
                    input += visible.back();
                }
            } else {
                appendSequence(in, input);
            }
            if (kind & 0x80) {
                chunks.append(input);
                input.clear();
            }
        }
        chunks.append(input);
        if (filterAll(chunks).text != visible)
            std::abort();
    } else {
        QString units;
        while (!in.empty())
            units += QChar(in.unit());
        const QStringList chunks = units.split(QChar(0xFFFF));
        if (!same(filterAll(chunks), filterAll({chunks.join(QString())})))
            std::abort();
    }
    return 0;
}
