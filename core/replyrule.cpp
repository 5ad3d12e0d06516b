#include "replyrule.h"

#include "line.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;

// A command's end is judged up to a millisecond early, as timers count whole
// milliseconds: an answer from behind a real line, whose first byte comes at
// least a character time after the command's end, never loses it to the
// reply before, which at worst loses its own last byte to the answer.
constexpr std::chrono::milliseconds kJudgedEarly{1};
// An echo is told from an answer by its bytes: a device's answer may repeat
// the command's address and code, but not the whole frame.
constexpr qsizetype kEchoCompared = 64;
// The longest pause inside one answer from behind a real line: a USB
// adapter's 16 ms latency tick, and a little.
constexpr std::chrono::milliseconds kPauseInsideAnswer{20};
// A quiet line is confirmed this much later, once the window's event loop has run.
constexpr std::chrono::milliseconds kConfirmingQuiet{5};

} // namespace

void ReplyRule::handedOver(TimePoint now, TimePoint leaves, QByteArrayView bytes, bool endsCommand,
                           qint64 waiting)
{
    catchUp(now, waiting);
    if (m_commands.empty() || m_commands.back().leaves) {
        // A command nothing came for by the time an answer could have begun
        // tells nothing more: what comes next may answer this one. One queued
        // behind it is handed over as it leaves, give or take a timer's
        // rounding, before any answer.
        if (m_witness && !m_witness->firstSeen && m_witness->leaves
            && *m_witness->leaves + Line::kCharacterTime <= now)
            m_witness.reset();
        // Sent on a quiet line, nothing earlier can answer in its place: what
        // first comes after it tells what the device does.
        if (lineQuiet(now) && m_commands.empty()
            && (!m_lastLeaves || *m_lastLeaves + kQuiet <= now))
            m_witness = Witness{m_arrived, {}, {}, {}, now, {}};
        const bool earlierAnswered =
            m_arrivedAtLastHandOver && m_arrived > *m_arrivedAtLastHandOver;
        m_commands.push_back({m_arrived, {}, earlierAnswered, m_lastGrowth, {}});
        m_arrivedAtLastHandOver = m_arrived;
    }
    if (m_witness && !m_witness->leaves) {
        m_witness->sent +=
            bytes.first(std::min(bytes.size(), kEchoCompared - m_witness->sent.size()));
        if (endsCommand)
            m_witness->leaves = leaves;
    }
    if (endsCommand)
        m_commands.back().leaves = leaves;
    m_lastLeaves = std::max(m_lastLeaves.value_or(leaves), leaves);
    decide(now, Moment::Now);
}

void ReplyRule::read(TimePoint now, QByteArrayView bytes, qint64 waiting)
{
    decide(now, Moment::BeforeNewBytes);
    if (bytes.isEmpty()) {
        m_shown.clear();
        m_shownFrom = m_read;
    } else {
        const qint64 first = m_read;
        m_read += bytes.size();
        std::optional<qint64> restart;
        for (; !m_starts.empty() && m_starts.front() < m_read; m_starts.pop_front())
            restart = m_starts.front();
        if (restart) {
            m_shown.clear();
            m_shownFrom = *restart;
        }
        m_shown += bytes.sliced(m_shownFrom > first ? m_shownFrom - first : 0);
        if (const qsizetype excess = m_shown.size() - kShownBytes; excess > 0) {
            m_shown.remove(0, excess);
            m_shownFrom += excess;
        }
        if (m_witness) {
            const qint64 compared = m_witness->from + m_witness->came.size();
            const qint64 end = std::min(m_read, m_witness->from + m_witness->sent.size());
            if (compared >= first && compared < end)
                m_witness->came += bytes.sliced(compared - first, end - compared);
        }
    }
    observe(now, waiting);
    decide(now, Moment::Now);
}

// A look reads nothing: the box can only lose its start to a reply begun in it.
bool ReplyRule::look(TimePoint now, qint64 waiting)
{
    const qint64 shownFrom = m_shownFrom;
    decide(now, Moment::BeforeNewBytes);
    observe(now, waiting);
    // A read that finished while the window was busy is counted nowhere until
    // the window's event loop takes it: Windows' overlapped reads, and so
    // Wine's, hold it. So a quiet line is judged at a second look, after the
    // event loop has run.
    if (m_arrived > m_latestStart && lineQuiet(now) && !m_secondLook) {
        m_secondLook = now + kConfirmingQuiet;
        decide(now, Moment::QuietUnconfirmed);
    } else {
        m_secondLook.reset();
        decide(now, Moment::Now);
    }
    return m_shownFrom != shownFrom;
}

void ReplyRule::startAfresh()
{
    m_commands.clear();
    m_witness.reset();
    m_device = Device::Unknown;
    m_lastArriving.reset();
    m_lastGrowth.reset();
    m_arrivedAtLastHandOver.reset();
    m_lastLeaves.reset();
    m_secondLook.reset();
    m_arrived = m_read;
    m_starts = {m_read};
    m_latestStart = m_read;
}

