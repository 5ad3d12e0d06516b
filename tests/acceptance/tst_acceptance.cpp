// The built programs in real windows on a private X display, driven the way
// an operator drives them: clicks at the controls' places, typed text, text
// read back through the clipboard, every byte checked at the device end.
#include "expectedlayouts.h"
#include "frames.h"
#include "ptydevice.h"
#include "xsession.h"

#include <QDir>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTest>

namespace {

// A click, and what the device and Text4 then show; or the warning it gives
// instead, with nothing on the wire. A pattern goes on sending: its first
// commands must arrive, and Text4 shows one of their check values ("33|85").
struct Send {
    const char *button;
    QByteArray frame;
    QString text4;
    QString warning = {};
};

// Texts typed over boxes' initial texts, then a click.
struct Edit {
    std::vector<std::pair<const char *, QString>> typed;
    Send send;
};

struct Console {
    QString path;
    int startPort;
    int replyBase; // how Text6 shows the last reply byte
    bool hasEndButton;
    bool endless; // its buttons start patterns that go on sending
    const std::vector<ExpectedControl> *layout;
    std::vector<Send> initialSends;
    std::vector<Edit> edits;
};

QByteArray frame2(const char *text)
{
    return Frames::secondGenerationFrame(QString::fromLatin1(text));
}

const QMap<QString, Console> &consoles()
{
    static const QMap<QString, Console> all = [] {
        QMap<QString, Console> map;
        const Console memory{{},
                             1,
                             16,
                             true,
                             false,
                             &kMemoryLayout,
                             {{"Command1", frame2("FFTO0130202"), QStringLiteral("39")},
                              {"Command4", frame2("01ZW00ABCDEFGH"), QStringLiteral("54")},
                              {"Command2", frame2("01ZR0008"), QStringLiteral("85")}},
                             {{{{"Text5", QStringLiteral("01zr0008")}},
                               {"Command2", frame2("01ZR0008"), QStringLiteral("85")}}}};
        const Console ostrel{
            QStringLiteral(OSTREL_PATH),
            2,
            10,
            false,
            false,
            &kOstrelLayout,
            // Every box starts empty, and an empty number is no number.
            {{"Command1", {}, {}, QStringLiteral("地址值必须是0到255之间的整数！")},
             {"Command2", {}, {}, QStringLiteral("输入值必须是0到255之间的整数！")}},
            {{{{"Text5", QStringLiteral("1")},
               {"Text2", QStringLiteral("01DOP1FF")},
               {"Text3", QStringLiteral("0")}},
              {"Command1", Frames::firstGenerationFrame(1, u"01DOP1FF", 0), QStringLiteral("1")}},
             {{{"Text3", QStringLiteral("65")}}, {"Command2", "A", {}}}}};
        map.insert(QStringLiteral("ostrel"), ostrel);
        const auto checks = [](std::initializer_list<const char *> commands) {
            QStringList values;
            for (const char *command : commands)
                values << QString::number(Frames::checkCharCode(QString::fromLatin1(command)));
            return values.join(u'|');
        };
        Console marlo{QStringLiteral(MARLO_PATH),
                      2,
                      16,
                      true,
                      true,
                      &kDioLayout,
                      {{"Command1", frame2("01DOP1FF") + frame2("01DOP100"),
                        checks({"01DOP1FF", "01DOP100"})},
                       {"Command2", frame2("01DOP001") + frame2("01DOP000"),
                        checks({"01DOP001", "01DOP000"})}},
                      {{{{"Text2", QStringLiteral("01dop1f0")}},
                        {"Command1", frame2("01DOP1F0") + frame2("01DOP100"),
                         checks({"01DOP1F0", "01DOP100"})}},
                       {{{"Text5", QStringLiteral("01dop1")}},
                        {"Command2", frame2("01DOP101") + frame2("01DOP100"),
                         checks({"01DOP101", "01DOP100"})}}}};
        Console dunwell = marlo;
        dunwell.path = QStringLiteral(DUNWELL_PATH);
        dunwell.startPort = 1;
        map.insert(QStringLiteral("marlo"), marlo);
        map.insert(QStringLiteral("dunwell"), dunwell);
        Console quenby = memory;
        quenby.path = QStringLiteral(QUENBY_PATH);
        Console tamsin = memory;
        tamsin.path = QStringLiteral(TAMSIN_PATH);
        tamsin.startPort = 2;
        map.insert(QStringLiteral("quenby"), quenby);
        map.insert(QStringLiteral("tamsin"), tamsin);
        return map;
    }();
    return all;
}

// Dark pixels in an option button's indicator: the selected one has its dot.
int indicatorInk(const QImage &window, QRect option)
{
    int dark = 0;
    for (int y = option.top(); y <= option.bottom(); ++y) {
        for (int x = option.left(); x < option.left() + option.height(); ++x)
            dark += qGray(window.pixel(x, y)) < 96;
    }
    return dark;
}

} // namespace

