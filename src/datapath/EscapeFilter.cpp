#include "datapath/EscapeFilter.h"

#include <QVarLengthArray>
#include <algorithm>
#include <limits>

namespace {

constexpr char16_t Esc = 27, Bel = 7;

bool inRange(char16_t ch, char16_t low, char16_t high) {
    return ch >= low && ch <= high;
}

int nearestColour(int red, int green, int blue) {
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (int index = 0; index < 16; ++index) {
        const QRgb c = terminalColour(index);
        const int dr = qRed(c) - red, dg = qGreen(c) - green, db = qBlue(c) - blue;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = index;
            bestDistance = distance;
        }
    }
    return best;
}

// An entry of the 256-colour palette as one of the 16; -1 when out of range.
int paletteColour(int index) {
    if (index < 0 || index > 255)
        return -1;
    if (index < 16)
        return index;
    if (index >= 232) {
        const int grey = 8 + 10 * (index - 232);
        return nearestColour(grey, grey, grey);
    }
    static constexpr int levels[] = {0, 95, 135, 175, 215, 255};
    const int cube = index - 16;
    return nearestColour(levels[cube / 36], levels[cube / 6 % 6], levels[cube % 6]);
}

// The arguments after 38 or 48: 5;index or 2;red;green;blue (the colon form
// may name a colour space before red). -1 when they name no colour.
int extendedColour(const QVarLengthArray<int, 8>& args) {
    if (args.size() >= 2 && args[0] == 5)
        return paletteColour(args[1]);
    if (args.size() >= 4 && args[0] == 2) {
        const int* rgb = args.size() >= 5 ? &args[2] : &args[1];
        if (std::any_of(rgb, rgb + 3, [](int v) { return v > 255; }))
            return -1;
        return nearestColour(rgb[0], rgb[1], rgb[2]);
    }
    return -1;
}

// The end of a CSI sequence starting at `esc` that lies whole in `view` and
// is well formed, short enough and without intermediates; 0 for any other,
// which goes through the state machine. Most received sequences are of this
// kind, and taking them here spares holding them character by character.
qsizetype wholeCsi(QStringView view, qsizetype esc) {
    const qsizetype last = std::min(view.size(), esc + EscapeFilter::MaxSequence);
    if (esc + 1 >= last || view[esc + 1] != u'[')
        return 0;
    for (qsizetype k = esc + 2; k < last; ++k) {
        const char16_t ch = view[k].unicode();
        if (inRange(ch, 0x40, 0x7E))
            return k + 1;
        if (!inRange(ch, 0x30, 0x3F))
            return 0;
    }
    return 0;
}

} // namespace

StyledText EscapeFilter::filter(const QString& input) {
    StyledText out;
    const QStringView view(input);
    if (m_state == State::Ground && m_style.isPlain() && !view.contains(QChar(Esc))) {
        out.text = input;
        return out;
    }
    out.text.reserve(input.size());
    qsizetype i = 0;
    while (i < view.size()) {
        if (m_state == State::Ground) {
            qsizetype esc = view.indexOf(QChar(Esc), i);
            if (esc < 0)
                esc = view.size();
            appendStyled(out, view.mid(i, esc - i), m_style);
            if (esc == view.size())
                break;
            i = esc;
            if (const qsizetype end = wholeCsi(view, i)) {
                if (view[end - 1] == u'm')
                    applySgr(view.mid(i + 2, end - i - 3));
                i = end;
                continue;
            }
        }
        step(view[i++].unicode(), out);
    }
    return out;
}

StyledText EscapeFilter::flush() {
    StyledText out;
    if (m_state != State::Ground)
        giveUp(out);
    return out;
}

void EscapeFilter::reset() {
    m_state = State::Ground;
    m_held.clear();
    m_style = TextStyle();
}

