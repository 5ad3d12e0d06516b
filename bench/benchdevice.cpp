#include "benchdevice.h"

#include "benchtable.h"
#include "line.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kPollMs = 20;
constexpr char kEot = 0x04;
constexpr double kCharacterMs = Line::msFor(1);

void sleepUntil(double ms)
{
    const timespec until{time_t(ms / 1e3), long(std::fmod(ms, 1e3) * 1e6)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) { }
}

} // namespace

BenchDevice::BenchDevice(FrameHandler onFrame, Pace pace)
    : m_onFrame(std::move(onFrame))
    , m_pace(pace)
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        qFatal("openpty failed: %s", std::strerror(errno));
    // The programs a benchmark starts must not hold the device's end open.
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    // Programs the benchmarks start must not hold the device open through an inherited descriptor.
    for (const int fd : {m_master, m_slave})
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    termios raw{};
    ::tcgetattr(m_master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_master, TCSANOW, &raw);
    m_path = QString::fromLocal8Bit(name);
    m_reader = std::thread([this] { run(); });
}

BenchDevice::~BenchDevice()
{
    m_stop = true;
    m_reader.join();
    ::close(m_master);
    ::close(m_slave);
}

void BenchDevice::clear()
{
    const std::lock_guard lock(m_mutex);
    m_bytes.clear();
    m_byteMs.clear();
}

QByteArray BenchDevice::bytes() const
{
    const std::lock_guard lock(m_mutex);
    return m_bytes;
}

qsizetype BenchDevice::size() const
{
    const std::lock_guard lock(m_mutex);
    return m_bytes.size();
}

double BenchDevice::firstToLastMs() const
{
    const std::lock_guard lock(m_mutex);
    return m_lastMs - m_firstMs;
}

std::vector<double> BenchDevice::byteTimesMs() const
{
    const std::lock_guard lock(m_mutex);
    return m_byteMs;
}

void BenchDevice::write(const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            qFatal("device write failed: %s", std::strerror(errno));
        done += n;
    }
}

void BenchDevice::answerAt(const QByteArray &bytes, double atMs)
{
    const std::lock_guard lock(m_mutex);
    // As a UART sends it: each byte has arrived one character time after the last.
    for (qsizetype i = 0; i < bytes.size(); ++i)
        m_pending.push_back(
            {bytes.sliced(i, 1), atMs + double(i + 1) * kCharacterMs, i == bytes.size() - 1});
}

std::vector<double> BenchDevice::answeredAtMs() const
{
    const std::lock_guard lock(m_mutex);
    return m_answered;
}

void BenchDevice::run()
{
    // A wake-up late by the default 50 µs of timer slack would hide as much of a gap.
    if (m_pace == Pace::LineSpeed)
        ::prctl(PR_SET_TIMERSLACK, 1UL);
    char buffer[4096];
    while (!m_stop) {
        writeDueAnswers();
        pollfd device{m_master, POLLIN, 0};
        if (::poll(&device, 1, pollTimeoutMs()) <= 0)
            continue;
        const bool paced = m_pace == Pace::LineSpeed;
        const auto [most, pacedAt] =
            paced ? waitForLine(sizeof buffer) : std::pair(sizeof buffer, 0.0);
        const ssize_t n = ::read(m_master, buffer, most);
        if (n <= 0)
            continue;
        const double firstAt = paced ? pacedAt : wallMs();
        const double step = paced ? kCharacterMs : 0;
        const double lastAt = firstAt + double(n - 1) * step;
        if (paced) {
            m_lineFreeMs = lastAt;
            int left = 0;
            m_waiting = ::ioctl(m_master, FIONREAD, &left) == 0 && left > 0;
        }
        std::vector<std::pair<QByteArray, double>> frames;
        {
            const std::lock_guard lock(m_mutex);
            if (m_bytes.isEmpty())
                m_firstMs = firstAt;
            m_lastMs = lastAt;
            m_bytes.append(buffer, n);
            for (ssize_t i = 0; i < n; ++i) {
                const double at = firstAt + double(i) * step;
                m_byteMs.push_back(at);
                m_frame.append(buffer[i]);
                if (buffer[i] == kEot)
                    frames.emplace_back(std::exchange(m_frame, {}), at);
            }
        }
        if (m_onFrame) {
            for (const auto &[frame, at] : frames)
                m_onFrame(frame, at);
        }
    }
}

// Sleeps until the next byte has arrived whole and says how many have by then
// (at most `most`), and when the first of them did. Bytes still in the pty
// after the last read count as having waited for the line, so a late wake-up
// of this thread opens no gap; the resolution is that wake-up, tens of µs.
std::pair<size_t, double> BenchDevice::waitForLine(size_t most)
{
    const double noticed = m_waiting ? m_lineFreeMs : wallMs();
    const double firstAt = std::max(noticed, m_lineFreeMs) + kCharacterMs;
    sleepUntil(firstAt);
    const auto arrived = size_t(1 + (wallMs() - firstAt) / kCharacterMs);
    return {std::min(most, arrived), firstAt};
}

void BenchDevice::writeDueAnswers()
{
    for (;;) {
        QByteArray due;
        {
            const std::lock_guard lock(m_mutex);
            if (m_pending.empty() || m_pending.front().atMs > wallMs())
                return;
            due = m_pending.front().bytes;
            if (m_pending.front().last)
                m_answered.push_back(wallMs());
            m_pending.erase(m_pending.begin());
        }
        write(due);
    }
}

int BenchDevice::pollTimeoutMs() const
{
    const std::lock_guard lock(m_mutex);
    if (m_pending.empty())
        return kPollMs;
    const double untilDue = m_pending.front().atMs - wallMs();
    return std::clamp(int(std::ceil(untilDue)), 0, kPollMs);
}
