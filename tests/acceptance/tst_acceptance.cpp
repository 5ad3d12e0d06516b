// The five built programs in real windows on a private Xvfb, driven as an operator drives them
// (xdotool, xclip, ImageMagick's import); what needs no real X server is proven offscreen.
#include "frames.h"
#include "harness.h"

#include <QSerialPort>
#include <X11/Xlib.h>

class TestAcceptance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Abstract sockets only, so the server killed at the end leaves no file behind.
        m_xvfb.startCommand(u"Xvfb -displayfd 1 -noreset -nolisten tcp -nolisten unix"_s);
        QVERIFY2(m_xvfb.waitForReadyRead(10000), "no Xvfb: tools/ensure-packages.sh test");
        const QByteArray display = ':' + m_xvfb.readAll().trimmed();
        qputenv("DISPLAY", display); // for every tool and program started from here on
        qputenv("QT_QPA_PLATFORM", "xcb");
        m_program.setProcessChannelMode(QProcess::ForwardedChannels);
    }
    void cleanupTestCase() { m_xvfb.close(); }
    void cleanup() { m_program.close(); }
    void operatorSession_data();
    void operatorSession();

private:
    static QByteArray run(const QString &command)
    {
        QProcess tool;
        tool.startCommand(command);
        tool.waitForFinished();
        return tool.readAllStandardOutput();
    }
    QPoint at(const char *control) const { return clickPoint(expectedWindow(m_name), control); }
    // Where the chosen option's indicator has its dark dot; dots() reads "10" for the first.
    QPoint dot(int port) const { return at(port == 1 ? "optCom(0)" : "optCom(1)") + QPoint(1, 0); }
    qulonglong window(const QString &title)
    {
        const QString search = u"xdotool search --all --onlyvisible --pid %1 --name ^%2$"_s;
        return run(search.arg(m_program.processId()).arg(title)).trimmed().toULongLong();
    }
    // Keys go where the pointer is: there is no window manager.
    void click(QPoint at, const QString &then = {})
    {
        run(u"xdotool mousemove --window %1 %2 %3 click 1 "_s.arg(m_window).arg(at.x()).arg(at.y())
            + then);
    }
    // "box=text" typed as an operator types, pasted when long; a control's name clicked.
    void play(const QString &script)
    {
        for (const QString &step : script.split(u'|')) {
            const QString text = step.section(u'=', 1);
            if (text.size() > 40)
                run(u"sh -c \"printf %s %1 | xclip -selection clipboard\""_s.arg(text));
            click(at(qPrintable(step.section(u'=', 0, 0))),
                  !step.contains(u'=') ? QString()
                  : text.size() > 40   ? u"key ctrl+a ctrl+v"_s
                                       : u"key ctrl+a BackSpace type --delay 5 "_s + text);
        }
    }
    // An older clipboard answers until the window has handled the keys.
    QString copy(QPoint at)
    {
        click(at, u"key ctrl+a ctrl+c"_s);
        return QString::fromUtf8(run(u"xclip -o -selection clipboard"_s));
    }
    QImage grab() { return QImage::fromData(run(u"import -window %1 png:-"_s.arg(m_window))); }
    QString dots()
    {
        const QImage shot = grab();
        return u"%1%2"_s.arg(qGray(shot.pixel(dot(1))) < 128).arg(qGray(shot.pixel(dot(2))) < 128);
    }
    // What the close button of a window frame sends.
    void close()
    {
        Display *x = XOpenDisplay(nullptr);
        XEvent event{ClientMessage};
        event.xclient.window = Window(m_window);
        event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(XInternAtom(x, "WM_DELETE_WINDOW", False));
        XSendEvent(x, Window(m_window), False, NoEventMask, &event);
        XCloseDisplay(x);
    }

    QProcess m_xvfb;
    QProcess m_program;
    QString m_name;
    qulonglong m_window = 0;
};

