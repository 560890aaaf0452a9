#pragma once

#include <QString>
#include <optional>

// The leading number of a reply: blanks, tabs and line feeds are ignored
// anywhere; sign, digits with one period, exponent; &H and &O prefixes.
// No leading number gives 0.
double readLeadingNumber(const QString& text);

// Rounds halves to even; nullopt when outside -32768..32767.
std::optional<qint16> toInteger16(double value);
