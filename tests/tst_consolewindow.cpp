// The five windows through the real windows offscreen on pseudo-terminals:
// what they share (the layout and start port, every report about the port,
// replies, what closing leaves on the line) and the memory-module console's
// buttons. End, which ends the process, is proven on the real programs under X.
#include "codepage.h"
#include "frames.h"
#include "harness.h"

#include <QElapsedTimer>
#include <QRadioButton>
#include <QSerialPort>

namespace {

enum Situation { HeldAtStart, MissingAtSwitch, Lost, LostMidway };
const QString kHeld = u"系统信息|串行端口%1已被其它设备所使用，请选择Com%2"_s;
const QString kMissing = u"系统信息|串行端口%1已被其它设备所使用！"_s;
const QString kLost = u"系统信息|串行端口%1已断开！"_s;
const QString kNotOpen = u"系统信息|串行端口%1未打开，命令未发送！"_s;
const QByteArray kRead = "\x01"
                         "01ZR0008ABCDEFGH9\x04";

// clang-format off
// Command1 is clicked after each situation; the port is closed at the end of every one.
const struct { const char *name; QString program; Situation situation; QStringList boxes; } kReports[] = {
    {"quenby: COM1 held at start, a send refused", u"quenby"_s, HeldAtStart, {kHeld.arg(1).arg(2), kNotOpen.arg(1)}},
    {"tamsin: COM2 held at start, a send refused", u"tamsin"_s, HeldAtStart, {kHeld.arg(2).arg(1), kNotOpen.arg(2)}},
    {"marlo: COM1 missing at a switch, a send refused", u"marlo"_s, MissingAtSwitch, {kMissing.arg(1), kNotOpen.arg(1)}},
    {"quenby: the device goes, a later send refused", u"quenby"_s, Lost, {kLost.arg(1), kNotOpen.arg(1)}},
    {"ostrel: the device goes during a frame", u"ostrel"_s, LostMidway, {kLost.arg(2)}},
    {"dunwell: the device goes during a pattern", u"dunwell"_s, LostMidway, {kLost.arg(1)}},
};

// Pieces the device writes gapMs apart (-1: each at line speed), and what the
// window then shows. A line change, where asked for, is raised last, as a UART
// reports one (a pseudo-terminal has no modem lines). With a switch, the other
// port is chosen after the first piece and its device writes the rest.
const struct { const char *name; QString program; QByteArrayList pieces; int gapMs; QByteArray text1; QString text6; bool lineChange = false; bool switchBetween = false; } kReplies[] = {
    {"hex", u"quenby"_s, {"AB"}, 0, "AB", u"42"_s},
    {"decimal", u"ostrel"_s, {"AB"}, 0, "AB", u"66"_s},
    {"EOT", u"marlo"_s, {"OK\x04"}, 0, "OK\x04", u"4"_s},
    {"FF hex", u"tamsin"_s, {"\xFF"}, 0, "\xFF", u"FF"_s},
    {"NUL", u"quenby"_s, {QByteArray(1, 0)}, 0, QByteArray(1, 0), u"0"_s},
    {"a line change just after a reply: tamsin reads nothing and empties the boxes", u"tamsin"_s, {"AB"}, 0, "", u""_s, true},
    {"a line change: quenby does not read", u"quenby"_s, {"earlier"}, 0, "earlier", u"72"_s, true},
    {"line speed, ostrel", u"ostrel"_s, {kRead}, -1, kRead, u"4"_s},
    {"the other port chosen between two pieces a few ms apart: the new port's alone", u"quenby"_s, {"OLD", "NEW"}, 5, "NEW", u"57"_s, false, true},
    {"an endless stream shows its last 4096 bytes", u"quenby"_s, {QByteArray(6000, 'a') + QByteArray(4000, 'b')}, 0,
     QByteArray(96, 'a') + QByteArray(4000, 'b'), u"62"_s},
};

// Each kind of device answering the buttons, clicked in turn, one answer a command;
// the red box then shows `shown`.
using Answers = QList<PtyDevice::Answer>;
const QByteArray kOk = "\x01OK\x04";
const QByteArray kWrite = Frames::secondGenerationFrame(u"01ZW00ABCDEFGH");
const struct { const char *name; QString program; QStringList buttons; PtyDevice::Pace kind; Answers answers; QByteArray shown; bool byTheMillisecond = false; } kDevices[] = {
    {"UART at line speed: a write and a read, the read's answer alone", u"quenby"_s, {u"Command4"_s, u"Command2"_s}, PtyDevice::Pace::LineSpeed, {{{kOk}}, {{kRead}}}, kRead, true},
    {"UART with a 16550's FIFO", u"quenby"_s, {u"Command2"_s}, PtyDevice::Pace::Uart16550, {{{kRead}}}, kRead},
    {"USB adapter", u"tamsin"_s, {u"Command2"_s}, PtyDevice::Pace::UsbAdapter, {{{kRead}}}, kRead},
    {"CDC-ACM: at once, in two pieces 15 ms apart", u"quenby"_s, {u"Command2"_s}, PtyDevice::Pace::Instant, {{{kRead.first(5), kRead.sliced(5)}, 15}}, kRead},
    {"virtual pair: a write and a read, each answered at once", u"tamsin"_s, {u"Command4"_s, u"Command2"_s}, PtyDevice::Pace::Instant, {{{kOk}}, {{kRead}}}, kRead},
    {"RS-485: the echo whole, then the answer", u"quenby"_s, {u"Command4"_s}, PtyDevice::Pace::Rs485Echo, {{{kOk}}}, kWrite + kOk},
};

const struct { const char *name; QString program; const char *button; QByteArray received; } kCloses[] = {
    {"marlo in a pattern", u"marlo"_s, "Command1", Frames::secondGenerationFrame(u"01DOP1FF")},
    {"quenby in a wait", u"quenby"_s, "Command4", Frames::secondGenerationFrame(u"01ZW00ABCDEFGH")},
};
// Text4 shows the check of the frame that went out. Return and Enter click
// the button that has the focus, 确定 of the factory row at start.
// A key, where given, goes to the focused widget instead of the click.
const struct { const char *name; const char *button; Qt::Key key; const char *box; QString typed; QString sent; bool waits; } kMemoryRows[] = {
    {"factory: 39", "Command1", {}, "Text2", {}, u"FFTO0130202"_s, false},
    {"Return on the focused button", "", Qt::Key_Return, "Text2", {}, u"FFTO0130202"_s, false},
    {"Enter on the focused button", "", Qt::Key_Enter, "Text2", {}, u"FFTO0130202"_s, false},
    {"write: 54", "Command4", {}, "Text3", {}, u"01ZW00ABCDEFGH"_s, true},
    {"read: 85", "Command2", {}, "Text5", {}, u"01ZR0008"_s, true},
    {"read in lower case", "Command2", {}, "Text5", u"01zr0008"_s, u"01ZR0008"_s, true},
    {"empty write: 32", "Command4", {}, "Text3", u""_s, u""_s, true},
};
// clang-format on

} // namespace

class TestConsoleWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void layoutStartPortAndOption_data() { useRows(kPrograms); }
    void layoutStartPortAndOption()
    {
        const auto &row = currentRow(kPrograms);
        const int port = row.program.startPort;
        TwoPorts ports;
        auto window = openConsole(QString::fromLatin1(row.name));
        const QStringList differences =
            layoutDifferences(window.get(), expectedWindow(QString::fromLatin1(row.name)));
        QVERIFY2(differences.isEmpty(), qPrintable(differences.join(u'\n')));
        QVERIFY(window->serialControl().portOpen() && window->serialControl().commPort() == port);
        QVERIFY(window->findChild<QRadioButton *>(u"optCom(%1)"_s.arg(port - 1))->isChecked());
        QVERIFY2(!QSerialPort(ports.com(port).path()).open(QIODevice::ReadWrite), "held");
        const QRect text1 = box(*window, "Text1")->geometry();
        window->resize(900, 700);
        QVERIFY(window->size() == QSize(900, 700) && box(*window, "Text1")->geometry() == text1);
        window->Form_Unload();
        SerialControl &control = window->serialControl();
        QVERIFY(!control.setCommPort(0) && !control.setCommPort(3)
                && control.setCommPort(3 - port));
    }

    void portReports_data() { useRows(kReports); }
    void portReports()
    {
        const auto &row = currentRow(kReports);
        TwoPorts ports;
        const int startPort = programRow(row.program).program.startPort;
        QSerialPort holder(ports.com(startPort).path());
        QVERIFY(row.situation != HeldAtStart || holder.open(QIODevice::ReadWrite));
        if (row.situation == MissingAtSwitch)
            qputenv("COMM_COM1", "/dev/pts/none");
        auto window = openConsole(row.program);
        setText(*window, "Text2", QString(100, u'x')); // a frame of ostrel's that takes a while
        setText(*window, "Text3", u"65"_s);
        setText(*window, "Text5", u"1"_s);
        if (row.situation == MissingAtSwitch) {
            click(*window, "optCom(0)");
            QVERIFY(window->findChild<QRadioButton *>(u"optCom(0)"_s)->isChecked());
        }
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
        QVERIFY(!window->serialControl().portOpen());
    }

    void replies_data() { useRows(kReplies); }
    void replies()
    {
        const auto &row = currentRow(kReplies);
        TwoPorts ports(row.gapMs < 0 ? PtyDevice::Pace::LineSpeed : PtyDevice::Pace::Instant);
        auto window = openConsole(row.program);
        for (const QByteArray &piece : row.pieces) {
            ports.com(window->serialControl().commPort()).write(piece);
            if (row.switchBetween && piece == row.pieces.front()) {
                QVERIFY(QTest::qWaitFor([&] { return !box(*window, "Text1")->text().isEmpty(); }));
                click(*window, "optCom(1)");
            }
            QTest::qWait(std::max(row.gapMs, 0));
        }
        if (row.lineChange) {
            QTRY_COMPARE(box(*window, "Text1")->text(), CodePage::fromBytes(row.pieces.back()));
            window->serialControl().raiseEvent(SerialControl::CtsChange);
        }
        QTRY_COMPARE(box(*window, "Text1")->text(), CodePage::fromBytes(row.text1));
        QCOMPARE(box(*window, "Text6")->text(), row.text6);
        QCOMPARE(box(*window, "Text1")->cursorPosition(), 0); // a long reply shows its start
    }

    void answersFromEachKindOfDevice_data() { useRows(kDevices); }
    void answersFromEachKindOfDevice()
    {
        const auto &row = currentRow(kDevices);
        if (row.byTheMillisecond)
            SKIP_WITHOUT_THE_MILLISECOND();
        TwoPorts ports(row.kind);
        auto window = openConsole(row.program);
        ports.com(window->serialControl().commPort()).answerWith(row.answers);
        clickInTurn(*window, row.buttons);
        QTRY_COMPARE(box(*window, "Text1")->text(), CodePage::fromBytes(row.shown));
    }

    // After a device is lost in the middle of a long command, the other port's replies are
    // told apart as on a port that never lost one.
    void afterALostDeviceTheNewPortsAnswersAlone()
    {
        SKIP_WITHOUT_THE_MILLISECOND();
        TwoPorts ports(PtyDevice::Pace::LineSpeed);
        auto window = openConsole(u"quenby"_s);
        setText(*window, "Text3", QString(6000, u'W'));
        QTimer::singleShot(100, window.get(), [&] { ports.com1.hangUp(); });
        click(*window, "Command4");
        QTRY_COMPARE(ports.boxes, QStringList{kLost.arg(1)});
        setText(*window, "Text3", u"01ZW00ABCDEFGH"_s);
        click(*window, "optCom(1)");
        ports.com2.answerWith({kOk, kRead});
        clickInTurn(*window, {u"Command4"_s, u"Command2"_s});
        QTRY_COMPARE(box(*window, "Text1")->text(), CodePage::fromBytes(kRead));
    }

    // A command accepted while a switch waits, dropped because the new port did not open, is
    // reported as a click on a closed port is; 校验和 keeps the check of what went out.
    void aCommandDroppedBehindAFailedSwitchIsReported()
    {
        TwoPorts ports(PtyDevice::Pace::LineSpeed);
        auto window = openConsole(u"quenby"_s);
        qputenv("COMM_COM2", "/dev/pts/none");
        setText(*window, "Text2", QString(3000, u'F'));
        click(*window, "Command1");
        const QString wentOut = box(*window, "Text4")->text();
        click(*window, "optCom(1)");
        click(*window, "Command2"); // returns after its wait, the switch still waiting
        QTRY_COMPARE_WITH_TIMEOUT(ports.boxes, (QStringList{kMissing.arg(2), kNotOpen.arg(2)}),
                                  6000);
        QCOMPARE(box(*window, "Text4")->text(), wentOut);
        QCOMPARE(ports.com1.received(), Frames::secondGenerationFrame(QString(3000, u'F')));
    }

    void closingEndsWhatRunsAndReleasesThePort_data() { useRows(kCloses); }
    void closingEndsWhatRunsAndReleasesThePort()
    {
        const auto &row = currentRow(kCloses);
        TwoPorts ports;
        auto window = openConsole(row.program);
        QTimer::singleShot(6, window.get(), [&] { window->close(); });
        click(*window, row.button); // returns once the close has ended what it started
        QVERIFY(window->isHidden() && !window->serialControl().portOpen());
        QTest::qWait(100);
        QCOMPARE(ports.com(window->serialControl().commPort()).received(), row.received);
    }

    void memoryRows_data() { useRows(kMemoryRows); }
    void memoryRows()
    {
        const auto &row = currentRow(kMemoryRows);
        TwoPorts ports;
        auto window = openConsole(u"quenby"_s);
        if (!row.typed.isNull())
            setText(*window, row.box, row.typed);
        QElapsedTimer clock;
        clock.start();
        row.key ? QTest::keyClick(window->focusWidget(), row.key) : click(*window, row.button);
        // 0 and 200 ms told apart with room for a loaded machine.
        QVERIFY2(row.waits ? clock.elapsed() >= 200 : clock.elapsed() < 100,
                 qPrintable(QString::number(clock.elapsed())));
        const QByteArray frame = Frames::secondGenerationFrame(row.sent);
        QVERIFY(waitForBytes(ports.com1, frame.size()));
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
        QVERIFY2(msBetween(frames[0], frames[1]) < 150, "the read waited for the write's wait");
        QCOMPARE(box(*window, "Text4")->text(), u"85"_s);
    }

    void tenThousandQuickClicksNestNoWaits()
    {
        TwoPorts ports;
        auto window = openConsole(u"quenby"_s);
        clickRepeatedly(*window, 10'000, [](int) { return "Command2"; });
        click(*window, "Command2"); // returns when the last click's wait has run
        // Every frame is on the line or waiting for it, in order; one may be between.
        const QByteArray frame = Frames::secondGenerationFrame(u"01ZR0008");
        const qsizetype waiting = window->serialControl().outBufferCount();
        const QByteArray sent = ports.com1.received();
        QVERIFY(qAbs(sent.size() + waiting - 10'001 * frame.size()) <= frame.size());
        QCOMPARE(sent, frame.repeated(sent.size() / frame.size()));
    }
};

CONSOLE_TEST_MAIN(TestConsoleWindow)
#include "tst_consolewindow.moc"
