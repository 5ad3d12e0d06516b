#include "serialcontrol.h"

#include "line.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <thread>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace {

using Clock = SerialControl::Clock;
using std::chrono::milliseconds;

// A write can sit in the driver or a USB adapter a little longer than its bits take.
constexpr milliseconds kFinishMargin{200};
constexpr int kLineWatchMs = 250;
// Keeps every read, and so every reply shown, to a size a text box handles at once.
constexpr qint64 kReadBufferBytes = 4096;

// Bytes the driver and the adapter still hold for the line; 0 where the system cannot tell.
qint64 heldByDriver(const QSerialPort &port)
{
#ifdef Q_OS_WIN
    COMSTAT status{};
    DWORD errors = 0;
    return ClearCommError(port.handle(), &errors, &status) ? qint64(status.cbOutQue) : 0;
#else
    int held = 0;
    return ::ioctl(int(port.handle()), TIOCOUTQ, &held) == 0 ? held : 0;
#endif
}

} // namespace

SerialControl::SerialControl(QObject *parent)
    : QObject(parent)
{
    m_port.setBaudRate(Line::kBaudRate);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.setReadBufferSize(kReadBufferBytes);

    m_lineWatch.setInterval(kLineWatchMs);
    m_lineWatch.setTimerType(Qt::CoarseTimer);
    m_lineFree.setSingleShot(true);
    m_lineFree.setTimerType(Qt::PreciseTimer);

    connect(&m_port, &QSerialPort::readyRead, this, [this] { raiseEvent(Receive); });
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialControl::handleError);
    connect(&m_lineWatch, &QTimer::timeout, this, &SerialControl::checkLine);
    connect(&m_lineFree, &QTimer::timeout, this, &SerialControl::handOverOutput);
    connect(&m_port, &QSerialPort::bytesWritten, this, &SerialControl::handOverOutput);
}

SerialControl::~SerialControl()
{
    setPortOpen(false);
}

QString SerialControl::deviceFor(int port)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    const QByteArray mapped = qgetenv(port == 1 ? "COMM_COM1" : "COMM_COM2");
    if (!mapped.isEmpty())
        return QString::fromLocal8Bit(mapped);
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

bool SerialControl::setCommPort(int port)
{
    if (m_port.isOpen() || (port != 1 && port != 2))
        return false;
    m_commPort = port;
    return true;
}

bool SerialControl::setPortOpen(bool open)
{
    if (open)
        return m_port.isOpen() || openPort();
    // Also a switch still waiting after a loss: nothing opens once closed.
    m_waiting.clear();
    if (m_port.isOpen()) {
        finishWriteOnTheLine();
        closePort();
    }
    return true;
}

void SerialControl::switchPort(int port)
{
    m_waiting.push_back({{}, {}, port});
    handOverOutput();
}

bool SerialControl::setOutput(const QByteArray &bytes, WhenOnLine whenOnLine)
{
    if (!m_port.isOpen() && !switchWaiting())
        return false;
    m_waiting.push_back({bytes, std::move(whenOnLine)});
    handOverOutput();
    return true;
}

qsizetype SerialControl::outBufferCount() const
{
    qsizetype count = 0;
    for (const Pending &write : m_waiting)
        count += write.bytes.size();
    return count;
}

std::chrono::milliseconds SerialControl::lineBusyFor() const
{
    Clock::duration busy = Line::timeFor(outBufferCount());
    if (m_port.isOpen())
        busy += std::max(m_lineFreeAt - Clock::now(), Clock::duration::zero())
                + Line::timeFor(m_port.bytesToWrite());
    // A switch takes no time on the line, but until it is done the line is not the one asked for.
    if (switchWaiting())
        busy = std::max<Clock::duration>(busy, milliseconds(1));
    return std::chrono::ceil<milliseconds>(busy);
}

QByteArray SerialControl::input()
{
    return m_port.isOpen() ? m_port.readAll() : QByteArray();
}

bool SerialControl::openPort()
{
    m_port.setPortName(deviceFor(m_commPort));
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    // A pseudo-terminal or a plain UART without modem lines answers
    // "unsupported"; then there are simply no line-change events.
    const auto lines = m_port.pinoutSignals();
    m_modemLines = m_port.error() == QSerialPort::NoError ? int(lines) : -1;
    m_port.clearError();
    m_lineWatch.start();
    return true;
}

// The line starts afresh: nothing written to the old port holds up the next one.
void SerialControl::closePort()
{
    m_lineWatch.stop();
    m_lineFree.stop();
    m_port.close();
    m_lineFreeAt = {};
    m_drainedBy = {};
}

