#include "desktop.h"

#include "harness.h"

#include <QDirIterator>
#include <QFile>
#include <unistd.h>

namespace {

const QString kWine = u"/usr/lib/wine/wine64"_s;

} // namespace

Desktop::Desktop(const QString &windowsRelease, const QString &winePtyShim)
    : m_release(windowsRelease)
    , m_shim(winePtyShim)
    , m_ports(m_linuxPorts.path())
    , m_programs(QStringLiteral(BIN_DIR))
{
    qputenv("DISPLAY", m_display.name().toLatin1()); // for every tool and program
    qputenv("QT_QPA_PLATFORM", "xcb");
    m_program.setProcessChannelMode(QProcess::ForwardedChannels);
    if (!wine())
        return;
    // One prefix for the run, the release unzipped into it.
    qputenv("WINEPREFIX", m_prefix.path().toLocal8Bit());
    qputenv("WINEDEBUG", "-all");
    qunsetenv("QT_QPA_PLATFORM");
    if (QProcess::execute(SOURCE_DIR "/tools/wineprefix.sh", {m_prefix.path()}) != 0)
        qFatal("tools/wineprefix.sh failed");
    m_ports.setPath(m_prefix.filePath(u"ports"_s));
    const QDir folder(m_release);
    for (const QString &zip : folder.entryList({u"*.zip"_s}))
        QProcess::execute(u"unzip"_s, {u"-qd"_s, drive(), folder.filePath(zip)});
    m_programs = folder;
    if (!folder.exists(u"quenby.exe"_s)) {
        QDirIterator it(drive(), {u"quenby.exe"_s}, QDir::Files, QDirIterator::Subdirectories);
        m_programs = QFileInfo(it.next()).dir();
    }
}

Desktop::~Desktop()
{
    m_program.close();
    if (wine())
        run(u"/usr/lib/wine/wineserver -k"_s);
}

void Desktop::start(const QString &name)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (wine()) {
        environment.insert(u"LD_PRELOAD"_s, m_shim);
        m_program.setProcessEnvironment(environment);
        m_program.start(kWine, {m_programs.filePath(name + u".exe"_s)});
        return;
    }
    environment.insert(u"COMM_COM1"_s, port(1));
    environment.insert(u"COMM_COM2"_s, port(2));
    m_program.setProcessEnvironment(environment);
    m_program.start(builtProgram(m_programs.path(), programRow(name)), {});
}

void Desktop::connect(int com, const QString &device)
{
    QFile::remove(port(com));
    if (!device.isEmpty())
        QFile::link(device, port(com));
}

double Desktop::processorSeconds() const
{
    QFile stat(u"/proc/%1/stat"_s.arg(m_program.processId()));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

qulonglong Desktop::window(const QString &title) const
{
    const QString search = u"xdotool search --all --onlyvisible --pid %1 --name ^%2$"_s;
    return run(search.arg(m_program.processId()).arg(title)).trimmed().toULongLong();
}

// Keys go where the pointer is: there is no window manager to give the focus.
QByteArray Desktop::click(QPoint at, const QString &then) const
{
    const QString move = u"xdotool mousemove --window %1 %2 %3 click 1 "_s;
    return run(move.arg(m_window).arg(at.x()).arg(at.y()) + then);
}

void Desktop::clickInTurn(const QList<QPoint> &points, int gapMs) const
{
    QStringList clicks;
    for (const QPoint at : points)
        clicks << u"mousemove --window %1 %2 %3 click 1"_s.arg(m_window).arg(at.x()).arg(at.y());
    run(u"xdotool "_s + clicks.join(u" sleep %1 "_s.arg(gapMs / 1000.0)));
}

QByteArray Desktop::copy(QPoint at) const
{
    return click(at, u"key ctrl+a ctrl+c exec --sync xclip -o -selection clipboard"_s);
}

void Desktop::type(QPoint at, const QString &text) const
{
    const bool paste = text.size() > 40 || text.toLatin1() != text.toUtf8();
    if (paste)
        run(u"sh -c \"printf %s %1 | xclip -selection clipboard\""_s.arg(text));
    click(at, paste ? u"key ctrl+a ctrl+v"_s : u"key ctrl+a BackSpace type --delay 5 "_s + text);
}

QImage Desktop::grab() const
{
    return QImage::fromData(run(u"import -window %1 png:-"_s.arg(m_window)));
}

QByteArray Desktop::run(const QString &command)
{
    QProcess tool;
    tool.startCommand(command);
    return tool.waitForFinished() ? tool.readAllStandardOutput() : QByteArray();
}