void EscapeFilter::step(char16_t ch, StyledText& out) {
    bool valid = true;
    switch (m_state) {
    case State::Ground:
        if (ch != Esc) {
            appendStyled(out, QStringView(&ch, 1), m_style);
            return;
        }
        m_held = QChar(Esc);
        m_state = State::Escape;
        return;
    case State::Escape:
        if (ch == u'[') {
            m_state = State::CsiParam;
        } else if (ch == u']' || ch == u'P' || ch == u'X' || ch == u'^' || ch == u'_') {
            m_state = State::String;
            m_belEnds = ch == u']';
            m_skipped = false;
        } else if (inRange(ch, 0x20, 0x2F)) {
            m_state = State::EscIntermediate;
        } else if (inRange(ch, 0x30, 0x7E)) {
            return complete();
        } else {
            valid = false;
        }
        break;
    case State::EscIntermediate:
        if (inRange(ch, 0x30, 0x7E))
            return complete();
        valid = inRange(ch, 0x20, 0x2F);
        break;
    case State::CsiParam:
    case State::CsiIntermediate:
        if (inRange(ch, 0x40, 0x7E)) {
            if (ch == u'm' && m_state == State::CsiParam)
                applySgr(QStringView(m_held).mid(2));
            return complete();
        }
        if (inRange(ch, 0x20, 0x2F))
            m_state = State::CsiIntermediate;
        else
            valid = m_state == State::CsiParam && inRange(ch, 0x30, 0x3F);
        break;
    case State::String:
        if (ch == Bel && m_belEnds)
            return complete();
        if (ch == Esc)
            m_state = State::StringEscape;
        break;
    case State::StringEscape:
        if (ch == u'\\')
            return complete();
        // Not a terminator: the ESC starts a sequence of its own.
        m_held.chop(1);
        giveUp(out);
        m_held = QChar(Esc);
        m_state = State::Escape;
        return step(ch, out);
    }
    if (!valid) {
        giveUp(out);
        return step(ch, out);
    }
    m_held += QChar(ch);
    if (m_held.size() < MaxSequence)
        return;
    if (m_state != State::String && m_state != State::StringEscape)
        return giveUp(out);
    // Titles and device strings can be long: the rest is skipped unseen.
    m_held.clear();
    m_skipped = true;
}

void EscapeFilter::complete() {
    m_held.clear();
    m_skipped = false;
    m_state = State::Ground;
}

void EscapeFilter::giveUp(StyledText& out) {
    QString shown = std::exchange(m_held, QString());
    m_state = State::Ground;
    if (std::exchange(m_skipped, false))
        return; // a long control string cut short: none of it is text
    shown.replace(QChar(Esc), QChar(EscMark));
    appendStyled(out, shown, m_style);
}

// Parameters are separated by ';'; a ':' joins sub-parameters to the one
// before it. Forms with a private marker (ESC [ > 4 m) set no colour.
void EscapeFilter::applySgr(QStringView params) {
    struct Param {
        int value;
        bool sub;
    };
    QVarLengthArray<Param, MaxSequence> list{{0, false}};
    for (const QChar c : params) {
        const char16_t ch = c.unicode();
        if (ch == u';' || ch == u':') {
            list.append({0, ch == u':'});
        } else if (inRange(ch, u'0', u'9')) {
            int& value = list.last().value;
            value = std::min(value * 10 + (ch - u'0'), 99999);
        } else {
            return;
        }
    }
    for (qsizetype i = 0; i < list.size();) {
        const int code = list[i].value;
        qsizetype next = i + 1;
        while (next < list.size() && list[next].sub)
            ++next;
        if (code == 38 || code == 48) {
            QVarLengthArray<int, 8> args;
            for (qsizetype k = i + 1; k < next && args.size() < 8; ++k)
                args.append(list[k].value);
            if (args.isEmpty() && next < list.size()) {
                // 38;5;n and 38;2;r;g;b take the parameters that follow.
                const int kind = list[next].value;
                const qsizetype count = kind == 5 ? 2 : kind == 2 ? 4 : 1;
                for (; args.size() < count && next < list.size(); ++next)
                    args.append(list[next].value);
            }
            const int colour = extendedColour(args);
            if (colour >= 0)
                (code == 38 ? m_style.foreground : m_style.background) = int8_t(colour);
        } else if (code == 0) {
            m_style = TextStyle();
        } else if (code == 1) {
            m_style.bold = true;
        } else if (code == 39) {
            m_style.foreground = -1;
        } else if (code == 49) {
            m_style.background = -1;
        } else if (code >= 30 && code <= 37) {
            m_style.foreground = int8_t(code - 30);
        } else if (code >= 40 && code <= 47) {
            m_style.background = int8_t(code - 40);
        } else if (code >= 90 && code <= 97) {
            m_style.foreground = int8_t(code - 90 + 8);
        } else if (code >= 100 && code <= 107) {
            m_style.background = int8_t(code - 100 + 8);
        }
        i = next;
    }
}
