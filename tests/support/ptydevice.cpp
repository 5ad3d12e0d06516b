#include "ptydevice.h"

#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyDevice::PtyDevice()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        qFatal("openpty failed: %s", strerror(errno));
    termios raw{};
    ::tcgetattr(m_master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_master, TCSANOW, &raw);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_path = QString::fromLocal8Bit(name);
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PtyDevice::collect);
    m_clock.start();
}

PtyDevice::~PtyDevice()
{
    hangUp();
}

QByteArray PtyDevice::received() const
{
    QByteArray all;
    for (const Chunk &chunk : m_chunks)
        all += chunk.bytes;
    return all;
}

QList<PtyDevice::Arrival> PtyDevice::arrivals() const
{
    constexpr char kEot = 0x04;
    QList<Arrival> out;
    QByteArray pending;
    for (const Chunk &chunk : m_chunks) {
        for (const char byte : chunk.bytes) {
            pending += byte;
            if (byte == kEot)
                out.append({chunk.atMs, std::exchange(pending, {})});
        }
    }
    return out;
}

QList<QByteArray> PtyDevice::frames() const
{
    QList<QByteArray> out;
    for (const Arrival &arrival : arrivals())
        out << arrival.frame;
    return out;
}

bool PtyDevice::waitForBytes(qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            collect();
            return received().size() >= count;
        },
        timeoutMs);
}

void PtyDevice::write(QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (errno == EAGAIN)
            QTest::qWait(1);
        else
            qFatal("write to pty failed: %s", strerror(errno));
    }
}

void PtyDevice::hangUp()
{
    m_notifier.reset();
    if (m_master >= 0)
        ::close(std::exchange(m_master, -1));
    if (m_slave >= 0)
        ::close(std::exchange(m_slave, -1));
}

void PtyDevice::collect()
{
    if (m_master < 0)
        return;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return;
        m_chunks.append({m_clock.elapsed(), QByteArray(buffer, n)});
    }
}
