#pragma once

#include "linemodel.h"

// The far end of a 9600-baud line, taking bytes off it no faster than they
// arrive: what waits in a pseudo-terminal (or a queue) is handed to the line,
// and a byte counts as arrived one character time after the line was free for
// it. The reader learns of bytes late, when its thread wakes, so one rule says
// when they were handed over: bytes still waiting when the last ones were taken
// were there already and follow them without a gap; bytes that come to a
// drained line go from when they were noticed. A late wake-up therefore never
// slows the line down: whatever has arrived by then is taken at once.
class PacedLine {
public:
    using TimePoint = LineModel::TimePoint;

    // Bytes are waiting at `now`; unless some were left over, the line starts on them now.
    void noticed(TimePoint now)
    {
        if (!m_leftWaiting)
            m_handedAt = now;
    }
    // When the next byte will have arrived whole.
    TimePoint nextArrival() const { return m_line.firstArrival(m_handedAt); }
    // Of `waiting` bytes, how many have arrived by `now`.
    qint64 arrivedBy(TimePoint now, qint64 waiting) const
    {
        return m_line.arrivedBy(m_handedAt, now, waiting);
    }
    // `count` bytes were taken off the line, `stillWaiting` whether more were left behind
    // them. Returns when the first of them arrived; each next one arrived a
    // character time later.
    TimePoint carried(qint64 count, bool stillWaiting)
    {
        const TimePoint first = nextArrival();
        m_line.handOver(m_handedAt, count);
        m_leftWaiting = stillWaiting;
        return first;
    }

private:
    LineModel m_line;
    TimePoint m_handedAt{};
    bool m_leftWaiting = false;
};
