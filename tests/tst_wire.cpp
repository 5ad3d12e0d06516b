// The second-generation frame and its check character byte for byte, text to
// bytes and back, and the counting of the pacing wait Delay. The first
// generation goes out byte by byte and is proven through its window.
#include "codepage.h"
#include "frames.h"
#include "harness.h"
#include "module1.h"

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
