#pragma once

#include <QString>
#include <QtGlobal>

// "[hh:mm:ss.mmm] " in local time, 24 h.
QString stampText(qint64 msSinceEpoch);
// The length of every stamp.
inline constexpr int StampLength = 15;

// Puts `stamp` before the first unit of every line that `edited` (text whose
// breaks are CR LF) begins. `atLineStart` says whether the text begins a
// line, and is left saying whether the next text does.
QString insertStamps(const QString& edited, const QString& stamp, bool& atLineStart);
