// The memory-module console: which box each button sends, its waits, Text4.
#include "frames.h"
#include "harness.h"

#include <QElapsedTimer>

namespace {

// clang-format off
// Text4 shows the check of the frame that went out.
const struct { const char *name; const char *button; const char *box; QString typed; QString sent; bool waits; } kRows[] = {
    {"factory: 39", "Command1", "Text2", {}, u"FFTO0130202"_s, false},
    {"write: 54", "Command4", "Text3", {}, u"01ZW00ABCDEFGH"_s, true},
    {"read: 85", "Command2", "Text5", {}, u"01ZR0008"_s, true},
    {"read in lower case", "Command2", "Text5", u"01zr0008"_s, u"01ZR0008"_s, true},
    {"empty write: 32", "Command4", "Text3", u""_s, u""_s, true},
};
// clang-format on

} // namespace

class TestMemory : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestApplication(); }

    void rows_data() { useRows(kRows); }
    void rows()
    {
        const auto &row = currentRow(kRows);
        TwoPorts ports;
        auto window = openConsole(u"quenby"_s);
        if (!row.typed.isNull())
            setText(*window, row.box, row.typed);
        QElapsedTimer clock;
        clock.start();
        click(*window, row.button);
        // 0 and 200 ms told apart with room for a loaded machine.
        QVERIFY2(row.waits ? clock.elapsed() >= 200 : clock.elapsed() < 100,
                 qPrintable(QString::number(clock.elapsed())));
        const QByteArray frame = Frames::secondGenerationFrame(row.sent);
        QVERIFY(ports.com1.waitForBytes(frame.size()));
        QCOMPARE(ports.com1.received(), frame);
        QCOMPARE(box(*window, "Text4")->text(),
                 QString::number(quint8(frame.at(frame.size() - 2))));
    }

    void aReadClickedDuringTheWriteWaitGoesOutAtOnce()
    {
        TwoPorts ports;
        auto window = openConsole(u"tamsin"_s);
        QTimer::singleShot(50, window.get(), [&] { click(*window, "Command2"); });
        QElapsedTimer clock;
        clock.start();
        click(*window, "Command4");
        QVERIFY2(clock.elapsed() >= 250, "the write's click waits out the read's wait too");
        QTRY_COMPARE(ports.com2.arrivals().size(), 2);
        const QList<PtyDevice::Arrival> frames = ports.com2.arrivals();
        QCOMPARE(frames[0].bytes + frames[1].bytes,
                 Frames::secondGenerationFrame(u"01ZW00ABCDEFGH")
                     + Frames::secondGenerationFrame(u"01ZR0008"));
        QVERIFY2(frames[1].atMs - frames[0].atMs < 150, "the read waited for the write's wait");
        QCOMPARE(box(*window, "Text4")->text(), u"85"_s);
    }

    void tenThousandQuickClicksNestNoWaits()
    {
        TwoPorts ports;
        auto window = openConsole(u"quenby"_s);
        int clicks = 0;
        QTimer clicker;
        connect(&clicker, &QTimer::timeout, this, [&] {
            click(*window, "Command2"); // inside the wait the click before started
            if (++clicks == 10'000)
                clicker.stop();
        });
        clicker.start(0);
        click(*window, "Command2");
        QCOMPARE(clicks, 10'000);
        // Every frame is on the line or waiting for it, in order; one may be between.
        const QByteArray frame = Frames::secondGenerationFrame(u"01ZR0008");
        const qsizetype waiting = window->serialControl().outBufferCount();
        const QByteArray sent = ports.com1.received();
        QVERIFY(qAbs(sent.size() + waiting - 10'001 * frame.size()) <= frame.size());
        QCOMPARE(sent, frame.repeated(sent.size() / frame.size()));
    }
};

QTEST_MAIN(TestMemory)
#include "tst_memory.moc"
