#include "application.h"
#include "childprocess.h"
#include "expectedlayouts.h"
#include "form1.h"
#include "frames.h"
#include "testapp.h"
#include "twoports.h"
#include "windowcheck.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

const Program kMarlo{"marlo", 2, ReplyVariant::SecondGeneration};
const Program kDunwell{"dunwell", 1, ReplyVariant::SecondGeneration};

QLineEdit *box(QWidget &form, const QString &name)
{
    return form.findChild<QLineEdit *>(name);
}

QPushButton *button(QWidget &form, const QString &name)
{
    return form.findChild<QPushButton *>(name);
}

void click(QWidget &form, const QString &name)
{
    QTest::mouseClick(button(form, name), Qt::LeftButton);
}

using Arrival = PtyDevice::Arrival;

// Behaviour that must happen "at once" is told from behaviour held back for a
// 200 ms step with this much room for a loaded machine; speed is the benchmarks' job.
constexpr qint64 kWellInsideAStepMs = 100;

QList<QByteArray> framesOf(const QStringList &commands)
{
    QList<QByteArray> out;
    for (const QString &command : commands)
        out << Frames::secondGenerationFrame(command);
    return out;
}

// The command texts of the running light with the initial prefix, from its first.
QStringList runningLight(int count, const QString &prefix = QStringLiteral("01DOP0"))
{
    const char *suffixes[] = {"01", "02", "04", "08", "10", "20", "40", "80"};
    QStringList out;
    for (int i = 0; out.size() < count; ++i)
        out << prefix + QLatin1StringView(i % 2 ? "00" : suffixes[(i / 2) % 8]);
    return out;
}

QStringList toggle(int count, const QString &on = QStringLiteral("01DOP1FF"),
                   const QString &off = QStringLiteral("01DOP100"))
{
    QStringList out;
    while (out.size() < count)
        out << (out.size() % 2 ? off : on);
    return out;
}

// Every value Text4 is given, in order.
struct Text4Values : QStringList {
    explicit Text4Values(QWidget &form)
    {
        QObject::connect(box(form, QStringLiteral("Text4")), &QLineEdit::textChanged, &form,
                         [this](const QString &text) { append(text); });
    }
};

// Clicks `buttonName` and lets the pattern it starts run: `tick` is called
// every 2 ms from inside the pattern's waits, and when it returns true the
// window is closed, which must end the pattern and so the click. A pattern
// that ends by itself ends the click too. After `timeoutMs` the window is
// closed as well; a pattern that does not end on the close fails the run.
// Returns whether `tick` asked for the end.
bool runPattern(QWidget &form, const QString &buttonName, const std::function<bool()> &tick,
                int timeoutMs = 15000)
{
    bool finished = false;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &form, [&] {
        if (!finished)
            finished = tick();
        if (finished || clock.hasExpired(timeoutMs)) {
            poll.stop();
            form.close();
        }
    });
    QTimer stuck;
    stuck.setSingleShot(true);
    QObject::connect(&stuck, &QTimer::timeout, &form,
                     [] { qFatal("the pattern did not end when its window closed"); });
    poll.start();
    stuck.start(timeoutMs + 5000);
    click(form, buttonName);
    return finished;
}

bool runUntilFrames(QWidget &form, const QString &buttonName, PtyDevice &device, int count)
{
    return runPattern(form, buttonName, [&] { return device.arrivals().size() >= count; });
}

// The deepest and the shallowest stack frame any click of the form's pattern
// buttons comes from: nested pattern loops push each click deeper. Taken at
// the press, which comes before the click's handler runs.
struct ClickDepth {
    explicit ClickDepth(QWidget &form)
    {
        for (const char *name : {"Command1", "Command2"})
            QObject::connect(button(form, QLatin1StringView(name)), &QPushButton::pressed, &form,
                             [this] { record(); });
    }
    Q_NEVER_INLINE void record()
    {
        const auto here = reinterpret_cast<quintptr>(__builtin_frame_address(0));
        deepest = std::min(deepest, here);
        shallowest = std::max(shallowest, here);
        ++clicks;
        if (span() > kFatalSpan) // before the stack runs out
            qFatal("pattern clicks nest without bound: %zu bytes deep after %d clicks",
                   size_t(span()), clicks);
    }
    quintptr span() const { return clicks ? shallowest - deepest : 0; }

    static constexpr quintptr kFatalSpan = 1024 * 1024;

    quintptr deepest = ~quintptr(0);
    quintptr shallowest = 0;
    int clicks = 0;
};

