// The second-generation frame and its check character byte for byte, text to
// bytes and back, the counting of the pacing wait Delay, and the line's time.
// The first generation goes out byte by byte and is proven through its window.
#include "codepage.h"
#include "frames.h"
#include "harness.h"
#include "linemodel.h"
#include "module1.h"
#include "pacedline.h"

namespace {

// clang-format off
const struct { const char *name; QString text; QByteArray frame; } kSecond[] = {
    {"ON: check 33", u"01DOP1FF"_s, fromHex("01 30 31 44 4F 50 31 46 46 21 04")},
    {"OFF", u"01DOP100"_s, fromHex("01 30 31 44 4F 50 31 30 30 55 04")},
    {"write: sum 22", u"01ZW00ABCDEFGH"_s, fromHex("01 30 31 5A 57 30 30 41 42 43 44 45 46 47 48 36 04")},
    {"factory: sum 7", u"FFTO0130202"_s, fromHex("01 46 46 54 4F 30 31 33 30 32 30 32 27 04")},
    {"empty: sum 0", {}, fromHex("01 20 04")},
    {"sum 32", u"FZ"_s, fromHex("01 46 5A 40 04")},
    {"sum 33", u"GZ"_s, fromHex("01 47 5A 21 04")},
    {"sum 127", u"0O"_s, fromHex("01 30 4F 7F 04")},
    {"lower case", u"01zr0008"_s, fromHex("01 30 31 5A 52 30 30 30 38 55 04")},
    {"Latin-1 upper-cased", u"\u00e9"_s, fromHex("01 C9 49 04")},
    {"Chinese as GBK", u"\u5b8b"_s, fromHex("01 CB CE 4E 04")},
    {"no GBK code", u"\U0001F600"_s, fromHex("01 3F 3F 04")},
    {"control bytes", u"\u0001\u0004"_s, fromHex("01 01 04 25 04")},
    {"40,000 characters", QString(40'000, u'A'), "\x01" + QByteArray(40'000, 'A') + "@\x04"},
};

// Tick-counter readings, start + offset, one per read, for a wait of count ms.
const struct { const char *name; quint32 start; QList<quint32> offsets; int count; } kDelays[] = {
    {"200 across 2^32", 0xFFFFFFF0u, {0, 150, 200, 201}, 200},
    {"200 across 2^31", 0x7FFFFFF0u, {0, 150, 200, 201}, 200},
    {"1 needs 2", 5, {0, 1, 2}, 1},
    {"0 needs any step", 0xFFFFFFFFu, {0, 0, 1}, 0},
    {"negative: one pass", 5, {0, 0}, -1},
};

// Times in character times from the line's first use.
constexpr LineModel::TimePoint c(int characters)
{
    return LineModel::TimePoint(std::chrono::duration_cast<LineModel::Duration>(characters * Line::kCharacterTime));
}
constexpr LineModel::Duration kJustBefore{1};
struct HandOver { LineModel::TimePoint at; qint64 bytes; };

// Writes handed over in turn, and when the last has left.
const struct { const char *name; QList<HandOver> handOvers; LineModel::TimePoint freeAt; } kHandOvers[] = {
    {"idle: a byte takes a character", {{c(0), 1}}, c(1)},
    {"queued behind: no gap", {{c(0), 3}, {c(1), 2}}, c(5)},
    {"handed over in the last character", {{c(0), 3}, {c(3) - kJustBefore, 1}}, c(4)},
    {"after a pause: from its hand-over", {{c(0), 1}, {c(4), 2}}, c(6)},
    {"a whole frame", {{c(0), 11}}, c(11)},
    {"nothing handed over", {{c(0), 2}, {c(7), 0}}, c(7)},
};

// The other end: `waiting` bytes noticed at `handedAt` after one write of
// `before` bytes at 0; how many have arrived whole at `now`.
const struct { const char *name; qint64 before; LineModel::TimePoint handedAt, now; qint64 waiting, arrived; } kArrivals[] = {
    {"idle: none before a character", 0, c(2), c(3) - kJustBefore, 5, 0},
    {"idle: the first after a character", 0, c(2), c(3), 5, 1},
    {"idle: one more each character", 0, c(2), c(5), 5, 3},
    {"never more than wait", 0, c(2), c(50), 5, 5},
    {"behind a write: after it", 4, c(1), c(5) - kJustBefore, 5, 0},
    {"behind a write: then at its pace", 4, c(1), c(6), 5, 2},
    {"noticed late: the line did not wait", 4, c(6), c(7), 5, 1},
};

// A device's reader took three bytes noticed at 0, with more left waiting
// behind them or none; then bytes are noticed: when the next has arrived, and
// how many of 100 have by `now`.
const struct { const char *name; bool leftWaiting; LineModel::TimePoint noticed, next, now; qint64 arrived; } kReads[] = {
    {"left waiting: no gap, however late the reader woke", true, c(9), c(4), c(9), 6},
    {"drained: from when they were noticed", false, c(9), c(10), c(10), 1},
};
// clang-format on

} // namespace

