#include "serialcontrol.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <optional>
#include <thread>
#include <utility>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <sys/ioctl.h>
#endif

namespace {

using Clock = SerialControl::Clock;
using std::chrono::milliseconds;

constexpr int kLineWatchMs = 250;
// Keeps every read, and so every reply shown, to a size a text box handles at once.
constexpr qint64 kReadBufferBytes = 4096;

// What the driver and the adapter hold for the port: bytes arrived and not yet
// taken, and bytes still to go out on the line. None once the device is gone:
// a hung-up terminal or a pulled adapter's driver can no longer be asked.
struct DriverQueues {
    qint64 in = 0;
    qint64 out = 0;
};

std::optional<DriverQueues> driverQueues(const QSerialPort &port)
{
#ifdef Q_OS_WIN
    COMSTAT status{};
    DWORD errors = 0;
    if (!ClearCommError(port.handle(), &errors, &status))
        return std::nullopt;
    return DriverQueues{qint64(status.cbInQue), qint64(status.cbOutQue)};
#else
    int in = 0;
    int out = 0;
    const int fd = int(port.handle());
    if (::ioctl(fd, FIONREAD, &in) != 0)
        return std::nullopt;
    return DriverQueues{in, ::ioctl(fd, TIOCOUTQ, &out) == 0 ? out : 0};
#endif
}

// Errors a working port reports too: a pseudo-terminal or a plain UART has no
// modem lines to read, and a wait can run out. Any other error while open
// means the device is gone: Linux reports a read or resource error, Windows
// fails the pending waits of a pulled adapter with access denied, a bad
// command or a device error, which Qt reports as permission, resource or
// unknown errors.
bool portStillWorks(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::NoError || error == QSerialPort::TimeoutError
           || error == QSerialPort::UnsupportedOperationError;
}

} // namespace

SerialControl::SerialControl(QObject *parent)
    : QObject(parent)
{
    m_lineWatch.setInterval(kLineWatchMs);
    // Precise like every other wait here: on Windows precise timers share one
    // multimedia-timer thread, which Wine starts afresh whenever none is left.
    m_lineWatch.setTimerType(Qt::PreciseTimer);
    connect(&m_lineWatch, &QTimer::timeout, this, &SerialControl::checkLine);
    for (QTimer *wait : {&m_nextWrite, &m_drained}) {
        wait->setSingleShot(true);
        wait->setTimerType(Qt::PreciseTimer);
        connect(wait, &QTimer::timeout, this, &SerialControl::handOverOutput);
    }
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
    if (portOpen() || (port != 1 && port != 2))
        return false;
    m_commPort = port;
    return true;
}

bool SerialControl::setPortOpen(bool open)
{
    if (open) {
        if (!portOpen() && !openPort())
            return false;
        if (m_state == State::Closed)
            m_state = State::Open;
        return true;
    }
    // Also a switch still waiting after a loss: nothing opens once closed.
    m_waiting.clear();
    if (portOpen()) {
        finishWriteOnTheLine();
        closePort();
    }
    m_state = State::Closed;
    return true;
}

void SerialControl::switchPort(int port)
{
    m_waiting.push_back(Switch{port});
    if (m_state != State::Switched)
        m_state = State::Switching;
    handOverOutput();
}

bool SerialControl::setOutput(const QByteArray &bytes, WhenOnLine whenOnLine)
{
    if (!portOpen() && !switchWaiting()) // closed, or left closed by a switch that failed
        return false;
    m_waiting.push_back(Write{bytes, std::move(whenOnLine)});
    handOverOutput();
    return true;
}

qsizetype SerialControl::outBufferCount() const
{
    qsizetype count = 0;
    for (const Waiting &waiting : m_waiting) {
        if (const auto *write = std::get_if<Write>(&waiting))
            count += write->bytes.size();
    }
    return count;
}

