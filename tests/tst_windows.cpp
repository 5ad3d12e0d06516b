// What the five windows share, through the real windows offscreen on
// pseudo-terminals: the layout and start port, every report about the port,
// replies, the keyboard, and what End and closing leave on the line.
#include "codepage.h"
#include "frames.h"
#include "harness.h"
#include "layouts.h"

#include <QRadioButton>
#include <QSerialPort>

namespace {

enum Situation { HeldAtStart, SwitchedBackAndForth, MissingAtSwitch, Lost, LostMidway };
const QString kHeld = u"系统信息|串行端口%1已被其它设备所使用，请选择Com%2"_s;
const QString kMissing = u"系统信息|串行端口%1已被其它设备所使用！"_s;
const QString kLost = u"系统信息|串行端口%1已断开！"_s;
const QString kNotOpen = u"系统信息|串行端口%1未打开，命令未发送！"_s;
const QByteArray kRead = "\x01"
                         "01ZR0008ABCDEFGH9\x04";
const QString kLong(400, u'W');

// clang-format off
const struct { const char *name; int port; } kPrograms[] = {{"ostrel", 2}, {"marlo", 2}, {"dunwell", 1}, {"quenby", 1}, {"tamsin", 2}};

// The send after the situation is Command1's; portAfter 0 means closed.
const struct { const char *name; QString program; Situation situation; QStringList boxes; int portAfter; } kReports[] = {
    {"quenby: COM1 held at start, a send refused", u"quenby"_s, HeldAtStart, {kHeld.arg(1).arg(2), kNotOpen.arg(1)}, 0},
    {"tamsin: COM2 held at start, a send refused", u"tamsin"_s, HeldAtStart, {kHeld.arg(2).arg(1), kNotOpen.arg(2)}, 0},
    {"quenby: COM1 again, then COM2", u"quenby"_s, SwitchedBackAndForth, {}, 2},
    {"marlo: COM1 missing at a switch, a send refused", u"marlo"_s, MissingAtSwitch, {kMissing.arg(1), kNotOpen.arg(1)}, 0},
    {"quenby: the device goes, a later send refused", u"quenby"_s, Lost, {kLost.arg(1), kNotOpen.arg(1)}, 0},
    {"ostrel: the device goes during a frame", u"ostrel"_s, LostMidway, {kLost.arg(2)}, 0},
    {"dunwell: the device goes during a pattern", u"dunwell"_s, LostMidway, {kLost.arg(1)}, 0},
};

// Pieces the device writes gapMs apart (-1: each at line speed), and what the window then shows.
const struct { const char *name; QString program; QByteArrayList pieces; int gapMs; QByteArray text1; QString text6; } kReplies[] = {
    {"hex", u"quenby"_s, {"AB"}, 0, "AB", u"42"_s},
    {"decimal", u"ostrel"_s, {"AB"}, 0, "AB", u"66"_s},
    {"EOT", u"marlo"_s, {"OK\x04"}, 0, "OK\x04", u"4"_s},
    {"FF hex", u"tamsin"_s, {"\xFF"}, 0, "\xFF", u"FF"_s},
    {"NUL", u"quenby"_s, {QByteArray(1, 0)}, 0, QByteArray(1, 0), u"0"_s},
    {"line speed, ostrel", u"ostrel"_s, {kRead}, -1, kRead, u"4"_s},
    {"line speed, marlo", u"marlo"_s, {kRead}, -1, kRead, u"4"_s},
    {"line speed, tamsin", u"tamsin"_s, {kRead}, -1, kRead, u"4"_s},
    {"pieces 20 ms apart are one reply", u"marlo"_s, {"01DO", "P1FF"}, 20, "01DOP1FF", u"46"_s},
    {"half a second apart, the later replaces", u"marlo"_s, {"OK1", "OK2"}, 500, "OK2", u"32"_s},
    {"an endless stream shows its last 4096 bytes", u"quenby"_s, {QByteArray(6000, 'a') + QByteArray(4000, 'b')}, 0,
     QByteArray(96, 'a') + QByteArray(4000, 'b'), u"62"_s},
};

// In a copy of the test binary: a click, maybe the same again 50 ms later, and End 100 ms after the first.
const struct { const char *name; QString program; const char *box; QString text; const char *button; bool twice; QString received; } kEnds[] = {
    {"quenby: a long write, another clicked behind it", u"quenby"_s, "Text3", kLong, "Command4", true, kLong},
    {"tamsin: in the wait after a read", u"tamsin"_s, "Text5", {}, "Command2", false, u"01ZR0008"_s},
    {"marlo: a long ON command on the line", u"marlo"_s, "Text2", kLong, "Command1", false, kLong},
    {"dunwell: in the wait after ON", u"dunwell"_s, "Text2", {}, "Command1", false, u"01DOP1FF"_s},
};

const struct { const char *name; QString program; const char *button; QByteArray received; } kCloses[] = {
    {"marlo in a pattern", u"marlo"_s, "Command1", Frames::secondGenerationFrame(u"01DOP1FF")},
    {"quenby in a wait", u"quenby"_s, "Command4", Frames::secondGenerationFrame(u"01ZW00ABCDEFGH")},
    {"ostrel in a frame, a value clicked behind it", u"ostrel"_s, "Command1", Frames::firstGenerationFrame(1, u"0123456789", 65)},
};
// clang-format on

int childMain(const QString &scenario)
{
    const auto &row = kEnds[scenario.toInt()];
    auto window = openConsole(row.program);
    if (!row.text.isEmpty())
        setText(*window, row.box, row.text);
    if (row.twice)
        QTimer::singleShot(50, window.get(), [&] { click(*window, row.button); });
    QTimer::singleShot(100, window.get(), [&] { click(*window, "Command3"); });
    click(*window, row.button);
    QTest::qWait(5000);
    return 3; // End did not end the program
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void layoutStartPortAndOption_data() { useRows(kPrograms); }
    void layoutStartPortAndOption()
    {
        const auto &row = currentRow(kPrograms);
        TwoPorts ports;
        auto window = openConsole(QString::fromLatin1(row.name));
        const QStringList differences =
            layoutDifferences(window.get(), expectedWindow(QString::fromLatin1(row.name)));
        QVERIFY2(differences.isEmpty(), qPrintable(differences.join(u'\n')));
        QVERIFY(window->serialControl().portOpen()
                && window->serialControl().commPort() == row.port);
        QVERIFY(window->findChild<QRadioButton *>(u"optCom(%1)"_s.arg(row.port - 1))->isChecked());
        const QRect text1 = box(*window, "Text1")->geometry();
        window->resize(900, 700);
        QVERIFY(window->size() == QSize(900, 700) && box(*window, "Text1")->geometry() == text1);
    }

    void portReports_data() { useRows(kReports); }
    void portReports()
    {
        const auto &row = currentRow(kReports);
        TwoPorts ports;
        const int startPort = row.program == u"quenby" || row.program == u"dunwell" ? 1 : 2;
        QSerialPort holder(ports.com(startPort).path());
        QVERIFY(row.situation != HeldAtStart || holder.open(QIODevice::ReadWrite));
        if (row.situation == MissingAtSwitch)
            qputenv("COMM_COM1", "/dev/pts/none");
        auto window = openConsole(row.program);
        setText(*window, "Text2", QString(100, u'x')); // a frame of ostrel's that takes a while
        setText(*window, "Text3", u"65"_s);
        setText(*window, "Text5", u"1"_s);
        if (row.situation == SwitchedBackAndForth || row.situation == MissingAtSwitch) {
            click(*window, "optCom(0)");
            QVERIFY(window->findChild<QRadioButton *>(u"optCom(0)"_s)->isChecked());
            QCOMPARE(window->serialControl().portOpen(), row.situation == SwitchedBackAndForth);
        }
        if (row.situation == SwitchedBackAndForth)
            click(*window, "optCom(1)");
        if (row.situation == Lost) {
            ports.com(startPort).hangUp();
            QTRY_COMPARE(ports.boxes.size(), 1);
            QVERIFY2(staysQuiet(), "a port left open on a gone device spins");
        }
        if (row.situation == LostMidway)
            QTimer::singleShot(100, window.get(), [&] { ports.com(startPort).hangUp(); });
        click(*window, "Command1");
        QTest::qWait(50);
        QCOMPARE(ports.boxes, row.boxes);
        QCOMPARE(window->serialControl().portOpen() ? window->serialControl().commPort() : 0,
                 row.portAfter);
        QVERIFY(!row.portAfter || ports.com(row.portAfter).waitForBytes(1));
    }

    void replies_data() { useRows(kReplies); }
    void replies()
    {
        const auto &row = currentRow(kReplies);
        TwoPorts ports(row.gapMs < 0 ? PtyDevice::Pace::LineSpeed : PtyDevice::Pace::Instant);
        auto window = openConsole(row.program);
        PtyDevice &device = ports.com(window->serialControl().commPort());
        for (const QByteArray &piece : row.pieces) {
            device.write(piece);
            QVERIFY(device.waitForWritten());
            QTest::qWait(std::max(row.gapMs, 0));
        }
        QTRY_COMPARE(box(*window, "Text1")->text(), CodePage::fromBytes(row.text1));
        QCOMPARE(box(*window, "Text6")->text(), row.text6);
    }

    void onlyTamsinShowsOnEveryEvent()
    {
        TwoPorts ports;
        auto tamsin = openConsole(u"tamsin"_s);
        auto quenby = openConsole(u"quenby"_s);
        for (auto *window : {tamsin.get(), quenby.get()}) {
            setText(*window, "Text1", u"earlier"_s);
            // A pseudo-terminal has no modem lines: raise the change a UART reports.
            window->serialControl().raiseEvent(SerialControl::CtsChange);
        }
        QCOMPARE(box(*tamsin, "Text1")->text() + box(*quenby, "Text1")->text(), u"earlier"_s);
    }

    void returnAndEnterClickTheFocusedButton()
    {
        TwoPorts ports;
        auto window = openConsole(u"quenby"_s);
        QTest::keyClick(window->focusWidget(), Qt::Key_Return);
        QTest::keyClick(window->focusWidget(), Qt::Key_Enter);
        const QByteArray factory = Frames::secondGenerationFrame(u"FFTO0130202");
        QVERIFY(ports.com1.waitForBytes(2 * factory.size()));
        QCOMPARE(ports.com1.received(), factory + factory);
    }

    void endLetsTheCommandOnTheLineFinishAndDropsTheRest_data() { useRows(kEnds); }
    void endLetsTheCommandOnTheLineFinishAndDropsTheRest()
    {
        const auto &row = currentRow(kEnds);
        TwoPorts ports(PtyDevice::Pace::LineSpeed);
        QCOMPARE(runChild(QString::number(&row - kEnds)), 0);
        QTest::qWait(100);
        QCOMPARE(ports.com1.received() + ports.com2.received(),
                 Frames::secondGenerationFrame(row.received));
    }

    void closingEndsWhatRunsAndReleasesThePort_data() { useRows(kCloses); }
    void closingEndsWhatRunsAndReleasesThePort()
    {
        const auto &row = currentRow(kCloses);
        TwoPorts ports;
        auto window = openConsole(row.program);
        if (row.program == u"ostrel") {
            setText(*window, "Text2", u"0123456789"_s);
            setText(*window, "Text3", u"65"_s);
            setText(*window, "Text5", u"1"_s);
            QTimer::singleShot(5, window.get(), [&] { click(*window, "Command2"); });
        }
        QTimer::singleShot(6, window.get(), [&] { window->close(); });
        click(*window, row.button); // returns once the close has ended what it started
        QVERIFY(window->isHidden() && !window->serialControl().portOpen());
        QTest::qWait(100);
        QCOMPARE(ports.com(window->serialControl().commPort()).received(), row.received);
    }
};

CONSOLE_TEST_MAIN(TestWindows, childMain)
#include "tst_windows.moc"
