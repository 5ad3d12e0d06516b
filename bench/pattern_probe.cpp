// One run of the running light of the digital-output console, measured at the
// device end: a pseudo-terminal read by a thread of its own, which stamps each
// frame as it arrives, while the window runs on the offscreen platform in the
// main thread. Built twice, against the sleeping and the polling wait; the
// bench_* drivers run them and print the table rows.
//   probe_pattern[_polling] <commands> [--answer]
// prints "intervals <ms> ...", "cpu <main thread CPU ms> <wall ms>" and
// "rss <KiB after the first cycle> <KiB at the end>". With --answer the device
// echoes every command, as the simulated device answers an output command, at
// a random moment of the wait that follows it, and the probe also prints
// "latencies <ms> ...": each answer written to Text1 showing it.
#include "application.h"
#include "benchtable.h"
#include "form1.h"
#include "programs.h"
#include "ptydevice.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>

namespace {

constexpr int kCycle = 16; // commands of one pass of the running light
// Answers stay clear of the next command, 200 ms on, so each is alone on the line.
constexpr double kLatestAnswerMs = 150;

void printValues(const char *name, const std::vector<double> &values)
{
    std::printf("%s", name);
    for (const double value : values)
        std::printf(" %.3f", value);
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    const int commands = argc > 1 ? std::atoi(argv[1]) : 151;
    const bool answer = argc > 2 && std::strcmp(argv[2], "--answer") == 0;

    QApplication app(argc, argv);
    const Program marlo = programRow(QStringLiteral("marlo")).program;
    setUpApplication(app, marlo);

    std::vector<double> arrivals;
    double rssStart = 0;
    double rssEnd = 0;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> answerDelay(0, kLatestAnswerMs);
    std::atomic<dio::Form1 *> window{nullptr};
    // On a 9600-baud line: frames arrive, and answers go, a byte every 1.04 ms.
    PtyDevice device(
        PtyDevice::Pace::LineSpeed, [&](const QByteArray &frame, PtyDevice::TimePoint at) {
            if (int(arrivals.size()) >= commands)
                return;
            arrivals.push_back(wallMs(at));
            if (answer) {
                const std::chrono::duration<double, std::milli> delay(answerDelay(random));
                device.answerAt(frame,
                                at + std::chrono::duration_cast<PtyDevice::Clock::duration>(delay));
            }
            if (arrivals.size() == kCycle + 1)
                rssStart = residentKiB();
            if (int(arrivals.size()) == commands) {
                rssEnd = residentKiB();
                // Closing the window is what ends a pattern.
                dio::Form1 *console = window;
                QMetaObject::invokeMethod(
                    console, [console] { console->close(); }, Qt::QueuedConnection);
            }
        });
    setStartDevice(marlo, device.path());

    dio::Form1 form(marlo);
    window = &form;
    form.Form_Load();
    form.show();
    if (!form.serialControl().portOpen())
        return 1;
    std::vector<double> shown;
    QObject::connect(form.findChild<QLineEdit *>(QStringLiteral("Text1")), &QLineEdit::textChanged,
                     &form, [&shown](const QString &text) {
                         if (text.endsWith(QChar(0x04)))
                             shown.push_back(wallMs());
                     });

    const double wall = wallMs();
    const double cpu = threadCpuMs();
    form.findChild<QPushButton *>(QStringLiteral("Command2"))->click();
    const double cpuSpent = threadCpuMs() - cpu;
    const double wallSpent = wallMs() - wall;
    if (int(arrivals.size()) < commands)
        return 1;

    std::vector<double> intervals;
    for (size_t i = 1; i < arrivals.size(); ++i)
        intervals.push_back(arrivals[i] - arrivals[i - 1]);
    printValues("intervals", intervals);
    if (answer) {
        const QList<PtyDevice::TimePoint> answered = device.answeredAt();
        std::vector<double> latencies;
        for (size_t i = 0; i < std::min(size_t(answered.size()), shown.size()); ++i)
            latencies.push_back(shown[i] - wallMs(answered[qsizetype(i)]));
        printValues("latencies", latencies);
    }
    std::printf("cpu %.3f %.3f\n", cpuSpent, wallSpent);
    std::printf("rss %.0f %.0f\n", rssStart, rssEnd);
    return 0;
}