std::chrono::milliseconds SerialControl::lineBusyFor() const
{
    Clock::duration busy = Line::timeFor(outBufferCount());
    if (portOpen())
        busy += m_line.busyFor(Clock::now()) + Line::timeFor(m_port->bytesToWrite());
    // A switch takes no time on the line, but until it is reported the line
    // is not the one asked for.
    if (m_state == State::Switching || m_state == State::Switched)
        busy = std::max<Clock::duration>(busy, milliseconds(1));
    return std::chrono::ceil<milliseconds>(busy);
}

QByteArray SerialControl::input()
{
    return portOpen() ? m_port->readAll() : QByteArray();
}

qint64 SerialControl::inBufferCount() const
{
    return portOpen() ? m_port->bytesAvailable() + driverQueues(*m_port).value_or(DriverQueues{}).in
                      : 0;
}

// A port object of its own for every opening, so that nothing of a closed
// port carries over: on Windows, a write cut off by a lost device stays
// counted as still to go, and would hold back every write after it.
bool SerialControl::openPort()
{
    auto *port = new QSerialPort(deviceFor(m_commPort), this);
    port->setBaudRate(Line::kBaudRate);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    port->setReadBufferSize(kReadBufferBytes);
    if (!port->open(QIODevice::ReadWrite)) {
        delete port;
        return false;
    }
    // A pseudo-terminal or a plain UART without modem lines answers
    // "unsupported"; then there are simply no line-change events.
    const auto lines = port->pinoutSignals();
    m_modemLines = port->error() == QSerialPort::NoError ? int(lines) : -1;
    port->clearError();
    connect(port, &QSerialPort::readyRead, this, [this] { raiseEvent(Receive); });
    connect(port, &QSerialPort::errorOccurred, this, &SerialControl::handleError);
    connect(port, &QSerialPort::bytesWritten, this, &SerialControl::handOverOutput);
    m_port = port;
    m_lineWatch.start();
    return true;
}

// The line starts afresh: nothing written to the old port holds up the next one.
void SerialControl::closePort()
{
    m_lineWatch.stop();
    m_nextWrite.stop();
    m_drained.stop();
    if (QSerialPort *port = std::exchange(m_port, nullptr)) {
        port->disconnect(this);
        port->close();
        port->deleteLater(); // this may be one of its own signals
    }
    m_line.reset();
}

// The operating system and a pseudo-terminal take far more than the line
// carries, and say little of what is still on its way; so the console keeps
// the line's time itself and hands over the next write only when the last has
// all but gone. What waits here can then be dropped at a write's boundary,
// and a switch waits here for the writes made before it.
void SerialControl::handOverOutput()
{
    // While the port still holds bytes of its own, its bytesWritten calls again.
    for (bool more = true; more && !m_waiting.empty() && m_state != State::Switched
                           && !(portOpen() && m_port->bytesToWrite() > 0);)
        more = std::visit([this](auto &next) { return take(next); }, m_waiting.front());
}

// Hands the write over, or waits for the line; false when nothing more can go now.
bool SerialControl::take(Write &write)
{
    if (!portOpen()) {
        dropWritesBeforeSwitch();
        return true;
    }
    // Handed over while the last character of the write before is still
    // going out, the next one follows it on the line without a gap.
    const Clock::time_point now = Clock::now();
    if (const Clock::duration wait = m_line.nextHandOver() - now; wait > Clock::duration::zero()) {
        // Aimed at the middle of that character, a timer counting whole
        // milliseconds never fires before it and seldom after it has gone.
        m_nextWrite.start(std::chrono::round<milliseconds>(wait + Line::kCharacterTime / 2));
        return false;
    }
    const Write taken = std::move(write);
    m_waiting.pop_front();
    const Clock::time_point gone = m_line.handOver(now, taken.bytes.size());
    if (m_port->write(taken.bytes) != taken.bytes.size())
        return false; // the error handler has closed the port
    if (taken.whenOnLine)
        taken.whenOnLine(gone);
    return true;
}

