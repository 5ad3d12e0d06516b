// The console's processor time while the running light runs: the Windows release under Wine
// against the Linux build, each in a real window on a private Xvfb with COM1 and COM2 on
// pseudo-terminals. Split by thread: the main thread runs the console's code and Qt's, and
// under Wine also Wine's work on their behalf (every call to Wine's server is a round trip
// through a pipe); the other threads are Wine's own, above all the one that polls a serial
// port every millisecond while Qt waits for bytes. Needs a Windows release (./build-windows)
// and the wine-pty shim; without them it prints no row and says why. Where WINE_REFERENCE_EXE
// names reference_window.exe (./benchmark builds it), the same is measured for that bare Qt
// window, the floor for a step's visible work under Wine.
#include "benchtable.h"
#include "programs.h"
#include "ptydevice.h"
#include "xdisplay.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <optional>

#include <unistd.h>

namespace {

constexpr int kSettleMs = 2000;
constexpr int kMeasureMs = 30000;
const QString kWine = QStringLiteral("/usr/lib/wine/wine64");

// User and system time in a /proc stat file, ms.
double cpuMs(const QString &statFile)
{
    QFile stat(statFile);
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return double(fields[11].toLongLong() + fields[12].toLongLong()) * 1000
           / double(sysconf(_SC_CLK_TCK));
}

struct Share {
    double mainPercent = 0;
    double othersPercent = 0; // the process less its main thread, ended threads included
    int commands = 0;
};

std::optional<Share> measure(XDisplay &x, const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment,
                             const std::atomic<int> &commands)
{
    x.forgetMapped();
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    const auto mapped = x.nextMapped(60000);
    if (!mapped) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    QThread::msleep(kSettleMs);
    // 闪动 from the keyboard: three stops on from 输出, which has the focus at start.
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("windowfocus"), QStringLiteral("--sync"),
                       QString::number(mapped->window), QStringLiteral("key"),
                       QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"),
                       QStringLiteral("space")});
    QThread::msleep(kSettleMs);
    const QString proc = QStringLiteral("/proc/%1").arg(process.processId());
    const QString mainThread = proc + QStringLiteral("/task/%1/stat").arg(process.processId());
    const double mainBefore = cpuMs(mainThread);
    const double allBefore = cpuMs(proc + QStringLiteral("/stat"));
    const int commandsBefore = commands;
    const double start = wallMs();
    QThread::msleep(kMeasureMs);
    const double wall = wallMs() - start;
    const double main = cpuMs(mainThread) - mainBefore;
    const double all = cpuMs(proc + QStringLiteral("/stat")) - allBefore;
    Share share{100 * main / wall, std::max(0.0, 100 * (all - main) / wall),
                commands - commandsBefore};
    x.close(mapped->window);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
    return share;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString release = qEnvironmentVariable("CONSOLE_WINDOWS_DIR", CONSOLE_WINDOWS_DIR);
    const QString shim = QStringLiteral(WINE_PTY_SO);
    const QStringList zips = QDir(release).entryList({QStringLiteral("*.zip")});
    if (zips.isEmpty() || shim.isEmpty() || !QFile::exists(shim)) {
        std::fprintf(stderr,
                     "bench_wine: skipped: needs a Windows release in %s "
                     "(./build-windows) and the wine-pty shim (../shared/wine-pty)\n",
                     qPrintable(release));
        return 0;
    }

    XDisplay x;
    qputenv("DISPLAY", x.name().toLatin1()); // for xdotool
    QTemporaryDir prefix;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), x.name());
    environment.insert(QStringLiteral("WINEPREFIX"), prefix.path());
    environment.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    QProcess setUp;
    setUp.setProcessEnvironment(environment);
    setUp.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    setUp.setStandardOutputFile(QProcess::nullDevice());
    setUp.start(QStringLiteral(SOURCE_DIR "/tools/wineprefix.sh"), {prefix.path()});
    const QString drive = prefix.filePath(QStringLiteral("drive_c"));
    if (!setUp.waitForFinished(120000) || setUp.exitCode() != 0
        || QProcess::execute(QStringLiteral("unzip"),
                             {QStringLiteral("-qd"), drive, QDir(release).filePath(zips[0])})
               != 0) {
        std::fprintf(stderr, "bench_wine: no Wine prefix with the release in it\n");
        return 1;
    }
    QDirIterator found(drive, {QStringLiteral("marlo.exe")}, QDir::Files,
                       QDirIterator::Subdirectories);
    const QString exe = found.next();

    std::atomic<int> commands = 0;
    PtyDevice com1;
    PtyDevice com2(PtyDevice::Pace::Instant,
                   [&commands](const QByteArray &, PtyDevice::TimePoint) { ++commands; });
    for (const auto &[com, device] : {std::pair(1, &com1), std::pair(2, &com2)})
        QFile::link(device->path(), prefix.filePath(QStringLiteral("ports/com%1").arg(com)));

    QProcessEnvironment native = environment;
    native.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    native.insert(QStringLiteral("COMM_COM1"), com1.path());
    native.insert(QStringLiteral("COMM_COM2"), com2.path());
    QProcessEnvironment wine = environment;
    wine.insert(QStringLiteral("LD_PRELOAD"), shim);
    wine.remove(QStringLiteral("QT_QPA_PLATFORM")); // the release has Windows' own platform only

    const auto ours =
        measure(x,
                builtProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/.."),
                             programRow(QStringLiteral("marlo"))),
                {}, native, commands);
    const auto underWine = measure(x, kWine, {exe}, wine, commands);
    std::optional<Share> floor;
    if (const QString reference = qEnvironmentVariable("WINE_REFERENCE_EXE");
        QFile::exists(reference)) {
        // Beside the consoles, where the Qt libraries are.
        const QString copy = QFileInfo(exe).dir().filePath(QFileInfo(reference).fileName());
        QFile::copy(reference, copy);
        floor = measure(x, kWine, {copy}, wine, commands);
    }
    QProcess::execute(QStringLiteral("/usr/lib/wine/wineserver"), {QStringLiteral("-k")});
    if (!ours || !underWine || ours->commands < 100 || underWine->commands < 100) {
        std::fprintf(stderr, "bench_wine: a console did not show its window or run its pattern\n");
        return 1;
    }
    const QString figure =
        QStringLiteral("Console CPU while the running light runs, in a window on Xvfb (%1 s): ")
            .arg(kMeasureMs / 1000);
    printRow(figure + QStringLiteral("the Windows release under Wine, its main thread"),
             underWine->mainPercent, QStringLiteral("the Linux build, its main thread"),
             ours->mainPercent, "% of a core", 2);
    if (floor)
        printRow(figure + QStringLiteral("the Windows release under Wine, its main thread"),
                 underWine->mainPercent,
                 QStringLiteral("a bare Qt window under Wine: a 200 ms timer, an 11-byte write "
                                "and one text box changed a step (bench/reference_window.cpp)"),
                 floor->mainPercent, "% of a core", 2);
    printRow(figure
                 + QStringLiteral("the Windows release under Wine, Wine's other threads (its "
                                  "serial wait polls every millisecond)"),
             underWine->othersPercent, QStringLiteral("the Linux build, its other threads"),
             ours->othersPercent, "% of a core", 2);
    return 0;
}
