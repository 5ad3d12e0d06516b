// The wire vocabulary byte for byte: both frame generations, the check
// characters, text to bytes and back; and the pacing wait Delay.
#include "codepage.h"
#include "frames.h"
#include "harness.h"
#include "module1.h"

// Scripted tick-counter readings, start + offset, one per read; past the
// script the counter reads as long finished, so a wrong loop shows as extra reads.
struct ScriptedCounter {
    ScriptedCounter(quint32 start, QList<quint32> offsets)
    {
        Module1::setTickSource([=, this] {
            if (onRead)
                onRead(reads + 1);
            return start + (reads < offsets.size() ? offsets[reads++] : (++reads, 1'000'000u));
        });
    }
    ~ScriptedCounter() { Module1::setTickSource({}); }
    qsizetype reads = 0;
    std::function<void(qsizetype)> onRead;
};

class TestWire : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void secondGeneration_data();
    void secondGeneration();
    void firstGeneration_data();
    void firstGeneration();
    void everyByteSurvivesTheRoundTrip();
    void delayEndsAtTheFirstReadingPastTheCount_data();
    void delayEndsAtTheFirstReadingPastTheCount();
    void delayDispatchesBeforeItsFirstReading();
    void delaySleepsAndStopsEarlyWhenAsked();
};

void TestWire::secondGeneration_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("check");

    QTest::newRow("ON") << u"01DOP1FF"_s << fromHex("01 30 31 44 4F 50 31 46 46 21 04") << 33;
    QTest::newRow("OFF") << u"01DOP100"_s << fromHex("01 30 31 44 4F 50 31 30 30 55 04") << 85;
    QTest::newRow("all off") << u"01DOP000"_s << fromHex("01 30 31 44 4F 50 30 30 30 54 04") << 84;
    QTest::newRow("light 80") << u"01DOP080"_s << fromHex("01 30 31 44 4F 50 30 38 30 5C 04") << 92;
    QTest::newRow("read") << u"01ZR0008"_s << fromHex("01 30 31 5A 52 30 30 30 38 55 04") << 85;
    QTest::newRow("write") << u"01ZW00ABCDEFGH"_s
                           << fromHex("01 30 31 5A 57 30 30 41 42 43 44 45 46 47 48 36 04") << 54;
    QTest::newRow("factory") << u"FFTO0130202"_s
                             << fromHex("01 46 46 54 4F 30 31 33 30 32 30 32 27 04") << 39;
    QTest::newRow("empty: sum 0") << u""_s << fromHex("01 20 04") << 32;
    QTest::newRow("sum 32") << u"FZ"_s << fromHex("01 46 5A 40 04") << 64;
    QTest::newRow("sum 33") << u"GZ"_s << fromHex("01 47 5A 21 04") << 33;
    QTest::newRow("sum 127") << u"0O"_s << fromHex("01 30 4F 7F 04") << 127;
    QTest::newRow("lower case") << u"01zr0008"_s << fromHex("01 30 31 5A 52 30 30 30 38 55 04")
                                << 85;
    QTest::newRow("Latin-1 upper-cased") << u"\u00e9"_s << fromHex("01 C9 49 04") << 73;
    QTest::newRow("Chinese as GBK") << u"\u5b8b"_s << fromHex("01 CB CE 4E 04") << 78;
    QTest::newRow("no GBK code") << u"\U0001F600"_s << fromHex("01 3F 3F 04") << 63;
    QTest::newRow("control bytes") << u"\u0001\u0004"_s << fromHex("01 01 04 25 04") << 37;
    QTest::newRow("40,000 characters")
        << QString(40'000, u'A') << fromHex("01") + QByteArray(40'000, 'A') + fromHex("40 04")
        << 64;
}

void TestWire::secondGeneration()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    QFETCH(int, check);

    QCOMPARE(Frames::secondGenerationFrame(text), frame);
    QCOMPARE(Module1::CheckChar(CodePage::upperCased(text)), QString(QChar(check)));
}

