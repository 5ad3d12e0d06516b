#include "probe.h"

#include "benchtable.h"

#include <QCoreApplication>
#include <QProcess>
#include <cstdio>

namespace {

constexpr double kStepMs = 200;
constexpr int kStartMarginMs = 10000;

std::vector<double> values(const QList<QByteArray> &fields)
{
    std::vector<double> parsed;
    for (qsizetype i = 1; i < fields.size(); ++i)
        parsed.push_back(fields[i].toDouble());
    return parsed;
}

} // namespace

std::optional<ProbeRun> parseProbeOutput(const QByteArray &output)
{
    ProbeRun run;
    const QList<QByteArray> lines = output.split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.front() == "intervals") {
            run.intervals = values(fields);
        } else if (fields.front() == "latencies") {
            run.latencies = values(fields);
        } else if (fields.front() == "cpu" && fields.size() == 3) {
            run.cpuMs = fields[1].toDouble();
            run.wallMs = fields[2].toDouble();
        } else if (fields.front() == "rss" && fields.size() == 3) {
            run.rssStartKiB = fields[1].toDouble();
            run.rssEndKiB = fields[2].toDouble();
        }
    }
    if (run.intervals.empty() || run.wallMs <= 0)
        return std::nullopt;
    return run;
}

std::optional<ProbeRun> runProbe(const QString &name, int commands, const QStringList &options)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QCoreApplication::applicationDirPath() + u'/' + name,
                  QStringList{QString::number(commands)} + options);
    const int timeoutMs = int(commands * kStepMs * 1.5) + kStartMarginMs;
    const bool finished = process.waitForFinished(timeoutMs);
    const QByteArray output = process.readAll();
    std::optional<ProbeRun> run;
    if (finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        run = parseProbeOutput(output);
    if (!run)
        std::fprintf(stderr, "%s failed:\n%s\n", qPrintable(name), output.constData());
    return run;
}

double p99Deviation(const std::vector<double> &intervals, double stepMs)
{
    std::vector<double> deviations;
    for (const double interval : intervals)
        deviations.push_back(std::abs(interval - stepMs));
    return percentile(deviations, 99);
}
