// The five built programs in real windows on a private Xvfb, driven as an operator drives them
// (xdotool, xclip, ImageMagick's import); what needs no real X server is proven offscreen.
#include "frames.h"
#include "harness.h"

#include <QProcess>
#include <QSerialPort>
#include <X11/Xlib.h>

// A program, its start port (held by another program then when `held`), play()'s script with `text`
// repeated for "%1", `value` in ostrel's frame. When slowMs, End comes while the first frame is on
// a 9600-baud line that long: 2,003 bytes take 2,087 ms; ostrel's 808 writes follow waits of ~2 ms.
// clang-format off
const struct Session { const char *name, *path, *script, *text; int port; bool held = false; int repeat = 1, value = 0, slowMs = 0; } kSessions[] = {
    {"ostrel", "ostrel/ostrel", "Text5=1|Text3=0|Text2=%1|Command1", "01dop1ff", 2},
    {"marlo", "dio/marlo", "Text2=%1|Command1", "01dop1f0", 2},
    {"dunwell, held", "dio/dunwell", "Text2=%1|Command1", "01dop1f0", 1, true},
    {"quenby", "memory/quenby", "Text2=%1|Command1", "ffto0130202", 1},
    {"tamsin, held", "memory/tamsin", "Text2=%1|Command1", "ffto0130202", 2, true},
    {"dunwell, End during a long ON command", "dio/dunwell", "Text2=%1|Command1", "W", 1, false, 2000, 0, 2087},
    {"tamsin, End during a long write, another queued", "memory/tamsin", "Text3=%1|Command4|Command4", "W", 2, false, 2000, 0, 2087},
    {"ostrel, closed during a long frame, another queued", "ostrel/ostrel", "Text5=1|Text3=65|Text2=%1|Command1|Command1", "W", 2, false, 800, 65, 1700}};
// clang-format on

class TestAcceptance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Abstract sockets only, so the server killed at the end leaves no file behind.
        m_xvfb.startCommand(u"Xvfb -displayfd 1 -noreset -nolisten tcp -nolisten unix"_s);
        QVERIFY2(m_xvfb.waitForReadyRead(10000), "no Xvfb: tools/ensure-packages.sh test");
        qputenv("DISPLAY", ':' + m_xvfb.readAll().trimmed()); // for every tool and program
        qputenv("QT_QPA_PLATFORM", "xcb");
        m_program.setProcessChannelMode(QProcess::ForwardedChannels);
    }
    void cleanupTestCase() { m_xvfb.close(); }
    void cleanup() { m_program.close(); }

    void operatorSession_data() { useRows(kSessions); }
    void operatorSession()
    {
        const auto [row, path, steps, unit, port, held, n, value, slowMs] = currentRow(kSessions);
        const QString text = QString(unit).repeated(n);
        m_name = QString(path).section(u'/', -1);
        const QByteArray frame = m_name == u"ostrel" ? Frames::firstGenerationFrame(1, text, value)
                                                     : Frames::secondGenerationFrame(text);
        TwoPorts ports(slowMs ? PtyDevice::Pace::LineSpeed : PtyDevice::Pace::Instant);
        PtyDevice &device = ports.com(port);
        QSerialPort holder(device.path());
        QVERIFY(!held || holder.open(QIODevice::ReadWrite));
        m_program.start(QStringLiteral(BIN_DIR "/") + path, {});
        if (held) { // its box comes before the window; Return answers it
            QTRY_VERIFY_WITH_TIMEOUT((m_window = window(u"系统信息"_s)), 10000);
            QVERIFY(!window(u"comm"_s));
            run(u"xdotool windowfocus --sync %1 key Return"_s.arg(m_window));
            holder.close();
        }
        QTRY_VERIFY_WITH_TIMEOUT((m_window = window(u"comm"_s)), 10000);
        QTRY_VERIFY(chosen(port) && !chosen(3 - port)); // once the window is painted
        if (held) // the operator picks the freed port again
            click(dot(port));

        play(QString(steps).arg(text));
        if (!slowMs) { // the device answers at once
            QVERIFY(device.waitForBytes(frame.size()));
            device.write("ACK1");
        }
        QTest::qWait(300); // the answer shown, or a slow frame well on its way
        const QString pictures = qEnvironmentVariable("CONSOLE_SCREENSHOTS");
        QVERIFY(slowMs || pictures.isEmpty() || grab().save(pictures + u'/' + m_name + u".png"_s));
        const QString copy = u"key ctrl+a ctrl+c exec --sync xclip -o -selection clipboard"_s;
        if (!slowMs) // an older clipboard answers until the window has handled the keys
            QTRY_COMPARE(click(at("Text1"), copy), "ACK1"_ba);

        // The desktop exit: the window goes at once, what is on the line ends whole.
        const QDeadlineTimer programEnded(slowMs ? slowMs + 1000 : 5000);
        m_name == u"ostrel" ? close() : void(click(at("Command3")));
        QTRY_VERIFY_WITH_TIMEOUT(!window(u"comm"_s), 500);
        QVERIFY(!slowMs || device.received().size() < frame.size());
        QVERIFY(m_program.waitForFinished(int(programEnded.remainingTime())));
        QVERIFY(m_program.exitStatus() == QProcess::NormalExit && m_program.exitCode() == 0);
        QVERIFY(QSerialPort(device.path()).open(QIODevice::ReadWrite));
        QVERIFY(device.waitForBytes(frame.size()));
        QTest::qWait(100);
        QCOMPARE(slowMs ? device.received() : device.received().first(frame.size()), frame);
    }

