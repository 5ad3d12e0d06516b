// The idle line between two frames clicked in one handler pass: the
// memory-module console sends its factory setting twice, and the device, which
// takes bytes off the line at 9600 baud, times the quiet between the last byte
// of the first frame and the first byte of the second. A console that hands
// over the next write in time leaves no gap; one character time is the scale.
#include "application.h"
#include "benchtable.h"
#include "form1.h"
#include "frames.h"
#include "line.h"
#include "programs.h"
#include "ptydevice.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <functional>

namespace {

constexpr int kPairs = 100;
constexpr int kWarmUpPairs = 2;
constexpr int kIdleMs = 50;
constexpr int kTimeoutMs = 2000;

// Runs the event loop, sleeping in it, until `done` or the time is up.
void runEventsUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    QTimer wake;
    wake.setTimerType(Qt::PreciseTimer);
    wake.setSingleShot(true);
    wake.start(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Program program = programRow(QStringLiteral("quenby")).program;
    setUpApplication(app, program);

    // Each frame wakes the event loop below, which only then looks at the device.
    const auto wake = [&app](const QByteArray &, PtyDevice::TimePoint) {
        QCoreApplication::postEvent(&app, new QEvent(QEvent::User));
    };
    PtyDevice device(PtyDevice::Pace::LineSpeed, wake);
    setStartDevice(program, device.path());
    memory::Form1 form(program);
    form.Form_Load();
    if (!form.serialControl().portOpen())
        qFatal("bench_gap: cannot open %s", qPrintable(device.path()));

    const QString command = form.findChild<QLineEdit *>(QStringLiteral("Text2"))->text();
    const QByteArray frame = Frames::secondGenerationFrame(command);
    const QByteArray expected = frame + frame;

    std::vector<double> gaps;
    for (int pair = -kWarmUpPairs; pair < kPairs; ++pair) {
        runEventsUntil([] { return false; }, kIdleMs);
        device.clear();
        form.Command1_Click();
        form.Command1_Click();
        runEventsUntil([&] { return device.received().size() >= expected.size(); }, kTimeoutMs);
        if (device.received() != expected) {
            std::fprintf(stderr, "bench_gap: the device saw %s instead of %s\n",
                         device.received().toHex(' ').constData(), expected.toHex(' ').constData());
            return EXIT_FAILURE;
        }
        const QList<PtyDevice::TimePoint> at = device.byteTimes();
        const qsizetype second = frame.size();
        if (pair >= 0)
            gaps.push_back(
                std::max(0.0, wallMs(at[second]) - wallMs(at[second - 1]) - Line::msFor(1)));
    }

    const QString figure =
        QStringLiteral("`quenby` factory setting clicked twice in one handler pass, idle line "
                       "between its two %1-byte frames at the device (%2 pairs), ")
            .arg(frame.size())
            .arg(kPairs);
    const QString reference = QStringLiteral("one character time at 9600 baud");
    printRow(figure + QStringLiteral("p50"), percentile(gaps, 50), reference, Line::msFor(1), "ms",
             3);
    printRow(figure + QStringLiteral("p99"), percentile(gaps, 99), reference, Line::msFor(1), "ms",
             3);
    return 0;
}
