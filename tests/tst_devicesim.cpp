#include "device.h"
#include "frames.h"
#include "harness.h"

#include <QProcess>
#include <QSerialPort>

using namespace devicesim;

// clang-format off
const struct { const char *name, *given, *expected; } kStreams[] = {
    {"noise, cut off, 2nd", "41 FF 04 01 30 31 5A 01 20 04", "noise 3, cut-off 4, 2nd ok 3"},
    {"2nd, wrong check", "01 30 31 5A 52 30 30 30 38 56 04", "2nd bad 11"},
    {"1st, check SOH", "01 01 00 02 30 31 44 4F 50 31 46 46 00 03 01 04", "1st ok 16"},
    {"1st, check ETX", "01 07 00 02 41 42 09 03 03 04", "1st ok 10"},
    {"1st, value ETX, check EOT", "01 05 00 02 41 43 03 03 04 04", "1st ok 10"},
    {"1st, wrong check EOT", "01 05 00 02 41 44 03 03 04 04", "quiet: 1st bad 10"}};
const char *kKinds[][2] = {{"1st bad", "1st ok"}, {"2nd bad", "2nd ok"}, {"cut-off"}, {"noise"}};

// Frames written at once (between "|"; with spaces, bytes in hex) and the answers read back, the
// console's end closed for closedMs after the write; the log's last line, the exit status. Paced by
// a 9600-baud line both ways, the last answer takes leastMs at least; instant, mostReads at most.
const struct { const char *name, *arguments, *given, *expected, *last; int status = 0, leastMs = 0, mostReads = 0, closedMs = 0; } kRuns[] = {
    {"line speed: factory setting, write, read", "", "FFTO0130202|01ZW01XY|01ZR0004", "FFTOOK|01ZWOK|01ZR0004\xFFXY\xFF", "stopped", 0, 45},
    {"instant: outputs, wrong check, unknown", "--instant", "01DOP1FF|01 30 31 5A 52 30 30 30 38 56 04|01XY", "01DOP1FF|01NAK1|01NAK2", "stopped", 0, 0, 3},
    {"answered while closed: to the end only", "--reply-delay 300", "01ZWFEAB|01ZWFFAB|01ZRFF02|01ZRFE02", "01ZWOK|01NAK3|01NAK3|01ZRFE02AB", "stopped", 0, 0, 0, 500},
    {"hang-up", "--hang-up-after 1", "01DOP1FF", "", "hang-up after 1 frames"},
    {"stray argument", "COM1", "", "", "devicesim: unexpected argument \"COM1\". See --help.", 2}};
// clang-format on

class TestDeviceSim : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decoderCutsTheStream_data() { useRows(kStreams); }
    void decoderCutsTheStream()
    {
        const QByteArray stream = fromHex(currentRow(kStreams).given);
        for (const qsizetype step : {stream.size(), qsizetype(1)}) { // at once, and byte by byte
            Decoder decoder;
            QStringList seen;
            for (qsizetype at = 0; at <= stream.size(); at += step) // and a last turn, quiet
                for (const Piece &p : at < stream.size() ? decoder.feed(stream.sliced(at, step))
                                                         : decoder.lineQuiet())
                    seen << (at < stream.size() ? "" : "quiet: ")
                                + u"%1 %2"_s.arg(kKinds[p.kind][p.checkOk]).arg(p.bytes.size());
            QCOMPARE(seen.join(", "), currentRow(kStreams).expected);
        }
    }

    void programOnItsLine_data() { useRows(kRuns); }
    void programOnItsLine()
    {
        const auto &run = currentRow(kRuns);
        QByteArray frames, answers;
        for (const QString &text : QString(run.given).split(u'|', Qt::SkipEmptyParts))
            frames += text.contains(u' ') ? fromHex(qPrintable(text))
                                          : Frames::secondGenerationFrame(text);
        for (const QByteArray &text : QByteArray(run.expected).split('|'))
            answers += text.isEmpty() ? QByteArray() : secondGenerationReply(text);
        QProcess simulator;
        simulator.start(DEVICESIM_PATH, QString(run.arguments).split(u' ', Qt::SkipEmptyParts));
        if (simulator.waitForReadyRead(5000)) { // "device PATH", unless the arguments are refused
            QSerialPort port(QString(simulator.readLine().trimmed().mid(7)));
            QVERIFY(port.open(QIODevice::ReadWrite));
            const QDeadlineTimer least(run.leastMs);
            port.write(frames);
            QVERIFY(port.waitForBytesWritten(5000));
            port.close(); // as a console switching ports and back
            QTest::qWait(run.closedMs);
            QVERIFY(port.open(QIODevice::ReadWrite) || answers.isEmpty()); // a hung-up line is gone
            QByteArrayList reads;
            while (reads.join().size() < answers.size() && port.waitForReadyRead(5000))
                reads << port.readAll();
            QCOMPARE(reads.join(), answers);
            QVERIFY(least.hasExpired() && (!run.mostReads || reads.size() <= run.mostReads));
        }
        QTimer::singleShot(300, &simulator, &QProcess::terminate); // unless it ended by itself
        QTRY_COMPARE(simulator.state(), QProcess::NotRunning);
        const QByteArray log = simulator.readAll() + simulator.readAllStandardError();
        QCOMPARE(simulator.exitCode(), run.status);
        QVERIFY2(log.endsWith(run.last + "\n"_ba) && log.count(" tx ") == answers.count('\x04'),
                 log);
    }
};

QTEST_GUILESS_MAIN(TestDeviceSim)
#include "tst_devicesim.moc"
