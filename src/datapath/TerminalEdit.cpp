// Placeholder until the terminal control lands.
#include "datapath/TerminalEdit.h"

TerminalEdit::TerminalEdit(QWidget* parent) : QPlainTextEdit(parent) {}
QString TerminalEdit::Text() const { return toPlainText(); }
void TerminalEdit::setText(const QString& text) { setPlainText(text); }
int TerminalEdit::TextLength() const { return int(toPlainText().size()); }
int TerminalEdit::SelStart() const { return textCursor().selectionStart(); }
void TerminalEdit::setSelStart(int) {}
int TerminalEdit::SelLength() const { return 0; }
void TerminalEdit::setSelLength(int) {}
QString TerminalEdit::SelText() const { return QString(); }
void TerminalEdit::setSelText(const QString& text) { insertPlainText(text); }
