#pragma once

#include <QString>
#include <QtGlobal>

// "hh:nn:ss " for a time connected: the elapsed time read as a time of day,
// so the hours start again at 00 after 24 hours. Whole seconds, rounded to
// the nearest one, so a one-second tick that fires a little early still
// shows the second it stands for.
QString formatConnectTime(qint64 elapsedMs);
