#include "serial/PortOpener.h"

#include "serial/SerialBackend.h"

#include <cerrno>

ErrorKind OpenFailure::kind() const {
    switch (cause) {
    case Cause::Lock:
        return lock.outcome == PortLock::Outcome::HeldByLive ? ErrorKind::Busy : ErrorKind::Other;
    case Cause::Device:
        return errorKindOf(error);
    case Cause::None:
    case Cause::NotFound:
        break;
    }
    return ErrorKind::Other;
}

OpenFailure PortOpener::resolve(int number) const {
    OpenFailure result;
    result.port = resolvePort(number, m_paths.ports, presentSerialDevices(m_paths));
    if (result.port.path.isEmpty())
        result.cause = OpenFailure::Cause::NotFound;
    return result;
}

OpenFailure PortOpener::open(const ResolvedPort& port, SerialBackend& backend, PortLock& lock,
                             bool wait) const {
    OpenFailure result;
    result.port = port;
    result.lock = lock.acquire(port.path);
    if (result.lock.outcome != PortLock::Outcome::Taken) {
        result.cause = OpenFailure::Cause::Lock;
        return result;
    }
    return settled(wait ? backend.open(port.path) : backend.beginOpen(port.path), result, lock);
}

OpenFailure PortOpener::finish(const ResolvedPort& port, SerialBackend& backend,
                               PortLock& lock) const {
    OpenFailure result;
    result.port = port;
    return settled(backend.finishOpen(), result, lock);
}

OpenFailure PortOpener::settled(int rc, OpenFailure& result, PortLock& lock) {
    if (rc == -EINPROGRESS) {
        result.pending = true;
    } else if (rc < 0) {
        lock.release();
        result.cause = OpenFailure::Cause::Device;
        result.error = -rc;
    }
    return result;
}
