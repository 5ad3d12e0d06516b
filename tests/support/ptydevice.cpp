#include "ptydevice.h"

#include "line.h"

#include <QTest>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto kCharacter = std::chrono::duration_cast<Clock::duration>(Line::kCharacterTime);
// An FTDI chip's default latency timer, and what one USB packet carries.
constexpr std::chrono::milliseconds kUsbLatency{16};
constexpr qsizetype kUsbPacketBytes = 62;
// A 16550's receive FIFO trigger level on Linux, and its time-out in characters.
constexpr qsizetype kFifoTrigger = 8;
constexpr int kFifoTimeoutCharacters = 4;
// A two-wire adapter and its device turning the line round after a command.
constexpr std::chrono::milliseconds kTurnRound{3};

// When the line has carried its next byte: a character after the last, or
// after now if the line was idle; waking late does not slow the line down.
Clock::time_point nextCharacter(Clock::time_point last)
{
    return (Clock::now() - last < kCharacter ? last : Clock::now()) + kCharacter;
}

} // namespace

PtyDevice::PtyDevice(Pace pace)
    : m_pace(pace)
    , m_frames{{0, {}}}
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0
        || ::pipe2(m_wake, O_CLOEXEC) != 0)
        qFatal("openpty failed");
    // Programs a test starts must not hold the line open: a hang-up would never reach the console.
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    termios raw{};
    ::tcgetattr(m_master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_master, TCSANOW, &raw);
    ::fcntl(m_master, F_SETFL, O_NONBLOCK);
    m_path = QString::fromLocal8Bit(name);
    m_clock.start();
    m_reader = std::thread(&PtyDevice::readLoop, this);
    m_writer = std::thread(&PtyDevice::writeLoop, this);
}

PtyDevice::~PtyDevice()
{
    hangUp();
    ::close(m_wake[0]);
    ::close(m_wake[1]);
}

bool PtyDevice::waitForBytes(qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return received().size() >= count; }, timeoutMs);
}

void PtyDevice::write(QByteArrayView bytes)
{
    const std::lock_guard lock(m_mutex);
    send(bytes, Clock::now());
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

// With the mutex held.
void PtyDevice::send(QByteArrayView bytes, Clock::time_point notBefore)
{
    if (!m_outgoing.empty() && m_outgoing.back().notBefore >= notBefore)
        m_outgoing.back().bytes.append(bytes);
    else
        m_outgoing.push_back({bytes.toByteArray(), notBefore});
    m_outgoingReady.notify_one();
}

void PtyDevice::hangUp()
{
    if (m_stopping.exchange(true))
        return;
    [[maybe_unused]] const ssize_t woken = ::write(m_wake[1], "x", 1);
    std::unique_lock(m_mutex).unlock(); // the writer waits, or sees the stop
    m_outgoingReady.notify_one();
    m_reader.join();
    m_writer.join();
    ::close(m_master);
    ::close(m_slave);
}

void PtyDevice::readLoop()
{
    Clock::time_point last = Clock::now();
    char buffer[4096];
    for (pollfd fds[] = {{m_wake[0], POLLIN, 0}, {m_master, POLLIN, 0}};;) {
        if (::poll(fds, 2, -1) < 0 || m_stopping)
            return;
        size_t most = sizeof buffer;
        const Clock::time_point first = nextCharacter(last);
        if (m_pace != Pace::Instant) {
            const auto wait = std::chrono::nanoseconds(std::max(first - Clock::now(), {}));
            const timespec timeout{0, long(wait.count())};
            if (::ppoll(fds, 1, &timeout, nullptr) != 0)
                return;
            most = std::min(most, size_t(1 + (Clock::now() - first) / kCharacter));
        }
        const ssize_t n = ::read(m_master, buffer, most);
        if (n <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        last = first + kCharacter * (n - 1);
        const std::lock_guard lock(m_mutex);
        m_received.append(buffer, n);
        for (const char byte : QByteArrayView(buffer, n)) {
            m_frames.back().bytes += byte;
            if (m_pace == Pace::Rs485Echo)
                send(QByteArrayView(&byte, 1), Clock::now());
            if (byte != 0x04)
                continue;
            m_frames.back().atMs = m_clock.elapsed();
            m_frames.append(Arrival{0, {}});
            if (m_answers.isEmpty())
                continue;
            const Answer answer = m_answers.takeFirst();
            Clock::time_point at = Clock::now() + (m_pace == Pace::Rs485Echo ? kTurnRound : 0ms);
            for (const QByteArray &piece : answer.pieces) {
                send(piece, at);
                at += std::chrono::milliseconds(answer.gapMs);
            }
        }
    }
}

void PtyDevice::writeLoop()
{
    const Clock::time_point ticksFrom = Clock::now();
    Clock::time_point last = ticksFrom;
    for (std::unique_lock lock(m_mutex);;) {
        m_outgoingReady.wait(lock, [&] { return m_stopping || !m_outgoing.empty(); });
        if (m_stopping)
            return;
        // When the next byte has crossed the line, and how many are handed over then.
        const Outgoing &next = m_outgoing.front();
        Clock::time_point handOver = std::max(Clock::now(), next.notBefore);
        qsizetype count = next.bytes.size();
        if (m_pace != Pace::Instant) {
            const Clock::time_point first =
                std::max(nextCharacter(last), next.notBefore + kCharacter);
            handOver = first;
            count = 1;
            if (m_pace == Pace::UsbAdapter) {
                const auto ticks =
                    (first - ticksFrom + kUsbLatency - Clock::duration(1)) / kUsbLatency;
                handOver = ticksFrom + ticks * kUsbLatency;
                count = std::min({next.bytes.size(), kUsbPacketBytes,
                                  qsizetype(1 + (handOver - first) / kCharacter)});
            } else if (m_pace == Pace::Uart16550) {
                count = std::min(next.bytes.size(), kFifoTrigger);
                handOver = first + kCharacter * (count - 1)
                           + (count < kFifoTrigger ? kCharacter * kFifoTimeoutCharacters
                                                   : Clock::duration::zero());
            }
            last = first + kCharacter * (count - 1);
        }
        const QByteArray bytes = next.bytes.first(count);
        lock.unlock();
        std::this_thread::sleep_until(handOver);
        for (qsizetype done = 0, n = 0; done < bytes.size() && !m_stopping;
             done += std::max<qsizetype>(n, 0))
            if ((n = ::write(m_master, bytes.data() + done, size_t(bytes.size() - done))) <= 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock.lock();
        if (m_outgoing.front().bytes.remove(0, count).isEmpty())
            m_outgoing.pop_front();
    }
}
