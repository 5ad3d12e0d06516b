// The five built programs in real windows on a private X display, driven as an operator
// drives them; what needs no real X server is proven offscreen. With CONSOLE_WINDOWS_DIR
// naming a Windows release the same sessions run the .exe under Wine.
#include "codepage.h"
#include "desktop.h"
#include "frames.h"
#include "harness.h"

#include <QDirIterator>
#include <QSerialPort>
#include <algorithm>

using namespace std::literals;

namespace {

// How a program's start port is at start: free; held by another program until its box is
// answered; missing until then.
enum Start { Free, Held, Missing };

// A program, on its start port; then, or at once, the operator picks port `to`. play()'s
// script with `text` repeated for "%1"; `sent`: the commands the device gets, in order ("%1":
// the text), one every `stepMs` when a pattern runs; `value` in ostrel's frame. When `slow`,
// End comes while the first frame is on a 9600-baud line: 2,003 bytes take 2,087 ms; ostrel's
// 808 writes follow waits of ~2 ms (~4.5 ms under Wine).
// clang-format off
const struct Session { const char *name, *program, *script, *text; int to = 0; const char *sent = "%1"; int stepMs = 0; Start start = Free; int repeat = 1, value = 0; bool slow = false; } kSessions[] = {
    {"ostrel", "ostrel", "Text5=1|Text3=0|Text2=%1|Command1", "01DOP1FF"},
    {"marlo, the running light, switched to COM1", "marlo", "Command2", "", 1, "01DOP001|01DOP000|01DOP002|01DOP000|01DOP004", 200},
    {"marlo, the ON/OFF toggle", "marlo", "Text2=%1|Command1", "01dop1f0", 0, "%1|01DOP100|%1", 200},
    {"dunwell, COM1 held at start", "dunwell", "Text2=%1|Command1", "01dop1f0", 1, "%1", 0, Held},
    {"quenby, its three commands, the first with a Chinese character", "quenby", "Text2=%1|Command1|Command4|Command2", "ffto01中", 0, "%1|01ZW00ABCDEFGH|01ZR0008"},
    {"quenby, COM1 missing at start", "quenby", "Text2=%1|Command1", "ffto0130202", 1, "%1", 0, Missing},
    {"tamsin, COM2 held at start", "tamsin", "Text2=%1|Command1", "ffto0130202", 2, "%1", 0, Held},
    {"dunwell, End during a long ON command", "dunwell", "Text2=%1|Command1", "W", 0, "%1", 0, Free, 2000, 0, true},
    {"tamsin, End during a long write, another queued", "tamsin", "Text3=%1|Command4|Command4", "W", 0, "%1", 0, Free, 2000, 0, true},
    {"ostrel, closed during a long frame, another queued", "ostrel", "Text5=1|Text3=65|Text2=%1|Command1|Command1", "W", 0, "%1", 0, Free, 800, 65, true}};

const QByteArray kRead = "\x01" "01ZR0008ABCDEFGH9\x04";
const QByteArray kGbk = "\x01" "01ZR0002\xD6\xD0\xCE\xC4" "3\x04"; // 中文 in GBK

// The device on the start port answers each command with the next answer, as the kind of
// device `pace` says; the buttons are clicked 20 ms apart. The red box then shows `shown`.
const QByteArray kOk = "\x01OK\x04";
const struct Reply { const char *name, *program, *buttons; PtyDevice::Pace pace; QList<PtyDevice::Answer> answers; QByteArray shown; } kReplies[] = {
    {"quenby's read, through a USB adapter that hands the answer over every 16 ms", "quenby", "Command2", PtyDevice::Pace::UsbAdapter, {{{kRead}}}, kRead},
    {"quenby's write and read clicked 20 ms apart, each answered at line speed: the read's answer alone", "quenby", "Command4|Command2", PtyDevice::Pace::LineSpeed, {{{kOk}}, {{kRead}}}, kRead},
    {"tamsin's read answered in GBK: a character a byte", "tamsin", "Command2", PtyDevice::Pace::LineSpeed, {{{kGbk}}}, kGbk},
    {"quenby's read answered by native USB at once, in two pieces 15 ms apart: whole", "quenby", "Command2", PtyDevice::Pace::Instant, {{{kRead.first(5), kRead.sliced(5)}, 15}}, kRead},
    {"quenby's write through an echoing RS-485 adapter: the echo whole, then the answer", "quenby", "Command4", PtyDevice::Pace::Rs485Echo, {{{kOk}}},
     Frames::secondGenerationFrame(u"01ZW00ABCDEFGH") + kOk},
};
// clang-format on

QByteArray shownAs(const QByteArray &bytes)
{
    return CodePage::fromBytes(bytes).toUtf8();
}

} // namespace

