#include "decoder.h"
#include "device.h"
#include "frames.h"
#include "ptydevice.h"
#include "harness.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QTest>
#include <QTime>

using devicesim::Decoder;
using devicesim::Device;
using devicesim::Piece;

namespace {

QByteArray command(const char *text)
{
    return Frames::secondGenerationFrame(QString::fromLatin1(text));
}

QByteArray wrongCheck(const char *text)
{
    QByteArray frame = command(text);
    frame[frame.size() - 2] = char(frame.at(frame.size() - 2) + 1);
    return frame;
}

// "2nd ok 01 20 04": kind, check, bytes.
QString summary(const Piece &piece)
{
    static const char *const kinds[] = {"1st", "2nd", "cut-off", "noise"};
    QString line = QString::fromLatin1(kinds[piece.kind]);
    if (piece.isFrame())
        line += piece.checkOk ? QStringLiteral(" ok") : QStringLiteral(" bad");
    return line + u' ' + devicesim::hexBytes(piece.bytes);
}

QStringList decode(const QByteArray &stream, bool byteByByte, bool quiet)
{
    Decoder decoder;
    QList<Piece> pieces;
    if (byteByByte) {
        for (const char byte : stream)
            pieces += decoder.feed(QByteArrayView(&byte, 1));
    } else {
        pieces += decoder.feed(stream);
    }
    if (quiet)
        pieces += decoder.lineQuiet();
    QStringList out;
    for (const Piece &piece : pieces)
        out.append(summary(piece));
    return out;
}

// The real program, as the run command starts it.
class SimulatorProcess {
public:
    explicit SimulatorProcess(const QStringList &arguments)
    {
        m_process.start(QStringLiteral(DEVICESIM_PATH), arguments);
        if (!QTest::qWaitFor([this] { return m_process.canReadLine() || !isRunning(); }, 5000))
            return;
        const QByteArray first = m_process.readLine().trimmed();
        if (first.startsWith("device "))
            device = QString::fromLocal8Bit(first.sliced(7));
    }
    ~SimulatorProcess()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    QProcess &process() { return m_process; }

    // The log lines so far, without their time stamps.
    QStringList log()
    {
        m_log += m_process.readAllStandardOutput();
        QStringList lines = QString::fromUtf8(m_log).split(u'\n', Qt::SkipEmptyParts);
        for (QString &line : lines)
            line = line.sliced(13);
        return lines;
    }
    QByteArray rawLog() const { return m_log; }

    QString device;

private:
    QProcess m_process;
    QByteArray m_log;
};

// Returns how many pieces the bytes came in.
int readReply(QSerialPort &port, QByteArray &received, qsizetype size)
{
    int pieces = 0;
    for (; received.size() < size && port.waitForReadyRead(5000); ++pieces)
        received += port.readAll();
    return pieces;
}

} // namespace

class TestDeviceSim : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decodesTheStream_data();
    void decodesTheStream();
    void answersCommands_data();
    void answersCommands();
    void firstGenerationAndStrayBytes_data();
    void firstGenerationAndStrayBytes();
    void programAnswersOverItsPseudoTerminal();
    void replyWaitsForAConsoleThatClosedItsEnd();
    void hangsUpOnTheNthFrameUnanswered();
    void usesAGivenDevice();
    void keepsToTheLineSpeed_data();
    void keepsToTheLineSpeed();
    void badArgumentsAreRefusedClearly_data();
    void badArgumentsAreRefusedClearly();
};

