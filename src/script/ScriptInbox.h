#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <optional>

// What a running script has received and not yet matched. Matching takes the
// text up to and including the match away, so the next match starts after it.
class ScriptInbox {
public:
    // Characters kept; older text is dropped from the front, so a script that
    // never matches cannot grow the program, and a regular expression looks at
    // a bounded text on every arrival.
    static constexpr qsizetype Limit = 64 * 1024;

    void add(const QString& text);
    void clear();
    qsizetype size() const { return m_text.size(); }

    // The text through the first occurrence of `needle`, taken away; nothing
    // when it has not arrived. An empty needle matches at once.
    std::optional<QString> takeThrough(const QString& needle);
    // The whole match and then each capture (a null string for a group that
    // took no part), the text through the match taken away.
    std::optional<QStringList> takeThrough(const QRegularExpression& pattern);

private:
    void drop(qsizetype count);

    QString m_text;
    // Where the last search for m_needle found nothing from: the next search
    // for it starts just before there, not from the front again.
    QString m_needle;
    qsizetype m_searchedTo = 0;
};
