#include "ptydevice.h"

#include <QTest>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
// 10 bits (start, 8 data, stop) at 9600 baud.
constexpr auto kCharacterTime = std::chrono::microseconds(10'000'000 / 9600);

} // namespace

PtyDevice::PtyDevice(Pace pace)
    : m_pace(pace)
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        qFatal("openpty failed: %s", strerror(errno));
    termios raw{};
    ::tcgetattr(m_master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_master, TCSANOW, &raw);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        qFatal("pipe failed: %s", strerror(errno));
    m_path = QString::fromLocal8Bit(name);
    m_clock.start();
    m_reader = std::thread(&PtyDevice::readLoop, this);
    m_writer = std::thread(&PtyDevice::writeLoop, this);
}

PtyDevice::~PtyDevice()
{
    hangUp();
    for (int &fd : m_wake)
        ::close(std::exchange(fd, -1));
}

QByteArray PtyDevice::received() const
{
    const std::lock_guard lock(m_mutex);
    QByteArray all;
    for (const Arrival &piece : m_pieces)
        all += piece.bytes;
    return all;
}

QList<PtyDevice::Arrival> PtyDevice::arrivals() const
{
    constexpr char kEot = 0x04;
    const std::lock_guard lock(m_mutex);
    QList<Arrival> out;
    QByteArray pending;
    for (const Arrival &piece : m_pieces) {
        for (const char byte : piece.bytes) {
            pending += byte;
            if (byte == kEot)
                out.append({piece.atMs, std::exchange(pending, {})});
        }
    }
    return out;
}

QList<PtyDevice::Arrival> PtyDevice::pieces() const
{
    const std::lock_guard lock(m_mutex);
    return m_pieces;
}

void PtyDevice::clear()
{
    const std::lock_guard lock(m_mutex);
    m_pieces.clear();
}

bool PtyDevice::waitForBytes(qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return received().size() >= count; }, timeoutMs);
}

void PtyDevice::write(QByteArrayView bytes)
{
    const std::lock_guard lock(m_mutex);
    m_outgoing.append(bytes);
    m_writing = true;
    m_outgoingReady.notify_one();
}

bool PtyDevice::waitForWritten(int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            const std::lock_guard lock(m_mutex);
            return !m_writing;
        },
        timeoutMs);
}

void PtyDevice::hangUp()
{
    if (m_stopping.exchange(true))
        return;
    [[maybe_unused]] const ssize_t woken = ::write(m_wake[1], "x", 1);
    {
        const std::lock_guard lock(m_mutex);
        m_outgoingReady.notify_one();
    }
    m_reader.join();
    m_writer.join();
    ::close(std::exchange(m_master, -1));
    ::close(std::exchange(m_slave, -1));
}

namespace {

// When the line carries its next byte: one character time after the last,
// or after now when the line has been idle. Waking late does not slow the line.
Clock::time_point nextCharacter(Clock::time_point lineFreeAt)
{
    const Clock::time_point now = Clock::now();
    return (now - lineFreeAt < kCharacterTime ? lineFreeAt : now) + kCharacterTime;
}

} // namespace

void PtyDevice::readLoop()
{
    Clock::time_point lineFreeAt = Clock::now();
    for (;;) {
        pollfd fds[] = {{m_wake[0], POLLIN, 0}, {m_master, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (m_stopping)
            return;
        char buffer[4096];
        size_t most = sizeof buffer;
        Clock::time_point firstDone{};
        if (m_pace == Pace::LineSpeed) {
            firstDone = nextCharacter(lineFreeAt);
            const auto wait = std::max(firstDone - Clock::now(), Clock::duration{});
            const timespec timeout{0, long(std::chrono::nanoseconds(wait).count())};
            if (::ppoll(fds, 1, &timeout, nullptr) > 0 || m_stopping)
                return;
            // Woken late: the line has carried more meanwhile.
            most = std::min(sizeof buffer, size_t(1 + (Clock::now() - firstDone) / kCharacterTime));
        }
        const ssize_t n = ::read(m_master, buffer, most);
        if (n <= 0) {
            // Nothing after all, or the console's end is being reopened.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        lineFreeAt = firstDone + kCharacterTime * (n - 1);
        const std::lock_guard lock(m_mutex);
        m_pieces.append({m_clock.elapsed(), QByteArray(buffer, n)});
    }
}

void PtyDevice::writeLoop()
{
    std::unique_lock lock(m_mutex);
    Clock::time_point lineFreeAt = Clock::now();
    for (;;) {
        m_outgoingReady.wait(lock, [&] { return m_stopping || !m_outgoing.isEmpty(); });
        if (m_stopping)
            return;
        const qsizetype size = m_pace == Pace::LineSpeed ? 1 : m_outgoing.size();
        const QByteArray bytes = m_outgoing.first(size);
        lock.unlock();
        if (m_pace == Pace::LineSpeed) {
            lineFreeAt = nextCharacter(lineFreeAt);
            std::this_thread::sleep_until(lineFreeAt);
        }
        qsizetype done = 0;
        while (done < bytes.size() && !m_stopping) {
            const ssize_t n = ::write(m_master, bytes.data() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        lock.lock();
        m_outgoing.remove(0, size);
        m_writing = !m_outgoing.isEmpty();
    }
}
