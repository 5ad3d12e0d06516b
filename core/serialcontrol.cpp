#include "serialcontrol.h"

#include <QDeadlineTimer>

#ifdef Q_OS_UNIX
#include <termios.h>
#endif

namespace {

constexpr int kBaudRate = 9600;
constexpr int kBitsPerByte = 10; // start bit, 8 data bits, stop bit
constexpr int kDrainMarginMs = 200;
constexpr int kLineWatchMs = 250;
// Keeps every read, and so every reply shown, to a size a text box handles at once.
constexpr qint64 kReadBufferBytes = 4096;

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

    connect(&m_port, &QSerialPort::readyRead, this, [this] { raiseEvent(Receive); });
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialControl::handleError);
    connect(&m_lineWatch, &QTimer::timeout, this, &SerialControl::checkLine);
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
        drain();
        m_lineWatch.stop();
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
    return bytes.isEmpty() || m_port.write(bytes) == bytes.size();
}

QByteArray SerialControl::input()
{
    return m_port.isOpen() ? m_port.readAll() : QByteArray();
}

void SerialControl::drain()
{
    if (!m_port.isOpen() || m_port.bytesToWrite() == 0)
        return;
    const qint64 wireMs = m_port.bytesToWrite() * kBitsPerByte * 1000 / kBaudRate;
    const QDeadlineTimer deadline(wireMs + kDrainMarginMs);
    while (m_port.isOpen() && m_port.bytesToWrite() > 0 && !deadline.hasExpired())
        m_port.waitForBytesWritten(int(deadline.remainingTime()));
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
    m_port.close();
    ++m_losses;
    QMetaObject::invokeMethod(
        this, [this, port] { Q_EMIT portLost(port); }, Qt::QueuedConnection);
}
