#include "simulator.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace devicesim {
namespace {

// A first-generation console paces its bytes 1 ms apart; this much silence
// means a frame with a wrong check has ended.
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
    connect(m_readable.get(), &QSocketNotifier::activated, this, &Simulator::readLine);
    connect(m_writable.get(), &QSocketNotifier::activated, this, &Simulator::writeOutgoing);

    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kQuietAfter);
    connect(&m_quiet, &QTimer::timeout, this, &Simulator::lineQuiet);

    m_replyTimer.setSingleShot(true);
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_replyTimer, &QTimer::timeout, this, &Simulator::sendDueReplies);
}

Simulator::~Simulator()
{
    closeLine();
}

void Simulator::readLine()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_line, buffer, sizeof buffer);
        if (n > 0) {
            handle(m_decoder.feed(QByteArrayView(buffer, n)));
            if (m_stopped)
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        stop(QStringLiteral("line gone: ")
                 + (n == 0 ? QStringLiteral("hung up") : systemError(errno)),
             1);
        return;
    }
    if (m_decoder.hasPending())
        m_quiet.start();
    else
        m_quiet.stop();
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
    if (m_outgoing.size() + reply.size() > kMostOutgoing) {
        m_log(QStringLiteral("reply dropped: nobody reads the line"));
        return;
    }
    m_log(describeReply(reply));
    m_outgoing.append(reply);
    writeOutgoing();
}

void Simulator::writeOutgoing()
{
    while (!m_outgoing.isEmpty()) {
        const ssize_t n = ::write(m_line, m_outgoing.constData(), size_t(m_outgoing.size()));
        if (n > 0) {
            m_outgoing.remove(0, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writable->setEnabled(true);
            return;
        } else {
            stop(QStringLiteral("line gone: ") + systemError(errno), 1);
            return;
        }
    }
    m_writable->setEnabled(false);
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
    m_due.clear();
    m_readable.reset();
    m_writable.reset();
    if (m_line >= 0)
        ::close(std::exchange(m_line, -1));
    if (m_keepOpen >= 0)
        ::close(std::exchange(m_keepOpen, -1));
}

} // namespace devicesim
