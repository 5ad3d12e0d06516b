// What the five windows share, each through the real window offscreen on
// pseudo-terminals: the layout, the port and every report about it, replies,
// the keyboard, and how End and closing leave the line.
#include "codepage.h"
#include "frames.h"
#include "harness.h"
#include "layouts.h"

#include <QRadioButton>
#include <QSerialPort>

namespace {

enum class Situation { HeldAtStart, SwitchedBackAndForth, MissingAtSwitch, Lost, LostInAPattern };

void choose(QWidget &window, int option)
{
    auto *button = window.findChild<QRadioButton *>(u"optCom(%1)"_s.arg(option));
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, button->height() / 2));
}

// End in a copy of the test binary: a click, maybe another during what it
// started, and End 100 ms after the first.
int childMain(const QString &scenario)
{
    const QStringList args = scenario.split(u'|'); // program, box, text, button, clicks
    auto window = openConsole(args[0]);
    if (!args[2].isEmpty())
        setText(*window, args[1].toLatin1(), args[2]);
    const QByteArray button = args[3].toLatin1();
    if (args[4] == u"2")
        QTimer::singleShot(50, window.get(), [&] { click(*window, button); });
    QTimer::singleShot(100, window.get(), [&] { click(*window, "Command3"); });
    click(*window, button);
    QTest::qWait(5000);
    return 3; // End did not end the program
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void programs_data();
    void layoutStartPortAndOption_data() { programs_data(); }
    void layoutStartPortAndOption();
    void portReports_data();
    void portReports();
    void replies_data();
    void replies();
    void onlyTamsinShowsOnEveryEvent();
    void returnAndEnterClickTheFocusedButton();
    void endLetsTheCommandOnTheLineFinishAndDropsTheRest_data();
    void endLetsTheCommandOnTheLineFinishAndDropsTheRest();
    void closingEndsWhatRunsAndReleasesThePort_data();
    void closingEndsWhatRunsAndReleasesThePort();
};

void TestWindows::programs_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("startPort");
    for (const auto &[name, port] :
         {std::pair{"ostrel", 2}, {"marlo", 2}, {"dunwell", 1}, {"quenby", 1}, {"tamsin", 2}})
        QTest::newRow(name) << QString::fromLatin1(name) << port;
}

void TestWindows::layoutStartPortAndOption()
{
    QFETCH(QString, program);
    QFETCH(int, startPort);

    TwoPorts ports;
    auto window = openConsole(program);
    const QStringList differences = layoutDifferences(window.get(), expectedWindow(program));
    QVERIFY2(differences.isEmpty(), qPrintable(differences.join(u'\n')));
    QVERIFY(window->serialControl().portOpen());
    QCOMPARE(window->serialControl().commPort(), startPort);
    QVERIFY(window->findChild<QRadioButton *>(u"optCom(%1)"_s.arg(startPort - 1))->isChecked());

    const QRect text1 = box(*window, "Text1")->geometry();
    window->resize(900, 700);
    QTRY_COMPARE(window->size(), QSize(900, 700));
    QCOMPARE(box(*window, "Text1")->geometry(), text1);
}

void TestWindows::portReports_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<Situation>("situation");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("portAfter"); // 0: closed

    const QString held = u"系统信息|串行端口%1已被其它设备所使用，请选择Com%2"_s;
    const QString missing = u"系统信息|串行端口%1已被其它设备所使用！"_s;
    const QString lost = u"系统信息|串行端口%1已断开！"_s;
    const QString notOpen = u"系统信息|串行端口%1未打开，命令未发送！"_s;
    QTest::newRow("quenby: COM1 held at start, a send refused")
        << u"quenby"_s << Situation::HeldAtStart << QStringList{held.arg(1).arg(2), notOpen.arg(1)}
        << 0;
    QTest::newRow("tamsin: COM2 held at start, a send refused")
        << u"tamsin"_s << Situation::HeldAtStart << QStringList{held.arg(2).arg(1), notOpen.arg(2)}
        << 0;
    QTest::newRow("quenby: COM1 again, then COM2")
        << u"quenby"_s << Situation::SwitchedBackAndForth << QStringList{} << 2;
    QTest::newRow("marlo: COM1 missing at a switch, a send refused")
        << u"marlo"_s << Situation::MissingAtSwitch << QStringList{missing.arg(1), notOpen.arg(1)}
        << 0;
    QTest::newRow("quenby: the device goes, a later send refused")
        << u"quenby"_s << Situation::Lost << QStringList{lost.arg(1), notOpen.arg(1)} << 0;
    QTest::newRow("ostrel: the device goes during a frame")
        << u"ostrel"_s << Situation::LostInAPattern << QStringList{lost.arg(2)} << 0;
    QTest::newRow("dunwell: the device goes during a pattern")
        << u"dunwell"_s << Situation::LostInAPattern << QStringList{lost.arg(1)} << 0;
}

