// How soon an answer from the device shows whole in Text1 while the running
// light runs. The device writes it as a 9600-baud line delivers it, a byte
// every 1.04 ms, and each answer is timed from its last byte. The reference is
// the same window on the polling wait: it never sleeps, so it sees bytes as
// soon as its event loop can, and any lag of the sleeping wait in waking for
// them shows against it. The answer's own time on a 9600 baud line puts the
// figure in scale.
#include "benchtable.h"
#include "line.h"
#include "probe.h"

#include <QCoreApplication>

namespace {

constexpr int kCommands = 201; // 200 answers
constexpr int kAnswerBytes = 11; // SOH, "01DOP0nn", check, EOT
constexpr double kWireMs = Line::msFor(kAnswerBytes);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList answer{QStringLiteral("--answer")};
    const std::optional<ProbeRun> ours =
        runProbe(QStringLiteral("probe_pattern"), kCommands, answer);
    const std::optional<ProbeRun> polling =
        runProbe(QStringLiteral("probe_pattern_polling"), kCommands, answer);
    if (!ours || !polling || ours->latencies.empty() || polling->latencies.empty())
        return 1;
    const QString figure = QStringLiteral("Answer at line speed, its last byte to `Text1` showing "
                                          "all of it, during the running light (%1 answers), ")
                               .arg(ours->latencies.size());
    const QString reference = QStringLiteral("polling wait");
    printRow(figure + QStringLiteral("p50"), percentile(ours->latencies, 50), reference,
             percentile(polling->latencies, 50), "ms", 3);
    printRow(figure + QStringLiteral("p99"), percentile(ours->latencies, 99), reference,
             percentile(polling->latencies, 99), "ms", 3);
    printRow(figure + QStringLiteral("p99"), percentile(ours->latencies, 99),
             QStringLiteral("the %1-byte answer on the line at 9600 baud").arg(kAnswerBytes),
             kWireMs, "ms", 3);
    return 0;
}
