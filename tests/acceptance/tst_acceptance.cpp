// The five built programs in real windows on a private Xvfb, driven as an operator drives them
// (xdotool, xclip, ImageMagick's import); what needs no real X server is proven offscreen.
// With CONSOLE_WINDOWS_DIR naming a Windows release (the five .exe with their DLLs, or the
// folder holding its zip and installer) the same sessions run the .exe under Wine.
#include "frames.h"
#include "harness.h"

#include <QDirIterator>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>

using namespace std::literals;

// A program and its start port, held by another program when `held` until its box is answered
// (missing under Wine, which lets a second program open a port); then, or at once, the operator
// picks port `to`. play()'s script with `text` repeated for "%1"; `sent`: the commands the device
// gets, in order ("%1": the text), one every `stepMs` when a pattern runs; `value` in ostrel's
// frame. When `slow`, End comes while the first frame is on a 9600-baud line: 2,003 bytes take
// 2,087 ms; ostrel's 808 writes follow waits of ~2 ms (~4.5 ms under Wine).
// clang-format off
const struct Session { const char *name, *path, *script, *text; int port, to = 0; const char *sent = "%1"; int stepMs = 0; bool held = false; int repeat = 1, value = 0; bool slow = false; } kSessions[] = {
    {"ostrel", "ostrel/ostrel", "Text5=1|Text3=0|Text2=%1|Command1", "01DOP1FF", 2},
    {"marlo, the running light, switched to COM1", "dio/marlo", "Command2", "", 2, 1, "01DOP001|01DOP000|01DOP002|01DOP000|01DOP004", 200},
    {"marlo, the ON/OFF toggle", "dio/marlo", "Text2=%1|Command1", "01dop1f0", 2, 0, "%1|01DOP100|%1", 200},
    {"dunwell, COM1 held at start", "dio/dunwell", "Text2=%1|Command1", "01dop1f0", 1, 1, "%1", 0, true},
    {"quenby, its three commands, the first with a Chinese character", "memory/quenby", "Text2=%1|Command1|Command4|Command2", "ffto01中", 1, 0, "%1|01ZW00ABCDEFGH|01ZR0008"},
    {"tamsin, COM2 held at start", "memory/tamsin", "Text2=%1|Command1", "ffto0130202", 2, 2, "%1", 0, true},
    {"dunwell, End during a long ON command", "dio/dunwell", "Text2=%1|Command1", "W", 1, 0, "%1", 0, false, 2000, 0, true},
    {"tamsin, End during a long write, another queued", "memory/tamsin", "Text3=%1|Command4|Command4", "W", 2, 0, "%1", 0, false, 2000, 0, true},
    {"ostrel, closed during a long frame, another queued", "ostrel/ostrel", "Text5=1|Text3=65|Text2=%1|Command1|Command1", "W", 2, 0, "%1", 0, false, 800, 65, true}};
// clang-format on
const QString kWine = u"/usr/lib/wine/wine64"_s;

class TestAcceptance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QDir release(m_windows);
        if (wine() && !release.exists(u"quenby.exe"_s) && release.entryList({u"*.zip"_s}).isEmpty())
            QSKIP(qPrintable(
                u"No Windows release in %1: ./build-windows makes one"_s.arg(m_windows)));
        // Abstract sockets only, so the server killed at the end leaves no file behind.
        m_xvfb.startCommand(u"Xvfb -displayfd 1 -noreset -nolisten tcp -nolisten unix"_s);
        QVERIFY2(m_xvfb.waitForReadyRead(10000), "no Xvfb: tools/ensure-packages.sh test");
        qputenv("DISPLAY", ':' + m_xvfb.readAll().trimmed()); // for every tool and program
        qputenv("QT_QPA_PLATFORM", "xcb");
        m_x = XOpenDisplay(nullptr);
        m_program.setProcessChannelMode(QProcess::ForwardedChannels);
        if (wine()) { // one prefix for the run, the release unzipped into it
            qputenv("WINEPREFIX", m_prefix.path().toLocal8Bit());
            qputenv("WINEDEBUG", "-all");
            qunsetenv("QT_QPA_PLATFORM");
            QCOMPARE(QProcess::execute(SOURCE_DIR "/tools/wineprefix.sh", {m_prefix.path()}), 0);
            for (const QString &zip : release.entryList({u"*.zip"_s}))
                QCOMPARE(QProcess::execute(u"unzip"_s, {u"-qd"_s, drive(), release.filePath(zip)}),
                         0);
            m_programs =
                release.exists(u"quenby.exe"_s) ? release : found(u"quenby.exe"_s)[0].dir();
        }
    }
    void cleanupTestCase()
    {
        if (wine())
            run(u"/usr/lib/wine/wineserver -k"_s);
        if (m_x)
            XCloseDisplay(m_x);
        m_xvfb.close();
    }
    void cleanup() { m_program.close(); }

    void operatorSession_data() { useRows(kSessions); }
    void operatorSession() { session(currentRow(kSessions), m_programs); }

    // The installer, silent both ways: the Start menu, a console from the installed folder.
    void installer()
    {
        const QStringList setup = QDir(m_windows).entryList({u"*setup*.exe"_s});
        if (!wine() || setup.isEmpty())
            QSKIP("no installer beside a Windows release");
        QCOMPARE(QProcess::execute(kWine, {QDir(m_windows).filePath(setup[0]), u"/S"_s}), 0);
        QCOMPARE(found(u"*.lnk"_s).size(), 5); // the Start menu, one a program
        const QList<QFileInfo> installed = found(u"quenby.exe"_s, u"/Program Files"_s);
        QCOMPARE(installed.size(), 1);
        const QDir folder = installed[0].dir();
        session(*std::ranges::find(kSessions, "memory/quenby"sv, &Session::path), folder);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(QProcess::execute(kWine, {folder.filePath(u"uninstall.exe"_s), u"/S"_s}), 0);
        // The uninstaller runs on from a copy of itself.
        QTRY_VERIFY_WITH_TIMEOUT(!folder.exists() && found(u"*.lnk"_s).isEmpty(), 30000);
    }