void TestWindows::portReports()
{
    QFETCH(QString, program);
    QFETCH(Situation, situation);
    QFETCH(QStringList, boxes);
    QFETCH(int, portAfter);

    TwoPorts ports;
    const int startPort = program == u"quenby" || program == u"dunwell" ? 1 : 2;
    QSerialPort holder(ports.com(startPort).path());
    if (situation == Situation::HeldAtStart)
        QVERIFY(holder.open(QIODevice::ReadWrite));
    if (situation == Situation::MissingAtSwitch)
        qputenv("COMM_COM1", "/dev/pts/no-such-device");
    auto window = openConsole(program);
    const bool ostrel = program == u"ostrel";
    if (ostrel) {
        setText(*window, "Text3", u"65"_s);
        setText(*window, "Text5", u"1"_s);
    }
    switch (situation) {
    case Situation::HeldAtStart:
        break;
    case Situation::SwitchedBackAndForth:
        choose(*window, 0);
        QVERIFY(window->serialControl().portOpen() && window->serialControl().commPort() == 1);
        choose(*window, 1);
        break;
    case Situation::MissingAtSwitch:
        choose(*window, 0);
        QVERIFY(window->findChild<QRadioButton *>(u"optCom(0)"_s)->isChecked());
        break;
    case Situation::Lost:
        ports.com(startPort).hangUp();
        QTRY_COMPARE(ports.boxes.seen.size(), 1);
        QVERIFY(staysQuiet());
        break;
    case Situation::LostInAPattern:
        setText(*window, "Text2", QString(100, u'x')); // a frame of ostrel's that takes a while
        QTimer::singleShot(100, [&] { ports.com(startPort).hangUp(); });
        click(*window, "Command1"); // returns when what it started has stopped
        QVERIFY(staysQuiet());
        break;
    }
    if (situation != Situation::LostInAPattern)
        click(*window, ostrel ? "Command2" : "Command1");
    QTest::qWait(50);
    QCOMPARE(ports.boxes.seen, boxes);
    QCOMPARE(window->serialControl().portOpen() ? window->serialControl().commPort() : 0,
             portAfter);
    if (portAfter)
        QVERIFY(ports.com(portAfter).waitForBytes(1));
}

void TestWindows::replies_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("gapMs"); // between pieces; -1: each at line speed
    QTest::addColumn<QByteArray>("text1");
    QTest::addColumn<QString>("text6");

    const QByteArray read = "\x01"
                            "01ZR0008ABCDEFGH9\x04";
    const QList<QByteArray> one{"AB"};
    QTest::newRow("hex") << u"quenby"_s << one << 0 << QByteArray("AB") << u"42"_s;
    QTest::newRow("decimal") << u"ostrel"_s << one << 0 << QByteArray("AB") << u"66"_s;
    QTest::newRow("EOT") << u"marlo"_s << QList<QByteArray>{"OK\x04"} << 0 << QByteArray("OK\x04")
                         << u"4"_s;
    QTest::newRow("CR hex") << u"dunwell"_s << QList<QByteArray>{"\r"} << 0 << QByteArray("\r")
                            << u"D"_s;
    QTest::newRow("CR decimal") << u"ostrel"_s << QList<QByteArray>{"\r"} << 0 << QByteArray("\r")
                                << u"13"_s;
    QTest::newRow("FF hex") << u"tamsin"_s << QList<QByteArray>{"\xFF"} << 0 << QByteArray("\xFF")
                            << u"FF"_s;
    QTest::newRow("FF decimal") << u"ostrel"_s << QList<QByteArray>{"\xFF"} << 0
                                << QByteArray("\xFF") << u"255"_s;
    QTest::newRow("NUL") << u"quenby"_s << QList<QByteArray>{QByteArray(1, 0)} << 0
                         << QByteArray(1, 0) << u"0"_s;
    for (const char *program : {"ostrel", "marlo", "quenby", "tamsin"})
        QTest::newRow(qPrintable(u"line speed, "_s + QLatin1StringView(program)))
            << QString::fromLatin1(program) << QList<QByteArray>{read} << -1 << read << u"4"_s;
    QTest::newRow("pieces 20 ms apart are one reply")
        << u"marlo"_s << QList<QByteArray>{"01DO", "P1FF"} << 20 << QByteArray("01DOP1FF")
        << u"46"_s;
    QTest::newRow("half a second apart, the later replaces")
        << u"marlo"_s << QList<QByteArray>{"OK1", "OK2"} << 500 << QByteArray("OK2") << u"32"_s;
    QTest::newRow("an endless stream shows its last 4096 bytes")
        << u"quenby"_s << QList<QByteArray>{QByteArray(6000, 'a') + QByteArray(4000, 'b')} << 0
        << QByteArray(96, 'a') + QByteArray(4000, 'b') << u"62"_s;
}

