// How long a first-generation frame takes at the device, against the floor its
// waits allow, the time its bytes need on the line, and a coarse tick counter.
#include "application.h"
#include "benchtable.h"
#include "form1.h"
#include "frames.h"
#include "line.h"
#include "module1.h"
#include "programs.h"
#include "ptydevice.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace {

constexpr int kDataCharacters = 16;
constexpr int kWaits = kDataCharacters + 7;
constexpr int kFrameBytes = kDataCharacters + 8;
constexpr double kWaitMs = 1;
constexpr double kTargetPerWaitMs = 2.5;
constexpr double kTickStepMs = 1000.0 / 64; // the 64 Hz tick of older desktop systems
constexpr int kFrames = 40;
constexpr int kCoarseFrames = 8;

// Mean first-to-last time of `frames` frames at the device.
double meanFrameMs(ostrel::Form1 &form, PtyDevice &device, const QByteArray &expected, int frames)
{
    double total = 0;
    for (int i = 0; i < frames; ++i) {
        device.clear();
        form.Command1_Click();
        // The last byte leaves when the event loop runs again.
        const QDeadlineTimer deadline(2000);
        while (device.received().size() < expected.size() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (device.received() != expected) {
            std::fprintf(stderr, "bench_frame: the device saw %s instead of %s\n",
                         device.received().toHex(' ').constData(), expected.toHex(' ').constData());
            std::exit(EXIT_FAILURE);
        }
        const QList<PtyDevice::TimePoint> at = device.byteTimes();
        total += wallMs(at.back()) - wallMs(at.front());
    }
    return total / frames;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Program program = programRow(QStringLiteral("ostrel")).program;
    setUpApplication(app, program);

    PtyDevice device;
    setStartDevice(program, device.path());
    ostrel::Form1 form(program);
    form.Form_Load();
    if (!form.serialControl().portOpen())
        qFatal("bench_frame: cannot open %s", qPrintable(device.path()));

    const QString data = QStringLiteral("0123456789ABCDEF");
    form.findChild<QLineEdit *>(QStringLiteral("Text5"))->setText(QStringLiteral("1"));
    form.findChild<QLineEdit *>(QStringLiteral("Text2"))->setText(data);
    form.findChild<QLineEdit *>(QStringLiteral("Text3"))->setText(QStringLiteral("0"));
    const QByteArray expected = Frames::firstGenerationFrame(1, data, 0).writes().join();
    Q_ASSERT(expected.size() == kFrameBytes);

    meanFrameMs(form, device, expected, 2); // first use of the port and the fonts
    const double ours = meanFrameMs(form, device, expected, kFrames);

    Module1::setTickSource(
        [] { return quint32(std::floor(wallMs() / kTickStepMs) * kTickStepMs); });
    const double coarse = meanFrameMs(form, device, expected, kCoarseFrames);
    Module1::setTickSource({});

    // Each wait ends at the first reading strictly more than 1 ms past its start.
    const double floorMs = kWaits * kWaitMs;
    const double wireMs = Line::msFor(kFrameBytes);
    const QString frame =
        QStringLiteral("`ostrel` frame of %1 data characters at the device, first "
                       "byte to last")
            .arg(kDataCharacters);
    printRow(frame, ours, QStringLiteral("floor: %1 waits, each past 1 ms").arg(kWaits), floorMs,
             "ms");
    printRow(frame, ours, QStringLiteral("its %1 bytes on the line at 9600 baud").arg(kFrameBytes),
             wireMs, "ms");
    printRow(frame, ours, QStringLiteral("tick counter in 15.6 ms steps"), coarse, "ms");
    printRow(QStringLiteral("`ostrel` frame, mean length of a 1 ms wait"), ours / kWaits,
             QStringLiteral("target"), kTargetPerWaitMs, "ms");
    return 0;
}
