// The digital-output console's two endless patterns, timed at the device.
#include "frames.h"
#include "harness.h"

namespace {

using Edit = std::function<void(QWidget &)>;
using AtFrame = std::function<void(QWidget &, int frame)>;

struct Run {
    QList<PtyDevice::Arrival> arrivals;
    QList<int> text4; // as each command arrived
};

// Clicks `button` and lets the pattern run until `count` commands have
// arrived at COM2; `atFrame` runs with 0 before the click and then from
// inside the pattern's waits as each arrives. Closing the window ends it.
Run runPattern(TwoPorts &ports, QWidget &window, const char *button, int count,
               const AtFrame &atFrame = {})
{
    QTimer tick;
    int seen = 0;
    Run run;
    QObject::connect(&tick, &QTimer::timeout, &window, [&] {
        for (const qsizetype n = ports.com2.arrivals().size(); seen < n;) {
            ++seen;
            run.text4 << box(window, "Text4")->text().toInt();
            if (atFrame)
                atFrame(window, seen);
        }
        if (seen >= count)
            window.close();
    });
    tick.start(2);
    if (atFrame)
        atFrame(window, 0);
    click(window, button);
    run.arrivals = ports.com2.arrivals().first(count);
    return run;
}

QStringList light(const QString &prefix, int steps)
{
    QStringList out;
    for (int i = 0; i < steps; ++i)
        out << prefix + u"%1"_s.arg(1 << (i % 8), 2, 16, QChar(u'0')) << prefix + u"00"_s;
    return out;
}

} // namespace

class TestDio : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestApplication(); }
    void patterns_data();
    void patterns();
    void tenThousandClicksKeepOnePatternLoop();
    void aLongCommandSetsTheCadenceAndNothingQueuesBehindIt();
};

void TestDio::patterns_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<AtFrame>("atFrame");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QList<int>>("text4");
    QTest::addColumn<int>("atOnce"); // the command that follows a click without a step; 0 for none

    const auto set = [](const char *name, const QString &text) {
        return AtFrame([=](QWidget &w, int) { setText(w, name, text); });
    };
    const auto clickAt = [](int frame, const char *button) {
        return AtFrame([=](QWidget &w, int n) {
            if (n == frame)
                click(w, button);
        });
    };
    QTest::newRow("toggle") << QByteArray("Command1") << AtFrame()
                            << QStringList{"01DOP1FF", "01DOP100", "01DOP1FF", "01DOP100"}
                            << QList<int>{33, 85, 33, 85} << 0;
    QTest::newRow("running light, a pass and the next start")
        << QByteArray("Command2") << AtFrame() << light(u"01DOP0"_s, 9)
        << QList<int>{85, 84, 86, 84, 88, 84, 92, 84, 85, 84, 86, 84, 88, 84, 92, 84, 85} << 0;
    QTest::newRow("prefix edited after 01DOP004")
        << QByteArray("Command2") << AtFrame([](QWidget &w, int n) {
               if (n == 5)
                   setText(w, "Text5", u"01DOP1"_s);
           })
        << QStringList{"01DOP001", "01DOP000", "01DOP002", "01DOP000", "01DOP004",
                       "01DOP100", "01DOP108", "01DOP100", "01DOP110"}
        << QList<int>{85, 84, 86, 84, 88, 85, 93, 85, 86} << 0;
    QTest::newRow("empty prefix") << QByteArray("Command2") << set("Text5", {})
                                  << QStringList{"01", "00", "02"} << QList<int>{97, 96, 98} << 0;
    QTest::newRow("OFF typed in lower case, ON emptied")
        << QByteArray("Command1") << AtFrame([](QWidget &w, int n) {
               setText(w, "Text3", u"01dop100"_s);
               if (n == 1)
                   setText(w, "Text2", {});
           })
        << QStringList{"01DOP1FF", "01DOP100", "", "01DOP100"} << QList<int>{33, 85, 32, 85} << 0;
    QTest::newRow("闪动 during the toggle")
        << QByteArray("Command1") << clickAt(2, "Command2")
        << QStringList{"01DOP1FF", "01DOP100", "01DOP001", "01DOP000"} << QList<int>{33, 85, 85, 84}
        << 2;
    QTest::newRow("闪动 again restarts the light")
        << QByteArray("Command2") << clickAt(3, "Command2")
        << QStringList{"01DOP001", "01DOP000", "01DOP002", "01DOP001", "01DOP000"}
        << QList<int>{85, 84, 86, 85, 84} << 3;
}

