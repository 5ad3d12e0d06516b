#pragma once

#include <QString>
#include <cstdio>
#include <ctime>

// Every benchmark prints rows of one markdown table:
// | Figure | This console | Reference | Reference value | Ratio |
inline void printRow(const QString &figure, double ours, const QString &reference, double theirs,
                     const char *unit, int decimals = 2)
{
    const QString ratio = ours > 0 && theirs > 0 ? QString::number(theirs / ours, 'f', 1) + u'x'
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

inline double wallMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}