void TestDeviceSim::decodesTheStream_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<QStringList>("pieces");

    const QByteArray read = fromHex("01 30 31 5A 52 30 30 30 38 55 04");
    const QString readOk = QStringLiteral("2nd ok 01 30 31 5A 52 30 30 30 38 55 04");
    const QByteArray checkIsSoh = fromHex("01 01 00 02 30 31 44 4F 50 31 46 46 00 03 01 04");
    const QByteArray wrongFirst = fromHex("01 05 00 02 41 42 07 03 02 04");

    QTest::newRow("second generation") << read << false << QStringList{readOk};
    QTest::newRow("empty command")
        << fromHex("01 20 04") << false << QStringList{"2nd ok 01 20 04"};
    QTest::newRow("wrong check, second generation")
        << wrongCheck("01DOP1FF") << false
        << QStringList{"2nd bad 01 30 31 44 4F 50 31 46 46 22 04"};
    QTest::newRow("garbage before SOH")
        << fromHex("41 FF 04") + read << false << QStringList{"noise 41 FF 04", readOk};
    QTest::newRow("cut-off command, then a whole one")
        << fromHex("01 30 31 5A") + read << false << QStringList{"cut-off 01 30 31 5A", readOk};
    QTest::newRow("unterminated text is given up")
        << fromHex("01") + QByteArray(Decoder::kLongestFrame, 'A') << false
        << QStringList{QStringLiteral("cut-off 01")
                       + QStringLiteral(" 41").repeated(Decoder::kLongestFrame)};
    QTest::newRow("noise on a quiet line")
        << fromHex("41 42") << true << QStringList{"noise 41 42"};
    QTest::newRow("Chinese text as GBK") << Frames::secondGenerationFrame(u"01\u5b8b") << false
                                         << QStringList{"2nd ok 01 30 31 CB CE 2F 04"};

    QTest::newRow("first generation, check equals SOH")
        << checkIsSoh << false
        << QStringList{"1st ok 01 01 00 02 30 31 44 4F 50 31 46 46 00 03 01 04"};
    QTest::newRow("first generation, check equals ETX")
        << fromHex("01 07 00 02 41 42 09 03 03 04") << false
        << QStringList{"1st ok 01 07 00 02 41 42 09 03 03 04"};
    QTest::newRow("value ETX, check EOT: the second EOT ends it")
        << fromHex("01 05 00 02 41 43 03 03 04 04") << false
        << QStringList{"1st ok 01 05 00 02 41 43 03 03 04 04"};
    QTest::newRow("value ETX, wrong check EOT: settled when quiet")
        << fromHex("01 05 00 02 41 44 03 03 04 04") << true
        << QStringList{"1st bad 01 05 00 02 41 44 03 03 04 04"};
    QTest::newRow("address EOT, data with NUL and STX")
        << Frames::firstGenerationFrame(4, QStringView(u"\u0000\u0002", 2), 1) << false
        << QStringList{"1st ok 01 04 00 02 00 02 01 03 02 04"};
    QTest::newRow("Chinese data as GBK") << Frames::firstGenerationFrame(1, u"\u5b8b", 0) << false
                                         << QStringList{"1st ok 01 01 00 02 CB CE 00 03 4E 04"};
    QTest::newRow("wrong check, quiet line")
        << wrongFirst << true << QStringList{"1st bad 01 05 00 02 41 42 07 03 02 04"};
    QTest::newRow("wrong check, next frame starts")
        << wrongFirst + read << false
        << QStringList{"1st bad 01 05 00 02 41 42 07 03 02 04", readOk};
    QTest::newRow("cut-off first generation, then a whole one")
        << fromHex("01 05 00 02 41") + checkIsSoh << false
        << QStringList{"cut-off 01 05 00 02 41",
                       "1st ok 01 01 00 02 30 31 44 4F 50 31 46 46 00 03 01 04"};
    QTest::newRow("cut-off first generation, then a command")
        << fromHex("01 05 00 02 41") + read << false
        << QStringList{"cut-off 01 05 00 02 41", readOk};
    QTest::newRow("stray byte after a frame")
        << checkIsSoh + "A" << true
        << QStringList{"1st ok 01 01 00 02 30 31 44 4F 50 31 46 46 00 03 01 04", "noise 41"};
}

void TestDeviceSim::decodesTheStream()
{
    QFETCH(QByteArray, stream);
    QFETCH(bool, quiet);
    QFETCH(QStringList, pieces);

    QCOMPARE(decode(stream, false, quiet), pieces);
    QCOMPARE(decode(stream, true, quiet), pieces);
}

