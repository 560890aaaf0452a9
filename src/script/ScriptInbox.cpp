#include "script/ScriptInbox.h"

#include <algorithm>

void ScriptInbox::add(const QString& text) {
    m_text += text;
    if (m_text.size() > Limit) {
        qsizetype cut = m_text.size() - Limit;
        // Never half a surrogate pair at the front.
        if (m_text.at(cut).isLowSurrogate())
            ++cut;
        drop(cut);
    }
}

void ScriptInbox::clear() {
    m_text.clear();
    m_searchedTo = 0;
}

void ScriptInbox::drop(qsizetype count) {
    m_text.remove(0, count);
    m_searchedTo = std::max<qsizetype>(0, m_searchedTo - count);
}

std::optional<QString> ScriptInbox::takeThrough(const QString& needle) {
    if (needle != m_needle) {
        m_needle = needle;
        m_searchedTo = 0;
    }
    const qsizetype from = std::max<qsizetype>(0, m_searchedTo - needle.size() + 1);
    const qsizetype at = m_text.indexOf(needle, from);
    if (at < 0) {
        m_searchedTo = m_text.size();
        return std::nullopt;
    }
    const qsizetype end = at + needle.size();
    const QString taken = m_text.left(end);
    m_text.remove(0, end);
    m_searchedTo = 0;
    return taken;
}

std::optional<QStringList> ScriptInbox::takeThrough(const QRegularExpression& pattern) {
    const QRegularExpressionMatch match = pattern.match(m_text);
    if (!match.hasMatch())
        return std::nullopt;
    QStringList parts;
    for (int i = 0; i <= match.lastCapturedIndex(); ++i)
        parts << (match.capturedStart(i) < 0 ? QString() : match.captured(i));
    // Groups after the last one that took part are still answered.
    for (int i = match.lastCapturedIndex() + 1; i <= pattern.captureCount(); ++i)
        parts << QString();
    const qsizetype end = match.capturedEnd(0);
    m_text.remove(0, end);
    m_searchedTo = 0;
    return parts;
}
