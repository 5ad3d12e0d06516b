#include "consolewindow.h"
#include "testapp.h"
#include "twoports.h"
#include "windowcheck.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QSerialPort>
#include <QTest>

namespace {

using Layout::Kind;

// The parts of a console window every program shares.
const Layout::Control kControls[] = {
    {"Frame1", Kind::GroupBox, "请挑选通信端口", 360, 120, 2175, 615, {}, 7},
    {"optCom(0)", Kind::Option, "COM1", 240, 240, 855, 252, {}, 9, "Frame1"},
    {"optCom(1)", Kind::Option, "COM2", 1200, 240, 855, 252, {}, 8, "Frame1"},
    {"Text6", Kind::TextBox, "", 2640, 600, 1335, 375, {14.25, true}, 13},
    {"Text4", Kind::TextBox, "", 4320, 600, 1335, 375, {14.25, true}, 10},
    {"Text1", Kind::TextBox, "", 2640, 1080, 3015, 495, {18, true}, 17},
};

class Window : public ConsoleWindow {
public:
    Window(int startPort, ReplyVariant reply)
        : ConsoleWindow({6120, 3930, kControls}, {"test", startPort, reply})
    {
    }
    using ConsoleWindow::beginOperation;
    using ConsoleWindow::send;
    QLineEdit *text(const char *name) const { return control<QLineEdit>(name); }
    QRadioButton *option(int index) const { return optCom[index]; }
};

void clickOption(Window &window, int index)
{
    ::clickOption(window.option(index));
}

} // namespace

class TestConsoleWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestApplication(); }
    void init();
    void cleanup();

    void loadOpensTheStartPortAndShowsIt_data();
    void loadOpensTheStartPortAndShowsIt();
    void loadFailureNamesThePortAndKeepsRunning_data();
    void loadFailureNamesThePortAndKeepsRunning();
    void switchesBothWaysAndReopensTheSamePort();
    void failedSwitchWarnsAndRefusesSends();
    void lostPortIsReportedOnce();
    void sendAfterALossInAnEarlierClickIsReported();
    void unloadClosesThePort();
    void repliesReplaceText1AndText6_data();
    void repliesReplaceText1AndText6();
    void otherEventsShowOnlyWhereEveryEventCounts_data();
    void otherEventsShowOnlyWhereEveryEventCounts();
    void aReplySplitOverTwoReadsShowsTheSecond();

private:
    std::unique_ptr<TwoPorts> m_ports;
};

void TestConsoleWindow::init()
{
    m_ports = std::make_unique<TwoPorts>();
}

void TestConsoleWindow::cleanup()
{
    m_ports.reset();
}

void TestConsoleWindow::loadOpensTheStartPortAndShowsIt_data()
{
    QTest::addColumn<int>("startPort");
    QTest::newRow("COM1") << 1;
    QTest::newRow("COM2") << 2;
}

void TestConsoleWindow::loadOpensTheStartPortAndShowsIt()
{
    QFETCH(int, startPort);
    Window window(startPort, ReplyVariant::SecondGeneration);
    window.Form_Load();
    QVERIFY(window.serialControl().portOpen());
    QCOMPARE(window.serialControl().commPort(), startPort);
    QVERIFY(window.option(startPort - 1)->isChecked());
    QVERIFY(!window.option(2 - startPort)->isChecked());
    QVERIFY(window.send("x"));
    PtyDevice &device = startPort == 1 ? m_ports->com1 : m_ports->com2;
    QVERIFY(device.waitForBytes(1));
    QCOMPARE(m_ports->boxes.seen, QStringList());
}

void TestConsoleWindow::loadFailureNamesThePortAndKeepsRunning_data()
{
    QTest::addColumn<int>("startPort");
    QTest::addColumn<QString>("message");
    QTest::newRow("port 1") << 1 << "系统信息|串行端口1已被其它设备所使用，请选择Com2";
    QTest::newRow("port 2") << 2 << "系统信息|串行端口2已被其它设备所使用，请选择Com1";
}

void TestConsoleWindow::loadFailureNamesThePortAndKeepsRunning()
{
    QFETCH(int, startPort);
    QFETCH(QString, message);
    QSerialPort holder(m_ports->com(startPort).path());
    QVERIFY(holder.open(QIODevice::ReadWrite));

    Window window(startPort, ReplyVariant::SecondGeneration);
    window.Form_Load();
    QCOMPARE(m_ports->boxes.seen, QStringList{message});
    QVERIFY(!window.serialControl().portOpen());
    QVERIFY(window.option(startPort - 1)->isChecked());

    window.show();
    clickOption(window, 2 - startPort);
    QVERIFY(window.serialControl().portOpen());
    QCOMPARE(window.serialControl().commPort(), 3 - startPort);
    QCOMPARE(m_ports->boxes.seen.size(), 1);
}

void TestConsoleWindow::switchesBothWaysAndReopensTheSamePort()
{
    Window window(1, ReplyVariant::SecondGeneration);
    window.Form_Load();
    window.show();

    clickOption(window, 1);
    QVERIFY(window.send("2"));
    clickOption(window, 0);
    QVERIFY(window.send("1"));
    clickOption(window, 0);
    QVERIFY(window.send("1"));

    QVERIFY(m_ports->com1.waitForBytes(2));
    QVERIFY(m_ports->com2.waitForBytes(1));
    QCOMPARE(m_ports->com1.received(), QByteArray("11"));
    QCOMPARE(m_ports->com2.received(), QByteArray("2"));
    QCOMPARE(m_ports->boxes.seen, QStringList());
}

