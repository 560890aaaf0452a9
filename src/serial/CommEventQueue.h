#pragma once

#include <QVector>

// The events a serial component has raised and not yet delivered, in the
// order they arose. A comm event already waiting is not queued again; the
// markers for the component's own signals always are.
class CommEventQueue {
public:
    // Stand for "emit PortClosed and DeviceLost", for "emit PortClosed"
    // alone, and for "emit Reconnected"; comm event codes are positive.
    enum Marker : int { Lost = -1, Closed = -2, Reconnected = -3 };

    void raise(int code);
    void mark(Marker marker);
    bool isEmpty() const { return m_pending.isEmpty(); }
    // The oldest entry, removed; only when not empty.
    int takeFirst() { return m_pending.takeFirst(); }
    void clear() { m_pending.clear(); }

private:
    QVector<int> m_pending;
};
