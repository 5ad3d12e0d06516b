#include "simulator.h"

#include "pseudoterminal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace devicesim {
namespace {

// A first-generation console paces its bytes about 2 ms apart; this much
// silence means a frame with a wrong check has ended. Bytes waiting for the
// line are taken a byte time apart, far inside it.
constexpr std::chrono::milliseconds kQuietAfter{50};
// Replies nobody reads pile up in the line; beyond this they are dropped.
constexpr qsizetype kMostOutgoing = 64 * 1024;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Rounded up, so the timer never fires before the reply is due.
std::chrono::milliseconds untilDue(const QDeadlineTimer &at)
{
    return std::chrono::ceil<std::chrono::milliseconds>(at.remainingTimeAsDuration());
}

} // namespace

Simulator::Simulator(int line, int keepOpen, Options options, Log log, QObject *parent)
    : QObject(parent)
    , m_line(line)
    , m_keepOpen(keepOpen)
    , m_options(options)
    , m_log(std::move(log))
    , m_readable(std::make_unique<QSocketNotifier>(line, QSocketNotifier::Read))
    , m_writable(std::make_unique<QSocketNotifier>(line, QSocketNotifier::Write))
{
    m_writable->setEnabled(false);
    connect(m_readable.get(), &QSocketNotifier::activated, this, &Simulator::lineReadable);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &Simulator::lineWritable);

    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kQuietAfter);
    connect(&m_quiet, &QTimer::timeout, this, &Simulator::lineQuiet);

    for (QTimer *timer : {&m_replyTimer, &m_readTimer, &m_writeTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_replyTimer, &QTimer::timeout, this, &Simulator::sendDueReplies);
    connect(&m_readTimer, &QTimer::timeout, this, &Simulator::readAtLineSpeed);
    connect(&m_writeTimer, &QTimer::timeout, this, &Simulator::writeOutgoing);
}

Simulator::~Simulator()
{
    closeLine();
}

void Simulator::armFor(QTimer &timer, TimePoint at)
{
    // Timers count whole milliseconds. Rounded up, a byte goes a little late
    // rather than the timer waking for nothing; the line's model lets the next
    // ones catch up, so the pace holds on average.
    timer.start(std::max(std::chrono::ceil<std::chrono::milliseconds>(at - Clock::now()),
                         std::chrono::milliseconds(0)));
}

void Simulator::lineReadable()
{
    if (m_options.instant) {
        readAll();
        return;
    }
    // The notifier is level-triggered: left on while bytes wait their turn
    // it would spin, so the read timer takes over until the line is drained.
    m_readable->setEnabled(false);
    m_in.noticed(Clock::now());
    readAtLineSpeed();
}

void Simulator::readAtLineSpeed()
{
    char buffer[4096];
    const qint64 due = m_in.arrivedBy(Clock::now(), sizeof buffer);
    if (due == 0) {
        armFor(m_readTimer, m_in.nextArrival());
        return;
    }
    ssize_t n = 0;
    do {
        n = ::read(m_line, buffer, size_t(due));
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        m_in.carried(0, false);
        m_readable->setEnabled(true);
        return;
    }
    if (!took(buffer, n))
        return;
    const bool waiting = bytesWaiting(m_line) > 0;
    m_in.carried(n, waiting);
    if (waiting)
        armFor(m_readTimer, m_in.nextArrival());
    else
        m_readable->setEnabled(true); // drained: wait for the console
}

void Simulator::readAll()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_line, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (!took(buffer, n))
            return;
    }
}

// What a read returned; false once the line is gone.
bool Simulator::took(const char *bytes, ssize_t n)
{
    if (n <= 0) {
        stop(QStringLiteral("line gone: ")
                 + (n == 0 ? QStringLiteral("hung up") : systemError(errno)),
             1);
        return false;
    }
    handle(m_decoder.feed(QByteArrayView(bytes, n)));
    if (m_stopped)
        return false;
    if (m_decoder.hasPending())
        m_quiet.start();
    else
        m_quiet.stop();
    return true;
}

void Simulator::lineQuiet()
{
    handle(m_decoder.lineQuiet());
}

