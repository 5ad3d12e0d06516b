// The device floods the line while the running light runs: 1 MiB as fast as
// the pseudo-terminal takes it. Meanwhile an operator thread posts clicks on
// the running light's button; each is timed from its posting to its handler.
// The console must keep handling clicks, keep its memory, and keep sending.
#include "application.h"
#include "benchtable.h"
#include "form1.h"
#include "line.h"
#include "programs.h"
#include "ptydevice.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <random>
#include <thread>

namespace {

constexpr qsizetype kFloodBytes = 1 << 20;
constexpr double kClickTargetMs = 50;
constexpr double kGrowthAllowanceMiB = 5;
constexpr int kWarmUpMs = 1000;
constexpr int kAfterFloodMs = 1000;
constexpr double kWireMs = Line::msFor(kFloodBytes);
constexpr char kLastByte = '!';

// Letters only, so every read shows as text of its own length; the last byte
// appears nowhere else, so Text1 ends with it only once everything was read.
QByteArray floodBytes()
{
    QByteArray bytes(kFloodBytes, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char('a' + i % 26);
    bytes.back() = kLastByte;
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const Program marlo = programRow(QStringLiteral("marlo")).program;
    setUpApplication(app, marlo);

    std::atomic<int> frames{0};
    PtyDevice device(PtyDevice::Pace::Instant,
                     [&frames](const QByteArray &, PtyDevice::TimePoint) { ++frames; });
    setStartDevice(marlo, device.path());
    dio::Form1 form(marlo);
    form.Form_Load();
    form.show();
    if (!form.serialControl().portOpen())
        qFatal("bench_flood: cannot open %s", qPrintable(device.path()));
    auto *runningLight = form.findChild<QPushButton *>(QStringLiteral("Command2"));
    auto *text1 = form.findChild<QLineEdit *>(QStringLiteral("Text1"));

    std::mutex mutex;
    std::vector<double> posted;
    std::vector<double> handled;
    std::atomic<bool> flooding{false};
    double rssBefore = 0;
    double rssAfter = 0;
    double floodStart = 0;
    double floodShown = 0;
    int framesAfterFlood = 0;
    std::thread flood;
    std::thread operatorThread;

    // Connected after the window's own handler, so the stamp follows the handling.
    QObject::connect(runningLight, &QPushButton::clicked, &form, [&] {
        if (flooding) {
            const std::lock_guard lock(mutex);
            handled.push_back(wallMs());
        }
    });
    QObject::connect(text1, &QLineEdit::textChanged, &form, [&](const QString &text) {
        if (!flooding || !text.endsWith(QLatin1Char(kLastByte)))
            return;
        floodShown = wallMs();
        rssAfter = residentKiB();
        flooding = false;
        const int framesAtEnd = frames;
        QTimer::singleShot(kAfterFloodMs, &form, [&, framesAtEnd] {
            framesAfterFlood = frames - framesAtEnd;
            form.close();
        });
    });
    QTimer::singleShot(kWarmUpMs, &form, [&] {
        rssBefore = residentKiB();
        flooding = true;
        floodStart = wallMs();
        flood = std::thread([&device] { device.write(floodBytes()); });
        operatorThread = std::thread([&] {
            std::mt19937 random(11);
            std::uniform_int_distribution<int> gapUs(500, 2000);
            while (flooding) {
                {
                    const std::lock_guard lock(mutex);
                    posted.push_back(wallMs());
                }
                QMetaObject::invokeMethod(runningLight, &QPushButton::click, Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::microseconds(gapUs(random)));
            }
        });
    });

    runningLight->click(); // returns when the window closes
    flood.join();
    operatorThread.join();
    if (handled.empty() || framesAfterFlood == 0) {
        std::fprintf(stderr, "bench_flood: %zu clicks handled, %d frames after the flood\n",
                     handled.size(), framesAfterFlood);
        return 1;
    }

    std::vector<double> clickMs;
    for (size_t i = 0; i < handled.size(); ++i)
        clickMs.push_back(handled[i] - posted[i]);
    const QString figure =
        QStringLiteral("Flood of 1 MiB from the device during the running light");
    printRow(figure + QStringLiteral(": click handled, p99 of %1 clicks").arg(clickMs.size()),
             percentile(clickMs, 99), QStringLiteral("target"), kClickTargetMs, "ms", 2);
    printRow(figure + QStringLiteral(": growth of resident memory"), (rssAfter - rssBefore) / 1024,
             QStringLiteral("allowance"), kGrowthAllowanceMiB, "MiB", 2);
    printRow(figure + QStringLiteral(": until all of it was shown"), floodShown - floodStart,
             QStringLiteral("1 MiB on the line at 9600 baud"), kWireMs, "ms", 0);
    return 0;
}
