#include "ptydevice.h"

#include "pacedline.h"
#include "pseudoterminal.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
constexpr qsizetype kReadMost = 4096;
// An FTDI chip's default latency timer, and what one USB packet carries.
constexpr std::chrono::milliseconds kUsbLatency{16};
constexpr qsizetype kUsbPacketBytes = 62;
// A 16550's receive FIFO trigger level on Linux, and its time-out.
constexpr qsizetype kFifoTrigger = 8;
constexpr auto kFifoTimeout = 4 * Line::kCharacterTime;
// A two-wire adapter and its device turning the line round after a command.
constexpr std::chrono::milliseconds kTurnRound{3};
constexpr char kEot = 0x04;

// A wake-up late by the default 50 µs of timer slack would hide as much of a gap.
void keepTimePrecisely()
{
    ::prctl(PR_SET_TIMERSLACK, 1UL);
}

} // namespace

PtyDevice::PtyDevice(Pace pace, FrameHandler onFrame)
    : m_pace(pace)
    , m_onFrame(std::move(onFrame))
{
    const PseudoTerminal pty = openPseudoTerminal();
    if (pty.deviceEnd < 0)
        qFatal("PtyDevice: %s", qPrintable(pty.error));
    if (::pipe2(m_wake, O_CLOEXEC) != 0)
        qFatal("PtyDevice: cannot make a pipe");
    m_master = pty.deviceEnd;
    m_slave = pty.consoleEnd;
    m_path = pty.consolePath;
    m_ticksFrom = Clock::now();
    m_reader = std::thread(&PtyDevice::readLoop, this);
    m_writer = std::thread(&PtyDevice::writeLoop, this);
}

