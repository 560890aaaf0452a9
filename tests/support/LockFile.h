#pragma once

#include <QString>

class QProcess;

// Writes a UUCP lock file naming a process: with `live` a `sleep` started in
// `sleeper`, else one that has already exited. Returns its pid, or 0 when the
// process or the file could not be made.
qint64 writeLockFile(const QString& lockPath, bool live, QProcess& sleeper);