// Child process: Command3 during the wait after the OFF command of the toggle.
int endDuringPattern()
{
    dio::Form1 form(kMarlo);
    form.Form_Load();
    form.show();
    QTimer::singleShot(300, &form, [&form] { click(form, QStringLiteral("Command3")); });
    click(form, QStringLiteral("Command1"));
    return 3; // the pattern never returns by itself
}

// Child process: the whole program, its window closed while the running light runs.
int closeDuringPattern()
{
    dio::Form1 form(kMarlo);
    QTimer::singleShot(50, &form, [&form] { click(form, QStringLiteral("Command2")); });
    QTimer::singleShot(500, &form, [&form] { form.close(); });
    return runConsole(form);
}

int childMain(const QString &scenario)
{
    setUpTestApplication();
    if (scenario == QStringLiteral("end during pattern"))
        return endDuringPattern();
    if (scenario == QStringLiteral("close during pattern"))
        return closeDuringPattern();
    return 4;
}

} // namespace

class TestDio : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestApplication(); }
    void init();
    void cleanup();

    void layout();
    void eachProgramOpensItsPort_data();
    void eachProgramOpensItsPort();
    void patternsSendTheirCommandsEvery200Ms_data();
    void patternsSendTheirCommandsEvery200Ms();
    void prefixEditTakesEffectAtTheNextCommand();
    void aPatternClickDuringAPatternRestartsAtOnce_data();
    void aPatternClickDuringAPatternRestartsAtOnce();
    void tenThousandAlternatingClicksKeepTheStackBounded();
    void repliesShowWithinMillisecondsAndTheWaitSleeps();
    void portSwitchSendsTheNextCommandToTheNewPort();
    void failedSwitchWarnsThenReportsTheRefusalOnceAndStops();
    void hangUpIsReportedOnceAndStopsThePattern();
    void endButtonEndsTheProcessInsideAWait();
    void closingTheWindowEndsThePatternAndTheProgram();

private:
    void verifyPatternEndsWithTheProcess(const QString &scenario, const QStringList &commands);

    std::unique_ptr<TwoPorts> m_ports;
};

void TestDio::init()
{
    m_ports = std::make_unique<TwoPorts>();
}

void TestDio::cleanup()
{
    m_ports.reset();
}

void TestDio::layout()
{
    dio::Form1 form(kMarlo);
    const QStringList differences = layoutDifferences(&form, {408, 262}, kDioLayout);
    QVERIFY2(differences.isEmpty(), qPrintable(differences.join(u'\n')));
    QCOMPARE(tabOrder(&form),
             QStringList({"Command1", "Text2", "Text3", "Command2", "optCom(1)", "optCom(0)",
                          "Text4", "Text5", "Text6", "Command3", "Text1"}));
    QStringList captions;
    for (const char *name :
         {"Frame1", "Label3", "Label4", "Label1", "Label2(0)", "Label2(1)", "Label2(2)", "Command1",
          "Command3", "Command2", "optCom(0)", "optCom(1)"}) {
        const QObject *control = form.findChild<QObject *>(QLatin1StringView(name));
        const char *property = qstrcmp(name, "Frame1") == 0 ? "title" : "text";
        captions << control->property(property).toString();
    }
    QCOMPARE(captions, QStringList({"请挑选通信端口", "反回HEX数据：", "校验和：",
                                    "反回通信状态结果：", "I/O输出命令ON", "I/O输出命令OFF",
                                    "I/O输出命令闪动", "输出", "结束", "闪动", "COM1", "COM2"}));
    QStringList texts;
    for (const char *name : {"Text1", "Text2", "Text3", "Text4", "Text5", "Text6"})
        texts << box(form, QLatin1StringView(name))->text();
    QCOMPARE(texts, QStringList({"", "01DOP1FF", "01DOP100", "", "01DOP0", ""}));
}

void TestDio::eachProgramOpensItsPort_data()
{
    QTest::addColumn<bool>("isDunwell");
    QTest::newRow("marlo") << false;
    QTest::newRow("dunwell") << true;
}

void TestDio::eachProgramOpensItsPort()
{
    QFETCH(bool, isDunwell);
    PtyDevice &device = isDunwell ? m_ports->com1 : m_ports->com2;
    PtyDevice &other = isDunwell ? m_ports->com2 : m_ports->com1;

    dio::Form1 form(isDunwell ? kDunwell : kMarlo);
    form.Form_Load();
    form.show();
    QCOMPARE(form.serialControl().commPort(), isDunwell ? 1 : 2);
    QVERIFY(runUntilFrames(form, QStringLiteral("Command1"), device, 1));
    QCOMPARE(device.frames(), framesOf({"01DOP1FF"}));
    QVERIFY(!other.waitForBytes(1, 50));
    QVERIFY(!form.serialControl().portOpen());
    QCOMPARE(m_ports->boxes.seen, QStringList());
}

