// The first-generation console: its paced frame, the numbers it accepts, the
// raw-byte button, and what is clicked while a frame goes out.
#include "frames.h"
#include "harness.h"
#include "line.h"
#include "module1.h"

#include <thread>

namespace {

std::unique_ptr<ConsoleWindow> openOstrel(const QString &address, const QString &data,
                                          const QString &value)
{
    auto window = openConsole(u"ostrel"_s);
    setText(*window, "Text5", address);
    setText(*window, "Text2", data);
    setText(*window, "Text3", value);
    return window;
}

// clang-format off
// A row of one byte is the raw-byte button: Text2 then holds its character
// and Text4 keeps what it showed.
const struct { const char *name; QString address, data, value; QByteArray bytes; QString shown; } kFrames[] = {
    {"check is SOH", u"1"_s, u"01DOP1FF"_s, u"0"_s, fromHex("01 01 00 02 30 31 44 4F 50 31 46 46 00 03 01 04"), u"1"_s},
    {"check is ETX", u"1"_s, u"AB"_s, u"0"_s, fromHex("01 01 00 02 41 42 00 03 03 04"), u"3"_s},
    {"lower case as typed", u"1"_s, u"abc"_s, u"0"_s, fromHex("01 01 00 02 61 62 63 00 03 26 04"), u"38"_s},
    {"no data, 0 and 255", u"0"_s, u""_s, u"255"_s, fromHex("01 00 00 02 FF 03 00 04"), u"0"_s},
    {"blanks, zeros", u" 007 "_s, u"x"_s, u"\t042"_s, fromHex("01 07 00 02 78 2A 03 78 04"), u"120"_s},
    {"full-width digits", u"\u3000１２"_s, u""_s, u"２５５"_s, fromHex("01 0C 00 02 FF 03 00 04"), u"0"_s},
    {"Chinese data", u"1"_s, u"中"_s, u"0"_s, fromHex("01 01 00 02 D6 D0 00 03 50 04"), u"80"_s},
    {"value 65 alone", u"1"_s, u"typed"_s, u"65"_s, fromHex("41"), u"A"_s},
    {"value 200 alone", u"1"_s, u"typed"_s, u"200"_s, fromHex("C8"), u"\u00c8"_s},
};
// clang-format on

} // namespace

class TestOstrel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void frames_data() { useRows(kFrames); }
    void frames()
    {
        const auto &[name, address, data, value, bytes, shown] = currentRow(kFrames);
        TwoPorts ports;
        auto window = openOstrel(address, data, value);
        setText(*window, "Text4", u"9"_s);
        const bool rawByte = bytes.size() == 1;
        // A counter that moves 2 ms a reading: every 1 ms wait is two readings,
        // each as long as a character on the line, so no write waits for it.
        quint32 now = 0;
        quint32 readingsAtText4 = 0;
        Module1::setTickSource([&now] {
            std::this_thread::sleep_for(Line::kCharacterTime);
            return now += 2;
        });
        connect(box(*window, "Text4"), &QLineEdit::textChanged, this,
                [&] { readingsAtText4 = now / 2; });
        click(*window, rawByte ? "Command2" : "Command1");
        Module1::setTickSource({});
        // One wait between every two writes; a double-byte character is one write.
        QCOMPARE(readingsAtText4, rawByte ? 0 : 2 * quint32(data.size() + 7));
        QVERIFY(waitForBytes(ports.com2, bytes.size()));
        QCOMPARE(ports.com2.received(), bytes);
        QCOMPARE(box(*window, rawByte ? "Text2" : "Text4")->text(), shown);
        QCOMPARE(box(*window, "Text4")->text(), rawByte ? u"9"_s : shown);
        QCOMPARE(ports.boxes, QStringList());
    }

    void badNumbersSendNothing_data()
    {
        QTest::addColumn<QString>("typed");
        for (const char *typed : {"", "  ", "abc", "-1", "256", "1.5", "0x10", "+5", "1e2", "1 2",
                                  "99999999999999999999", "٣"})
            QTest::newRow(typed) << QString::fromUtf8(typed);
    }
    void badNumbersSendNothing()
    {
        QFETCH(QString, typed);
        TwoPorts ports;
        auto window = openOstrel(typed, u"AB"_s, u"65"_s);
        click(*window, "Command1");
        setText(*window, "Text5", u"1"_s);
        setText(*window, "Text3", typed);
        click(*window, "Command1");
        click(*window, "Command2");
        QCOMPARE(box(*window, "Text2")->text(), u"AB"_s);
        setText(*window, "Text5", typed);
        click(*window, "Command1"); // both bad: the address goes out first, so it is named
        const QString address = u"系统信息|地址值必须是0到255之间的整数！"_s;
        const QString value = u"系统信息|输入值必须是0到255之间的整数！"_s;
        QCOMPARE(ports.boxes, QStringList({address, value, value, address}));
        QTest::qWait(50);
        QCOMPARE(ports.com2.received(), QByteArray());
    }

    void whatIsClickedDuringAFrameFollowsIt()
    {
        TwoPorts ports;
        auto window = openOstrel(u"1"_s, QString(20, u'x'), u"65"_s);
        QTimer::singleShot(10, window.get(), [&] {
            for (const char *clicked : {"Command2", "Command1", "optCom(0)", "Command2"})
                click(*window, clicked);
        });
        click(*window, "Command1");
        const QByteArray com2 =
            Frames::firstGenerationFrame(1, QString(20, u'x'), 65).writes().join() + "A"
            + Frames::firstGenerationFrame(1, u"A", 65).writes().join();
        QVERIFY(waitForBytes(ports.com1, 1) && waitForBytes(ports.com2, com2.size()));
        QCOMPARE(ports.com2.received(), com2);
        QCOMPARE(ports.com1.received(), QByteArray("A"));
    }
};

CONSOLE_TEST_MAIN(TestOstrel)
#include "tst_ostrel.moc"
