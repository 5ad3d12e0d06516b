// The running light for a long run with the device answering every command:
// memory and cadence at the end against the start. SOAK_MINUTES sets the
// length (default 10; fractions allowed, e.g. 0.5 for a quick look).
#include "benchtable.h"
#include "probe.h"

#include <QCoreApplication>

namespace {

constexpr double kDefaultMinutes = 10;
constexpr double kStepMs = 200;
constexpr int kStepsPerMinute = int(60000 / kStepMs);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    bool valid = false;
    double minutes = qEnvironmentVariable("SOAK_MINUTES").toDouble(&valid);
    if (!valid || minutes <= 0)
        minutes = kDefaultMinutes;
    const int steps = std::max(2, int(minutes * kStepsPerMinute));
    const std::optional<ProbeRun> run =
        runProbe(QStringLiteral("probe_pattern"), steps + 1, {QStringLiteral("--answer")});
    if (!run || run->rssStartKiB <= 0)
        return 1;

    // The first and the last minute, or halves of a shorter run.
    const auto window = std::min<ptrdiff_t>(kStepsPerMinute, ptrdiff_t(run->intervals.size() / 2));
    const std::vector<double> first(run->intervals.begin(), run->intervals.begin() + window);
    const std::vector<double> last(run->intervals.end() - window, run->intervals.end());
    const QString soak = QStringLiteral("Soak, running light with answers for %1 min")
                             .arg(QString::number(minutes, 'g', 3));
    const QString span = window == kStepsPerMinute ? QStringLiteral("minute")
                                                   : QStringLiteral("%1 steps").arg(window);
    printRow(soak + QStringLiteral(": resident memory at the end"), run->rssEndKiB / 1024,
             QStringLiteral("after the first cycle"), run->rssStartKiB / 1024, "MiB", 1);
    printRow(soak + QStringLiteral(": mean step, last ") + span, mean(last),
             QStringLiteral("first ") + span, mean(first), "ms", 2);
    printRow(soak + QStringLiteral(": p99 deviation from 200 ms, last ") + span,
             p99Deviation(last, kStepMs), QStringLiteral("first ") + span,
             p99Deviation(first, kStepMs), "ms", 2);
    return 0;
}