class TestAcceptance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void startsOnItsPortWithItsOptionShown_data() { programs(); }
    void startsOnItsPortWithItsOptionShown();
    void everyButtonSendsItsInitialText_data() { programs(); }
    void everyButtonSendsItsInitialText();
    void aTypedCommandGoesOutAsTyped_data() { programs(); }
    void aTypedCommandGoesOutAsTyped();
    void aReplyIsShown_data() { programs(); }
    void aReplyIsShown();
    void aHeldPortIsReportedBeforeTheWindow_data() { programs(); }
    void aHeldPortIsReportedBeforeTheWindow();
    void aMissingPortIsReportedAtASwitch_data() { programs(); }
    void aMissingPortIsReportedAtASwitch();
    void theEndButtonEndsTheProcess_data() { programs(); }
    void theEndButtonEndsTheProcess();
    void closingTheWindowReleasesThePort_data() { programs(); }
    void closingTheWindowReleasesThePort();

private:
    void programs();
    // Starts the program with COM1/COM2 on the two devices; 0 when no window came.
    qulonglong start(const Console &console, const QString &com1, const QString &com2);
    qulonglong start(const Console &console)
    {
        return start(console, m_com1->path(), m_com2->path());
    }
    PtyDevice &device(int port) { return port == 1 ? *m_com1 : *m_com2; }
    QPoint at(const Console &console, const char *control) const
    {
        return clickPoint(*console.layout, control);
    }
    bool endsWithin(int ms) { return m_program.waitForFinished(ms); }
    void type(qulonglong window, const Console &console, const Edit &edit)
    {
        for (const auto &[box, text] : edit.typed)
            m_x->typeInto(window, at(console, box), text);
    }
    // The click of `send`, checked at the device and in the window.
    void verifySend(qulonglong window, const Console &console, const Send &send);

    std::unique_ptr<XSession> m_x;
    std::unique_ptr<PtyDevice> m_com1, m_com2;
    QProcess m_program;
};

void TestAcceptance::initTestCase()
{
    for (const char *tool : {"Xvfb", "xdotool", "xclip", "import"}) {
        if (QStandardPaths::findExecutable(QLatin1StringView(tool)).isEmpty()) {
            if (qEnvironmentVariable("CI") == QStringLiteral("true"))
                QFAIL(qPrintable(QStringLiteral("%1 is missing").arg(QLatin1StringView(tool))));
            QSKIP("Xvfb, xdotool, xclip and imagemagick are needed; ./test installs them");
        }
    }
    m_x = std::make_unique<XSession>();
    QVERIFY2(m_x->isRunning(), "Xvfb did not start");
}

void TestAcceptance::init()
{
    m_com1 = std::make_unique<PtyDevice>();
    m_com2 = std::make_unique<PtyDevice>();
}

void TestAcceptance::cleanup()
{
    if (m_program.state() != QProcess::NotRunning) {
        m_program.kill();
        m_program.waitForFinished();
    }
    m_com1.reset();
    m_com2.reset();
}

