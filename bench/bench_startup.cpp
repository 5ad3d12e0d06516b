// Start-up in a real window: process start to the window mapped with its port
// open, and resident memory once it has settled, against gtkterm, a general
// serial terminal from Debian, started the same way on a private Xvfb. Both
// get the same pseudo-terminal and nothing else: a serial port of the machine
// may be its console, and opening it changes its line settings.
//
// gtkterm drops a port that udev does not know, and ptys are not in sysfs;
// /dev/tty is, so gtkterm gets the pty as its controlling terminal and opens it
// as /dev/tty. It also drops a port whose modem lines cannot be read, and a pty
// has none: ptymodemlines, preloaded, answers for them.
#include "benchtable.h"
#include "programs.h"
#include "ptydevice.h"
#include "xdisplay.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <optional>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kRuns = 5;
constexpr int kTimeoutMs = 10000;
constexpr int kSettleMs = 1000;
constexpr int kPortWaitMs = 3000;

struct StartUp {
    double shownMs = 0; // to the window mapped, and the port open if it opens
    bool portOpen = false;
    double rssKiB = 0;
};

struct Contender {
    const char *name;
    QString path;
    QStringList arguments;
    QProcessEnvironment environment;
    bool ptyAsControllingTerminal = false;
};

// The controlling terminal from /proc/PID/stat, in the encoding of st_rdev.
std::optional<dev_t> controllingTerminal(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    // After the command name: state, parent, group, session, terminal.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 5)
        return std::nullopt;
    return dev_t(fields[4].toUInt());
}

// The device itself, or /dev/tty where the device is the process's controlling terminal.
bool holdsOpen(qint64 pid, const QString &device)
{
    struct stat node { };
    if (::stat(QFile::encodeName(device).constData(), &node) != 0)
        return false;
    const bool controlling = controllingTerminal(pid) == node.st_rdev;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    const QStringList entries = fds.entryList(QDir::System | QDir::NoDotAndDotDot);
    for (const QString &fd : entries) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target == device || (controlling && target == QLatin1StringView("/dev/tty")))
            return true;
    }
    return false;
}

std::optional<StartUp> startUp(XDisplay &x, const Contender &program, const QString &port)
{
    x.forgetMapped();
    QProcess process;
    process.setProcessEnvironment(program.environment);
    const QByteArray pty = QFile::encodeName(port);
    if (program.ptyAsControllingTerminal) {
        process.setChildProcessModifier([&pty] {
            ::setsid();
            const int fd = ::open(pty.constData(), O_RDWR | O_NOCTTY);
            ::ioctl(fd, TIOCSCTTY, 0);
            ::close(fd);
        });
    }
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const double start = wallMs();
    process.start(program.path, program.arguments);
    if (!process.waitForStarted(kTimeoutMs)) {
        std::fprintf(stderr, "bench_startup: %s: %s\n", qPrintable(program.path),
                     qPrintable(process.errorString()));
        return std::nullopt;
    }
    const auto mapped = x.nextMapped();
    if (!mapped) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    const double mappedAt = wallMs(mapped->at);
    StartUp result;
    result.shownMs = mappedAt - start;
    result.portOpen = holdsOpen(process.processId(), port);
    while (!result.portOpen && wallMs() - mappedAt < kPortWaitMs) {
        QThread::usleep(500);
        if ((result.portOpen = holdsOpen(process.processId(), port)))
            result.shownMs = wallMs() - start;
    }
    QThread::msleep(kSettleMs);
    // A terminal that opens the port and then gives up on it did not start with it open.
    result.portOpen = result.portOpen && holdsOpen(process.processId(), port);
    result.rssKiB = residentKiB(long(process.processId()));
    x.close(mapped->window);
    if (!process.waitForFinished(kTimeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    return result;
}

// gtkterm shows a first-run box without a configuration of its own.
void writeGtktermConfiguration(const QString &directory, const QString &port)
{
    QFile file(directory + QStringLiteral("/.gtktermrc"));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("bench_startup: cannot write %s", qPrintable(file.fileName()));
    file.write("[default]\nport\t= " + port.toLocal8Bit()
               + "\nspeed\t= 9600\nbits\t= 8\nstopbits\t= 1\nparity\t= none\nflow\t= none\n"
                 "font\t= \"Monospace 12\"\n");
}

double median(std::vector<double> values)
{
    return percentile(std::move(values), 50);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString gtkterm = QStandardPaths::findExecutable(QStringLiteral("gtkterm"));
    if (gtkterm.isEmpty()) {
        std::fprintf(stderr,
                     "bench_startup: gtkterm is missing (tools/ensure-packages.sh bench)\n");
        return 1;
    }
    PtyDevice device;
    const QString port = device.path();
    QTemporaryDir configuration;
    writeGtktermConfiguration(configuration.path(), QStringLiteral("/dev/tty"));

    XDisplay x;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), x.name());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configuration.path());
    const ProgramRow &marlo = programRow(QStringLiteral("marlo"));
    QProcessEnvironment consoleEnvironment = environment;
    consoleEnvironment.insert(startPortVariable(marlo.program), port);
    QProcessEnvironment gtktermEnvironment = environment;
    gtktermEnvironment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(PTY_MODEM_LINES));

    const Contender programs[] = {
        {marlo.name,
         builtProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/.."), marlo),
         {},
         consoleEnvironment},
        {"gtkterm",
         gtkterm,
         {QStringLiteral("--port"), QStringLiteral("/dev/tty"), QStringLiteral("--speed"),
          QStringLiteral("9600")},
         gtktermEnvironment,
         true},
    };
    std::vector<double> shown[2], rss[2];
    bool theirPortOpen = true;
    // One unmeasured start each first: the files come into the page cache.
    for (int run = -1; run < kRuns; ++run) {
        for (int which = 0; which < 2; ++which) {
            const auto result = startUp(x, programs[which], port);
            if (!result || (which == 0 && !result->portOpen)) {
                std::fprintf(stderr, "bench_startup: %s did not start with %s open\n",
                             programs[which].name, qPrintable(port));
                return 1;
            }
            if (run < 0)
                continue;
            shown[which].push_back(result->shownMs);
            rss[which].push_back(result->rssKiB / 1024);
            if (which == 1)
                theirPortOpen = theirPortOpen && result->portOpen;
        }
    }

    const QString reference =
        theirPortOpen
            ? QStringLiteral("gtkterm, the same pseudo-terminal (as its /dev/tty, modem lines "
                             "answered by a preloaded shim)")
            : QStringLiteral("gtkterm, which did not hold the pseudo-terminal open, window only");
    const QString figure =
        QStringLiteral("`marlo` under Xvfb on a pseudo-terminal, median of %1 starts: ").arg(kRuns);
    printRow(figure + QStringLiteral("process start to the window shown with the port held open"),
             median(shown[0]), reference, median(shown[1]), "ms", 0);
    printRow(figure + QStringLiteral("resident memory 1 s after start"), median(rss[0]), reference,
             median(rss[1]), "MiB", 1);
    return 0;
}
