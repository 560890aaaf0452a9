#pragma once

#include <QString>

class GraphFeed;

// Writes every sample kept as CSV that Japanese spreadsheets open as it is:
// UTF-8 with a byte order mark, CR LF rows, a header of "時刻" and the
// channel names, then a row per line with the local read time
// (yyyy-MM-dd hh:mm:ss.zzz) and an empty cell where the line lacked a
// channel. Values keep the digits they came with, '.' as the decimal point.
// The file is replaced whole or not at all; false with the reason on failure.
bool writeGraphCsv(const GraphFeed& feed, const QString& path, QString* error);

// One value as the CSV writes it.
QByteArray csvNumber(double value, bool wide);
