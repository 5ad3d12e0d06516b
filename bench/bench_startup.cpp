// Start-up in a real window: process start to the window mapped with its port
// open, and resident memory once it has settled, against gtkterm, a general
// serial terminal from Debian, started the same way on a private Xvfb. Both
// get the same port: /dev/ttyS0 where it can be opened, else a pseudo-terminal.
#include "benchdevice.h"
#include "benchtable.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <optional>

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
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

struct Program {
    const char *name;
    QString path;
    QStringList arguments;
};

// A private X display, with the map of every top-level window reported to us.
class XServer {
public:
    XServer()
    {
        m_xvfb.start(QStringLiteral("Xvfb"),
                     {QStringLiteral("-displayfd"), QStringLiteral("1"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("1024x768x24")});
        if (!m_xvfb.waitForReadyRead(kTimeoutMs))
            qFatal("bench_startup: Xvfb did not start");
        m_name = u':' + QString::fromLatin1(m_xvfb.readLine().trimmed());
        m_display = XOpenDisplay(m_name.toLatin1().constData());
        if (!m_display)
            qFatal("bench_startup: cannot open display %s", qPrintable(m_name));
        XSelectInput(m_display, DefaultRootWindow(m_display), SubstructureNotifyMask);
        XSync(m_display, False);
    }

    ~XServer()
    {
        XCloseDisplay(m_display);
        m_xvfb.terminate();
        m_xvfb.waitForFinished();
    }

    QString name() const { return m_name; }

    void forgetEvents()
    {
        XSync(m_display, False);
        XEvent event;
        while (XPending(m_display))
            XNextEvent(m_display, &event);
    }

    // The next top-level window mapped, and when we learnt of it; nullopt after the timeout.
    std::optional<std::pair<Window, double>> nextMappedWindow()
    {
        const double deadline = wallMs() + kTimeoutMs;
        for (;;) {
            while (XPending(m_display)) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.type == MapNotify && !event.xmap.override_redirect)
                    return std::pair(event.xmap.window, wallMs());
            }
            const double left = deadline - wallMs();
            if (left <= 0)
                return std::nullopt;
            pollfd connection{ConnectionNumber(m_display), POLLIN, 0};
            ::poll(&connection, 1, int(left));
        }
    }

    // What the close button of a window frame does.
    void close(Window window)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(m_display, window, False, NoEventMask, &event);
        XFlush(m_display);
    }

private:
    QProcess m_xvfb;
    QString m_name;
    Display *m_display = nullptr;
};

bool holdsOpen(qint64 pid, const QString &device)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    const QStringList entries = fds.entryList(QDir::System | QDir::NoDotAndDotDot);
    for (const QString &fd : entries) {
        if (QFile::symLinkTarget(fds.filePath(fd)) == device)
            return true;
    }
    return false;
}

std::optional<StartUp> startUp(XServer &x, const Program &program,
                               const QProcessEnvironment &environment, const QString &port)
{
    x.forgetEvents();
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const double start = wallMs();
    process.start(program.path, program.arguments);
    if (!process.waitForStarted(kTimeoutMs)) {
        std::fprintf(stderr, "bench_startup: %s: %s\n", qPrintable(program.path),
                     qPrintable(process.errorString()));
        return std::nullopt;
    }
    const auto mapped = x.nextMappedWindow();
    if (!mapped) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    const auto [window, mappedAt] = *mapped;
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
    x.close(window);
    if (!process.waitForFinished(kTimeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    return result;
}

// /dev/ttyS0 when this user can open it as a serial line.
bool canOpenSerial(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    termios settings{};
    const bool isLine = ::tcgetattr(fd, &settings) == 0;
    ::close(fd);
    return isLine;
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
    BenchDevice device;
    const QString port = canOpenSerial("/dev/ttyS0") ? QStringLiteral("/dev/ttyS0") : device.path();
    QTemporaryDir configuration;
    writeGtktermConfiguration(configuration.path(), port);

    XServer x;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), x.name());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configuration.path());
    environment.insert(QStringLiteral("COMM_COM2"), port);

    const Program programs[] = {
        {"marlo", QCoreApplication::applicationDirPath() + QStringLiteral("/../dio/marlo"), {}},
        {"gtkterm",
         gtkterm,
         {QStringLiteral("--port"), port, QStringLiteral("--speed"), QStringLiteral("9600")}},
    };
    std::vector<double> shown[2], rss[2];
    bool theirPortOpen = true;
    // One unmeasured start each first: the files come into the page cache.
    for (int run = -1; run < kRuns; ++run) {
        for (int which = 0; which < 2; ++which) {
            const auto result = startUp(x, programs[which], environment, port);
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
        theirPortOpen ? QStringLiteral("gtkterm, the same port")
                      : QStringLiteral("gtkterm, which opens no port at start here (given %1), "
                                       "window only")
                            .arg(port);
    const QString figure =
        QStringLiteral("`marlo` under Xvfb on %1, median of %2 starts: ").arg(port).arg(kRuns);
    printRow(figure + QStringLiteral("process start to the window shown with the port open"),
             median(shown[0]), reference, median(shown[1]), "ms", 0);
    printRow(figure + QStringLiteral("resident memory 1 s after start"), median(rss[0]), reference,
             median(rss[1]), "MiB", 1);
    return 0;
}
