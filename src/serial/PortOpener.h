#pragma once

#include "platform/SystemError.h"
#include "serial/PortLock.h"
#include "serial/PortResolver.h"
#include "serial/SystemPaths.h"

class SerialBackend;

// Why a port did not open. Callers branch on `cause`; only a caller that
// shows it to the user has it described (which may scan /proc).
struct OpenFailure {
    enum class Cause {
        None,
        NotFound, // Com N leads nowhere
        Lock,     // a UUCP lock refuses: `lock`
        Device,   // the device's open failed: `error`
    };
    Cause cause = Cause::None;
    ResolvedPort port;
    PortLock::Result lock;
    int error = 0;
    // No failure yet: the open goes on (finish() it later).
    bool pending = false;

    explicit operator bool() const { return cause != Cause::None; }
    ErrorKind kind() const;
};

// Finds the device behind Com N, takes its lock and opens it raw.
class PortOpener {
public:
    explicit PortOpener(SystemPaths paths) : m_paths(std::move(paths)) {}
    const SystemPaths& paths() const { return m_paths; }

    // The link comN, else the N-th present device; cause NotFound when none.
    OpenFailure resolve(int number) const;
    // On failure neither the lock nor the device is held. Unless `wait`, an
    // open that takes a while (a remote port) is left `pending`.
    OpenFailure open(const ResolvedPort& port, SerialBackend& backend, PortLock& lock,
                     bool wait = true) const;
    // How a pending open went; it may still be pending.
    OpenFailure finish(const ResolvedPort& port, SerialBackend& backend, PortLock& lock) const;

private:
    static OpenFailure settled(int rc, OpenFailure& result, PortLock& lock);

    SystemPaths m_paths;
};
