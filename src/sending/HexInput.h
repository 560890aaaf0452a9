#pragma once

#include <QByteArray>
#include <QString>

// Bytes typed as hex pairs, with or without blanks between pairs: "0d 0a",
// "0D0A", "41 54 0d". A pair is two digits side by side.
struct HexInput {
    bool ok = false;
    QByteArray bytes;
    // On refusal: the first character that breaks the rule, counted from 1,
    // and what the user is told.
    qsizetype badPosition = 0;
    QString error;
};

HexInput parseHexInput(const QString& text);