void TestWire::firstGeneration_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("check is SOH") << 1 << u"01DOP1FF"_s << 0
                                  << fromHex("01 01 00 02 30 31 44 4F 50 31 46 46 00 03 01 04");
    QTest::newRow("check is ETX") << 7 << u"AB"_s << 9 << fromHex("01 07 00 02 41 42 09 03 03 04");
    QTest::newRow("as typed") << 0 << u"abc"_s << 255
                              << fromHex("01 00 00 02 61 62 63 FF 03 26 04");
    QTest::newRow("empty: NUL") << 255 << u""_s << 0 << fromHex("01 FF 00 02 00 03 00 04");
    QTest::newRow("byte C8") << 1 << u"\u00c8"_s << 0 << fromHex("01 01 00 02 C8 00 03 48 04");
    // 宋 is CB CE: lead * 256 + trail is negative as a 16-bit number, only the
    // trail's low seven bits reach the sum.
    QTest::newRow("Chinese") << 1 << u"A\u5b8b"_s << 0
                             << fromHex("01 01 00 02 41 CB CE 00 03 0F 04");
}

void TestWire::firstGeneration()
{
    QFETCH(int, address);
    QFETCH(QString, data);
    QFETCH(int, value);
    QFETCH(QByteArray, frame);

    QCOMPARE(Frames::firstGenerationFrame(quint8(address), data, quint8(value)), frame);
    QCOMPARE(Frames::checkSumCode(data), int(frame.at(frame.size() - 2)));
}

void TestWire::everyByteSurvivesTheRoundTrip()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    QCOMPARE(CodePage::fromBytes(all).size(), 256);
    QCOMPARE(CodePage::toBytes(CodePage::fromBytes(all)), all);
}

void TestWire::delayEndsAtTheFirstReadingPastTheCount_data()
{
    QTest::addColumn<quint32>("start");
    QTest::addColumn<QList<quint32>>("offsets");
    QTest::addColumn<int>("count");

    QTest::newRow("200 across 2^32") << 0xFFFFFFF0u << QList<quint32>{0, 150, 200, 201} << 200;
    QTest::newRow("200 across 2^31") << 0x7FFFFFF0u << QList<quint32>{0, 150, 200, 201} << 200;
    QTest::newRow("1 needs 2") << 5u << QList<quint32>{0, 1, 2} << 1;
    QTest::newRow("0 needs any step") << 0xFFFFFFFFu << QList<quint32>{0, 0, 1} << 0;
    QTest::newRow("negative: one pass") << 5u << QList<quint32>{0, 0} << -1;
}

void TestWire::delayEndsAtTheFirstReadingPastTheCount()
{
    QFETCH(quint32, start);
    QFETCH(QList<quint32>, offsets);
    QFETCH(int, count);

    ScriptedCounter counter(start, offsets);
    Module1::Delay(count);
    QCOMPARE(counter.reads, offsets.size());
}

void TestWire::delayDispatchesBeforeItsFirstReading()
{
    bool handled = false;
    bool handledBeforeReread = false;
    QMetaObject::invokeMethod(
        this, [&] { handled = true; }, Qt::QueuedConnection);
    ScriptedCounter counter(0, {0, 1000});
    counter.onRead = [&](qsizetype read) { handledBeforeReread |= read == 2 && handled; };
    Module1::Delay(200);
    QVERIFY(handledBeforeReread);
}

void TestWire::delaySleepsAndStopsEarlyWhenAsked()
{
    qsizetype reads = 0;
    Module1::setTickSource([&reads] {
        ++reads;
        return quint32(QDateTime::currentMSecsSinceEpoch());
    });
    Module1::Delay(200);
    Module1::setTickSource({});
    QVERIFY2(reads < 50, "a polling wait reads the counter thousands of times in 200 ms");

    bool stop = false;
    QTimer::singleShot(10, this, [&] { stop = true; });
    QVERIFY(!Module1::Delay(60'000, [&] { return stop; }));
}

QTEST_MAIN(TestWire)
#include "tst_wire.moc"