void TestDeviceSim::answersCommands_data()
{
    QTest::addColumn<QStringList>("commands"); // "!": sent with a wrong check
    QTest::addColumn<QByteArray>("reply"); // the text of the answer to the last one
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("outputs");

    const QByteArray erased(2, Device::kErased);
    QTest::newRow("factory setting")
        << QStringList{"FFTO0130202"} << QByteArray("FFTOOK") << 1 << 0;
    QTest::newRow("write, read back")
        << QStringList{"01ZW00ABCDEFGH", "01ZR0008"} << QByteArray("01ZR0008ABCDEFGH") << 1 << 0;
    QTest::newRow("unwritten memory reads erased")
        << QStringList{"01ZR0002"} << "01ZR0002" + erased << 1 << 0;
    QTest::newRow("read across a write at an offset")
        << QStringList{"01ZW04XY", "01ZR0304"} << QByteArray("01ZR0304\xFFXY\xFF") << 1 << 0;
    QTest::newRow("write up to the last byte")
        << QStringList{"01ZWFEAB", "01ZRFE02"} << QByteArray("01ZRFE02AB") << 1 << 0;
    QTest::newRow("write past the end refused")
        << QStringList{"01ZWFEABC"} << QByteArray("01NAK3") << 1 << 0;
    QTest::newRow("write past the end stores nothing")
        << QStringList{"01ZWFEABC", "01ZRFE02"} << "01ZRFE02" + erased << 1 << 0;
    QTest::newRow("read past the end") << QStringList{"01ZRFF02"} << QByteArray("01NAK3") << 1 << 0;
    QTest::newRow("read, not hexadecimal")
        << QStringList{"01ZR00G8"} << QByteArray("01NAK3") << 1 << 0;
    QTest::newRow("Chinese stored as GBK bytes")
        << QStringList{u"01ZW00\u5b8b"_qs, "01ZR0002"} << QByteArray("01ZR0002\xCB\xCE") << 1 << 0;
    QTest::newRow("outputs on") << QStringList{"01DOP1FF"} << QByteArray("01DOP1FF") << 1 << 0xFF;
    QTest::newRow("running light step")
        << QStringList{"01DOP001", "01DOP000", "01DOP002"} << QByteArray("01DOP002") << 0 << 0x02;
    QTest::newRow("ports are separate")
        << QStringList{"01DOP1FF", "01DOP000"} << QByteArray("01DOP000") << 1 << 0xFF;
    QTest::newRow("outputs, bad port") << QStringList{"01DOPX00"} << QByteArray("01NAK3") << 1 << 0;
    QTest::newRow("outputs, too long")
        << QStringList{"01DOP1FFF"} << QByteArray("01NAK3") << 1 << 0;
    QTest::newRow("station echoed")
        << QStringList{"FFDOP180"} << QByteArray("FFDOP180") << 1 << 0x80;
    QTest::newRow("wrong check changes nothing")
        << QStringList{"!01DOP1FF"} << QByteArray("01NAK1") << 1 << 0;
    QTest::newRow("unknown command") << QStringList{"01XY"} << QByteArray("01NAK2") << 1 << 0;
}

void TestDeviceSim::answersCommands()
{
    QFETCH(QStringList, commands);
    QFETCH(QByteArray, reply);
    QFETCH(int, port);
    QFETCH(int, outputs);

    Device device;
    Decoder decoder;
    QByteArray answer;
    for (const QString &text : commands) {
        QByteArray frame =
            Frames::secondGenerationFrame(QStringView(text).sliced(text.startsWith(u'!')));
        if (text.startsWith(u'!'))
            frame[frame.size() - 2] = char(frame.at(frame.size() - 2) + 1);
        const QList<Piece> pieces = decoder.feed(frame);
        QCOMPARE(pieces.size(), 1);
        answer = device.answer(pieces.front()).reply;
    }
    // Framed as the consoles frame: SOH, text, a check they would accept, EOT.
    const QList<Piece> answered = Decoder().feed(answer);
    QCOMPARE(answered.size(), 1);
    QCOMPARE(answered.front().kind, Piece::SecondGeneration);
    QVERIFY(answered.front().checkOk);
    QCOMPARE(answered.front().payload(), reply);
    QCOMPARE(int(device.outputs(port)), outputs);
}

