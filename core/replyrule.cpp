#include "replyrule.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;

// A command's end is judged up to a millisecond early, as timers count whole
// milliseconds: an answer from behind a real line, whose first byte comes at
// least a character time after the command's end, never loses it to the
// reply before, which at worst loses its own last byte to the answer.
constexpr std::chrono::milliseconds kJudgedEarly{1};

} // namespace

void ReplyRule::handedOver(TimePoint now, TimePoint leaves, bool endsCommand, qint64 waiting)
{
    catchUp(now, waiting);
    if (m_commands.empty() || m_commands.back().leaves) {
        // Sent on a quiet line, nothing earlier can answer in its place: its
        // first answering byte tells what the device does.
        const bool quiet = lineQuiet(now) && m_commands.empty()
                           && (!m_lastLeaves || *m_lastLeaves + kQuiet <= now);
        if (quiet)
            m_witness = Witness{};
        m_commands.push_back({now, m_arrived, {}});
    }
    if (endsCommand)
        m_commands.back().leaves = leaves;
    m_lastLeaves = std::max(m_lastLeaves.value_or(leaves), leaves);
    if (m_witness && endsCommand && !m_witness->leaves)
        m_witness->leaves = leaves;
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
    }
    observe(now, waiting);
    decide(now, Moment::Now);
}

void ReplyRule::look(TimePoint now, qint64 waiting)
{
    catchUp(now, waiting);
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

void ReplyRule::startAfresh()
{
    m_commands.clear();
    m_witness.reset();
    m_device = Device::Unknown;
    m_lastArriving.reset();
    m_lastLeaves.reset();
    m_arrived = m_read;
    m_starts = {m_read};
    m_latestStart = m_read;
}

std::optional<ReplyRule::TimePoint> ReplyRule::nextLook() const
{
    std::optional<TimePoint> next;
    if (m_arrived > m_latestStart && m_lastArriving)
        next = *m_lastArriving + kQuiet;
    // Judged in order: a command's reply cannot start before the one before it.
    if (!m_commands.empty() && m_commands.front().leaves) {
        const TimePoint left = *m_commands.front().leaves - kJudgedEarly;
        next = std::min(next.value_or(left), left);
    }
    return next;
}

// Bytes waiting unread mean the window is behind the line, not that the line
// is quiet: they count as arriving now.
void ReplyRule::observe(TimePoint now, qint64 waiting)
{
    if (waiting > 0)
        m_lastArriving = now;
    if (m_read + waiting <= m_arrived)
        return;
    m_arrived = m_read + waiting;
    m_lastArriving = now;
    if (m_witness) {
        const bool whileSent = !m_witness->leaves || now < *m_witness->leaves;
        m_device = whileSent ? Device::AnswersWhileSent : Device::AnswersAfterSent;
        m_witness.reset();
    }
}

// Before new bytes are counted, only what is certain: a command gone by now.
// Whether the line was quiet is known only once what waits has been counted.
void ReplyRule::decide(TimePoint now, Moment moment)
{
    const bool beforeNewBytes = moment == Moment::BeforeNewBytes;
    if (!beforeNewBytes && m_arrived > m_latestStart && lineQuiet(now))
        startReplyAt(m_arrived);
    while (!m_commands.empty()) {
        const Command &command = m_commands.front();
        const bool left =
            command.leaves && *command.leaves - (beforeNewBytes ? 0ms : kJudgedEarly) <= now;
        if (m_device == Device::AnswersWhileSent)
            startReplyAt(command.arrivedAtHandOver);
        else if (left)
            startReplyAt(m_device == Device::AnswersAfterSent ? m_arrived
                                                              : command.arrivedAtHandOver);
        else
            return;
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

bool ReplyRule::lineQuiet(TimePoint now) const
{
    return !m_lastArriving || *m_lastArriving + kQuiet <= now;
}
