#pragma once

#include <QString>

// The operating system's reason for errno `error`, in Japanese, for the
// descriptions the program shows ("… を開けません: <reason>").
QString describeErrno(int error);