private:
    static QByteArray run(const QString &command)
    {
        QProcess tool;
        tool.startCommand(command);
        return tool.waitForFinished() ? tool.readAllStandardOutput() : QByteArray();
    }
    QPoint at(const char *control) const { return clickPoint(expectedWindow(m_name), control); }
    // Where the chosen option's indicator has its dark dot; a click there chooses it.
    QPoint dot(int port) const { return at(port == 1 ? "optCom(0)" : "optCom(1)") + QPoint(1, 0); }
    bool chosen(int port) { return qGray(grab().pixel(dot(port))) < 128; }
    qulonglong window(const QString &title)
    {
        const QString search = u"xdotool search --all --onlyvisible --pid %1 --name ^%2$"_s;
        return run(search.arg(m_program.processId()).arg(title)).trimmed().toULongLong();
    }
    // Keys go where the pointer is: there is no window manager. Returns what the keys print.
    QByteArray click(QPoint at, const QString &then = {})
    {
        const QString move = u"xdotool mousemove --window %1 %2 %3 click 1 "_s;
        return run(move.arg(m_window).arg(at.x()).arg(at.y()) + then);
    }
    // "box=text" typed as an operator types, pasted when long; a control's name clicked.
    void play(const QString &script)
    {
        for (const QString &step : script.split(u'|')) {
            const QString text = step.section(u'=', 1);
            if (text.size() > 40)
                run(u"sh -c \"printf %s %1 | xclip -selection clipboard\""_s.arg(text));
            const QString keys = text.size() > 40
                                     ? u"key ctrl+a ctrl+v"_s
                                     : u"key ctrl+a BackSpace type --delay 5 "_s + text;
            click(at(qPrintable(step.section(u'=', 0, 0))), step.contains(u'=') ? keys : QString());
        }
    }
    QImage grab() { return QImage::fromData(run(u"import -window %1 png:-"_s.arg(m_window))); }
    // What the close button of a window frame sends.
    void close()
    {
        Display *x = XOpenDisplay(nullptr);
        const Atom protocols = XInternAtom(x, "WM_PROTOCOLS", False);
        XEvent event{.xclient = {ClientMessage, 0, False, x, Window(m_window), protocols, 32, {}}};
        event.xclient.data.l[0] = long(XInternAtom(x, "WM_DELETE_WINDOW", False));
        XSendEvent(x, Window(m_window), False, NoEventMask, &event);
        XCloseDisplay(x);
    }

    QProcess m_xvfb;
    QProcess m_program;
    QString m_name;
    qulonglong m_window = 0;
};

QTEST_MAIN(TestAcceptance)
#include "tst_acceptance.moc"