private:
    bool wine() const { return !m_windows.isEmpty(); }
    QString drive() const { return m_prefix.filePath(u"drive_c"_s); }
    QString link(int com) const { return m_prefix.filePath(u"ports/com%1"_s.arg(com)); }
    QList<QFileInfo> found(const QString &pattern, const QString &under = {}) const
    {
        QList<QFileInfo> files;
        QDirIterator it(drive() + under, {pattern}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QFileInfo(it.next());
        return files;
    }
    void session(const Session &row, const QDir &programs)
    {
        const auto [name, path, steps, unit, startPort, to, sent, stepMs, held, n, value, slow] =
            row;
        const QString text = QString(unit).repeated(n);
        m_name = QString(path).section(u'/', -1);
        const int port = to ? to : startPort;
        QByteArray frames;
        for (const QString &command : QString(sent).replace(u"%1"_s, text).split(u'|'))
            frames += m_name == u"ostrel" ? Frames::firstGenerationFrame(1, command, value)
                                          : Frames::secondGenerationFrame(command);
        TwoPorts ports(PtyDevice::Pace::LineSpeed);
        PtyDevice &device = ports.com(port);
        QSerialPort holder(ports.com(startPort).path());
        QVERIFY(wine() || !held || holder.open(QIODevice::ReadWrite));
        for (int com = 1; wine() && com <= 2; ++com) { // Wine opens the links anew at every open
            QFile::remove(link(com));
            QVERIFY((held && com == startPort) || QFile::link(ports.com(com).path(), link(com)));
        }
        wine() ? m_program.start(kWine, {programs.filePath(m_name + u".exe"_s)})
               : m_program.start(QStringLiteral(BIN_DIR "/") + path, {});
        if (held) { // its box comes before the window; Return answers it
            QTRY_VERIFY_WITH_TIMEOUT((m_window = window(u"系统信息"_s)), 20000);
            QVERIFY(!window(u"comm"_s));
            run(u"xdotool windowfocus --sync %1 key Return"_s.arg(m_window));
            holder.close();
            QVERIFY(!wine() || QFile::link(ports.com(startPort).path(), link(startPort)));
        }
        QTRY_VERIFY_WITH_TIMEOUT((m_window = window(u"comm"_s)), 20000);
        QCOMPARE(grab().size(), expectedWindow(m_name).clientArea);
        QTRY_VERIFY(chosen(startPort) && !chosen(3 - startPort)); // once the window is painted
        if (to) {
            click(dot(to));
            QTRY_VERIFY(chosen(to) && !chosen(3 - to));
        }

        play(QString(steps).replace(u"%1"_s, text));
        QElapsedTimer onTheLine; // since the click that sends
        onTheLine.start();
        QVERIFY(device.waitForBytes(slow ? 1 : frames.size()));
        const QList<PtyDevice::Arrival> got = device.arrivals();
        for (qsizetype i = 1; stepMs && i < got.size(); ++i) { // loosely: the machine is shared
            const qint64 step = got[i].atMs - got[i - 1].atMs;
            QVERIFY2(step > stepMs * 3 / 4 && step < stepMs * 2, qPrintable(QString::number(step)));
        }
        if (!slow)
            device.write("ACK1"); // at line speed: the console reads it in pieces
        QTest::qWait(300); // the answer shown, or a slow frame well on its way
        const QString pictures = qEnvironmentVariable("CONSOLE_SCREENSHOTS");
        QVERIFY(slow || pictures.isEmpty() || grab().save(pictures + u'/' + m_name + u".png"_s));
        const QString copy = u"key ctrl+a ctrl+c exec --sync xclip -o -selection clipboard"_s;
        if (!slow) { // an older clipboard answers until the window has handled the keys
            if (wine()) // see the README: Wine 8 never completes Qt's WaitCommEvent
                QEXPECT_FAIL("", "Wine 8 delivers no reply to Qt's serial port", Continue);
            QTRY_COMPARE_WITH_TIMEOUT(click(at("Text1"), copy), "ACK1"_ba, wine() ? 0 : 5000);
        }

        // The desktop exit: the window goes at once, what is on the line ends whole. Bound loosely:
        // its rest at half the pace it went so far (Wine's waits slow down once hidden), plus 1 s.
        const qsizetype before = device.received().size();
        const QDeadlineTimer programEnded(
            slow ? (frames.size() - before) * 2 * onTheLine.elapsed() / std::max(before, 1LL) + 1000
                 : 5000);
        m_name == u"ostrel" ? close() : void(click(at("Command3")));
        QTRY_VERIFY_WITH_TIMEOUT(!window(u"comm"_s), 500);
        QVERIFY(!slow || device.received().size() < frames.size());
        QVERIFY(m_program.waitForFinished(int(programEnded.remainingTime())));
        QVERIFY(m_program.exitStatus() == QProcess::NormalExit && m_program.exitCode() == 0);
        QVERIFY(QSerialPort(device.path()).open(QIODevice::ReadWrite));
        QVERIFY(device.waitForBytes(frames.size()));
        QTest::qWait(100);
        QCOMPARE(slow ? device.received() : device.received().first(frames.size()), frames);
    }

    static QByteArray run(const QString &command)
    {
        QProcess tool;
        tool.startCommand(command);
        return tool.waitForFinished() ? tool.readAllStandardOutput() : QByteArray();
    }
    QPoint at(const char *control) const { return clickPoint(expectedWindow(m_name), control); }
    // Where the chosen option's indicator has its dot, black, or blue under the pointer in
    // Windows' style, on white; a click there chooses it.
    QPoint dot(int port) const { return at(port == 1 ? "optCom(0)" : "optCom(1)") + QPoint(1, 0); }
    bool chosen(int port) { return qGray(grab().pixel(dot(port))) < 192; }
    qulonglong window(const QString &title)
    {
        const QString search = u"xdotool search --all --onlyvisible --pid %1 --name ^%2$"_s;
        const qulonglong found =
            run(search.arg(m_program.processId()).arg(title)).trimmed().toULongLong();
        // Wine waits up to 2 s for a window manager to take a window it hides; there is none,
        // so the test puts the window in normal state as one would.
        const Atom state = XInternAtom(m_x, "WM_STATE", False);
        const long normal[] = {NormalState, None};
        if (found && wine())
            XChangeProperty(m_x, Window(found), state, state, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(normal), 2);
        XFlush(m_x);
        return found;
    }
    // Keys go where the pointer is: there is no window manager. Returns what the keys print.
    QByteArray click(QPoint at, const QString &then = {})
    {
        const QString move = u"xdotool mousemove --window %1 %2 %3 click 1 "_s;
        return run(move.arg(m_window).arg(at.x()).arg(at.y()) + then);
    }
    // "box=text" typed as an operator types, pasted when long or not ASCII, as an input method
    // hands it over; a control's name clicked.
    void play(const QString &script)
    {
        for (const QString &step : script.split(u'|')) {
            const QString text = step.section(u'=', 1);
            const bool paste = text.size() > 40 || text.toLatin1() != text.toUtf8();
            if (paste)
                run(u"sh -c \"printf %s %1 | xclip -selection clipboard\""_s.arg(text));
            const QString keys =
                paste ? u"key ctrl+a ctrl+v"_s : u"key ctrl+a BackSpace type --delay 5 "_s + text;
            click(at(qPrintable(step.section(u'=', 0, 0))), step.contains(u'=') ? keys : QString());
        }
    }
    QImage grab() { return QImage::fromData(run(u"import -window %1 png:-"_s.arg(m_window))); }
    // What the close button of a window frame sends.
    void close()
    {
        const Atom protocols = XInternAtom(m_x, "WM_PROTOCOLS", False);
        XEvent event{
            .xclient = {ClientMessage, 0, False, m_x, Window(m_window), protocols, 32, {}}};
        event.xclient.data.l[0] = long(XInternAtom(m_x, "WM_DELETE_WINDOW", False));
        XSendEvent(m_x, Window(m_window), False, NoEventMask, &event);
        XFlush(m_x);
    }

    QProcess m_xvfb;
    QProcess m_program;
    const QString m_windows = qEnvironmentVariable("CONSOLE_WINDOWS_DIR"); // a release, or none
    QDir m_programs; // the five .exe under test
    QTemporaryDir m_prefix; // Wine's
    Display *m_x = nullptr;
    QString m_name;
    qulonglong m_window = 0;
};

QTEST_MAIN(TestAcceptance)
#include "tst_acceptance.moc"
