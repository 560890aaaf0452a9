#pragma once

#include "sending/SendEngine.h"

#include <QString>
#include <memory>

// A file chosen for sending, read piece by piece as the line drains. Only a
// regular file is sent: a FIFO or a device has no end to read up to, and
// opening one could wait for ever. Null, with the text to show, when the
// file cannot be sent.
std::unique_ptr<SendSource> openSendFile(const QString& path, QString* error);
