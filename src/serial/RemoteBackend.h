#pragma once

#include "serial/PortResolver.h"
#include "serial/SerialBackend.h"

#include <memory>

// A port on another machine behind the backend interface. A thread of its
// own keeps the connection: it answers the telnet negotiation, takes the
// server's answers and notifications, and passes data through a socket pair
// whose near end is fd(), so the reader and the write notifier work as with
// a device. beginOpen() starts connecting and finishOpen() tells when it is
// done, within five seconds; open() waits for it.
//
// Over RFC 2217 the settings go to the server and are asked back; the modem
// lines and line errors come from the server's notifications, kept as the
// driver's lines and counters. Raw TCP carries bytes only: the settings are
// kept as given and there are no modem lines.
std::unique_ptr<SerialBackend> makeRemoteBackend(const RemoteTarget& target);

// Opens a link whose target is a URL remotely and anything else as a device.
std::unique_ptr<SerialBackend> makePortBackend();