void TestDio::patternsSendTheirCommandsEvery200Ms_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("textBox"); // empty: the initial texts
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QStringList>("text4");

    QTest::newRow("toggle") << "Command1"
                            << ""
                            << "" << framesOf(toggle(6))
                            << QStringList{"33", "85", "33", "85", "33", "85"};
    QTest::newRow("toggle, OFF typed in lower case shows the check on the wire")
        << "Command1"
        << "Text3"
        << "01dop100" << framesOf(toggle(4)) << QStringList{"33", "85", "33", "85"};
    QTest::newRow("toggle, empty ON text")
        << "Command1"
        << "Text2"
        << ""
        << QList<QByteArray>{fromHex("01 20 04"), Frames::secondGenerationFrame(u"01DOP100"),
                             fromHex("01 20 04")}
        << QStringList{"32", "85", "32"};
    // The pass of sixteen and the first command of the next pass.
    QTest::newRow("running light")
        << "Command2"
        << ""
        << "" << framesOf(runningLight(17))
        << QStringList{"85", "84", "86", "84", "88", "84", "92", "84", "85",
                       "84", "86", "84", "88", "84", "92", "84", "85"};
    QTest::newRow("running light, empty prefix")
        << "Command2"
        << "Text5"
        << ""
        << QList<QByteArray>{fromHex("01 30 31 61 04"), fromHex("01 30 30 60 04"),
                             fromHex("01 30 32 62 04"), fromHex("01 30 30 60 04")}
        << QStringList{"97", "96", "98", "96"};
}

void TestDio::patternsSendTheirCommandsEvery200Ms()
{
    QFETCH(QString, button);
    QFETCH(QString, textBox);
    QFETCH(QString, typed);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QStringList, text4);

    dio::Form1 form(kMarlo);
    form.Form_Load();
    form.show();
    if (!textBox.isEmpty()) {
        box(form, textBox)->clear();
        QTest::keyClicks(box(form, textBox), typed);
    }
    Text4Values shown(form);
    const qint64 clickedAt = m_ports->com2.elapsedMs();
    QVERIFY(runUntilFrames(form, button, m_ports->com2, int(sent.size())));

    QCOMPARE(m_ports->com2.frames(), sent);
    QCOMPARE(shown, text4);
    const QList<Arrival> got = m_ports->com2.arrivals();
    // At once means well inside the first step; a command held back for a wait comes a step late.
    QVERIFY2(got.front().atMs - clickedAt < kWellInsideAStepMs,
             "the first command goes out at the click");
    // Arrival times carry the test's own reading delays, a few ms each under load.
    for (qsizetype i = 1; i < got.size(); ++i) {
        const qint64 interval = got[i].atMs - got[i - 1].atMs;
        QVERIFY2(interval >= 150 && interval < 300,
                 qPrintable(QStringLiteral("interval %1: %2 ms").arg(i).arg(interval)));
    }
    if (got.size() > 1) {
        const double mean = double(got.back().atMs - got.front().atMs) / double(got.size() - 1);
        QVERIFY2(mean >= 195, qPrintable(QStringLiteral("mean interval %1 ms").arg(mean)));
    }
    QCOMPARE(m_ports->boxes.seen, QStringList());
}

void TestDio::prefixEditTakesEffectAtTheNextCommand()
{
    dio::Form1 form(kMarlo);
    form.Form_Load();
    form.show();
    bool edited = false;
    QVERIFY(runPattern(form, QStringLiteral("Command2"), [&] {
        const qsizetype count = m_ports->com2.arrivals().size();
        if (count == 5 && !edited) { // in the wait after 01DOP004
            QLineEdit *prefix = box(form, QStringLiteral("Text5"));
            prefix->selectAll();
            QTest::keyClicks(prefix, QStringLiteral("01DOP1"));
            edited = true;
        }
        return count >= 9;
    }));
    QCOMPARE(m_ports->com2.frames(),
             framesOf({"01DOP001", "01DOP000", "01DOP002", "01DOP000", "01DOP004", "01DOP100",
                       "01DOP108", "01DOP100", "01DOP110"}));
}

void TestDio::aPatternClickDuringAPatternRestartsAtOnce_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QStringList>("firstCommands");
    QTest::addColumn<QStringList>("secondCommands");

    QTest::newRow("light stops, toggle starts") << "Command2"
                                                << "Command1" << runningLight(3) << toggle(3);
    QTest::newRow("toggle stops, light starts") << "Command1"
                                                << "Command2" << toggle(3) << runningLight(3);
    QTest::newRow("toggle starts over") << "Command1"
                                        << "Command1" << toggle(3) << toggle(3);
    QTest::newRow("light starts over") << "Command2"
                                       << "Command2" << runningLight(3) << runningLight(3);
}

