#pragma once

#include "datapath/TextTarget.h"

#include <QPlainTextEdit>
#include <functional>

// txtTerm: the terminal area. Every character typed, committed by the input
// method or pasted goes through keyPressHandler before the control inserts
// it; the handler may change the code or set it to 0 to drop the key.
class TerminalEdit : public QPlainTextEdit, public TextTarget {
    Q_OBJECT
public:
    explicit TerminalEdit(QWidget* parent = nullptr);

    QString Text() const override;
    void setText(const QString& text) override;
    int TextLength() const override;
    int SelStart() const override;
    void setSelStart(int position) override;
    int SelLength() const override;
    void setSelLength(int length) override;
    QString SelText() const override;
    void setSelText(const QString& text) override;

    std::function<void(int& keyCode)> keyPressHandler;
};
