#include "serialcontrol.h"

#include <QDeadlineTimer>
#include <thread>

#ifdef Q_OS_UNIX
#include <termios.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBaudRate = 9600;
constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit
// A write can sit in the driver or a USB adapter a little longer than its bits take.
constexpr std::chrono::milliseconds kFinishMargin{200};
constexpr int kLineWatchMs = 250;
// Keeps every read, and so every reply shown, to a size a text box handles at once.
constexpr qint64 kReadBufferBytes = 4096;

Clock::duration lineTime(qsizetype bytes)
{
    return std::chrono::microseconds(bytes * kBitsPerByte * 1'000'000 / kBaudRate);
}

} // namespace

SerialControl::SerialControl(QObject *parent)
    : QObject(parent)
{
    m_port.setBaudRate(kBaudRate);
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
    if (open == m_port.isOpen())
        return true;
    if (!open) {
        m_waiting.clear();
        finishWriteOnTheLine();
        m_lineWatch.stop();
        m_lineFree.stop();
        m_port.close();
        return true;
    }
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

bool SerialControl::setOutput(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return false;
    if (!bytes.isEmpty()) {
        m_waiting.push_back(bytes);
        handOverOutput();
    }
    return true;
}

qsizetype SerialControl::outBufferCount() const
{
    qsizetype count = 0;
    for (const QByteArray &write : m_waiting)
        count += write.size();
    return count;
}

std::chrono::milliseconds SerialControl::lineBusyFor() const
{
    if (!m_port.isOpen())
        return {};
    const Clock::duration handedOver = std::max(m_lineFreeAt - Clock::now(), Clock::duration{});
    const qsizetype notYetOut = m_port.bytesToWrite() + outBufferCount();
    return std::chrono::ceil<std::chrono::milliseconds>(handedOver + lineTime(notYetOut));
}

QByteArray SerialControl::input()
{
    return m_port.isOpen() ? m_port.readAll() : QByteArray();
}

// The operating system and a pseudo-terminal take far more than the line
// carries, and say nothing of what is still on its way; so the console keeps
// the line's time itself and hands over the next write only when the last has
// had its time. What waits here can then be dropped at a write's boundary.
void SerialControl::handOverOutput()
{
    while (!m_waiting.empty() && m_port.isOpen() && m_port.bytesToWrite() == 0) {
        const Clock::duration busy = m_lineFreeAt - Clock::now();
        if (busy > Clock::duration::zero()) {
            m_lineFree.start(std::chrono::ceil<std::chrono::milliseconds>(busy));
            return;
        }
        const QByteArray next = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_lineFreeAt = Clock::now() + lineTime(next.size());
        if (m_port.write(next) != next.size())
            return; // the error handler has closed the port
    }
}

// Blocks for at most one write's time on the line: when the program ends the
// window is already gone, and a switch waits no longer than the line does.
void SerialControl::finishWriteOnTheLine()
{
    if (!m_port.isOpen())
        return;
    const Clock::time_point latest = Clock::now() + lineBusyFor() + kFinishMargin;
    const QDeadlineTimer deadline(latest);
    while (m_port.isOpen() && m_port.bytesToWrite() > 0 && !deadline.hasExpired())
        m_port.waitForBytesWritten(int(deadline.remainingTime()));
    // Closing restores the line settings the port had before, which would
    // garble bytes the driver still holds.
    std::this_thread::sleep_until(std::min(m_lineFreeAt, latest));
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

void SerialControl::loseDevice()
{
    const int port = m_commPort;
    m_lineWatch.stop();
    m_lineFree.stop();
    m_waiting.clear();
    m_port.close();
    ++m_losses;
    QMetaObject::invokeMethod(
        this, [this, port] { Q_EMIT portLost(port); }, Qt::QueuedConnection);
}