void TestDio::aPatternClickDuringAPatternRestartsAtOnce()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QStringList, firstCommands);
    QFETCH(QStringList, secondCommands);

    dio::Form1 form(kMarlo);
    form.Form_Load();
    form.show();
    ClickDepth depth(form);
    qint64 clickedAt = -1;
    bool posted = false;
    QVERIFY(runPattern(form, first, [&] {
        const QList<Arrival> got = m_ports->com2.arrivals();
        // 20 ms into the wait after the third command: 180 ms of it are left.
        // The click comes as an event of its own, as the operator's would.
        if (!posted && got.size() == 3 && m_ports->com2.elapsedMs() - got.back().atMs >= 20) {
            posted = true;
            QMetaObject::invokeMethod(
                &form,
                [&] {
                    clickedAt = m_ports->com2.elapsedMs();
                    click(form, second);
                },
                Qt::QueuedConnection);
        }
        return got.size() >= 6;
    }));

    QCOMPARE(m_ports->com2.frames(), framesOf(firstCommands + secondCommands));
    const QList<Arrival> got = m_ports->com2.arrivals();
    QVERIFY2(got[3].atMs - clickedAt < kWellInsideAStepMs, "the clicked pattern starts at once");
    QVERIFY(got[4].atMs - got[3].atMs >= 150);
    QCOMPARE(box(form, QStringLiteral("Text4"))->text(),
             QString::number(Frames::checkCharCode(secondCommands.back())));
    QCOMPARE(depth.clicks, 2);
    QVERIFY2(depth.span() < 64 * 1024, qPrintable(QString::number(depth.span())));
}

void TestDio::tenThousandAlternatingClicksKeepTheStackBounded()
{
    dio::Form1 form(kMarlo);
    form.Form_Load();
    form.show();
    ClickDepth depth(form);
    QPushButton *buttons[] = {button(form, QStringLiteral("Command1")),
                              button(form, QStringLiteral("Command2"))};
    // Each burst is posted at once, so all its clicks come within one wait and
    // only its last click's pattern starts; then it runs on.
    const auto burst = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            QMetaObject::invokeMethod(buttons[i % 2], &QAbstractButton::click,
                                      Qt::QueuedConnection);
    };
    bool first = false, second = false;
    QVERIFY(runPattern(form, QStringLiteral("Command1"), [&] {
        const qsizetype count = m_ports->com2.arrivals().size();
        if (count == 1 && !first) {
            burst(1, 5001); // ends with Command1: the toggle over again
            first = true;
        } else if (count == 4 && !second) {
            burst(5001, 10000); // ends with Command2: the running light
            second = true;
        }
        return count >= 7;
    }));

    QCOMPARE(depth.clicks, 10000);
    QVERIFY2(depth.span() < 64 * 1024,
             qPrintable(QStringLiteral("clicks spread over %1 bytes of stack").arg(depth.span())));
    QCOMPARE(m_ports->com2.frames(),
             framesOf(QStringList{"01DOP1FF"} + toggle(3) + runningLight(3)));
    QCOMPARE(m_ports->boxes.seen, QStringList());
}

void TestDio::repliesShowWithinMillisecondsAndTheWaitSleeps()
{
    dio::Form1 form(kMarlo);
    form.Form_Load();
    form.show();
    qint64 repliedAt = -1, shownAt = -1;
    QObject::connect(box(form, QStringLiteral("Text1")), &QLineEdit::textChanged, &form,
                     [&] { shownAt = m_ports->com2.elapsedMs(); });
    const double cpuBefore = cpuMs();
    QElapsedTimer wall;
    wall.start();
    QVERIFY(runPattern(form, QStringLiteral("Command1"), [&] {
        const qsizetype count = m_ports->com2.arrivals().size();
        if (count == 2 && repliedAt < 0) {
            repliedAt = m_ports->com2.elapsedMs();
            m_ports->com2.write("OK");
        }
        return count >= 6;
    }));
    const double cpu = cpuMs() - cpuBefore;

    QVERIFY(shownAt >= repliedAt);
    // The reply came just after a command: shown only when the wait ended, it would be a step late.
    QVERIFY2(shownAt - repliedAt < kWellInsideAStepMs,
             qPrintable(QString::number(shownAt - repliedAt)));
    QCOMPARE(box(form, QStringLiteral("Text1"))->text(), QStringLiteral("OK"));
    QCOMPARE(box(form, QStringLiteral("Text6"))->text(), QStringLiteral("4B"));
    // A polling wait takes the whole second; this one sleeps.
    QVERIFY2(cpu < wall.elapsed() / 4.0,
             qPrintable(QStringLiteral("%1 ms of CPU in %2 ms").arg(cpu).arg(wall.elapsed())));
}