void TestWindows::replies()
{
    QFETCH(QString, program);
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, gapMs);
    QFETCH(QByteArray, text1);
    QFETCH(QString, text6);

    TwoPorts ports(gapMs < 0 ? PtyDevice::Pace::LineSpeed : PtyDevice::Pace::Instant);
    auto window = openConsole(program);
    PtyDevice &device = ports.com(window->serialControl().commPort());
    for (const QByteArray &piece : pieces) {
        device.write(piece);
        QVERIFY(device.waitForWritten());
        QTest::qWait(std::max(gapMs, 0));
    }
    QTRY_COMPARE(box(*window, "Text1")->text(), CodePage::fromBytes(text1));
    QCOMPARE(box(*window, "Text6")->text(), text6);
}

void TestWindows::onlyTamsinShowsOnEveryEvent()
{
    TwoPorts ports;
    auto tamsin = openConsole(u"tamsin"_s);
    auto quenby = openConsole(u"quenby"_s);
    for (auto *window : {tamsin.get(), quenby.get()}) {
        setText(*window, "Text1", u"earlier"_s);
        // A pseudo-terminal has no modem lines: raise the change a UART reports.
        window->serialControl().raiseEvent(SerialControl::CtsChange);
    }
    QCOMPARE(box(*tamsin, "Text1")->text(), QString());
    QCOMPARE(box(*quenby, "Text1")->text(), u"earlier"_s);
}

void TestWindows::returnAndEnterClickTheFocusedButton()
{
    TwoPorts ports;
    auto window = openConsole(u"quenby"_s);
    QCOMPARE(window->focusWidget()->objectName(), u"Command1"_s);
    QTest::keyClick(window->focusWidget(), Qt::Key_Return);
    QTest::keyClick(window->focusWidget(), Qt::Key_Enter);
    const QByteArray factory = Frames::secondGenerationFrame(u"FFTO0130202");
    QVERIFY(ports.com1.waitForBytes(2 * factory.size()));
    QCOMPARE(ports.com1.received(), factory + factory);
}

void TestWindows::endLetsTheCommandOnTheLineFinishAndDropsTheRest_data()
{
    QTest::addColumn<QString>("scenario"); // program|box|text|button|clicks
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("received");

    const QString longText(400, u'W');
    const QByteArray longFrame = Frames::secondGenerationFrame(longText);
    QTest::newRow("quenby: a long write, another clicked behind it")
        << u"quenby|Text3|%1|Command4|2"_s.arg(longText) << 1 << longFrame;
    QTest::newRow("tamsin: in the wait after a read")
        << u"tamsin|Text5||Command2|1"_s << 2 << Frames::secondGenerationFrame(u"01ZR0008");
    QTest::newRow("marlo: a long ON command on the line")
        << u"marlo|Text2|%1|Command1|1"_s.arg(longText) << 2 << longFrame;
    QTest::newRow("dunwell: in the wait after ON")
        << u"dunwell|Text2||Command1|1"_s << 1 << Frames::secondGenerationFrame(u"01DOP1FF");
}

void TestWindows::endLetsTheCommandOnTheLineFinishAndDropsTheRest()
{
    QFETCH(QString, scenario);
    QFETCH(int, port);
    QFETCH(QByteArray, received);

    TwoPorts ports(PtyDevice::Pace::LineSpeed);
    const ChildRun child = runChild(scenario);
    QVERIFY(child.finished);
    QCOMPARE(child.exitCode, 0);
    QVERIFY(ports.com(port).waitForBytes(received.size()));
    QTest::qWait(100);
    QCOMPARE(ports.com(port).received(), received);
}

void TestWindows::closingEndsWhatRunsAndReleasesThePort_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QByteArray>("received");

    QTest::newRow("marlo in a pattern")
        << u"marlo"_s << QByteArray("Command1") << Frames::secondGenerationFrame(u"01DOP1FF");
    QTest::newRow("quenby in a wait") << u"quenby"_s << QByteArray("Command4")
                                      << Frames::secondGenerationFrame(u"01ZW00ABCDEFGH");
    QTest::newRow("ostrel in a frame, a value clicked behind it")
        << u"ostrel"_s << QByteArray("Command1")
        << Frames::firstGenerationFrame(1, u"0123456789", 65);
}

void TestWindows::closingEndsWhatRunsAndReleasesThePort()
{
    QFETCH(QString, program);
    QFETCH(QByteArray, button);
    QFETCH(QByteArray, received);

    TwoPorts ports;
    auto window = openConsole(program);
    const bool ostrel = program == u"ostrel";
    if (ostrel) {
        setText(*window, "Text2", u"0123456789"_s);
        setText(*window, "Text3", u"65"_s);
        setText(*window, "Text5", u"1"_s);
    }
    QTimer::singleShot(5, window.get(), [&] {
        if (ostrel)
            click(*window, "Command2");
        window->close();
    });
    click(*window, button); // returns once the close has ended what it started
    QVERIFY(window->isHidden());
    QVERIFY(!window->serialControl().portOpen());
    PtyDevice &device = ports.com(window->serialControl().commPort());
    QVERIFY(device.waitForBytes(received.size()));
    QTest::qWait(100);
    QCOMPARE(device.received(), received);
}

CONSOLE_TEST_MAIN(TestWindows, childMain)
#include "tst_windows.moc"