void TestDio::patterns()
{
    QFETCH(QByteArray, button);
    QFETCH(AtFrame, atFrame);
    QFETCH(QStringList, commands);
    QFETCH(QList<int>, text4);
    QFETCH(int, atOnce);

    TwoPorts ports;
    auto window = openConsole(u"marlo"_s);
    const Run run = runPattern(ports, *window, button, int(commands.size()), atFrame);
    const QList<PtyDevice::Arrival> &arrivals = run.arrivals;
    for (int i = 0; i < commands.size(); ++i) {
        QCOMPARE(arrivals[i].bytes, Frames::secondGenerationFrame(commands[i]));
        if (i == 0)
            continue;
        const qint64 step = arrivals[i].atMs - arrivals[i - 1].atMs;
        // The device stamps a frame when it reads it, a few ms late on a loaded machine:
        // enough to tell 0, 200 and 400 apart.
        if (i == atOnce)
            QVERIFY2(step < 100,
                     qPrintable(u"command %1 came %2 ms after the last"_s.arg(i).arg(step)));
        else
            QVERIFY2(step >= 190 && step < 300, qPrintable(u"step %1: %2 ms"_s.arg(i).arg(step)));
    }
    QCOMPARE(run.text4.first(text4.size()), text4);
}

void TestDio::tenThousandClicksKeepOnePatternLoop()
{
    TwoPorts ports;
    auto window = openConsole(u"dunwell"_s);
    int clicks = 0;
    QTimer clicker;
    connect(&clicker, &QTimer::timeout, this, [&] {
        // Each click lands inside the running pattern's wait; nested loops
        // would need ten thousand stack frames of waits.
        click(*window, ++clicks % 2 ? "Command1" : "Command2");
        if (clicks < 10'000)
            return;
        clicker.stop();
        QTimer::singleShot(300, window.get(), [&] { window->close(); });
    });
    clicker.start(0);
    click(*window, "Command1");
    QCOMPARE(clicks, 10'000);
    // The last click's pattern runs: the light's first two commands, a step apart.
    QTest::qWait(50);
    const QList<PtyDevice::Arrival> last = ports.com1.arrivals().last(2);
    QCOMPARE(last[0].bytes, Frames::secondGenerationFrame(u"01DOP001"));
    QCOMPARE(last[1].bytes, Frames::secondGenerationFrame(u"01DOP000"));
}

void TestDio::aLongCommandSetsTheCadenceAndNothingQueuesBehindIt()
{
    TwoPorts ports;
    auto window = openConsole(u"marlo"_s);
    const QString on(300, u'N'); // 316 ms on a 9600-baud line
    setText(*window, "Text2", on);
    qsizetype mostWaiting = 0;
    connect(box(*window, "Text4"), &QLineEdit::textChanged, this,
            [&] { mostWaiting = std::max(mostWaiting, window->serialControl().outBufferCount()); });
    const QList<PtyDevice::Arrival> arrivals = runPattern(ports, *window, "Command1", 4).arrivals;
    QCOMPARE(arrivals[2].bytes, Frames::secondGenerationFrame(on));
    QVERIFY2(arrivals[1].atMs - arrivals[0].atMs >= 310, "OFF left before ON was on the line");
    QVERIFY2(arrivals[3].atMs - arrivals[2].atMs >= 310, "OFF left before ON was on the line");
    QCOMPARE(mostWaiting, 0);
}

QTEST_MAIN(TestDio)
#include "tst_dio.moc"