void TestAcceptance::programs()
{
    QTest::addColumn<QString>("name");
    for (const QString &name : consoles().keys())
        QTest::newRow(qPrintable(name)) << name;
}

qulonglong TestAcceptance::start(const Console &console, const QString &com1, const QString &com2)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_x->display());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("COMM_COM1"), com1);
    environment.insert(QStringLiteral("COMM_COM2"), com2);
    m_program.setProcessEnvironment(environment);
    m_program.setProcessChannelMode(QProcess::ForwardedChannels);
    m_program.start(console.path, {});
    if (!m_program.waitForStarted())
        return 0;
    return m_x->waitForWindow(m_program.processId(), QStringLiteral("comm"));
}

void TestAcceptance::startsOnItsPortWithItsOptionShown()
{
    QFETCH(QString, name);
    const Console &console = consoles()[name];
    const qulonglong window = start(console);
    QVERIFY(window);

    // A window just mapped may not be painted yet: look until the options differ.
    int com1Ink = 0;
    int com2Ink = 0;
    (void)QTest::qWaitFor(
        [&] {
            const QImage picture = m_x->grab(window);
            com1Ink = indicatorInk(picture, clientRect(*console.layout, "optCom(0)"));
            com2Ink = indicatorInk(picture, clientRect(*console.layout, "optCom(1)"));
            return com1Ink != com2Ink;
        },
        5000);
    QVERIFY2(console.startPort == 1 ? com1Ink > com2Ink : com2Ink > com1Ink,
             qPrintable(QStringLiteral("COM1 %1, COM2 %2 dark pixels").arg(com1Ink).arg(com2Ink)));

    const Edit &edit = console.edits.front();
    type(window, console, edit);
    m_x->click(window, at(console, edit.send.button));
    QVERIFY(device(console.startPort).waitForBytes(edit.send.frame.size()));
    QCOMPARE(device(3 - console.startPort).received(), QByteArray());

    const QString pictures = qEnvironmentVariable("CONSOLE_SCREENSHOTS");
    if (!pictures.isEmpty()) {
        device(console.startPort).write("ACK1");
        QTest::qWait(300);
        QVERIFY(m_x->grab(window).save(QDir(pictures).filePath(name + QStringLiteral(".png"))));
    }
}

