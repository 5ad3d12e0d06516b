// The pacing wait against the literal loop that polls the tick counter.
#include "benchtable.h"
#include "module1.h"

#include <QCoreApplication>

namespace {

void pollingDelay(qint32 ms)
{
    const quint32 start = Module1::GetTickCount();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } while (qint64(quint32(Module1::GetTickCount() - start)) <= ms);
}

struct PerWait {
    double wallMs;
    double cpuMs;
};

template <typename Wait> PerWait measure(Wait wait, qint32 ms, int times)
{
    const double wall = wallMs();
    const double cpu = threadCpuMs();
    for (int i = 0; i < times; ++i)
        wait(ms);
    return {(wallMs() - wall) / times, (threadCpuMs() - cpu) / times};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const struct {
        qint32 ms;
        int times;
    } waits[] = {{1, 500}, {200, 25}};
    for (const auto &[ms, times] : waits) {
        const PerWait ours = measure([](qint32 n) { Module1::Delay(n); }, ms, times);
        const PerWait polling = measure(pollingDelay, ms, times);
        const QString what = QStringLiteral("`Delay` %1 ms").arg(ms);
        printRow(what + QStringLiteral(", wall time per wait"), ours.wallMs,
                 QStringLiteral("polling loop"), polling.wallMs, "ms", 2);
        printRow(what + QStringLiteral(", CPU per wait"), ours.cpuMs,
                 QStringLiteral("polling loop"), polling.cpuMs, "ms", 3);
    }
    return 0;
}
