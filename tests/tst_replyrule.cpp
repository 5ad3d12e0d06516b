// What the red box shows, for every kind of device a bench has, driven by
// times alone: the commands as they are handed to the port, each piece as it
// arrives, the window reading it (late, where the row says so) and looking
// at the line when the rule asks.
#include "frames.h"
#include "harness.h"
#include "linemodel.h"
#include "replyrule.h"

#include <limits>

namespace {

using namespace std::chrono;
using TimePoint = ReplyRule::TimePoint;

struct Write {
    double atMs;
    QByteArray bytes;
    bool endsCommand = true;
};
struct Piece {
    double atMs;
    QByteArray bytes; // empty: an event with nothing to read
};
using Pieces = std::vector<Piece>;

const double kChar = Line::msFor(1);
constexpr double kNever = std::numeric_limits<double>::infinity();
const QByteArray kWrite = Frames::secondGenerationFrame(u"01ZW00ABCDEFGH"); // 17 bytes
const QByteArray kRead = Frames::secondGenerationFrame(u"01ZR0008"); // 11 bytes
const QByteArray kOk = "\x01OK\x04";
const QByteArray kAnswer = "\x01"
                           "01ZR0008ABCDEFGH9\x04";
const double kWriteLeaves = Line::msFor(kWrite.size());
const double kReadLeaves = Line::msFor(kRead.size());

// A UART's line: a byte every character time, the first a character after `fromMs`.
Pieces atLineSpeed(double fromMs, const QByteArray &bytes)
{
    Pieces pieces;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        pieces.push_back({fromMs + kChar * double(i + 1), bytes.sliced(i, 1)});
    return pieces;
}

// A 16550's receive FIFO: 8 bytes at a time, the rest 4 character times after the last.
Pieces inFifoPieces(double fromMs, const QByteArray &bytes)
{
    Pieces pieces;
    for (qsizetype i = 0; i < bytes.size(); i += 8) {
        const qsizetype n = std::min<qsizetype>(8, bytes.size() - i);
        pieces.push_back({fromMs + kChar * double(i + n + (n < 8 ? 4 : 0)), bytes.sliced(i, n)});
    }
    return pieces;
}

// A USB adapter's chip: what crossed the line, handed over once per 16 ms tick.
Pieces throughUsbAdapter(Pieces line)
{
    std::stable_sort(line.begin(), line.end(),
                     [](const Piece &a, const Piece &b) { return a.atMs < b.atMs; });
    Pieces pieces;
    for (const Piece &byte : line) {
        const double tick = std::ceil(byte.atMs / 16) * 16;
        if (pieces.empty() || pieces.back().atMs != tick || pieces.back().bytes.size() == 62)
            pieces.push_back({tick, {}});
        pieces.back().bytes += byte.bytes;
    }
    return pieces;
}

// Native USB, a virtual pair, a network bridge: pieces `gapMs` apart from `fromMs`.
Pieces inPieces(double fromMs, double gapMs, const QByteArrayList &parts)
{
    Pieces pieces;
    for (const QByteArray &part : parts)
        pieces.push_back({fromMs + gapMs * double(pieces.size()), part});
    return pieces;
}

Pieces operator+(Pieces a, const Pieces &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Busy {
    double fromMs = kNever;
    double forMs = 0;
    // Under Wine what arrives meanwhile is neither waiting in the driver nor
    // read until this long after: a finished read waits for the event loop.
    double readsAfterMs = 0;
    bool during(double ms) const { return ms >= fromMs && ms < fromMs + forMs; }
    // When the window gets to what is due at `ms`.
    double after(double ms) const { return during(ms) ? fromMs + forMs : ms; }
    double readAfter(double ms) const { return during(ms) ? after(ms) + readsAfterMs : ms; }
};

// The later commands in each row are clicked while the first goes out or just after.
struct Row {
    const char *name;
    std::vector<Write> writes;
    Pieces pieces;
    QByteArray shown;
    double afreshAtMs = kNever; // another port chosen, or the device lost
    Busy busy = {}; // the window neither reads nor looks meanwhile
};

// clang-format off
const Row kRows[] = {
    // One command, every kind of device: the answer whole, with its echo where the adapter echoes.
    {"UART at line speed", {{0, kRead}}, atLineSpeed(kReadLeaves, kAnswer), kAnswer},
    {"UART, 8-byte FIFO pieces", {{0, kRead}}, inFifoPieces(kReadLeaves, kAnswer), kAnswer},
    {"USB adapter, 16 ms ticks", {{0, kRead}}, throughUsbAdapter(atLineSpeed(kReadLeaves, kAnswer)), kAnswer},
    {"CDC-ACM: at once, two pieces 15 ms apart, before the line would have carried the command",
     {{0, kRead}}, inPieces(0.3, 15, {"\x01" "01ZR", "0008ABCDEFGH9\x04"}), kAnswer},
    {"network bridge: pieces 40 ms apart", {{0, kRead}}, inPieces(2, 40, {"\x01" "01ZR", "0008", "ABCDEFGH9\x04"}), kAnswer},
    {"RS-485: the echo as the command goes out, the answer after the line turns round",
     {{0, kWrite}}, atLineSpeed(0, kWrite) + atLineSpeed(kWriteLeaves + 3, kOk), kWrite + kOk},
    {"ostrel's frame a byte a write, answered at once",
     {{0, "A", false}, {2, "B", false}, {4, "C", false}, {6, "D"}}, inPieces(7.1, 0, {kOk}), kOk},
    {"an answer at line speed, the window busy for 55 ms while it comes", {{0, kRead}}, atLineSpeed(kReadLeaves, kAnswer), kAnswer, kNever, {15, 55}},
    {"USB adapter, the window busy for 55 ms after the first piece (Wine loading a font)", {{0, kRead}},
     throughUsbAdapter(atLineSpeed(kReadLeaves, kAnswer)), kAnswer, kNever, {16.5, 55}},
    {"native USB, the window busy for 55 ms after the first piece", {{0, kRead}},
     inPieces(0.3, 15, {"\x01" "01ZR", "0008ABCDEFGH9\x04"}), kAnswer, kNever, {0.5, 55}},
    {"native USB, the window busy while the write's answer comes, a read after", {{0, kWrite}, {30, kRead}},
     inPieces(0.3, 0, {kOk}) + inPieces(30.3, 15, {"\x01" "01ZR", "0008ABCDEFGH9\x04"}), kAnswer, kNever, {0.2, 25}},
    {"RS-485, the window busy while the write's echo comes, a read after", {{0, kWrite}, {30, kRead}},
     atLineSpeed(0, kWrite) + atLineSpeed(kWriteLeaves + 3, kOk) + atLineSpeed(30, kRead) + atLineSpeed(30 + kReadLeaves + 3, kAnswer), kRead + kAnswer, kNever, {0.5, 25}},
    {"RS-485 under Wine, the window busy from the echo's fifth byte, the rest read after a late look", {{0, kWrite}},
     atLineSpeed(0, kWrite) + atLineSpeed(kWriteLeaves + 3, kOk), kWrite + kOk, kNever, {5.5, 50, 2}},
    {"UART: a write and a read, the window busy while the write's answer comes, the read sent after",
     {{0, kWrite}, {20, kRead}}, atLineSpeed(kWriteLeaves, kOk) + atLineSpeed(34 + kReadLeaves, kAnswer), kAnswer, kNever, {19, 15}},

    // A write and a read clicked 20 ms apart: the read's answer alone where the timing tells them apart.
    {"UART: the write's answer arrives while the read goes out",
     {{0, kWrite}, {20, kRead}}, atLineSpeed(kWriteLeaves, kOk) + atLineSpeed(20 + kReadLeaves, kAnswer), kAnswer},
    {"CDC-ACM: each answered at once",
     {{0, kWrite}, {20, kRead}}, inPieces(0.3, 0, {kOk}) + inPieces(20.3, 15, {"\x01" "01ZR", "0008ABCDEFGH9\x04"}), kAnswer},
    {"RS-485, the read clicked once the write's answer is in",
     {{0, kWrite}, {30, kRead}}, atLineSpeed(0, kWrite) + atLineSpeed(kWriteLeaves + 3, kOk) + atLineSpeed(30, kRead) + atLineSpeed(30 + kReadLeaves + 3, kAnswer), kRead + kAnswer},
    {"the read clicked at once, a UART: queued behind the write",
     {{0, kWrite}, {kWriteLeaves - kChar, kRead}}, atLineSpeed(kWriteLeaves, kOk) + atLineSpeed(kWriteLeaves - kChar + kReadLeaves, kAnswer), kAnswer},
    {"a write nothing answers, then a read answered at once", {{0, kWrite}, {20, kRead}},
     inPieces(20.3, 15, {"\x01" "01ZR", "0008ABCDEFGH9\x04"}), kAnswer},
    {"RS-485 behind a USB adapter, a short read: its echo comes after the line would have carried it; then a write",
     {{0, kRead}, {60, kWrite}},
     throughUsbAdapter(atLineSpeed(0, kRead) + atLineSpeed(kReadLeaves + 3, kAnswer) + atLineSpeed(60, kWrite) + atLineSpeed(60 + kWriteLeaves + 3, kOk)), kWrite + kOk},
    {"RS-485: ostrel's frame a byte a write, each echoed", {{0, "A", false}, {2, "B", false}, {4, "C", false}, {6, "D"}},
     inPieces(kChar, 2, {"A", "B", "C", "D"}) + atLineSpeed(6 + kChar + 3, kOk), "ABCD" + kOk},
    {"Bluetooth: the write answered after 40 ms, the read after 10 ms", {{0, kWrite}, {60, kRead}},
     inPieces(40, 0, {kOk}) + inPieces(70, 15, {"\x01" "01ZR", "0008ABCDEFGH9\x04"}), kAnswer},
    {"the read queued behind the write, handed over a little after the write left (a timer's rounding)",
     {{0, kWrite}, {kWriteLeaves + 0.3, kRead}}, atLineSpeed(kWriteLeaves + 0.5, kOk) + atLineSpeed(kWriteLeaves + 0.3 + kReadLeaves, kAnswer), kAnswer},
    // No clue in the timing: more rather than less, never the later answer's start lost.
    {"USB adapter: both answers in one tick's packet", {{0, kWrite}, {20, kRead}},
     throughUsbAdapter(atLineSpeed(kWriteLeaves, kOk) + atLineSpeed(20 + kReadLeaves, kAnswer)), kOk + kAnswer},
    {"UART slow to answer: the read sent after the write left, before the device began its answer", {{0, kWrite}, {20, kRead}},
     atLineSpeed(kWriteLeaves + 4, kOk) + atLineSpeed(20 + kReadLeaves, kAnswer), kOk + kAnswer},
    {"RS-485, the read clicked during the write's answer: the box begins with that answer's tail",
     {{0, kWrite}, {24, kRead}}, atLineSpeed(0, kWrite) + atLineSpeed(kWriteLeaves + 3, kOk) + atLineSpeed(24, kRead) + atLineSpeed(24 + kReadLeaves + 3, kAnswer),
     kOk.sliced(3) + kRead + kAnswer},

    // Quiet time, the device that talks unasked, empty reads, the bound.
    {"pieces 20 ms apart are one reply", {}, inPieces(0, 20, {"01DO", "P1FF"}), "01DOP1FF"},
    {"half a second apart, the later replaces", {}, inPieces(0, 500, {"OK1", "OK2"}), "OK2"},
    {"an empty read empties the box; the next byte starts a reply", {}, inPieces(0, 5, {"AB", "", "C"}), "C"},
    {"an endless stream shows its last 4096 bytes", {}, inPieces(0, 1, QByteArrayList(10, QByteArray(1000, 'a')) << "end"),
     QByteArray(4093, 'a') + "end"},
    {"a command while the device talks: its answer after the line starts a reply", {{0, kRead}},
     inPieces(-30, 10, {"TICK", "TICK", "TICK", "TICK"}) + atLineSpeed(kReadLeaves, kAnswer), kAnswer},

    // Another port, or a lost device: nothing of the old port's replies or commands carries over.
    {"the other port chosen between two pieces 5 ms apart", {}, inPieces(0, 5, {"OLD", "NEW"}), "NEW", 2},
    {"lost during a 6,000-character command; then a write and a read on the new port, at line speed",
     {{0, QByteArray(6000, 'W')}, {200, kWrite}, {220, kRead}},
     atLineSpeed(200 + kWriteLeaves, kOk) + atLineSpeed(220 + kReadLeaves, kAnswer), kAnswer, 100},
    {"lost after learning an echoing device; the new one answers after the line, the read queued behind the write",
     {{0, kWrite}, {200, kWrite}, {200 + kWriteLeaves - kChar, kRead}},
     atLineSpeed(0, kWrite) + atLineSpeed(200 + kWriteLeaves, kOk) + atLineSpeed(200 + kWriteLeaves - kChar + kReadLeaves, kAnswer), kAnswer, 100},
};
// clang-format on

TimePoint at(double ms)
{
    return TimePoint{} + hours(1) + duration_cast<nanoseconds>(duration<double, std::milli>(ms));
}

double sinceStart(TimePoint time)
{
    return duration<double, std::milli>(time - at(0)).count();
}

// Runs a row as the window would: every event at its time, in time order.
QByteArray shownAfter(const Row &row)
{
    Pieces pieces = row.pieces;
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const Piece &a, const Piece &b) { return a.atMs < b.atMs; });
    ReplyRule rule;
    size_t nextWrite = 0;
    size_t nextRead = 0; // the first piece not yet read, or lost with its port
    double afresh = row.afreshAtMs;
    LineModel line; // a write queued behind another leaves after it
    const auto waitingAt = [&](double ms) {
        qint64 waiting = 0;
        for (size_t i = nextRead; i < pieces.size() && row.busy.readAfter(pieces[i].atMs) <= ms;
             ++i)
            waiting += pieces[i].bytes.size();
        return waiting;
    };
    for (int step = 0; step < 100'000; ++step) {
        // Due first: the port chosen, a write, a read, or the look the rule asked for.
        double next = afresh;
        if (nextWrite < row.writes.size())
            next = std::min(next, row.busy.after(row.writes[nextWrite].atMs));
        if (nextRead < pieces.size())
            next = std::min(next, row.busy.readAfter(pieces[nextRead].atMs));
        if (const auto look = rule.nextLook()) {
            const TimePoint due = std::max(*look, at(row.busy.after(sinceStart(*look))));
            if (std::isinf(next) || due < at(next)) {
                rule.look(due, waitingAt(sinceStart(due)));
                continue;
            }
        }
        const double now = next;
        if (std::isinf(now))
            return rule.shown();
        if (afresh <= now) {
            afresh = kNever;
            line.reset(); // a new port's line
            for (; nextRead < pieces.size() && pieces[nextRead].atMs <= now; ++nextRead) { }
            rule.startAfresh();
        } else if (nextWrite < row.writes.size()
                   && row.busy.after(row.writes[nextWrite].atMs) <= now) {
            const Write &write = row.writes[nextWrite++];
            rule.handedOver(at(now), line.handOver(at(now), write.bytes.size()), write.bytes,
                            write.endsCommand, waitingAt(now));
        } else {
            QByteArray bytes = pieces[nextRead++].bytes;
            for (; !bytes.isEmpty() && nextRead < pieces.size()
                   && row.busy.readAfter(pieces[nextRead].atMs) <= now
                   && !pieces[nextRead].bytes.isEmpty();
                 ++nextRead)
                bytes += pieces[nextRead].bytes;
            rule.read(at(now), bytes, waitingAt(now));
        }
    }
    qFatal("the rule asks to be looked at for ever");
}

} // namespace

class TestReplyRule : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shown_data() { useRows(kRows); }
    void shown()
    {
        const Row &row = currentRow(kRows);
        QCOMPARE(shownAfter(row), row.shown);
    }
};

QTEST_GUILESS_MAIN(TestReplyRule)
#include "tst_replyrule.moc"
