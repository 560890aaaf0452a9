#pragma once

#include <QtGlobal>
#include <algorithm>

// How much of a flood one hand-over to the window takes: about what the
// window handled in `budgetNs` lately, so a slow display (hex rows, colours)
// takes small shares and the timers and keys queued behind a share wait
// about that long, while a fast one keeps large shares and its throughput.
class ShareBudget {
public:
    static constexpr long minBytes = 2 * 1024;
    static constexpr long maxBytes = 64 * 1024;
    static constexpr double budgetNs = 4e6;

    long next() const { return std::clamp(long(budgetNs / m_nsPerByte), minBytes, maxBytes); }
    // A share of `bytes` took `ns` from taking to handled; a small one says
    // little about the cost per byte.
    void took(long bytes, qint64 ns) {
        if (bytes < minBytes)
            return;
        // Halfway to the last share: a slower display is followed at once,
        // one stalled share (a box, the machine busy) is soon forgotten.
        m_nsPerByte = std::max((m_nsPerByte + double(ns) / double(bytes)) / 2, 0.001);
    }

private:
    double m_nsPerByte = budgetNs / (16 * 1024); // a first share of 16 KiB
};
