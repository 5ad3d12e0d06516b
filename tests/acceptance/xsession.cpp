#include "xsession.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <X11/Xlib.h>
#include <unistd.h>

namespace {

QString freeDisplay()
{
    for (int n = 100 + int(::getpid() % 400);; ++n) {
        if (!QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            return QStringLiteral(":%1").arg(n);
    }
}

} // namespace

XSession::XSession()
    : m_display(freeDisplay())
{
    m_xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {m_display, QStringLiteral("-noreset"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                  QStringLiteral("1024x768x24")});
    m_xvfb.waitForStarted();
    const QString socket = QStringLiteral("/tmp/.X11-unix/X") + m_display.mid(1);
    (void)QTest::qWaitFor(
        [&] { return QFile::exists(socket) || m_xvfb.state() != QProcess::Running; }, 10000);
}

XSession::~XSession()
{
    m_xvfb.terminate();
    m_xvfb.waitForFinished(5000);
}

QString XSession::tool(const QString &program, const QStringList &arguments, int timeoutMs) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    return QString::fromUtf8(process.readAllStandardOutput());
}

qulonglong XSession::waitForWindow(qint64 pid, const QString &title, int timeoutMs) const
{
    qulonglong found = 0;
    (void)QTest::qWaitFor(
        [&] {
            const QStringList ids =
                tool(QStringLiteral("xdotool"),
                     {QStringLiteral("search"), QStringLiteral("--all"),
                      QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                      QString::number(pid), QStringLiteral("--name"), u'^' + title + u'$'})
                    .split(u'\n', Qt::SkipEmptyParts);
            found = ids.isEmpty() ? 0 : ids.last().toULongLong();
            return found != 0;
        },
        timeoutMs);
    return found;
}

void XSession::click(qulonglong window, QPoint at) const
{
    tool(QStringLiteral("xdotool"),
         {QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(window),
          QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
          QStringLiteral("1")});
}

void XSession::key(const QString &keys) const
{
    tool(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
}

void XSession::keyTo(qulonglong window, const QString &keys) const
{
    // Without a window manager the keyboard follows the pointer; give the window the focus.
    tool(QStringLiteral("xdotool"),
         {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(window)});
    key(keys);
}

void XSession::typeInto(qulonglong window, QPoint at, const QString &text) const
{
    click(window, at);
    key(QStringLiteral("ctrl+a"));
    key(QStringLiteral("BackSpace"));
    if (!text.isEmpty())
        tool(QStringLiteral("xdotool"),
             {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"), text});
}

QString XSession::copyFrom(qulonglong window, QPoint at) const
{
    // An empty box copies nothing: clear the clipboard first so the last copy does not answer.
    tool(QStringLiteral("sh"),
         {QStringLiteral("-c"), QStringLiteral("printf '' | xclip -selection clipboard")});
    click(window, at);
    key(QStringLiteral("ctrl+a"));
    key(QStringLiteral("ctrl+c"));
    return tool(QStringLiteral("xclip"),
                {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
}

QImage XSession::grab(qulonglong window) const
{
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/windowXXXXXX.png"));
    file.open();
    tool(QStringLiteral("import"),
         {QStringLiteral("-window"), QString::number(window), file.fileName()});
    return QImage(file.fileName());
}

void XSession::close(qulonglong window) const
{
    Display *x = XOpenDisplay(m_display.toLocal8Bit().constData());
    if (!x)
        return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = Window(window);
    event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(x, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, Window(window), False, NoEventMask, &event);
    XCloseDisplay(x);
}
