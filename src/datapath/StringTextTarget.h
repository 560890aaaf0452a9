#pragma once

#include "datapath/TextTarget.h"

// A text target over a plain string, line breaks stored as CR LF.
class StringTextTarget : public TextTarget {
public:
    QString Text() const override { return m_text; }
    void setText(const QString& text) override;
    int TextLength() const override { return int(m_text.size()); }
    int SelStart() const override { return m_selStart; }
    void setSelStart(int position) override;
    int SelLength() const override { return m_selLength; }
    void setSelLength(int length) override;
    QString SelText() const override { return m_text.mid(m_selStart, m_selLength); }
    void setSelText(const QString& text) override;
    QChar charAt(int position) const override { return m_text.at(position); }
    void removeFront(int count) override;

private:
    QString m_text;
    int m_selStart = 0;
    int m_selLength = 0;
};
