#include "benchdevice.h"

#include "benchtable.h"
#include "line.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kPollMs = 20;
constexpr char kEot = 0x04;
constexpr double kCharacterMs = Line::msFor(1);

} // namespace

BenchDevice::BenchDevice(FrameHandler onFrame)
    : m_onFrame(std::move(onFrame))
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        qFatal("openpty failed: %s", std::strerror(errno));
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
    char buffer[4096];
    while (!m_stop) {
        writeDueAnswers();
        pollfd device{m_master, POLLIN, 0};
        if (::poll(&device, 1, pollTimeoutMs()) <= 0)
            continue;
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        const double now = wallMs();
        if (n <= 0)
            continue;
        std::vector<QByteArray> frames;
        {
            const std::lock_guard lock(m_mutex);
            if (m_bytes.isEmpty())
                m_firstMs = now;
            m_lastMs = now;
            m_bytes.append(buffer, n);
            for (ssize_t i = 0; i < n; ++i) {
                m_frame.append(buffer[i]);
                if (buffer[i] == kEot)
                    frames.push_back(std::exchange(m_frame, {}));
            }
        }
        if (m_onFrame) {
            for (const QByteArray &frame : frames)
                m_onFrame(frame, now);
        }
    }
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
