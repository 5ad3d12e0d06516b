#pragma once

#include <QString>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <numeric>
#include <vector>

// Every benchmark prints rows of one markdown table:
// | Figure | This console | Reference | Reference value | Ratio |
inline void printRow(const QString &figure, double ours, const QString &reference, double theirs,
                     const char *unit, int decimals = 2)
{
    // A figure that shows as zero has no ratio worth printing.
    const bool shown = ours >= 0.5 * std::pow(10.0, -decimals);
    const QString ratio = shown && theirs > 0 ? QString::number(theirs / ours, 'f', 1) + u'x'
                                              : QStringLiteral("-");
    std::printf("| %s | %s %s | %s | %s %s | %s |\n", qPrintable(figure),
                qPrintable(QString::number(ours, 'f', decimals)), unit, qPrintable(reference),
                qPrintable(QString::number(theirs, 'f', decimals)), unit, qPrintable(ratio));
    std::fflush(stdout);
}

// Processor time of the calling thread, in milliseconds.
inline double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Milliseconds on the monotonic clock (CLOCK_MONOTONIC, which steady_clock reads).
inline double wallMs(std::chrono::steady_clock::time_point t = std::chrono::steady_clock::now())
{
    return std::chrono::duration<double, std::milli>(t.time_since_epoch()).count();
}

inline double mean(const std::vector<double> &values)
{
    if (values.empty())
        return 0;
    return std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
}

// Nearest-rank percentile (0 < p <= 100); 0 for no values.
inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = size_t(std::ceil(p / 100 * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

// Resident memory of a process in KiB, from /proc/<pid>/status; 0 when unknown.
inline double residentKiB(long pid = 0)
{
    const QByteArray path = pid > 0 ? "/proc/" + QByteArray::number(qint64(pid)) + "/status"
                                    : QByteArray("/proc/self/status");
    std::FILE *status = std::fopen(path.constData(), "r");
    if (!status)
        return 0;
    char line[256];
    double kib = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmRSS: %lf kB", &kib) == 1)
            break;
    }
    std::fclose(status);
    return kib;
}
