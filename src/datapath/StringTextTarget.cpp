#include "datapath/StringTextTarget.h"

#include <algorithm>

void StringTextTarget::setText(const QString& text) {
    m_text = text;
    m_selStart = 0;
    m_selLength = 0;
}

void StringTextTarget::setSelStart(int position) {
    m_selStart = std::clamp(position, 0, TextLength());
    m_selLength = 0;
}

void StringTextTarget::setSelLength(int length) {
    m_selLength = std::clamp(length, 0, TextLength() - m_selStart);
}

void StringTextTarget::setSelText(const QString& text) {
    m_text.replace(m_selStart, m_selLength, text);
    m_selStart += int(text.size());
    m_selLength = 0;
}

void StringTextTarget::removeFront(int count) {
    count = std::clamp(count, 0, TextLength());
    m_text.remove(0, count);
    const int end = std::max(0, m_selStart + m_selLength - count);
    m_selStart = std::max(0, m_selStart - count);
    m_selLength = end - m_selStart;
}
