#pragma once

#include "datapath/TextStyle.h"

#include <QString>

// Takes the escape sequences out of received text: CSI (ESC [ parameters,
// intermediates, final), the control strings OSC (ESC ], up to BEL or ESC \)
// and DCS, SOS, PM, APC (ESC P, X, ^, _, up to ESC \), and ESC with
// intermediates and a final character. SGR colours and bold become the style
// of the text after them; every other sequence is dropped. A sequence cut
// across calls is held until it ends. A control string is skipped to its
// terminator however long it is, holding at most MaxSequence characters of
// it. Any other sequence that is malformed or still open after MaxSequence
// characters is shown after all, its ESC drawn as U+241B, so the result
// never holds an ESC.
class EscapeFilter {
public:
    static constexpr int MaxSequence = 64;
    static constexpr char16_t EscMark = 0x241B;

    StyledText filter(const QString& input);
    // The port closed: a held sequence will not end now, so it is shown.
    StyledText flush();
    // Plain style, nothing held.
    void reset();

private:
    enum class State {
        Ground,
        Escape,
        EscIntermediate,
        CsiParam,
        CsiIntermediate,
        String,
        StringEscape
    };

    void step(char16_t ch, StyledText& out);
    void complete();
    void giveUp(StyledText& out);
    void applySgr(QStringView params);

    State m_state = State::Ground;
    QString m_held;
    TextStyle m_style;
    bool m_belEnds = false; // the control string is an OSC
    bool m_skipped = false; // what was held of a long control string is dropped
};
