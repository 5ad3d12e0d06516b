#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// What one run of a probe_pattern executable printed.
struct ProbeRun {
    std::vector<double> intervals; // between frames at the device, ms
    std::vector<double> latencies; // answer written to Text1 showing it, ms
    double cpuMs = 0;
    double wallMs = 0;
    double rssStartKiB = 0;
    double rssEndKiB = 0;

    double cpuPercent() const { return 100.0 * cpuMs / wallMs; }
};

// Reads a probe's output; nullopt when it lacks intervals or the CPU line.
std::optional<ProbeRun> parseProbeOutput(const QByteArray &output);

// Runs the probe `name` (next to this executable) for `commands` commands on
// the offscreen platform; reports on standard error and returns nullopt when it fails.
std::optional<ProbeRun> runProbe(const QString &name, int commands,
                                 const QStringList &options = {});

// p99 of |interval - stepMs|.
double p99Deviation(const std::vector<double> &intervals, double stepMs);
