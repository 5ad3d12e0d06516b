#pragma once

#include <QByteArray>
#include <chrono>
#include <deque>
#include <optional>

// Which bytes the red box shows: where one reply ends and the next begins,
// decided from times alone. Bytes are counted by position as they arrive,
// read or not, so a read that comes late moves no byte to another reply.
//
// A reply ends when the line has been quiet for kQuiet, and when a command
// starts one of its own. Where that command's reply starts depends on the
// device, which the rule learns from the last command sent on a quiet line:
// - bytes arriving while that command was still on the modelled 9600-baud
//   line, or its own bytes coming back: the device answers at once (native
//   USB, a virtual pair, a network bridge) or its adapter echoes the command
//   (two-wire RS-485). A command's reply then starts the moment the command
//   is handed to the port.
// - other bytes, the first of them after a look at the line as the command
//   left had found nothing: a device behind a real line (a UART, a USB
//   adapter's chip). A command's reply then starts when its last byte has
//   left the line, so an earlier answer still arriving while it goes out
//   stays with the earlier reply; unless that answer was in before the
//   command was sent and what came while it went out followed a longer
//   pause than one answer has inside: a device whose delay varies.
// Until it has learned, a reply starts at the hand-over: a box may then begin
// with the tail of an earlier answer, but never loses the start of its own.
class ReplyRule {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // A device's answer reaches the console in pieces: a UART hands over its
    // FIFO at a trigger level or after a character time-out, a USB adapter
    // once per latency tick of up to 16 ms. Pieces closer than this are one reply.
    static constexpr std::chrono::milliseconds kQuiet{50};
    // An endless stream shows its latest part: one read buffer's worth.
    static constexpr qsizetype kShownBytes = 4096;

    // A write of `bytes` handed to the port at `now`, its last byte leaving
    // the modelled line at `leaves`; the first write after a command's end
    // starts a new command, the one that `endsCommand` closes it. `waiting`
    // is what has arrived and is not yet read, here and in the other calls.
    void handedOver(TimePoint now, TimePoint leaves, QByteArrayView bytes, bool endsCommand,
                    qint64 waiting);
    // One read of the port at `now`; an empty one empties the box, and the
    // next byte starts a reply.
    void read(TimePoint now, QByteArrayView bytes, qint64 waiting);
    // A look at the port without reading, at the time nextLook() asked for;
    // true when what the box shows has changed.
    bool look(TimePoint now, qint64 waiting);
    // Another port, or none: the next byte is another device's, or another
    // opening's, and nothing learned or sent before counts.
    void startAfresh();

    const QByteArray &shown() const { return m_shown; }
    // When a reply may end or the device be learned without a byte
    // arriving: the quiet time running out, or a command leaving the line.
    std::optional<TimePoint> nextLook() const;

private:
    enum class Device { Unknown, AnswersWhileSent, AnswersAfterSent };
    // Whether the bytes waiting now have been counted yet.
    // Before new bytes are counted; now, with the line's quiet still to be
    // confirmed; now.
    enum class Moment { BeforeNewBytes, QuietUnconfirmed, Now };

    struct Command {
        qint64 arrivedAtHandOver;
        std::optional<TimePoint> leaves; // until its last write is handed over
        // Whether the command before it had been answered by its hand-over,
        // and when a byte last came before it and first came after it.
        bool earlierAnswered = false;
        std::optional<TimePoint> lastByteBefore;
        std::optional<TimePoint> firstByteAfter;
    };
    // The last command sent on a quiet line, until what first comes after it
    // shows what kind of device is there.
    struct Witness {
        qint64 from; // the position of the first byte after its hand-over
        QByteArray sent; // its bytes, as far as an echo is compared
        QByteArray came; // the bytes from `from` on, as far as compared
        std::optional<TimePoint> leaves;
        TimePoint nothingBy; // the last time nothing had come since its hand-over
        std::optional<TimePoint> firstSeen; // when a byte after it was first counted
    };

    void catchUp(TimePoint now, qint64 waiting);
    void observe(TimePoint now, qint64 waiting);
    void decide(TimePoint now, Moment moment);
    void judgeWitness();
    void learn(std::optional<Device> device);
    void startReplyAt(qint64 position);
    static bool startsAtOnce(const Command &command);
    bool lineQuiet(TimePoint now) const;

    QByteArray m_shown;
    qint64 m_shownFrom = 0; // position of m_shown's first byte
    qint64 m_read = 0; // bytes read, the position after m_shown's last
    qint64 m_arrived = 0; // bytes known to have arrived, read or not
    std::deque<qint64> m_starts; // replies decided to start at bytes not yet read
    qint64 m_latestStart = 0;
    std::optional<TimePoint> m_lastArriving; // when bytes were last seen coming in
    std::optional<TimePoint> m_lastGrowth; // when more bytes than before were last counted
    std::optional<qint64> m_arrivedAtLastHandOver; // for the command handed over last
    std::deque<Command> m_commands; // sent, their replies' starts not yet all settled
    std::optional<TimePoint> m_lastLeaves; // when the last command sent leaves the line
    std::optional<Witness> m_witness;
    Device m_device = Device::Unknown;
    std::optional<TimePoint> m_secondLook; // to confirm a quiet line
};
