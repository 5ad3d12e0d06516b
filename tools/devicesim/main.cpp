#include "pseudoterminal.h"
#include "simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTime>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
}

void print(const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void logLine(const QString &line)
{
    print(QTime::currentTime().toString(u"HH:mm:ss.zzz") + u' ' + line);
}

constexpr int kCannotRun = 1;
constexpr int kBadUsage = 2;

int fail(const QString &message, int exitCode = kCannotRun)
{
    const QByteArray bytes = (QStringLiteral("devicesim: ") + message + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    return exitCode;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

struct OpenLine {
    int fd = -1;
    int keepOpen = -1;
    QString path;
    QString error;
};

// Raw before the console opens its end, or echo and CR/LF mapping would apply
// to replies written before that.
OpenLine openPseudoTerminalLine()
{
    const PseudoTerminal pty = openPseudoTerminal();
    return {pty.deviceEnd, pty.consoleEnd, pty.consolePath, pty.error};
}

OpenLine openDevice(const QString &path)
{
    const int fd =
        ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {-1, -1, {}, QStringLiteral("cannot open %1: %2").arg(path, systemError())};
    termios line{};
    if (::tcgetattr(fd, &line) == 0) {
        ::cfmakeraw(&line);
        ::cfsetispeed(&line, B9600);
        ::cfsetospeed(&line, B9600);
        line.c_cflag |= CLOCAL | CREAD;
        line.c_cflag &= ~tcflag_t(CSTOPB | PARENB | CRTSCTS);
        // At least one byte per read: a read that returns nothing then means the line is gone.
        line.c_cc[VMIN] = 1;
        line.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &line);
    }
    return {fd, -1, path, {}};
}

bool readCount(const QCommandLineParser &parser, const QCommandLineOption &option, int &count)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    count = parser.value(option).toInt(&ok);
    return ok && count >= 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("devicesim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A device on a serial line for the bench consoles. Prints \"device PATH\" first: the "
        "device a console should open. Then logs every frame received and every reply sent, "
        "until SIGINT or SIGTERM."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption deviceOption(
        QStringLiteral("device"),
        QStringLiteral("Use this device (a serial port) instead of a new pseudo-terminal."),
        QStringLiteral("path"));
    const QCommandLineOption delayOption(QStringLiteral("reply-delay"),
                                         QStringLiteral("Answer each frame this much later."),
                                         QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption hangUpOption(
        QStringLiteral("hang-up-after"),
        QStringLiteral("Close the line when this frame arrives, unanswered, as a pulled adapter."),
        QStringLiteral("frames"), QStringLiteral("0"));
    const QCommandLineOption instantOption(
        QStringLiteral("instant"),
        QStringLiteral("Write each answer at once and read all that arrives, instead of at the "
                       "pace of a 9600-baud line."));
    parser.addOptions({deviceOption, delayOption, hangUpOption, instantOption});
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText() + QStringLiteral(" See --help."), kBadUsage);
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp(0);

    int delayMs = 0;
    if (!readCount(parser, delayOption, delayMs))
        return fail(QStringLiteral("--reply-delay wants a whole number of milliseconds, not \"%1\"")
                        .arg(parser.value(delayOption)),
                    kBadUsage);
    devicesim::Simulator::Options options;
    options.replyDelay = std::chrono::milliseconds(delayMs);
    options.instant = parser.isSet(instantOption);
    if (!readCount(parser, hangUpOption, options.hangUpAfter))
        return fail(QStringLiteral("--hang-up-after wants a whole number of frames, not \"%1\"")
                        .arg(parser.value(hangUpOption)),
                    kBadUsage);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\". See --help.")
                        .arg(parser.positionalArguments().constFirst()),
                    kBadUsage);

    const OpenLine line = parser.isSet(deviceOption) ? openDevice(parser.value(deviceOption))
                                                     : openPseudoTerminalLine();
    if (line.fd < 0)
        return fail(line.error);

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(QStringLiteral("cannot watch for signals: ") + systemError());
    struct sigaction stopAction { };
    stopAction.sa_handler = onStopSignal;
    ::sigemptyset(&stopAction.sa_mask);
    ::sigaction(SIGINT, &stopAction, nullptr);
    ::sigaction(SIGTERM, &stopAction, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    QSocketNotifier stopRequested(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopRequested, &QSocketNotifier::activated, &app, [] {
        logLine(QStringLiteral("stopped"));
        QCoreApplication::exit(0);
    });

    print(QStringLiteral("device ") + line.path);
    devicesim::Simulator simulator(line.fd, line.keepOpen, options, &logLine);
    QObject::connect(&simulator, &devicesim::Simulator::finished, &app, &QCoreApplication::exit);
    return app.exec();
}