void Simulator::handle(const QList<Piece> &pieces)
{
    for (const Piece &piece : pieces) {
        if (m_stopped)
            return;
        m_log(describe(piece));
        if (!piece.isFrame())
            continue;
        ++m_frames;
        if (m_options.hangUpAfter > 0 && m_frames >= m_options.hangUpAfter) {
            stop(QStringLiteral("hang-up after %1 frames").arg(m_frames), 0);
            return;
        }
        const Device::Answer answer = m_device.answer(piece);
        if (answer.outputsSetOn) {
            const quint8 state = m_device.outputs(*answer.outputsSetOn);
            m_log(QStringLiteral("lamps P%1 %2 %3")
                      .arg(*answer.outputsSetOn)
                      .arg(lampRow(state))
                      .arg(hexBytes(QByteArray(1, char(state)))));
        }
        queueReply(answer.reply);
    }
}

void Simulator::queueReply(const QByteArray &reply)
{
    if (reply.isEmpty())
        return;
    if (m_options.replyDelay.count() <= 0) {
        send(reply);
        return;
    }
    m_due.push_back({QDeadlineTimer(m_options.replyDelay, Qt::PreciseTimer), reply});
    if (!m_replyTimer.isActive())
        m_replyTimer.start(untilDue(m_due.front().at));
}

void Simulator::sendDueReplies()
{
    while (!m_due.empty() && m_due.front().at.hasExpired()) {
        send(m_due.front().reply);
        m_due.pop_front();
        if (m_stopped)
            return;
    }
    if (!m_due.empty())
        m_replyTimer.start(untilDue(m_due.front().at));
}

void Simulator::send(const QByteArray &reply)
{
    if (m_outgoingBytes + reply.size() > kMostOutgoing) {
        m_log(QStringLiteral("reply dropped: nobody reads the line"));
        return;
    }
    // Handed to the line now, it follows the answer still going out without a gap.
    m_outgoing.push_back({reply, Clock::now()});
    m_outgoingBytes += reply.size();
    writeOutgoing();
}

void Simulator::lineWritable()
{
    // Held up by a full line: the rest follows at line speed from now, not in a rush.
    m_writable->setEnabled(false);
    if (!m_outgoing.empty())
        m_outgoing.front().handedAt = Clock::now();
    writeOutgoing();
}

// On a real port at 9600 baud the driver paces the bytes again; written no
// faster than it sends them, they only wait less in its buffer.
void Simulator::writeOutgoing()
{
    while (!m_outgoing.empty() && !m_writable->isEnabled()) {
        const QByteArray &front = m_outgoing.front().reply;
        const TimePoint handedAt = m_outgoing.front().handedAt;
        qsizetype count = front.size() - m_frontSent;
        if (!m_options.instant) {
            count = m_out.arrivedBy(handedAt, Clock::now(), count);
            if (count == 0) {
                armFor(m_writeTimer, m_out.firstArrival(handedAt));
                return;
            }
        }
        if (!m_frontLogged) {
            m_log(describeReply(front));
            m_frontLogged = true;
        }
        const ssize_t n = ::write(m_line, front.constData() + m_frontSent, size_t(count));
        if (n > 0) {
            m_frontSent += n;
            m_outgoingBytes -= n;
            m_out.handOver(handedAt, n);
            if (m_frontSent == front.size()) {
                m_outgoing.pop_front();
                m_frontSent = 0;
                m_frontLogged = false;
            }
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writable->setEnabled(true);
        } else {
            stop(QStringLiteral("line gone: ") + systemError(errno), 1);
            return;
        }
    }
}

void Simulator::stop(const QString &why, int exitCode)
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_log(why);
    closeLine();
    Q_EMIT finished(exitCode);
}

void Simulator::closeLine()
{
    m_quiet.stop();
    m_replyTimer.stop();
    m_readTimer.stop();
    m_writeTimer.stop();
    m_due.clear();
    m_outgoing.clear();
    m_outgoingBytes = 0;
    m_readable.reset();
    m_writable.reset();
    if (m_line >= 0)
        ::close(std::exchange(m_line, -1));
    if (m_keepOpen >= 0)
        ::close(std::exchange(m_keepOpen, -1));
}

} // namespace devicesim