// The operating system and a pseudo-terminal take far more than the line
// carries, and say little of what is still on its way; so the console keeps
// the line's time itself and hands over the next write only when the last has
// all but gone. What waits here can then be dropped at a write's boundary,
// and a switch waits here for the writes made before it.
void SerialControl::handOverOutput()
{
    while (!m_waiting.empty()) {
        if (m_port.isOpen() && m_port.bytesToWrite() > 0)
            return; // bytesWritten calls again
        if (const int port = m_waiting.front().port) {
            if (const Clock::duration wait = stillToGo(); wait > Clock::duration::zero()) {
                m_lineFree.start(std::chrono::ceil<milliseconds>(wait));
                return;
            }
            m_waiting.pop_front();
            closePort();
            setCommPort(port);
            const bool opened = openPort();
            if (!opened)
                dropWritesBeforeSwitch();
            if (!m_waiting.empty())
                m_lineFree.start(0);
            // Last, as what it leads to may run events and come back here.
            Q_EMIT portSwitched(port, opened);
            return;
        }
        if (!m_port.isOpen()) {
            dropWritesBeforeSwitch();
            continue;
        }
        // Handed over while the last character of the write before is still
        // going out, the next one follows it on the line without a gap.
        const Clock::time_point now = Clock::now();
        if (const Clock::duration wait = m_lineFreeAt - Line::kCharacterTime - now;
            wait > Clock::duration::zero()) {
            // Aimed at the middle of that character, a timer counting whole
            // milliseconds never fires before it and seldom after it has gone.
            m_lineFree.start(std::chrono::round<milliseconds>(wait + Line::kCharacterTime / 2));
            return;
        }
        Pending write = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_lineFreeAt = std::max(m_lineFreeAt, now) + Line::timeFor(write.bytes.size());
        m_drainedBy = m_lineFreeAt + kFinishMargin;
        if (m_port.write(write.bytes) != write.bytes.size())
            return; // the error handler has closed the port
        if (write.whenOnLine)
            write.whenOnLine(m_lineFreeAt);
    }
}

// How long until everything handed over has left the driver: the line's own
// time, then what the driver reports it still holds, never past m_drainedBy.
Clock::duration SerialControl::stillToGo() const
{
    if (!m_port.isOpen())
        return Clock::duration::zero();
    const Clock::time_point now = Clock::now();
    if (m_lineFreeAt > now)
        return m_lineFreeAt - now;
    const qint64 held = now < m_drainedBy ? heldByDriver(m_port) : 0;
    return std::min<Clock::duration>(Line::timeFor(held), m_drainedBy - now);
}

bool SerialControl::switchWaiting() const
{
    return std::any_of(m_waiting.begin(), m_waiting.end(),
                       [](const Pending &pending) { return pending.port != 0; });
}

// Writes meant for a port that is gone or did not open go nowhere; a switch
// asked for after them still happens.
void SerialControl::dropWritesBeforeSwitch()
{
    while (!m_waiting.empty() && !m_waiting.front().port)
        m_waiting.pop_front();
}

// Blocks for at most what is on the line and in the driver, plus a margin:
// the window is already gone when the program ends, and closing restores the
// line settings the port had before, which would garble bytes still held.
void SerialControl::finishWriteOnTheLine()
{
    if (!m_port.isOpen())
        return;
    const QDeadlineTimer deadline(Clock::now() + lineBusyFor() + kFinishMargin);
    while (m_port.isOpen() && m_port.bytesToWrite() > 0 && !deadline.hasExpired())
        m_port.waitForBytesWritten(int(deadline.remainingTime()));
    for (Clock::duration wait = stillToGo();
         wait > Clock::duration::zero() && !deadline.hasExpired(); wait = stillToGo())
        std::this_thread::sleep_for(
            std::min<Clock::duration>(wait, deadline.remainingTimeAsDuration()));
}

void SerialControl::raiseEvent(int kind)
{
    m_commEvent = kind;
    Q_EMIT onComm();
}

void SerialControl::handleError(QSerialPort::SerialPortError error)
{
    // Once the device is gone Qt reports these errors endlessly and at full
    // speed; closing at the first one is what stops it.
    const bool deviceGone = error == QSerialPort::ReadError || error == QSerialPort::WriteError
                            || error == QSerialPort::ResourceError;
    if (deviceGone && m_port.isOpen())
        loseDevice();
}

void SerialControl::checkLine()
{
    if (!m_port.isOpen())
        return;
#ifdef Q_OS_UNIX
    // Newer Qt no longer reports a hang-up at all; the line settings can no
    // longer be read once the device has gone.
    termios settings{};
    if (::tcgetattr(int(m_port.handle()), &settings) != 0) {
        loseDevice();
        return;
    }
#endif
    if (m_modemLines < 0)
        return;
    const int lines = int(m_port.pinoutSignals());
    const int changed = lines ^ m_modemLines;
    m_modemLines = lines;
    const std::pair<QSerialPort::PinoutSignal, Event> watched[] = {
        {QSerialPort::ClearToSendSignal, CtsChange},
        {QSerialPort::DataSetReadySignal, DsrChange},
        {QSerialPort::DataCarrierDetectSignal, CarrierChange},
        {QSerialPort::RingIndicatorSignal, Ring},
    };
    for (const auto &[signal, event] : watched) {
        if (changed & signal)
            raiseEvent(event);
    }
}

// Closed at once, inside the error handler, where that is what stops the
// spin; the report, and a switch asked for before the loss, follow queued.
void SerialControl::loseDevice()
{
    const int port = m_commPort;
    closePort();
    dropWritesBeforeSwitch();
    ++m_losses;
    QMetaObject::invokeMethod(
        this,
        [this, port] {
            Q_EMIT portLost(port);
            handOverOutput();
        },
        Qt::QueuedConnection);
}