void TestDeviceSim::firstGenerationAndStrayBytes_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("replies");

    const QByteArray onCommand = Frames::firstGenerationFrame(1, u"01DOP1FF", 0);
    QByteArray wrong = onCommand;
    wrong[wrong.size() - 2] = 0x02;
    QTest::newRow("right check") << onCommand << fromHex("06");
    QTest::newRow("wrong check") << wrong + onCommand << fromHex("15 06");
    QTest::newRow("noise and cut-off frames get nothing")
        << fromHex("41 01 30 31") + onCommand << fromHex("06");
}

void TestDeviceSim::firstGenerationAndStrayBytes()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, replies);

    Device device;
    QByteArray answers;
    for (const Piece &piece : Decoder().feed(stream))
        answers += device.answer(piece).reply;
    QCOMPARE(answers, replies);
    // A first-generation frame is acknowledged, not carried out.
    QCOMPARE(int(device.outputs(1)), 0);
}

void TestDeviceSim::programAnswersOverItsPseudoTerminal()
{
    SimulatorProcess simulator({});
    QVERIFY2(simulator.device.startsWith(u"/dev/pts/"), simulator.rawLog().constData());
    QSerialPort port(simulator.device);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));

    QByteArray received;
    port.write(command("01ZW00ABCDEFGH") + fromHex("01 01 00 02 41 42 09 03 03 04")
               + command("01DOP180"));
    const QByteArray expected = fromHex("01 30 31 5A 57 4F 4B 2C 04") + fromHex("06")
                                + fromHex("01 30 31 44 4F 50 31 38 30 5D 04");
    QVERIFY(readReply(port, received, expected.size()));
    QCOMPARE(received, expected);

    QTRY_COMPARE(simulator.log().size(), 7);
    const QStringList log = simulator.log();
    QCOMPARE(log.at(0), "rx 2nd check ok  | 01 30 31 5A 57 30 30 41 42 43 44 45 46 47 48 36 04 | "
                        "\"01ZW00ABCDEFGH\"");
    QCOMPARE(log.at(1), "tx 2nd           | 01 30 31 5A 57 4F 4B 2C 04 | \"01ZWOK\"");
    QCOMPARE(log.at(2),
             "rx 1st check ok  | 01 01 00 02 41 42 09 03 03 04 | address 1, data \"AB\", value 9");
    QCOMPARE(log.at(3), "tx 1st           | 06 | ACK");
    QCOMPARE(log.at(5), u"lamps P1 ●○○○○○○○ 80"_qs);

    simulator.process().terminate();
    QVERIFY(simulator.process().waitForFinished(5000));
    QCOMPARE(simulator.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(simulator.process().exitCode(), 0);
    QVERIFY(simulator.log().last().endsWith(u"stopped"));
}

void TestDeviceSim::replyWaitsForAConsoleThatClosedItsEnd()
{
    constexpr int kDelayMs = 300;
    SimulatorProcess simulator({QStringLiteral("--reply-delay"), QString::number(kDelayMs)});
    QSerialPort port(simulator.device);
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.write(command("01ZR0000"));
    QVERIFY(port.waitForBytesWritten(5000));
    port.close();

    QTRY_COMPARE_WITH_TIMEOUT(simulator.log().size(), 2, 5000);
    QVERIFY(simulator.isRunning());
    // The simulator's own clock: the reply went out no earlier than asked.
    const QStringList stamps = QString::fromUtf8(simulator.rawLog()).split(u'\n');
    const QTime rx = QTime::fromString(stamps.at(0).first(12), u"HH:mm:ss.zzz");
    const QTime tx = QTime::fromString(stamps.at(1).first(12), u"HH:mm:ss.zzz");
    QVERIFY2((rx.msecsTo(tx) + 86400000) % 86400000 >= kDelayMs, qPrintable(stamps.join(u'\n')));

    QVERIFY(port.open(QIODevice::ReadWrite));
    QByteArray received;
    QVERIFY(readReply(port, received, 11));
    QCOMPARE(received, command("01ZR0000"));
}