class TestWire : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void secondGeneration_data() { useRows(kSecond); }
    void secondGeneration()
    {
        const auto &row = currentRow(kSecond);
        QCOMPARE(Frames::secondGenerationFrame(row.text), row.frame);
        const QChar check(row.frame.at(row.frame.size() - 2));
        QCOMPARE(Module1::CheckChar(CodePage::upperCased(row.text)), QString(check));
    }

    void everyByteSurvivesTheRoundTrip()
    {
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QCOMPARE(CodePage::fromBytes(all).size(), 256);
        QCOMPARE(CodePage::toBytes(CodePage::fromBytes(all)), all);
    }

    void lineFollowsEachWriteWithTheNext_data() { useRows(kHandOvers); }
    void lineFollowsEachWriteWithTheNext()
    {
        const auto &row = currentRow(kHandOvers);
        LineModel line;
        LineModel::TimePoint gone;
        for (const HandOver &write : row.handOvers)
            gone = line.handOver(write.at, write.bytes);
        QCOMPARE(gone, row.freeAt);
        QCOMPARE(line.busyFor(row.freeAt - kJustBefore), kJustBefore);
        QCOMPARE(line.busyFor(row.freeAt + kJustBefore), LineModel::Duration::zero());
        line.reset();
        QCOMPARE(line.handOver(row.freeAt + kJustBefore, 1) - Line::kCharacterTime,
                 row.freeAt + kJustBefore);
    }

    void bytesArriveAtTheLinesPace_data() { useRows(kArrivals); }
    void bytesArriveAtTheLinesPace()
    {
        const auto &row = currentRow(kArrivals);
        LineModel line;
        line.handOver(c(0), row.before);
        QCOMPARE(line.arrivedBy(row.handedAt, row.now, row.waiting), row.arrived);
    }

    void readerKeepsTheLinesPace_data() { useRows(kReads); }
    void readerKeepsTheLinesPace()
    {
        const auto &row = currentRow(kReads);
        PacedLine line;
        line.noticed(c(0));
        QCOMPARE(line.arrivedBy(c(3), 100), 3);
        QCOMPARE(line.carried(3, row.leftWaiting), c(1));
        line.noticed(row.noticed);
        QCOMPARE(line.nextArrival(), row.next);
        QCOMPARE(line.arrivedBy(row.now, 100), row.arrived);
    }

    void delayEndsAtTheFirstReadingPastTheCount_data() { useRows(kDelays); }
    void delayEndsAtTheFirstReadingPastTheCount()
    {
        const auto &row = currentRow(kDelays);
        bool dispatched = false;
        QMetaObject::invokeMethod(
            this, [&] { dispatched = true; }, Qt::QueuedConnection);
        QList<bool> dispatchedAtRead; // past the script the counter reads as long finished
        Module1::setTickSource([&] {
            dispatchedAtRead << dispatched;
            return row.start + row.offsets.value(dispatchedAtRead.size() - 1, 1'000'000);
        });
        Module1::Delay(row.count);
        Module1::setTickSource({});
        QCOMPARE(dispatchedAtRead.size(), row.offsets.size());
        QVERIFY2(!dispatchedAtRead[0] && dispatchedAtRead[1],
                 "pending events run before the first re-reading");
    }
};

QTEST_MAIN(TestWire)
#include "tst_wire.moc"
