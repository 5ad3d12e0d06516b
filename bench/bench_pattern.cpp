// The cadence of the digital-output console's running light at the device end,
// and the console's CPU while it runs, against the same window built on the
// literal polling wait. Runs the two probes one after the other.
#include "benchtable.h"

#include <QCoreApplication>
#include <QProcess>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <optional>
#include <vector>

namespace {

constexpr int kCommands = 151; // 150 steps
constexpr double kStepMs = 200;

struct Run {
    std::vector<double> intervals;
    double cpuMs = 0;
    double wallMs = 0;

    double meanInterval() const
    {
        return std::accumulate(intervals.begin(), intervals.end(), 0.0) / double(intervals.size());
    }
    // Nearest-rank 99th percentile of |interval - step|.
    double p99Deviation() const
    {
        std::vector<double> deviations;
        for (const double interval : intervals)
            deviations.push_back(std::abs(interval - kStepMs));
        std::sort(deviations.begin(), deviations.end());
        const auto rank = size_t(std::ceil(0.99 * double(deviations.size())));
        return deviations[std::max<size_t>(rank, 1) - 1];
    }
    double cpuPercent() const { return 100.0 * cpuMs / wallMs; }
};

std::optional<Run> probe(const QString &name)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QCoreApplication::applicationDirPath() + u'/' + name,
                  {QString::number(kCommands)});
    const int timeoutMs = int(kCommands * kStepMs * 1.5) + 10000;
    const bool finished = process.waitForFinished(timeoutMs);
    const QByteArray output = process.readAll();
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed:\n%s\n", qPrintable(name), output.constData());
        return std::nullopt;
    }
    Run run;
    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.front() == "intervals") {
            for (qsizetype i = 1; i < fields.size(); ++i)
                run.intervals.push_back(fields[i].toDouble());
        } else if (fields.front() == "cpu" && fields.size() == 3) {
            run.cpuMs = fields[1].toDouble();
            run.wallMs = fields[2].toDouble();
        }
    }
    if (run.intervals.empty() || run.wallMs <= 0)
        return std::nullopt;
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::optional<Run> ours = probe(QStringLiteral("probe_pattern"));
    const std::optional<Run> polling = probe(QStringLiteral("probe_pattern_polling"));
    if (!ours || !polling)
        return 1;
    const QString reference = QStringLiteral("polling wait");
    const QString light = QStringLiteral("Running light at the device (%1 steps)")
                              .arg(ours->intervals.size());
    printRow(light + QStringLiteral(", mean step"), ours->meanInterval(), reference,
             polling->meanInterval(), "ms", 2);
    printRow(light + QStringLiteral(", p99 deviation from 200 ms"), ours->p99Deviation(),
             reference, polling->p99Deviation(), "ms", 2);
    printRow(QStringLiteral("Console CPU while the running light runs"), ours->cpuPercent(),
             reference, polling->cpuPercent(), "% of a core", 2);
    return 0;
}