void TestAcceptance::everyButtonSendsItsInitialText()
{
    QFETCH(QString, name);
    const Console &console = consoles()[name];
    const qulonglong window = start(console);
    QVERIFY(window);
    for (const Send &send : console.initialSends) {
        verifySend(window, console, send);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestAcceptance::verifySend(qulonglong window, const Console &console, const Send &send)
{
    PtyDevice &line = device(console.startPort);
    line.clear();
    const QString text4Before = m_x->copyFrom(window, at(console, "Text4"));
    m_x->click(window, at(console, send.button));
    if (!send.warning.isEmpty()) {
        const qulonglong warning =
            m_x->waitForWindow(m_program.processId(), QStringLiteral("系统信息"));
        QVERIFY2(warning, send.button);
        m_x->keyTo(warning, QStringLiteral("Return"));
        QVERIFY(!line.waitForBytes(1, 200));
        QCOMPARE(m_x->copyFrom(window, at(console, "Text4")), text4Before);
        return;
    }
    if (console.endless) {
        // The pattern that ran before may still have had a command on its way.
        QVERIFY2(
            QTest::qWaitFor(
                [&] { return line.waitForBytes(1, 10) && line.received().contains(send.frame); },
                5000),
            qPrintable(line.received().toHex(' ')));
    } else {
        QVERIFY2(line.waitForBytes(send.frame.size()), send.button);
        QCOMPARE(line.received(), send.frame);
    }
    const QString text4 = send.text4.isNull() ? text4Before : send.text4;
    const QString shown = m_x->copyFrom(window, at(console, "Text4"));
    QVERIFY2(text4.split(u'|').contains(shown),
             qPrintable(shown + QStringLiteral(" not ") + text4));
}

void TestAcceptance::aTypedCommandGoesOutAsTyped()
{
    QFETCH(QString, name);
    const Console &console = consoles()[name];
    const qulonglong window = start(console);
    QVERIFY(window);
    for (const Edit &edit : console.edits) {
        type(window, console, edit);
        for (const auto &[box, text] : edit.typed)
            QCOMPARE(m_x->copyFrom(window, at(console, box)), text);
        verifySend(window, console, edit.send);
        if (QTest::currentTestFailed())
            return;
    }
}

void TestAcceptance::aReplyIsShown()
{
    QFETCH(QString, name);
    const Console &console = consoles()[name];
    const qulonglong window = start(console);
    QVERIFY(window);
    device(console.startPort).write("ACK1");
    QTRY_COMPARE(m_x->copyFrom(window, at(console, "Text1")), QStringLiteral("ACK1"));
    QCOMPARE(m_x->copyFrom(window, at(console, "Text6")), QString::number('1', console.replyBase));
}

void TestAcceptance::aHeldPortIsReportedBeforeTheWindow()
{
    QFETCH(QString, name);
    const Console &console = consoles()[name];
    QSerialPort holder(device(console.startPort).path());
    QVERIFY(holder.open(QIODevice::ReadWrite));

    QVERIFY(m_program.state() == QProcess::NotRunning);
    start(console, m_com1->path(), m_com2->path());
    const qulonglong warning =
        m_x->waitForWindow(m_program.processId(), QStringLiteral("系统信息"));
    QVERIFY(warning);
    QCOMPARE(m_x->waitForWindow(m_program.processId(), QStringLiteral("comm"), 300), 0ull);
    m_x->keyTo(warning, QStringLiteral("Return"));
    const qulonglong window = m_x->waitForWindow(m_program.processId(), QStringLiteral("comm"));
    QVERIFY(window);

    // The operator picks the other port and goes on.
    const int other = 3 - console.startPort;
    m_x->click(window, at(console, other == 1 ? "optCom(0)" : "optCom(1)"));
    const Edit &edit = console.edits.front();
    type(window, console, edit);
    m_x->click(window, at(console, edit.send.button));
    QVERIFY(device(other).waitForBytes(edit.send.frame.size()));
}

void TestAcceptance::aMissingPortIsReportedAtASwitch()
{
    QFETCH(QString, name);
    const Console &console = consoles()[name];
    const QString missing = QStringLiteral("/dev/pts/no-such-device");
    const qulonglong window = console.startPort == 1 ? start(console, m_com1->path(), missing)
                                                     : start(console, missing, m_com2->path());
    QVERIFY(window);
    m_x->click(window, at(console, console.startPort == 1 ? "optCom(1)" : "optCom(0)"));
    const qulonglong warning =
        m_x->waitForWindow(m_program.processId(), QStringLiteral("系统信息"));
    QVERIFY(warning);
    m_x->keyTo(warning, QStringLiteral("Return"));
    QTRY_COMPARE(m_x->waitForWindow(m_program.processId(), QStringLiteral("系统信息"), 100), 0ull);
}

void TestAcceptance::theEndButtonEndsTheProcess()
{
    QFETCH(QString, name);
    const Console &console = consoles()[name];
    if (!console.hasEndButton)
        QSKIP("this console ends with its window only");
    const qulonglong window = start(console);
    QVERIFY(window);
    m_x->click(window, at(console, "Command3"));
    QVERIFY(endsWithin(5000));
    QCOMPARE(m_program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program.exitCode(), 0);
}

void TestAcceptance::closingTheWindowReleasesThePort()
{
    QFETCH(QString, name);
    const Console &console = consoles()[name];
    const qulonglong window = start(console);
    QVERIFY(window);
    QSerialPort other(device(console.startPort).path());
    QVERIFY(!other.open(QIODevice::ReadWrite));
    m_x->close(window);
    QVERIFY(endsWithin(5000));
    QCOMPARE(m_program.exitCode(), 0);
    QVERIFY(other.open(QIODevice::ReadWrite));
}

QTEST_GUILESS_MAIN(TestAcceptance)
#include "tst_acceptance.moc"