void TestDeviceSim::hangsUpOnTheNthFrameUnanswered()
{
    SimulatorProcess simulator({QStringLiteral("--hang-up-after"), QStringLiteral("2")});
    QSerialPort port(simulator.device);
    QVERIFY(port.open(QIODevice::ReadWrite));
    // The adapter goes away: close on the first error, as the consoles do.
    connect(&port, &QSerialPort::errorOccurred, &port, [&port](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError && port.isOpen())
            port.close();
    });

    QByteArray received;
    port.write(command("01DOP1FF"));
    QVERIFY(readReply(port, received, 11));
    QVERIFY(simulator.isRunning());
    port.write(command("01DOP100"));
    QTRY_VERIFY_WITH_TIMEOUT(!simulator.isRunning(), 5000);
    QCOMPARE(simulator.process().exitCode(), 0);
    QCOMPARE(simulator.log().last(), "hang-up after 2 frames");
    QTRY_VERIFY(!port.isOpen());
    QCOMPARE(received, command("01DOP1FF"));
    QVERIFY(!QSerialPort(simulator.device).open(QIODevice::ReadWrite));
}

void TestDeviceSim::usesAGivenDevice()
{
    PtyDevice console; // its device end plays the console here
    SimulatorProcess simulator({QStringLiteral("--device"), console.path()});
    QCOMPARE(simulator.device, console.path());
    console.write(command("FFTO0130202"));
    const QByteArray expected = fromHex("01 46 46 54 4F 4F 4B 49 04");
    QVERIFY(console.waitForBytes(expected.size()));
    QCOMPARE(console.received(), expected);
}

void TestDeviceSim::keepsToTheLineSpeed_data()
{
    QTest::addColumn<bool>("instant");
    QTest::addColumn<int>("frames"); // written at once, 11 bytes each and answered alike
    QTest::addColumn<int>("leastMs"); // every byte in, then the last answer out, a byte time each

    QTest::newRow("an answer in pieces") << false << 1 << 20;
    QTest::newRow("a burst taken off at line speed") << false << 4 << 55;
    QTest::newRow("instant, in one piece") << true << 1 << 0;
}

void TestDeviceSim::keepsToTheLineSpeed()
{
    QFETCH(bool, instant);
    QFETCH(int, frames);
    QFETCH(int, leastMs);

    SimulatorProcess simulator(instant ? QStringList{"--instant"} : QStringList{});
    QSerialPort port(simulator.device);
    QVERIFY(port.open(QIODevice::ReadWrite));
    const QByteArray stream = command("01DOP1FF").repeated(frames);
    QElapsedTimer clock;
    clock.start();
    port.write(stream);
    QByteArray received;
    const int pieces = readReply(port, received, stream.size());
    QCOMPARE(received, stream);
    QCOMPARE_GE(clock.elapsed(), leastMs);
    QVERIFY2(instant ? pieces == 1 : pieces >= 3, qPrintable(QString::number(pieces)));
}

void TestDeviceSim::badArgumentsAreRefusedClearly_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("delay not a number")
        << QStringList{"--reply-delay", "soon"} << 2
        << "devicesim: --reply-delay wants a whole number of milliseconds, not \"soon\"";
    QTest::newRow("stray argument")
        << QStringList{"COM1"} << 2 << "devicesim: unexpected argument \"COM1\". See --help.";
    QTest::newRow("unknown option")
        << QStringList{"--baud", "9600"} << 2 << "devicesim: Unknown option 'baud'. See --help.";
    QTest::newRow("missing device")
        << QStringList{"--device", "/dev/no-such-port"} << 1
        << "devicesim: cannot open /dev/no-such-port: No such file or directory";
}

void TestDeviceSim::badArgumentsAreRefusedClearly()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    QProcess process;
    process.start(QStringLiteral(DEVICESIM_PATH), arguments);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), exitCode);
    QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()).trimmed(), message);
    QVERIFY(process.readAllStandardOutput().isEmpty());
}

QTEST_GUILESS_MAIN(TestDeviceSim)
#include "tst_devicesim.moc"