class TestAcceptance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QString release = qEnvironmentVariable("CONSOLE_WINDOWS_DIR");
        const QString shim = qEnvironmentVariable("WINEPTY_SO");
        if (!release.isEmpty()) {
            const QDir folder(release);
            if (!folder.exists(u"quenby.exe"_s) && folder.entryList({u"*.zip"_s}).isEmpty())
                QSKIP(qPrintable(
                    u"No Windows release in %1: ./build-windows makes one"_s.arg(release)));
            if (shim.isEmpty() || !QFile::exists(shim))
                QSKIP("No wine-pty shim: without it Wine 8 gives Qt's serial port no reply; "
                      "../shared/wine-pty/build.sh builds it");
        }
        m_desktop = std::make_unique<Desktop>(release, shim);
    }
    void cleanupTestCase() { m_desktop.reset(); }
    void cleanup()
    {
        m_desktop->program().close();
        m_desktop->connect(1, {});
        m_desktop->connect(2, {});
    }

    void operatorSession_data() { useRows(kSessions); }
    void operatorSession() { session(currentRow(kSessions)); }

    void replies_data() { useRows(kReplies); }
    void replies()
    {
        const auto &row = currentRow(kReplies);
        if (row.answers.size() > 1)
            SKIP_WITHOUT_THE_MILLISECOND();
        TwoPorts ports(row.pace);
        QVERIFY(startWith(row.program, ports));
        ports.com(startPort()).answerWith(row.answers);
        QList<QPoint> buttons;
        for (const QString &button : QString::fromLatin1(row.buttons).split(u'|'))
            buttons << at(qPrintable(button));
        m_desktop->clickInTurn(buttons, 20);
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop->copy(at("Text1")), shownAs(row.shown), 5000);
    }

    // The running light with the device echoing every command at line speed: between steps
    // the box holds that step's answer, whole and alone. A sample taken as the next command
    // arrives tells nothing and is left out.
    void eachStepsAnswerAlone()
    {
        TwoPorts ports(PtyDevice::Pace::LineSpeed);
        QVERIFY(startWith("marlo", ports));
        PtyDevice &device = ports.com(startPort());
        const QStringList steps{u"01DOP001"_s, u"01DOP000"_s, u"01DOP002"_s, u"01DOP000"_s,
                                u"01DOP004"_s, u"01DOP000"_s, u"01DOP008"_s};
        QByteArrayList answers;
        for (const QString &step : steps)
            answers << Frames::secondGenerationFrame(step);
        device.answerWith(answers);
        m_desktop->click(at("Command2"));
        int seen = 0;
        for (qsizetype step = 0; step < answers.size(); ++step) {
            QVERIFY(QTest::qWaitFor([&] { return device.arrivals().size() > step; }, 2000));
            for (const QDeadlineTimer stepEnds(2000); !stepEnds.hasExpired();) {
                const QByteArray shown = m_desktop->copy(at("Text1"));
                if (device.arrivals().size() > step + 1)
                    break; // the next command may have come before the copy
                const QByteArray expected = shownAs(answers[step]);
                QVERIFY2(expected.startsWith(shown), shown.constData()); // no fragment, no mix
                if (shown == expected) {
                    ++seen;
                    break;
                }
            }
        }
        QVERIFY2(seen >= 4, qPrintable(u"%1 of 7 steps seen between commands"_s.arg(seen)));
    }

    // A switch asked for while a long command and a read still go out on COM1: both go out
    // there whole, the window keeps working, and a write clicked meanwhile goes to COM2.
    void switchWhileALongCommandGoesOut()
    {
        TwoPorts ports(PtyDevice::Pace::LineSpeed);
        QVERIFY(startWith("quenby", ports));
        const QString text(2000, u'F'); // 2 s on the line
        m_desktop->type(at("Text2"), text);
        play(u"Command1|Command2|optCom(1)|Command4"_s);
        QVERIFY2(ports.com1.received().size() < 1000, "the window waited for the line");
        const QByteArray long1 = Frames::secondGenerationFrame(text);
        const QByteArray read = Frames::secondGenerationFrame(u"01ZR0008");
        const QByteArray write = Frames::secondGenerationFrame(u"01ZW00ABCDEFGH");
        QVERIFY(waitForBytes(ports.com2, write.size(), 10000));
        QTest::qWait(100);
        QCOMPARE(ports.com1.received(), long1 + read);
        QCOMPARE(ports.com2.received(), write);
        QCOMPARE(m_desktop->copy(at("Text4")), "54"); // 校验和: the write, the last to go out
    }

    // The device on COM1 goes in the middle of a command longer than the system takes at once:
    // one box, no processor spent on the gone port, and nothing of what was written to it ever
    // reaches COM2, where a read then goes out at its click.
    void lostDevice()
    {
        TwoPorts ports(PtyDevice::Pace::LineSpeed);
        QVERIFY(startWith("quenby", ports));
        m_desktop->type(at("Text2"), QString(30000, u'F')); // 31 s on the line
        m_desktop->click(at("Command1"));
        QVERIFY(waitForBytes(ports.com1, 500));
        ports.com1.hangUp();
        qulonglong box = 0;
        QTRY_VERIFY_WITH_TIMEOUT((box = m_desktop->window(u"系统信息"_s)), 5000);
        Desktop::run(u"xdotool windowfocus --sync %1 key Return"_s.arg(box));
        QTRY_VERIFY(!m_desktop->window(u"系统信息"_s));
        const double before = m_desktop->processorSeconds();
        QTest::qWait(1000);
        QVERIFY2(m_desktop->processorSeconds() - before < 0.25,
                 "a port left open on a gone device spins");
        play(u"optCom(1)|Command2"_s);
        const QByteArray read = Frames::secondGenerationFrame(u"01ZR0008");
        QVERIFY(waitForBytes(ports.com2, read.size()));
        QTest::qWait(500);
        QCOMPARE(ports.com2.received(), read);
        QVERIFY2(!m_desktop->window(u"系统信息"_s), "one box for one loss");
    }

    // The installer, silent both ways: the Start menu, a console from the installed folder.
    void installer()
    {
        const QStringList setup = QDir(m_desktop->release()).entryList({u"*setup*.exe"_s});
        if (!m_desktop->wine() || setup.isEmpty())
            QSKIP("no installer beside a Windows release");
        const QString wine = u"/usr/lib/wine/wine64"_s;
        QCOMPARE(QProcess::execute(wine, {QDir(m_desktop->release()).filePath(setup[0]), u"/S"_s}),
                 0);
        QCOMPARE(found(u"*.lnk"_s).size(), 5); // the Start menu, one a program
        const QList<QFileInfo> installed = found(u"quenby.exe"_s, u"/Program Files"_s);
        QCOMPARE(installed.size(), 1);
        const QDir folder = installed[0].dir();
        m_desktop->usePrograms(folder);
        session(*std::ranges::find(kSessions, "quenby"sv, &Session::program));
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(QProcess::execute(wine, {folder.filePath(u"uninstall.exe"_s), u"/S"_s}), 0);
        // The uninstaller runs on from a copy of itself.
        QTRY_VERIFY_WITH_TIMEOUT(!folder.exists() && found(u"*.lnk"_s).isEmpty(), 30000);
    }

