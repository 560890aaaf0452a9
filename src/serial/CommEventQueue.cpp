#include "serial/CommEventQueue.h"

void CommEventQueue::raise(int code) {
    if (!m_pending.contains(code))
        m_pending.append(code);
}

void CommEventQueue::mark(Marker marker) {
    m_pending.append(marker);
}