// Carries the switch out once the line has drained; never anything after it
// until it has been reported.
bool SerialControl::take(Switch &change)
{
    if (const Clock::duration wait = stillToGo(); wait > Clock::duration::zero()) {
        m_drained.start(std::chrono::ceil<milliseconds>(wait));
        return false;
    }
    const int port = change.port;
    m_waiting.pop_front();
    closePort();
    setCommPort(port);
    const bool opened = openPort();
    const bool dropped = !opened && dropWritesBeforeSwitch();
    m_state = State::Switched;
    // Reported from the event loop: what the report leads to may open a modal
    // box, whose own event loop would otherwise come back in here.
    QMetaObject::invokeMethod(
        this, [this, port, opened, dropped] { reportSwitch(port, opened, dropped); },
        Qt::QueuedConnection);
    return false;
}

void SerialControl::reportSwitch(int port, bool opened, bool writesDropped)
{
    if (m_state == State::Switched) // unless closed or opened meanwhile
        m_state = settledState();
    Q_EMIT portSwitched(port, opened, writesDropped);
    handOverOutput();
}

SerialControl::State SerialControl::settledState() const
{
    if (switchWaiting())
        return State::Switching;
    return portOpen() ? State::Open : State::Closed;
}

// How long until everything handed over has left the driver: the line's own
// time, then what the driver reports it still holds, never past m_drainedBy.
Clock::duration SerialControl::stillToGo() const
{
    if (!portOpen())
        return Clock::duration::zero();
    const Clock::time_point now = Clock::now();
    if (const Clock::duration busy = m_line.busyFor(now); busy > Clock::duration::zero())
        return busy;
    const qint64 held =
        now < m_line.heldUntil() ? driverQueues(*m_port).value_or(DriverQueues{}).out : 0;
    return std::min<Clock::duration>(Line::timeFor(held), m_line.heldUntil() - now);
}

bool SerialControl::switchWaiting() const
{
    return std::any_of(m_waiting.begin(), m_waiting.end(), [](const Waiting &waiting) {
        return std::holds_alternative<Switch>(waiting);
    });
}

// Writes meant for a port that is gone or did not open go nowhere; a switch
// asked for after them still happens. Returns whether any was dropped.
bool SerialControl::dropWritesBeforeSwitch()
{
    bool dropped = false;
    for (; !m_waiting.empty() && std::holds_alternative<Write>(m_waiting.front()); dropped = true)
        m_waiting.pop_front();
    return dropped;
}

// Blocks for at most what is on the line and in the driver, plus a margin:
// the window is already gone when the program ends, and closing restores the
// line settings the port had before, which would garble bytes still held.
void SerialControl::finishWriteOnTheLine()
{
    if (!portOpen())
        return;
    const QDeadlineTimer deadline(Clock::now() + lineBusyFor() + LineModel::kDriverMargin);
    while (portOpen() && m_port->bytesToWrite() > 0 && !deadline.hasExpired())
        m_port->waitForBytesWritten(int(deadline.remainingTime()));
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
    // Once the device is gone Qt on Linux reports errors endlessly and at
    // full speed; closing at the first one is what stops it.
    if (!portStillWorks(error) && portOpen())
        loseDevice();
}

// Newer Qt on Linux no longer reports a hang-up at all, and Qt on Windows
// only through a wait that was pending when the device went.
void SerialControl::checkLine()
{
    if (!portOpen())
        return;
    if (!driverQueues(*m_port)) { // the device went without a word from the port
        loseDevice();
        return;
    }
    if (m_modemLines < 0)
        return;
    const int lines = int(m_port->pinoutSignals());
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
    if (m_state == State::Open)
        m_state = State::Closed;
    ++m_losses;
    QMetaObject::invokeMethod(
        this,
        [this, port] {
            Q_EMIT portLost(port);
            handOverOutput();
        },
        Qt::QueuedConnection);
}