void TestDio::portSwitchSendsTheNextCommandToTheNewPort()
{
    dio::Form1 form(kDunwell);
    form.Form_Load();
    form.show();
    bool switched = false;
    QVERIFY(runPattern(form, QStringLiteral("Command1"), [&] {
        if (m_ports->com1.arrivals().size() == 2 && !switched) {
            clickOption(form.findChild<QRadioButton *>(QStringLiteral("optCom(1)")));
            switched = true;
        }
        return m_ports->com2.arrivals().size() >= 3;
    }));

    QCOMPARE(m_ports->com1.frames(), framesOf(toggle(2)));
    QCOMPARE(m_ports->com2.frames(), framesOf(toggle(3))); // the cycle goes on where it stood
    const qint64 gap = m_ports->com2.arrivals().front().atMs - m_ports->com1.arrivals().back().atMs;
    QVERIFY2(gap >= 150 && gap < 300, qPrintable(QString::number(gap)));
    QCOMPARE(m_ports->boxes.seen, QStringList());
}

void TestDio::failedSwitchWarnsThenReportsTheRefusalOnceAndStops()
{
    dio::Form1 form(kDunwell);
    form.Form_Load();
    form.show();
    qputenv("COMM_COM2", "/dev/pts/no-such-device");
    bool switched = false;
    QVERIFY(!runPattern(
        form, QStringLiteral("Command1"),
        [&] {
            if (m_ports->com1.arrivals().size() == 2 && !switched) {
                clickOption(form.findChild<QRadioButton *>(QStringLiteral("optCom(1)")));
                switched = true;
            }
            return false;
        },
        3000));
    QVERIFY2(form.isVisible(), "the pattern stops by itself, before the window is closed");

    QTest::qWait(600);
    QCOMPARE(m_ports->boxes.seen,
             (QStringList{QStringLiteral("系统信息|串行端口2已被其它设备所使用！"),
                          QStringLiteral("系统信息|串行端口2未打开，命令未发送！")}));
    QCOMPARE(m_ports->com1.frames(), framesOf(toggle(2)));
    QCOMPARE(box(form, QStringLiteral("Text4"))->text(), QStringLiteral("85"));
}

void TestDio::hangUpIsReportedOnceAndStopsThePattern()
{
    dio::Form1 form(kMarlo);
    form.Form_Load();
    form.show();
    bool hungUp = false;
    QVERIFY(!runPattern(
        form, QStringLiteral("Command2"),
        [&] {
            if (m_ports->com2.arrivals().size() == 2 && !hungUp) {
                m_ports->com2.hangUp();
                hungUp = true;
            }
            return false;
        },
        3000));
    QVERIFY2(form.isVisible(), "the pattern stops by itself, before the window is closed");
    QCOMPARE(m_ports->boxes.seen, QStringList{QStringLiteral("系统信息|串行端口2已断开！")});

    double spent = 0;
    QVERIFY2(staysQuiet(&spent), qPrintable(QStringLiteral("%1 ms of CPU").arg(spent)));
    QCOMPARE(m_ports->boxes.seen.size(), 1);
}

void TestDio::endButtonEndsTheProcessInsideAWait()
{
    verifyPatternEndsWithTheProcess(QStringLiteral("end during pattern"), toggle(2));
}

void TestDio::closingTheWindowEndsThePatternAndTheProgram()
{
    verifyPatternEndsWithTheProcess(QStringLiteral("close during pattern"), runningLight(3));
}

// The child ends by itself with status 0, and the device got exactly `commands`.
void TestDio::verifyPatternEndsWithTheProcess(const QString &scenario, const QStringList &commands)
{
    const ChildRun child = runChild(scenario);
    QVERIFY2(child.finished, child.output.constData());
    QCOMPARE(child.status, QProcess::NormalExit);
    QCOMPARE(child.exitCode, 0);
    const QList<QByteArray> expected = framesOf(commands);
    QVERIFY(m_ports->com2.waitForBytes(expected.join().size()));
    QTest::qWait(500); // anything sent after the end would arrive meanwhile
    QCOMPARE(m_ports->com2.frames(), expected);
}

CONSOLE_TEST_MAIN(TestDio, childMain)
#include "tst_dio.moc"
