// The cadence of the digital-output console's running light at the device end,
// and the console's CPU while it runs, against the same window built on the
// literal polling wait. Runs the two probes one after the other.
#include "benchtable.h"
#include "probe.h"

#include <QCoreApplication>

namespace {

constexpr int kCommands = 151; // 150 steps
constexpr double kStepMs = 200;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::optional<ProbeRun> ours = runProbe(QStringLiteral("probe_pattern"), kCommands);
    const std::optional<ProbeRun> polling =
        runProbe(QStringLiteral("probe_pattern_polling"), kCommands);
    if (!ours || !polling)
        return 1;
    const QString reference = QStringLiteral("polling wait");
    const QString light =
        QStringLiteral("Running light at the device (%1 steps)").arg(ours->intervals.size());
    printRow(light + QStringLiteral(", mean step"), mean(ours->intervals), reference,
             mean(polling->intervals), "ms", 2);
    printRow(light + QStringLiteral(", p99 deviation from 200 ms"),
             p99Deviation(ours->intervals, kStepMs), reference,
             p99Deviation(polling->intervals, kStepMs), "ms", 2);
    printRow(QStringLiteral("Console CPU while the running light runs"), ours->cpuPercent(),
             reference, polling->cpuPercent(), "% of a core", 2);
    return 0;
}