private:
    QList<QFileInfo> found(const QString &pattern, const QString &under = {}) const
    {
        QList<QFileInfo> files;
        QDirIterator it(m_desktop->drive() + under, {pattern}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QFileInfo(it.next());
        return files;
    }

    // Starts a program with both ports connected; false when its window does not come.
    bool startWith(const char *program, TwoPorts &ports)
    {
        m_name = QString::fromLatin1(program);
        m_desktop->connect(1, ports.com1.path());
        m_desktop->connect(2, ports.com2.path());
        m_desktop->start(m_name);
        qulonglong window = 0;
        if (!QTest::qWaitFor([&] { return (window = m_desktop->window(u"comm"_s)) != 0; }, 20000))
            return false;
        m_desktop->use(window);
        return true;
    }
    int startPort() const { return programRow(m_name).program.startPort; }

    void session(const Session &row)
    {
        const auto [name, programName, steps, unit, to, sent, stepMs, start, n, value, slow] = row;
        const QString text = QString(unit).repeated(n);
        m_name = QString::fromLatin1(programName);
        const int startPort = this->startPort();
        const int port = to ? to : startPort;
        QByteArray frames;
        for (const QString &command : QString(sent).replace(u"%1"_s, text).split(u'|'))
            frames += m_name == u"ostrel"
                          ? Frames::firstGenerationFrame(1, command, value).writes().join()
                          : Frames::secondGenerationFrame(command);
        TwoPorts ports(PtyDevice::Pace::LineSpeed);
        PtyDevice &device = ports.com(port);
        for (int com = 1; com <= 2; ++com)
            m_desktop->connect(com, start == Missing && com == startPort ? QString()
                                                                         : ports.com(com).path());
        QSerialPort holder(m_desktop->port(startPort));
        QVERIFY(start != Held || holder.open(QIODevice::ReadWrite));
        m_desktop->start(m_name);
        if (start != Free) { // its box comes before the window; Return answers it
            qulonglong box = 0;
            QTRY_VERIFY_WITH_TIMEOUT(
                (box = m_desktop->window(u"系统信息"_s)) || m_desktop->window(u"comm"_s), 20000);
            if (m_desktop->wine() && start == Held)
                QEXPECT_FAIL("", "Wine lets a second program open a COM port that one holds",
                             Abort);
            QVERIFY(box && !m_desktop->window(u"comm"_s));
            Desktop::run(u"xdotool windowfocus --sync %1 key Return"_s.arg(box));
            holder.close();
            m_desktop->connect(startPort, ports.com(startPort).path());
        }
        qulonglong window = 0;
        QTRY_VERIFY_WITH_TIMEOUT((window = m_desktop->window(u"comm"_s)), 20000);
        m_desktop->use(window);
        QCOMPARE(m_desktop->grab().size(), expectedWindow(m_name).clientArea);
        QTRY_VERIFY(chosen(startPort) && !chosen(3 - startPort)); // once the window is painted
        if (to) {
            m_desktop->click(dot(to));
            QTRY_VERIFY(chosen(to) && !chosen(3 - to));
        }

        play(QString(steps).replace(u"%1"_s, text));
        QElapsedTimer onTheLine; // since the click that sends
        onTheLine.start();
        QVERIFY(waitForBytes(device, slow ? 1 : frames.size()));
        const QList<PtyDevice::Arrival> got = device.arrivals();
        for (qsizetype i = 1; stepMs && i < got.size(); ++i) { // loosely: the machine is shared
            const qint64 step = msBetween(got[i - 1], got[i]);
            QVERIFY2(step > stepMs * 3 / 4 && step < stepMs * 2, qPrintable(QString::number(step)));
        }
        if (!slow)
            device.write("ACK1"); // at line speed: the console reads it in pieces
        QTest::qWait(300); // the answer shown, or a slow frame well on its way
        const QString pictures = qEnvironmentVariable("CONSOLE_SCREENSHOTS");
        QVERIFY(slow || pictures.isEmpty()
                || m_desktop->grab().save(pictures + u'/' + m_name + u".png"_s));
        // An older clipboard answers until the window has handled the keys.
        if (!slow)
            QTRY_COMPARE_WITH_TIMEOUT(m_desktop->copy(at("Text1")), "ACK1"_ba, 5000);

        // The desktop exit: the window goes at once, what is on the line ends whole. Bound loosely:
        // its rest at half the pace it went so far (Wine's waits slow down once hidden), plus 1 s.
        QProcess &program = m_desktop->program();
        const qsizetype before = device.received().size();
        const QDeadlineTimer programEnded(
            slow ? (frames.size() - before) * 2 * onTheLine.elapsed() / std::max(before, 1LL) + 1000
                 : 5000);
        m_name == u"ostrel" ? m_desktop->close() : void(m_desktop->click(at("Command3")));
        QTRY_VERIFY_WITH_TIMEOUT(!m_desktop->window(u"comm"_s), 500);
        QVERIFY(!slow || device.received().size() < frames.size());
        QVERIFY(program.waitForFinished(int(programEnded.remainingTime())));
        QVERIFY(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0);
        QVERIFY(QSerialPort(m_desktop->port(port)).open(QIODevice::ReadWrite));
        QVERIFY(waitForBytes(device, frames.size()));
        QTest::qWait(100);
        QCOMPARE(slow ? device.received() : device.received().first(frames.size()), frames);
    }

    QPoint at(const char *control) const { return clickPoint(expectedWindow(m_name), control); }
    // Where the chosen option's indicator has its dot, black, or blue under the pointer in
    // Windows' style, on white; a click there chooses it.
    QPoint dot(int port) const { return at(port == 1 ? "optCom(0)" : "optCom(1)") + QPoint(1, 0); }
    bool chosen(int port) { return qGray(m_desktop->grab().pixel(dot(port))) < 192; }
    // "box=text" typed as an operator types; a control's name clicked.
    void play(const QString &script)
    {
        for (const QString &step : script.split(u'|')) {
            const QPoint control = at(qPrintable(step.section(u'=', 0, 0)));
            step.contains(u'=') ? m_desktop->type(control, step.section(u'=', 1))
                                : void(m_desktop->click(control));
        }
    }

    std::unique_ptr<Desktop> m_desktop;
    QString m_name;
};

QTEST_MAIN(TestAcceptance)
#include "tst_acceptance.moc"
