// Both frame generations and their check characters byte for byte, text to
// bytes and back, and the counting of the pacing wait Delay.
#include "codepage.h"
#include "frames.h"
#include "harness.h"
#include "module1.h"

namespace {

// clang-format off
const struct { const char *name; QString text; QByteArray frame; } kSecond[] = {
    {"ON: check 33", u"01DOP1FF"_s, fromHex("01 30 31 44 4F 50 31 46 46 21 04")},
    {"OFF", u"01DOP100"_s, fromHex("01 30 31 44 4F 50 31 30 30 55 04")},
    {"all off", u"01DOP000"_s, fromHex("01 30 31 44 4F 50 30 30 30 54 04")},
    {"light 80", u"01DOP080"_s, fromHex("01 30 31 44 4F 50 30 38 30 5C 04")},
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

// 宋 is CB CE: lead * 256 + trail is negative as 16 bits, and only the
// trail's low seven bits reach the sum.
const struct { const char *name; quint8 address; QString data; quint8 value; QByteArray frame; } kFirst[] = {
    {"check is SOH", 1, u"01DOP1FF"_s, 0, fromHex("01 01 00 02 30 31 44 4F 50 31 46 46 00 03 01 04")},
    {"check is ETX", 7, u"AB"_s, 9, fromHex("01 07 00 02 41 42 09 03 03 04")},
    {"as typed", 0, u"abc"_s, 255, fromHex("01 00 00 02 61 62 63 FF 03 26 04")},
    {"empty: NUL", 255, {}, 0, fromHex("01 FF 00 02 00 03 00 04")},
    {"GBK", 1, u"A\u5b8b"_s, 0, fromHex("01 01 00 02 41 CB CE 00 03 0F 04")},
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

    void firstGeneration_data() { useRows(kFirst); }
    void firstGeneration()
    {
        const auto &row = currentRow(kFirst);
        QCOMPARE(Frames::firstGenerationFrame(row.address, row.data, row.value), row.frame);
        QCOMPARE(Frames::checkSumCode(row.data), int(row.frame.at(row.frame.size() - 2)));
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
        qsizetype reads = 0;
        // Past the script the counter reads as long finished: a wrong loop shows as extra reads.
        Module1::setTickSource([&] { return row.start + row.offsets.value(reads++, 1'000'000); });
        Module1::Delay(row.count);
        Module1::setTickSource({});
        QCOMPARE(reads, row.offsets.size());
    }

    void delayDispatchesBeforeItsFirstRereading()
    {
        bool handled = false;
        QMetaObject::invokeMethod(
            this, [&] { handled = true; }, Qt::QueuedConnection);
        QList<bool> handledAtRead;
        Module1::setTickSource(
            [&] { return handledAtRead << handled, 1000 * quint32(handledAtRead.size()); });
        Module1::Delay(200);
        Module1::setTickSource({});
        QCOMPARE(handledAtRead, (QList<bool>{false, true}));
    }
};

QTEST_MAIN(TestWire)
#include "tst_wire.moc"
