// The memory-module console: which box each button sends, its waits, Text4.
#include "frames.h"
#include "harness.h"

#include <QElapsedTimer>

class TestMemory : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestApplication(); }
    void rows_data();
    void rows();
    void aReadClickedDuringTheWriteWaitGoesOutAtOnce();
    void tenThousandQuickClicksNestNoWaits();
};

void TestMemory::rows_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QByteArray>("box");
    QTest::addColumn<QString>("typed"); // null: the initial text
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("text4");
    QTest::addColumn<bool>("waits");

    QTest::newRow("factory") << QByteArray("Command1") << QByteArray("Text2") << QString()
                             << u"FFTO0130202"_s << u"39"_s << false;
    QTest::newRow("write") << QByteArray("Command4") << QByteArray("Text3") << QString()
                           << u"01ZW00ABCDEFGH"_s << u"54"_s << true;
    QTest::newRow("read") << QByteArray("Command2") << QByteArray("Text5") << QString()
                          << u"01ZR0008"_s << u"85"_s << true;
    QTest::newRow("read in lower case") << QByteArray("Command2") << QByteArray("Text5")
                                        << u"01zr0008"_s << u"01ZR0008"_s << u"85"_s << true;
    QTest::newRow("empty write") << QByteArray("Command4") << QByteArray("Text3") << u""_s << u""_s
                                 << u"32"_s << true;
}

void TestMemory::rows()
{
    QFETCH(QByteArray, button);
    QFETCH(QByteArray, box);
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    QFETCH(QString, text4);
    QFETCH(bool, waits);

    TwoPorts ports;
    auto window = openConsole(u"quenby"_s);
    if (!typed.isNull())
        setText(*window, box, typed);
    QElapsedTimer clock;
    clock.start();
    click(*window, button);
    // 0 and 200 ms told apart with room for a loaded machine.
    QVERIFY2(waits ? clock.elapsed() >= 200 : clock.elapsed() < 100,
             qPrintable(QString::number(clock.elapsed())));
    const QByteArray frame = Frames::secondGenerationFrame(sent);
    QVERIFY(ports.com1.waitForBytes(frame.size()));
    QCOMPARE(ports.com1.received(), frame);
    QCOMPARE(::box(*window, "Text4")->text(), text4);
}

void TestMemory::aReadClickedDuringTheWriteWaitGoesOutAtOnce()
{
    TwoPorts ports;
    auto window = openConsole(u"tamsin"_s);
    QTimer::singleShot(50, window.get(), [&] { click(*window, "Command2"); });
    QElapsedTimer clock;
    clock.start();
    click(*window, "Command4");
    QVERIFY2(clock.elapsed() >= 250, "the write's click waits out the read's wait too");
    QVERIFY(ports.com2.waitForBytes(28));
    const QList<PtyDevice::Arrival> frames = ports.com2.arrivals();
    QCOMPARE(frames[0].bytes, Frames::secondGenerationFrame(u"01ZW00ABCDEFGH"));
    QCOMPARE(frames[1].bytes, Frames::secondGenerationFrame(u"01ZR0008"));
    QVERIFY2(frames[1].atMs - frames[0].atMs < 150, "the read waited for the write's wait");
    QCOMPARE(box(*window, "Text4")->text(), u"85"_s);
}

void TestMemory::tenThousandQuickClicksNestNoWaits()
{
    TwoPorts ports;
    auto window = openConsole(u"quenby"_s);
    int clicks = 0;
    QTimer clicker;
    connect(&clicker, &QTimer::timeout, this, [&] {
        click(*window, "Command2"); // each inside the wait the last one started
        if (++clicks == 10'000)
            clicker.stop();
    });
    clicker.start(0);
    click(*window, "Command2");
    QCOMPARE(clicks, 10'000);
    // Every frame is on the line or waiting for it, in order.
    const QByteArray frame = Frames::secondGenerationFrame(u"01ZR0008");
    QTest::qWait(50);
    const QByteArray sent = ports.com1.received();
    QCOMPARE(sent.size() + window->serialControl().outBufferCount(), 10'001 * frame.size());
    QCOMPARE(sent, frame.repeated(sent.size() / frame.size()));
}

QTEST_MAIN(TestMemory)
#include "tst_memory.moc"
