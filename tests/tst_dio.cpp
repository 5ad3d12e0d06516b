// The digital-output console's two endless patterns, timed at the device.
#include "frames.h"
#include "harness.h"

namespace {

using AtFrame = std::function<void(QWidget &, int frame)>;

struct Run {
    QList<PtyDevice::Arrival> arrivals;
    QList<int> text4; // as each command arrived
};

// Clicks `button` and lets the pattern run until `count` commands have reached
// COM2; `atFrame` runs with 0 before the click, then from inside the pattern's
// waits as each command arrives. Closing the window ends the pattern.
Run runPattern(TwoPorts &ports, QWidget &window, const char *button, int count,
               const AtFrame &atFrame = {})
{
    Run run;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &window, [&] {
        while (run.text4.size() < ports.com2.arrivals().size()) {
            run.text4 << box(window, "Text4")->text().toInt();
            if (atFrame)
                atFrame(window, int(run.text4.size()));
        }
        if (run.text4.size() >= count)
            window.close();
    });
    tick.start(2);
    if (atFrame)
        atFrame(window, 0);
    click(window, button);
    run.arrivals = ports.com2.arrivals().first(count);
    return run;
}

AtFrame at(int frame, const std::function<void(QWidget &)> &action)
{
    return [=](QWidget &w, int n) {
        if (n == frame)
            action(w);
    };
}

// clang-format off
// atOnce: the command that follows a click without a step, or -1. Text4
// shows the check of each command as it goes out.
const struct { const char *name; const char *button; AtFrame atFrame; QStringList commands; int atOnce; } kPatterns[] = {
    {"toggle", "Command1", {}, {"01DOP1FF", "01DOP100", "01DOP1FF"}, -1},
    {"running light, a pass and the next start", "Command2", {}, {"01DOP001", "01DOP000", "01DOP002", "01DOP000",
     "01DOP004", "01DOP000", "01DOP008", "01DOP000", "01DOP010", "01DOP000", "01DOP020", "01DOP000", "01DOP040",
     "01DOP000", "01DOP080", "01DOP000", "01DOP001"}, -1},
    {"prefix edited after 01DOP004", "Command2", at(5, [](QWidget &w) { setText(w, "Text5", u"01DOP1"_s); }),
     {"01DOP001", "01DOP000", "01DOP002", "01DOP000", "01DOP004", "01DOP100", "01DOP108", "01DOP100", "01DOP110"}, -1},
    {"empty prefix", "Command2", at(0, [](QWidget &w) { setText(w, "Text5", {}); }), {"01", "00", "02"}, -1},
    {"OFF in lower case", "Command1", at(0, [](QWidget &w) { setText(w, "Text3", u"01dop100"_s); }),
     {"01DOP1FF", "01DOP100", "01DOP1FF"}, -1},
    {"ON emptied after the first", "Command1", at(1, [](QWidget &w) { setText(w, "Text2", {}); }),
     {"01DOP1FF", "01DOP100", ""}, -1},
    {"闪动 during the toggle", "Command1", at(2, [](QWidget &w) { click(w, "Command2"); }),
     {"01DOP1FF", "01DOP100", "01DOP001", "01DOP000"}, 2},
};
// clang-format on

} // namespace

class TestDio : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void patterns_data() { useRows(kPatterns); }
    void patterns()
    {
        const auto &row = currentRow(kPatterns);
        TwoPorts ports;
        auto window = openConsole(u"marlo"_s);
        const Run run =
            runPattern(ports, *window, row.button, int(row.commands.size()), row.atFrame);
        for (int i = 0; i < row.commands.size(); ++i) {
            const QByteArray frame = Frames::secondGenerationFrame(row.commands[i]);
            QCOMPARE(run.arrivals[i].bytes, frame);
            QCOMPARE(run.text4[i], int(frame.at(frame.size() - 2)));
            const qint64 step = i ? msBetween(run.arrivals[i - 1], run.arrivals[i]) : 200;
            // Stamped when the device reads it, a few ms late on a loaded machine:
            // enough to tell 0, 200 and 400 ms apart.
            QVERIFY2(i == row.atOnce ? step < 100 : step >= 150 && step < 300,
                     qPrintable(u"step %1: %2 ms"_s.arg(i).arg(step)));
        }
    }

    void tenThousandClicksKeepOnePatternLoop()
    {
        TwoPorts ports;
        auto window = openConsole(u"dunwell"_s);
        // Nested pattern loops would need ten thousand stack frames of waits.
        clickRepeatedly(
            *window, 10'000, [](int i) { return i % 2 ? "Command2" : "Command1"; },
            [&] { QTimer::singleShot(300, window.get(), [&] { window->close(); }); });
        click(*window, "Command1");
        QTest::qWait(50);
        // The last click's pattern runs: the light's first two commands, a step apart.
        QVERIFY(ports.com1.received().endsWith(Frames::secondGenerationFrame(u"01DOP001")
                                               + Frames::secondGenerationFrame(u"01DOP000")));
    }

    void aLongCommandSetsTheCadenceAndNothingQueuesBehindIt()
    {
        TwoPorts ports;
        auto window = openConsole(u"marlo"_s);
        const QString on(300, u'N'); // 316 ms on a 9600-baud line
        setText(*window, "Text2", on);
        qsizetype mostWaiting = 0;
        connect(box(*window, "Text4"), &QLineEdit::textChanged, this, [&] {
            mostWaiting = std::max(mostWaiting, window->serialControl().outBufferCount());
        });
        const QList<PtyDevice::Arrival> arrivals =
            runPattern(ports, *window, "Command1", 4).arrivals;
        QCOMPARE(arrivals[2].bytes, Frames::secondGenerationFrame(on));
        QVERIFY2(msBetween(arrivals[0], arrivals[1]) >= 310, "OFF left before ON was on the line");
        QVERIFY2(msBetween(arrivals[2], arrivals[3]) >= 310, "OFF left before ON was on the line");
        QCOMPARE(mostWaiting, 0);
    }
};

CONSOLE_TEST_MAIN(TestDio)
#include "tst_dio.moc"