std::optional<ReplyRule::TimePoint> ReplyRule::nextLook() const
{
    std::optional<TimePoint> next;
    const auto soonest = [&next](TimePoint time) { next = std::min(next.value_or(time), time); };
    if (m_secondLook)
        soonest(*m_secondLook);
    else if (m_arrived > m_latestStart && m_lastArriving)
        soonest(*m_lastArriving + kQuiet);
    // Judged in order: a command's reply cannot start before the one before it.
    if (!m_commands.empty() && m_commands.front().leaves)
        soonest(*m_commands.front().leaves - kJudgedEarly);
    // Whether nothing came while the witness was on the line.
    if (m_witness && m_witness->leaves && !m_witness->firstSeen
        && m_witness->nothingBy < *m_witness->leaves - kJudgedEarly)
        soonest(*m_witness->leaves - kJudgedEarly);
    return next;
}

// Bytes first seen now arrived at some time since the last look, unknown: a
// command that left before now, when the window was too busy to look, starts
// its reply before them, which shows more rather than cutting an answer.
void ReplyRule::catchUp(TimePoint now, qint64 waiting)
{
    decide(now, Moment::BeforeNewBytes);
    observe(now, waiting);
    decide(now, Moment::Now);
}

// Bytes waiting unread mean the window is behind the line, not that the line
// is quiet: they count as arriving now.
void ReplyRule::observe(TimePoint now, qint64 waiting)
{
    if (waiting > 0)
        m_lastArriving = now;
    if (m_read + waiting > m_arrived) {
        m_arrived = m_read + waiting;
        m_lastArriving = now;
        m_lastGrowth = now;
        if (m_witness && !m_witness->firstSeen)
            m_witness->firstSeen = now;
        for (Command &command : m_commands) {
            if (!command.firstByteAfter)
                command.firstByteAfter = now;
        }
    } else if (m_witness && !m_witness->firstSeen) {
        m_witness->nothingBy = now;
    }
    judgeWitness();
}

void ReplyRule::judgeWitness()
{
    if (!m_witness || !m_witness->firstSeen)
        return;
    const Witness &witness = *m_witness;
    if (!witness.leaves || *witness.firstSeen < *witness.leaves) {
        learn(Device::AnswersWhileSent);
        return;
    }
    // Counted after the command left: an answer, or an echo an adapter held back.
    const qsizetype compared = std::min(witness.came.size(), witness.sent.size());
    const bool echoSoFar = witness.came.first(compared) == witness.sent.first(compared);
    if (echoSoFar && !witness.sent.isEmpty() && compared < witness.sent.size())
        return; // the rest tells
    if (echoSoFar && !witness.sent.isEmpty())
        learn(Device::AnswersWhileSent);
    else if (witness.nothingBy >= *witness.leaves - kJudgedEarly)
        learn(Device::AnswersAfterSent);
    else
        learn({}); // the window was too busy to see when it came
}

void ReplyRule::learn(std::optional<Device> device)
{
    if (device)
        m_device = *device;
    m_witness.reset();
}

// Before new bytes are counted, only what is certain: a command gone by now.
// Whether the line was quiet is known only once what waits has been counted.
void ReplyRule::decide(TimePoint now, Moment moment)
{
    const bool beforeNewBytes = moment == Moment::BeforeNewBytes;
    if (moment == Moment::Now && m_arrived > m_latestStart && lineQuiet(now))
        startReplyAt(m_arrived);
    while (!m_commands.empty()) {
        const Command &command = m_commands.front();
        const bool left =
            command.leaves && *command.leaves - (beforeNewBytes ? 0ms : kJudgedEarly) <= now;
        if (m_device == Device::AnswersWhileSent) {
            startReplyAt(command.arrivedAtHandOver);
            if (!command.leaves)
                return; // its further writes are part of it
        } else if (left) {
            startReplyAt(m_device == Device::AnswersAfterSent && !startsAtOnce(command)
                             ? m_arrived
                             : command.arrivedAtHandOver);
        } else {
            return;
        }
        m_commands.pop_front();
    }
}

// Where the bytes from `position` on are already shown, the box starts there
// now; otherwise the byte at `position` starts it when it is read.
void ReplyRule::startReplyAt(qint64 position)
{
    if (position <= m_latestStart)
        return;
    m_latestStart = position;
    if (position >= m_read) {
        m_starts.push_back(position);
        return;
    }
    const qint64 drop = std::clamp<qint64>(position - m_shownFrom, 0, m_shown.size());
    m_shown.remove(0, drop);
    m_shownFrom += drop;
}

// Behind a real line, what comes while a command goes out is the answer
// before it, unless that answer was in already and a pause longer than one
// answer has inside came first: then it is this command's, from a device
// whose delay varies (Bluetooth, a busy microcontroller).
bool ReplyRule::startsAtOnce(const Command &command)
{
    return command.earlierAnswered && command.firstByteAfter && command.lastByteBefore
           && *command.firstByteAfter - *command.lastByteBefore > kPauseInsideAnswer;
}

bool ReplyRule::lineQuiet(TimePoint now) const
{
    return !m_lastArriving || *m_lastArriving + kQuiet <= now;
}
