#include "codepage.h"
#include "frames.h"
#include "module1.h"
#include "testapp.h"

#include <QTest>

class TestFrames : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void secondGeneration_data();
    void secondGeneration();
    void firstGeneration_data();
    void firstGeneration();
    void everyByteSurvivesTheRoundTrip();
    void doubleByteCharactersCountTheirTrailByte();
};

void TestFrames::secondGeneration_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("shown");

    QTest::newRow("ON command") << "01DOP1FF" << fromHex("01 30 31 44 4F 50 31 46 46 21 04") << 33;
    QTest::newRow("OFF command") << "01DOP100" << fromHex("01 30 31 44 4F 50 31 30 30 55 04") << 85;
    QTest::newRow("first light step")
        << "01DOP001" << fromHex("01 30 31 44 4F 50 30 30 31 55 04") << 85;
    QTest::newRow("all off") << "01DOP000" << fromHex("01 30 31 44 4F 50 30 30 30 54 04") << 84;
    QTest::newRow("last light step")
        << "01DOP080" << fromHex("01 30 31 44 4F 50 30 38 30 5C 04") << 92;
    QTest::newRow("memory read") << "01ZR0008" << fromHex("01 30 31 5A 52 30 30 30 38 55 04") << 85;
    QTest::newRow("memory write") << "01ZW00ABCDEFGH"
                                  << fromHex("01 30 31 5A 57 30 30 41 42 43 44 45 46 47 48 36 04")
                                  << 54;
    QTest::newRow("factory setting")
        << "FFTO0130202" << fromHex("01 46 46 54 4F 30 31 33 30 32 30 32 27 04") << 39;
    QTest::newRow("empty") << "" << fromHex("01 20 04") << 32;
    QTest::newRow("sum 32 gets the at sign") << "FZ" << fromHex("01 46 5A 40 04") << 64;
    QTest::newRow("sum 33 kept") << "GZ" << fromHex("01 47 5A 21 04") << 33;
    QTest::newRow("sum 127 is DEL") << "0O" << fromHex("01 30 4F 7F 04") << 127;
    QTest::newRow("lower case goes out upper-cased") << "abc" << fromHex("01 41 42 43 46 04") << 70;
    QTest::newRow("lower-case read command")
        << "01zr0008" << fromHex("01 30 31 5A 52 30 30 30 38 55 04") << 85;
    QTest::newRow("Latin-1 letter upper-cased to one byte")
        << u"\u00e9"_qs << fromHex("01 C9 49 04") << 73;
    QTest::newRow("Chinese as GBK bytes") << u"\u5b8b"_qs << fromHex("01 CB CE 4E 04") << 78;
    QTest::newRow("no GBK code becomes ?") << u"\U0001F600"_qs << fromHex("01 3F 3F 04") << 63;
    QTest::newRow("control bytes go out as they are")
        << u"\u0001\u0004"_qs << fromHex("01 01 04 25 04") << 37;
}

void TestFrames::secondGeneration()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    QFETCH(int, shown);

    QCOMPARE(Frames::secondGenerationFrame(text), frame);
    const QString check = Module1::CheckChar(CodePage::upperCased(text));
    QCOMPARE(check.size(), 1);
    QCOMPARE(check.at(0).unicode(), shown);
    QCOMPARE(quint8(frame.at(frame.size() - 2)), shown);
}

void TestFrames::firstGeneration_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("checkSum");

    QTest::newRow("check equals SOH")
        << 1 << "01DOP1FF" << 0 << fromHex("01 01 00 02 30 31 44 4F 50 31 46 46 00 03 01 04") << 1;
    QTest::newRow("check equals ETX")
        << 7 << "AB" << 9 << fromHex("01 07 00 02 41 42 09 03 03 04") << 3;
    QTest::newRow("as typed, not upper-cased")
        << 0 << "abc" << 255 << fromHex("01 00 00 02 61 62 63 FF 03 26 04") << 38;
    QTest::newRow("empty data gives NUL")
        << 255 << "" << 0 << fromHex("01 FF 00 02 00 03 00 04") << 0;
    QTest::newRow("raw byte C8 as data")
        << 1 << u"\u00c8"_qs << 0 << fromHex("01 01 00 02 C8 00 03 48 04") << 72;
}

void TestFrames::firstGeneration()
{
    QFETCH(int, address);
    QFETCH(QString, data);
    QFETCH(int, value);
    QFETCH(QByteArray, frame);
    QFETCH(int, checkSum);

    QCOMPARE(Frames::firstGenerationFrame(quint8(address), data, quint8(value)), frame);
    QCOMPARE(Frames::checkSumCode(data), checkSum);
}

void TestFrames::everyByteSurvivesTheRoundTrip()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = CodePage::fromBytes(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(CodePage::toBytes(text), all);
}

void TestFrames::doubleByteCharactersCountTheirTrailByte()
{
    // 宋 is CB CE in GBK: lead * 256 + trail is negative as a signed 16-bit
    // number, and only the trail's low seven bits reach the masked sum.
    const std::vector<qint16> codes = CodePage::characterCodes(u"A\u5b8b");
    QCOMPARE(codes.size(), size_t(2));
    QCOMPARE(codes[0], qint16(0x41));
    QCOMPARE(codes[1], qint16(quint16(0xCBCE)));
    QCOMPARE(Frames::checkSumCode(u"A\u5b8b"), (0x41 + 0x4E) & 0x7F);
}

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