PtyDevice::~PtyDevice()
{
    hangUp();
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

QByteArray PtyDevice::received() const
{
    const std::lock_guard lock(m_mutex);
    return m_received;
}

QList<PtyDevice::TimePoint> PtyDevice::byteTimes() const
{
    const std::lock_guard lock(m_mutex);
    return m_byteTimes;
}

QList<PtyDevice::Arrival> PtyDevice::arrivals() const
{
    const std::lock_guard lock(m_mutex);
    return m_frames;
}

void PtyDevice::clear()
{
    const std::lock_guard lock(m_mutex);
    m_received.clear();
    m_byteTimes.clear();
    m_frames.clear();
}

void PtyDevice::write(const QByteArray &bytes)
{
    const std::lock_guard lock(m_mutex);
    send(bytes, Clock::now(), false);
}

void PtyDevice::answerAt(const QByteArray &bytes, TimePoint at)
{
    const std::lock_guard lock(m_mutex);
    send(bytes, at, true);
}

void PtyDevice::answerWith(const QByteArrayList &answers)
{
    QList<Answer> whole;
    for (const QByteArray &answer : answers)
        whole.append({{answer}});
    answerWith(whole);
}

void PtyDevice::answerWith(const QList<Answer> &answers)
{
    const std::lock_guard lock(m_mutex);
    m_answers = answers;
}

QList<PtyDevice::TimePoint> PtyDevice::answeredAt() const
{
    const std::lock_guard lock(m_mutex);
    return m_answered;
}

void PtyDevice::hangUp()
{
    if (m_stopping.exchange(true))
        return;
    [[maybe_unused]] const ssize_t woken = ::write(m_wake[1], "x", 1); // stays: every poll sees it
    std::unique_lock(m_mutex).unlock(); // the writer waits, or sees the stop
    m_outgoingChanged.notify_one();
    m_reader.join();
    m_writer.join();
    ::close(m_master);
    ::close(m_slave);
}

bool PtyDevice::waitUntilReadable()
{
    pollfd fds[] = {{m_wake[0], POLLIN, 0}, {m_master, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0 && errno == EINTR) { }
    return !m_stopping;
}

bool PtyDevice::sleepUntil(TimePoint at)
{
    pollfd wake{m_wake[0], POLLIN, 0};
    for (Clock::duration left; (left = at - Clock::now()) > Clock::duration::zero();) {
        const auto ns = std::chrono::nanoseconds(left).count();
        const timespec timeout{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
        if (::ppoll(&wake, 1, &timeout, nullptr) > 0)
            return false;
    }
    return !m_stopping;
}

void PtyDevice::readLoop()
{
    if (paced())
        keepTimePrecisely();
    PacedLine line;
    bool waiting = false; // left in the pseudo-terminal by the last read
    char buffer[kReadMost];
    TimePoint times[kReadMost];
    for (;;) {
        if (!waiting && !waitUntilReadable())
            return;
        qint64 most = kReadMost;
        if (paced()) {
            line.noticed(Clock::now());
            if (!sleepUntil(line.nextArrival()))
                return;
            most = line.arrivedBy(Clock::now(), most);
        }
        const ssize_t n = ::read(m_master, buffer, size_t(most));
        if (n <= 0) { // nothing after all: the console flushed what it had written
            waiting = false;
            line.carried(0, false);
            std::this_thread::sleep_for(1ms);
            continue;
        }
        waiting = paced() && bytesWaiting(m_master) > 0;
        const TimePoint now = Clock::now();
        for (ssize_t i = 0; i < n; ++i)
            times[i] = paced() ? line.carried(1, i + 1 < n || waiting) : now;
        arrived(buffer, times, n);
    }
}

void PtyDevice::arrived(const char *bytes, const TimePoint *times, qsizetype count)
{
    QList<Arrival> frames;
    {
        const std::lock_guard lock(m_mutex);
        m_received.append(bytes, count);
        for (qsizetype i = 0; i < count; ++i) {
            const TimePoint at = times[i];
            m_byteTimes.append(at);
            m_frame += bytes[i];
            if (m_pace == Pace::Rs485Echo)
                send(QByteArray(1, bytes[i]), at, false);
            if (bytes[i] != kEot)
                continue;
            frames.append({at, std::exchange(m_frame, {})});
            m_frames.append(frames.back());
            if (m_answers.isEmpty())
                continue;
            const Answer answer = m_answers.takeFirst();
            TimePoint handedAt = at + (m_pace == Pace::Rs485Echo ? kTurnRound : 0ms);
            for (qsizetype p = 0; p < answer.pieces.size(); ++p) {
                send(answer.pieces[p], handedAt, p == answer.pieces.size() - 1);
                handedAt += std::chrono::milliseconds(answer.gapMs);
            }
        }
    }
    if (m_onFrame) {
        for (const Arrival &frame : frames)
            m_onFrame(frame.bytes, frame.at);
    }
}

// With the mutex held.
void PtyDevice::send(const QByteArray &bytes, TimePoint handedAt, bool endsAnswer)
{
    if (bytes.isEmpty())
        return;
    if (!paced() && !m_outgoing.empty()) // in the order handed over; a line keeps it by itself
        handedAt = std::max(handedAt, m_outgoing.back().handedAt);
    m_outgoing.push_back({bytes, handedAt, 0, endsAnswer});
    m_outgoingChanged.notify_one();
}

// With the mutex held and something to send: which of the bytes have crossed
// the line by when, and when they are handed over to the console's end.
PtyDevice::HandOver PtyDevice::nextHandOver(TimePoint now) const
{
    const Outgoing &front = m_outgoing.front();
    const qsizetype left = front.bytes.size() - front.sent;
    if (m_pace == Pace::Instant)
        return {front.handedAt, left};
    const TimePoint first = m_line.firstArrival(front.handedAt);
    if (m_pace == Pace::LineSpeed || m_pace == Pace::Rs485Echo) // each byte as it arrives
        return {first, std::max<qsizetype>(1, m_line.arrivedBy(front.handedAt, now, left))};

    // A chip in between collects bytes and hands over at most `most` at a time:
    // how many it holds together, `holds` telling whether a byte arriving at `at` joins them.
    const auto collected = [this](qsizetype most, const auto &holds) {
        LineModel ahead = m_line;
        qsizetype count = 0;
        for (const Outgoing &outgoing : m_outgoing) {
            for (qsizetype i = outgoing.sent; i < outgoing.bytes.size(); ++i) {
                if (count == most || !holds(ahead.handOver(outgoing.handedAt, 1)))
                    return count;
                ++count;
            }
        }
        return count;
    };
    if (m_pace == Pace::UsbAdapter) { // all it has at its next tick
        const auto ticks = (std::max(first - m_ticksFrom, Clock::duration::zero()) + kUsbLatency
                            - Clock::duration(1))
                           / kUsbLatency;
        const TimePoint tick = m_ticksFrom + ticks * kUsbLatency;
        return {tick, collected(kUsbPacketBytes, [tick](TimePoint at) { return at <= tick; })};
    }
    // Uart16550: the trigger level, or what it has once the line has been quiet.
    TimePoint last = first;
    const qsizetype count = collected(kFifoTrigger, [&last](TimePoint at) {
        if (at - last >= kFifoTimeout)
            return false;
        last = at;
        return true;
    });
    return {count == kFifoTrigger ? last : last + kFifoTimeout, count};
}

// With the mutex held: the first `count` bytes to send, no longer queued.
QByteArray PtyDevice::take(qsizetype count, qsizetype &answersEnded)
{
    QByteArray bytes;
    while (count > 0) {
        Outgoing &front = m_outgoing.front();
        const qsizetype n = std::min(count, front.bytes.size() - front.sent);
        if (bytes.isEmpty() && n == front.bytes.size())
            bytes = front.bytes; // shared, not copied: a flood is one
        else
            bytes.append(front.bytes.constData() + front.sent, n);
        front.sent += n;
        count -= n;
        if (paced())
            m_line.handOver(front.handedAt, n);
        if (front.sent == front.bytes.size()) {
            answersEnded += front.endsAnswer;
            m_outgoing.pop_front();
        }
    }
    return bytes;
}

bool PtyDevice::writeAll(const QByteArray &bytes)
{
    pollfd fds[] = {{m_wake[0], POLLIN, 0}, {m_master, POLLOUT, 0}};
    for (qsizetype done = 0; done < bytes.size() && !m_stopping;) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
        else if (n < 0 && errno == EAGAIN) // full: the console is not reading
            ::poll(fds, 2, -1);
    }
    return !m_stopping;
}

void PtyDevice::writeLoop()
{
    if (paced())
        keepTimePrecisely();
    for (std::unique_lock lock(m_mutex);;) {
        m_outgoingChanged.wait(lock, [&] { return m_stopping || !m_outgoing.empty(); });
        if (m_stopping)
            return;
        const TimePoint now = Clock::now();
        const HandOver next = nextHandOver(now);
        if (now < next.at) {
            // On time, or woken by more to send, which may join this hand-over.
            m_outgoingChanged.wait_until(lock, next.at);
            continue;
        }
        qsizetype answersEnded = 0;
        const QByteArray bytes = take(next.count, answersEnded);
        lock.unlock();
        const bool written = writeAll(bytes);
        const TimePoint wrote = Clock::now();
        lock.lock();
        if (!written)
            return;
        for (; answersEnded > 0; --answersEnded)
            m_answered.append(wrote);
    }
}