void TestConsoleWindow::failedSwitchWarnsAndRefusesSends()
{
    Window window(1, ReplyVariant::SecondGeneration);
    window.Form_Load();
    window.show();
    qputenv("COMM_COM2", "/dev/pts/no-such-device");

    clickOption(window, 1);
    QVERIFY(window.option(1)->isChecked());
    QVERIFY(!window.serialControl().portOpen());
    QVERIFY(!window.send("x"));
    QCOMPARE(m_ports->boxes.seen,
             (QStringList{QStringLiteral("系统信息|串行端口2已被其它设备所使用！"),
                          QStringLiteral("系统信息|串行端口2未打开，命令未发送！")}));
    QVERIFY(!m_ports->com1.waitForBytes(1, 100));
}

void TestConsoleWindow::lostPortIsReportedOnce()
{
    Window window(2, ReplyVariant::SecondGeneration);
    window.Form_Load();
    window.show();
    const auto operation = window.beginOperation();

    m_ports->com2.hangUp();
    QTRY_COMPARE(m_ports->boxes.seen, QStringList{QStringLiteral("系统信息|串行端口2已断开！")});
    // The pattern or frame that was running when the port went away stops quietly.
    QVERIFY(!window.send("x", operation));
    QTest::qWait(300);
    QCOMPARE(m_ports->boxes.seen.size(), 1);
}

void TestConsoleWindow::sendAfterALossInAnEarlierClickIsReported()
{
    Window window(2, ReplyVariant::SecondGeneration);
    window.Form_Load();
    m_ports->com2.hangUp();
    QTRY_COMPARE(m_ports->boxes.seen.size(), 1);
    QVERIFY(!window.send("x"));
    QCOMPARE(m_ports->boxes.texts().last(), QStringLiteral("串行端口2未打开，命令未发送！"));
}

void TestConsoleWindow::unloadClosesThePort()
{
    auto window = std::make_unique<Window>(1, ReplyVariant::SecondGeneration);
    window->Form_Load();
    window->show();
    QVERIFY(window->send(QByteArray(2000, 'z')));
    window->close();
    QVERIFY(!window->serialControl().portOpen());
    QSerialPort other(m_ports->com1.path());
    QVERIFY(other.open(QIODevice::ReadWrite));
    QVERIFY(m_ports->com1.waitForBytes(2000));
}

void TestConsoleWindow::repliesReplaceText1AndText6_data()
{
    QTest::addColumn<ReplyVariant>("variant");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("text6");

    const auto first = ReplyVariant::FirstGeneration;
    const auto second = ReplyVariant::SecondGeneration;
    const auto every = ReplyVariant::EveryEvent;
    QTest::newRow("AB decimal") << first << QByteArray("AB") << "AB"
                                << "66";
    QTest::newRow("AB hex") << second << QByteArray("AB") << "AB"
                            << "42";
    QTest::newRow("ends with EOT") << every << fromHex("41 04") << u"A\u0004"_qs << "4";
    QTest::newRow("CR hex") << second << fromHex("0D") << "\r"
                            << "D";
    QTest::newRow("CR decimal") << first << fromHex("0D") << "\r"
                                << "13";
    QTest::newRow("FF hex") << every << fromHex("FF") << u"\u00ff"_qs << "FF";
    QTest::newRow("FF decimal") << first << fromHex("FF") << u"\u00ff"_qs << "255";
    QTest::newRow("NUL") << second << fromHex("00") << QString(QChar(0)) << "0";
    QTest::newRow("NUL decimal") << first << fromHex("31 00") << u"1\u0000"_qs << "0";
}

void TestConsoleWindow::repliesReplaceText1AndText6()
{
    QFETCH(ReplyVariant, variant);
    QFETCH(QByteArray, reply);
    QFETCH(QString, text1);
    QFETCH(QString, text6);

    Window window(1, variant);
    window.Form_Load();
    window.text("Text1")->setText(QStringLiteral("earlier reply"));
    m_ports->com1.write(reply);
    QTRY_COMPARE(window.text("Text6")->text(), text6);
    QCOMPARE(window.text("Text1")->text(), text1);
}

void TestConsoleWindow::otherEventsShowOnlyWhereEveryEventCounts_data()
{
    QTest::addColumn<ReplyVariant>("variant");
    QTest::addColumn<QString>("shown");
    QTest::newRow("receive only") << ReplyVariant::SecondGeneration << "before";
    QTest::newRow("every event") << ReplyVariant::EveryEvent << "";
}

void TestConsoleWindow::otherEventsShowOnlyWhereEveryEventCounts()
{
    QFETCH(ReplyVariant, variant);
    QFETCH(QString, shown);

    Window window(1, variant);
    window.Form_Load();
    window.text("Text1")->setText(QStringLiteral("before"));
    // A pseudo-terminal has no modem lines; raise the line change the port would report.
    window.serialControl().raiseEvent(SerialControl::CtsChange);
    QCOMPARE(window.text("Text1")->text(), shown);
}

void TestConsoleWindow::aReplySplitOverTwoReadsShowsTheSecond()
{
    Window window(1, ReplyVariant::SecondGeneration);
    window.Form_Load();
    m_ports->com1.write("OK1");
    QTRY_COMPARE(window.text("Text1")->text(), QStringLiteral("OK1"));
    m_ports->com1.write("23");
    QTRY_COMPARE(window.text("Text1")->text(), QStringLiteral("23"));
    QCOMPARE(window.text("Text6")->text(), QStringLiteral("33"));
}

QTEST_MAIN(TestConsoleWindow)
#include "tst_consolewindow.moc"