void TestAcceptance::operatorSession_data()
{
    QTest::addColumn<QString>("path"); // under the build directory
    QTest::addColumn<int>("port"); // opened at start
    QTest::addColumn<bool>("held"); // by another program at start
    QTest::addColumn<QString>("script"); // for play()
    QTest::addColumn<QByteArray>("frame"); // what the device gets first; alone on a slow line
    QTest::addColumn<int>("slowMs"); // 0, or End on a 9600-baud line with a frame this long on it
    const QString on = u"Text2=01dop1f0|Command1"_s, ffto = u"Text2=ffto0130202|Command1"_s;
    const QByteArray onFrame = Frames::secondGenerationFrame(u"01DOP1F0");
    const QByteArray fftoFrame = Frames::secondGenerationFrame(u"FFTO0130202");
    QTest::newRow("ostrel") << u"ostrel/ostrel"_s << 2 << false
                            << u"Text5=1|Text3=0|Text2=01dop1ff|Command1"_s
                            << Frames::firstGenerationFrame(1, u"01dop1ff", 0) << 0;
    QTest::newRow("marlo") << u"dio/marlo"_s << 2 << false << on << onFrame << 0;
    QTest::newRow("dunwell, held") << u"dio/dunwell"_s << 1 << true << on << onFrame << 0;
    QTest::newRow("quenby") << u"memory/quenby"_s << 1 << false << ffto << fftoFrame << 0;
    QTest::newRow("tamsin, held") << u"memory/tamsin"_s << 2 << true << ffto << fftoFrame << 0;
    // 2,003 bytes take 2,087 ms on the line; ostrel's 808 writes each follow a wait of about 2 ms.
    const QString w2000(2000, u'W'), w800(800, u'W');
    QTest::newRow("dunwell, End during a long ON command")
        << u"dio/dunwell"_s << 1 << false << u"Text2=%1|Command1"_s.arg(w2000)
        << Frames::secondGenerationFrame(w2000) << 2087;
    QTest::newRow("tamsin, End during a long write, another queued")
        << u"memory/tamsin"_s << 2 << false << u"Text3=%1|Command4|Command4"_s.arg(w2000)
        << Frames::secondGenerationFrame(w2000) << 2087;
    QTest::newRow("ostrel, closed during a long frame, another queued")
        << u"ostrel/ostrel"_s << 2 << false
        << u"Text5=1|Text3=65|Text2=%1|Command1|Command1"_s.arg(w800)
        << Frames::firstGenerationFrame(1, w800, 65) << 1700;
}

void TestAcceptance::operatorSession()
{
    QFETCH(QString, path);
    QFETCH(int, port);
    QFETCH(bool, held);
    QFETCH(QString, script);
    QFETCH(QByteArray, frame);
    QFETCH(int, slowMs);
    TwoPorts ports(slowMs ? PtyDevice::Pace::LineSpeed : PtyDevice::Pace::Instant);
    PtyDevice &device = ports.com(port);
    QSerialPort holder(device.path());
    QVERIFY(!held || holder.open(QIODevice::ReadWrite));
    m_name = path.section(u'/', -1);
    m_program.start(QStringLiteral(BIN_DIR "/") + path, {});
    if (held) { // its box comes before the window; Return answers it
        QTRY_VERIFY_WITH_TIMEOUT((m_window = window(u"系统信息"_s)), 10000);
        QVERIFY(!window(u"comm"_s));
        run(u"xdotool windowfocus --sync %1 key Return"_s.arg(m_window));
        holder.close();
    }
    QTRY_VERIFY_WITH_TIMEOUT((m_window = window(u"comm"_s)), 10000);
    QTRY_COMPARE(dots(), port == 1 ? u"10"_s : u"01"_s); // once the window is painted
    if (held) // the operator picks the freed port again
        click(dot(port));

    play(script);
    if (!slowMs) {
        QVERIFY(device.waitForBytes(frame.size()));
        device.write("ACK1");
        if (const QString dir = qEnvironmentVariable("CONSOLE_SCREENSHOTS"); !dir.isEmpty()) {
            QTest::qWait(300);
            QVERIFY(grab().save(dir + u'/' + m_name + u".png"_s));
        }
        QTRY_COMPARE(copy(at("Text1")), u"ACK1"_s);
    }
    QTest::qWait(300); // a slow frame is well on its way

    // The desktop exit: the window goes at once, what is on the line ends whole.
    const qint64 endAt = device.elapsedMs();
    m_name == u"ostrel" ? close() : click(at("Command3"));
    QTRY_VERIFY(!window(u"comm"_s));
    QCOMPARE_LT(device.elapsedMs() - endAt, 500);
    QVERIFY(!slowMs || device.received().size() < frame.size());
    QVERIFY(
        m_program.waitForFinished(slowMs ? slowMs + 1000 - int(device.elapsedMs() - endAt) : 5000));
    QVERIFY(m_program.exitStatus() == QProcess::NormalExit && m_program.exitCode() == 0);
    QVERIFY(QSerialPort(device.path()).open(QIODevice::ReadWrite));
    QVERIFY(device.waitForBytes(frame.size()));
    QTest::qWait(100);
    QCOMPARE(slowMs ? device.received() : device.received().first(frame.size()), frame);
}

QTEST_MAIN(TestAcceptance)
#include "tst_acceptance.moc"
