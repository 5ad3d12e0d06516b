#pragma once

#include "line.h"

#include <QtGlobal>
#include <algorithm>
#include <chrono>

// One end's account of the line: when what was handed to it will have left,
// and until when a driver or adapter may still hold some of it. It reads no
// clock and knows no port, so the console's serial control, the test and bench
// devices and the simulator all keep the line's time the same way, each with
// the time it sees.
class LineModel {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Duration = Clock::duration;

    // How much longer than its bits a write can sit in a driver or a USB adapter.
    static constexpr std::chrono::milliseconds kDriverMargin{200};

    // Nothing on the line: bytes handed over next go at once.
    void reset() { m_freeAt = {}; }

    // Bytes handed over at `now` follow whatever the line still carries.
    // Returns when the last of them has left, which is also when it has
    // arrived whole at the other end.
    TimePoint handOver(TimePoint now, qint64 bytes)
    {
        m_freeAt = std::max(m_freeAt, now) + Line::timeFor(bytes);
        return m_freeAt;
    }

    // When everything handed over has left.
    TimePoint freeAt() const { return m_freeAt; }

    // How long the line still needs at `now`; zero once it is idle.
    Duration busyFor(TimePoint now) const { return std::max(m_freeAt - now, Duration::zero()); }

    // Handed over while the last character before it is still going out, the
    // next write follows it without a gap.
    TimePoint nextHandOver() const { return m_freeAt - Line::kCharacterTime; }

    // Until then a driver or adapter may still hold part of what was handed over.
    TimePoint heldUntil() const { return m_freeAt + kDriverMargin; }

    // Of `waiting` bytes handed over at `handedAt`, how many have arrived
    // whole by `now`: the first one character time after the line was free
    // for it, each next one a character time later.
    qint64 arrivedBy(TimePoint handedAt, TimePoint now, qint64 waiting) const
    {
        const TimePoint first = firstArrival(handedAt);
        if (now < first)
            return 0;
        return std::min(waiting, 1 + qint64((now - first) / Line::kCharacterTime));
    }

    // When the first of the bytes handed over at `handedAt` has arrived whole.
    TimePoint firstArrival(TimePoint handedAt) const
    {
        return std::max(m_freeAt, handedAt) + Line::kCharacterTime;
    }

private:
    TimePoint m_freeAt{};
};
