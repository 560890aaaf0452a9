#include "datapath/TextStyle.h"

#include <algorithm>
#include <iterator>

QRgb terminalColour(int index) {
    static constexpr QRgb colours[16] = {
        qRgb(0, 0, 0),       qRgb(205, 0, 0),   qRgb(0, 205, 0),   qRgb(205, 205, 0),
        qRgb(0, 0, 238),     qRgb(205, 0, 205), qRgb(0, 205, 205), qRgb(229, 229, 229),
        qRgb(127, 127, 127), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
        qRgb(92, 92, 255),   qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
    return colours[index & 15];
}

void appendStyled(StyledText& to, QStringView text, TextStyle style) {
    if (text.isEmpty())
        return;
    if (to.runs.isEmpty() && style.isPlain()) {
        to.text += text;
        return;
    }
    if (to.runs.isEmpty() && !to.text.isEmpty())
        to.runs.append({to.text.size(), TextStyle()});
    if (!to.runs.isEmpty() && to.runs.last().style == style)
        to.runs.last().length += text.size();
    else
        to.runs.append({text.size(), style});
    to.text += text;
}

void appendStyled(StyledText& to, const StyledText& more) {
    if (more.runs.isEmpty()) {
        appendStyled(to, more.text, TextStyle());
        return;
    }
    if (to.text.isEmpty()) {
        to = more;
        return;
    }
    // Only the first run can go on with the last one; the rest go in whole.
    const StyleRun& first = more.runs.first();
    appendStyled(to, QStringView(more.text).left(first.length), first.style);
    if (more.runs.size() == 1)
        return;
    if (to.runs.isEmpty())
        to.runs.append({to.text.size(), TextStyle()});
    to.text += QStringView(more.text).mid(first.length);
    to.runs.reserve(to.runs.size() + more.runs.size() - 1);
    std::copy(more.runs.cbegin() + 1, more.runs.cend(), std::back_inserter(to.runs));
}

void removeFront(StyledText& styled, qsizetype count) {
    count = std::min(count, styled.text.size());
    styled.text.remove(0, count);
    while (count > 0 && !styled.runs.isEmpty()) {
        StyleRun& first = styled.runs.first();
        const qsizetype cut = std::min(count, first.length);
        first.length -= cut;
        count -= cut;
        if (first.length == 0)
            styled.runs.removeFirst();
    }
    // Plain all through again: back to the cheaper form.
    if (styled.runs.size() == 1 && styled.runs.first().style.isPlain())
        styled.runs.clear();
}
