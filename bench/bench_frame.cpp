// How long a first-generation frame takes at the device, against the floor its
// waits allow, the time its bytes need on the line, and a coarse tick counter.
#include "application.h"
#include "benchtable.h"
#include "form1.h"
#include "frames.h"
#include "module1.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kDataCharacters = 16;
constexpr int kWaits = kDataCharacters + 7;
constexpr int kFrameBytes = kDataCharacters + 8;
constexpr double kWaitMs = 1;
constexpr double kBaud = 9600;
constexpr double kBitsPerByte = 10; // start bit, 8 data bits, stop bit
constexpr double kTargetPerWaitMs = 2.5;
constexpr double kTickStepMs = 1000.0 / 64; // the 64 Hz tick of older desktop systems
constexpr int kFrames = 40;
constexpr int kCoarseFrames = 8;
constexpr int kPollMs = 20;

// The device end of a pseudo-terminal. A thread of its own reads it, so the
// arrival times do not wait for the console's event loop.
class Device {
public:
    Device()
    {
        char name[256] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            qFatal("openpty failed: %s", strerror(errno));
        termios raw{};
        ::tcgetattr(m_master, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_master, TCSANOW, &raw);
        m_path = QString::fromLocal8Bit(name);
        m_reader = std::thread([this] { read(); });
    }

    ~Device()
    {
        m_stop = true;
        m_reader.join();
        ::close(m_master);
        ::close(m_slave);
    }

    QString path() const { return m_path; }

    void clear()
    {
        const std::lock_guard lock(m_mutex);
        m_bytes.clear();
    }

    qsizetype size() const
    {
        const std::lock_guard lock(m_mutex);
        return m_bytes.size();
    }

    QByteArray bytes() const
    {
        const std::lock_guard lock(m_mutex);
        return m_bytes;
    }

    double firstToLastMs() const
    {
        const std::lock_guard lock(m_mutex);
        return m_lastMs - m_firstMs;
    }

private:
    void read()
    {
        char buffer[256];
        while (!m_stop) {
            pollfd device{m_master, POLLIN, 0};
            if (::poll(&device, 1, kPollMs) <= 0)
                continue;
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            const double now = wallMs();
            if (n <= 0)
                continue;
            const std::lock_guard lock(m_mutex);
            if (m_bytes.isEmpty())
                m_firstMs = now;
            m_lastMs = now;
            m_bytes.append(buffer, n);
        }
    }

    int m_master = -1;
    int m_slave = -1;
    QString m_path;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    QByteArray m_bytes;
    double m_firstMs = 0;
    double m_lastMs = 0;
    std::thread m_reader;
};

// Mean first-to-last time of `frames` frames at the device.
double meanFrameMs(ostrel::Form1 &form, Device &device, const QByteArray &expected, int frames)
{
    double total = 0;
    for (int i = 0; i < frames; ++i) {
        device.clear();
        form.Command1_Click();
        // The last byte leaves when the event loop runs again.
        const QDeadlineTimer deadline(2000);
        while (device.size() < expected.size() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (device.bytes() != expected) {
            std::fprintf(stderr, "bench_frame: the device saw %s instead of %s\n",
                         device.bytes().toHex(' ').constData(), expected.toHex(' ').constData());
            std::exit(EXIT_FAILURE);
        }
        total += device.firstToLastMs();
    }
    return total / frames;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Program program{"ostrel", 2, ReplyVariant::FirstGeneration};
    setUpApplication(app, program);

    Device device;
    qputenv("COMM_COM2", device.path().toLocal8Bit());
    ostrel::Form1 form(program);
    form.Form_Load();
    if (!form.serialControl().portOpen())
        qFatal("bench_frame: cannot open %s", qPrintable(device.path()));

    const QString data = QStringLiteral("0123456789ABCDEF");
    form.findChild<QLineEdit *>(QStringLiteral("Text5"))->setText(QStringLiteral("1"));
    form.findChild<QLineEdit *>(QStringLiteral("Text2"))->setText(data);
    form.findChild<QLineEdit *>(QStringLiteral("Text3"))->setText(QStringLiteral("0"));
    const QByteArray expected = Frames::firstGenerationFrame(1, data, 0);
    Q_ASSERT(expected.size() == kFrameBytes);

    meanFrameMs(form, device, expected, 2); // first use of the port and the fonts
    const double ours = meanFrameMs(form, device, expected, kFrames);

    Module1::setTickSource([] { return quint32(std::floor(wallMs() / kTickStepMs) * kTickStepMs); });
    const double coarse = meanFrameMs(form, device, expected, kCoarseFrames);
    Module1::setTickSource({});

    // Each wait ends at the first reading strictly more than 1 ms past its start.
    const double floorMs = kWaits * kWaitMs;
    const double wireMs = kFrameBytes * kBitsPerByte * 1000 / kBaud;
    const QString frame = QStringLiteral("`ostrel` frame of %1 data characters at the device, first "
                                         "byte to last")
                              .arg(kDataCharacters);
    printRow(frame, ours, QStringLiteral("floor: %1 waits, each past 1 ms").arg(kWaits), floorMs,
             "ms");
    printRow(frame, ours, QStringLiteral("its %1 bytes on the line at 9600 baud").arg(kFrameBytes),
             wireMs, "ms");
    printRow(frame, ours, QStringLiteral("tick counter in 15.6 ms steps"), coarse, "ms");
    printRow(QStringLiteral("`ostrel` frame, mean length of a 1 ms wait"), ours / kWaits,
             QStringLiteral("target"), kTargetPerWaitMs, "ms");
    return 0;
}
