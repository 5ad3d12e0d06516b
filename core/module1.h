#pragma once

#include <QString>
#include <functional>

namespace Module1 {

// Milliseconds of the monotonic clock as a 32-bit count that wraps to 0.
quint32 GetTickCount();

// Tests replace the counter to put a wait across a wrap; an empty function restores the clock.
void setTickSource(std::function<quint32()> source);

// Waits until the counter has moved strictly more than `ms` past its reading on
// entry, dispatching every pending event before each re-reading. Handlers run
// nested inside the wait. Between passes the thread sleeps in the event wait
// instead of polling, so a wait costs almost no CPU.
void Delay(qint32 ms);

// The same wait, cut short as soon as `stopEarly` holds after a dispatch pass.
// Returns false when it was cut short.
bool Delay(qint32 ms, const std::function<bool()> &stopEarly);

// The second-generation check character: one character, space to DEL.
QString CheckChar(QStringView text);

} // namespace Module1
