#include "device.h"
#include "frames.h"
#include "harness.h"

#include <QSerialPort>

using namespace devicesim;

template <typename Case, size_t N> void rows(const Case (&cases)[N])
{
    QTest::addColumn<int>("row");
    for (size_t i = 0; i < N; ++i)
        QTest::newRow(cases[i].name) << int(i);
}

const struct Case {
    const char *name, *given, *expected;
    int status = 0, frames = 0, answers = 0, leastMs = 0, reads = 0, reopen = 0;
} kStreams[] = {
    {"noise, cut off, 2nd", "41 FF 04 01 30 31 5A 01 20 04", "noise 3, cut-off 4, 2nd ok 3"},
    {"2nd, wrong check", "01 30 31 5A 52 30 30 30 38 56 04", "2nd bad 11"},
    {"1st, check SOH", "01 01 00 02 30 31 44 4F 50 31 46 46 00 03 01 04", "1st ok 16"},
    {"1st, check ETX", "01 07 00 02 41 42 09 03 03 04", "1st ok 10"},
    {"1st, value ETX, check EOT", "01 05 00 02 41 43 03 03 04 04", "1st ok 10"},
    {"1st, wrong check EOT", "01 05 00 02 41 44 03 03 04 04", "quiet: 1st bad 10"},
};
const char *kKinds[][2] = {{"1st bad", "1st ok"}, {"2nd bad", "2nd ok"}, {"cut-off"}, {"noise"}};

// Frames between "|", "!" before one with a wrong check.
const Case kCommands[] = {
    {"factory, write, read", "FFTO0130202|01ZW01XY|01ZR0004", "FFTOOK|01ZWOK|01ZR0004\xFFXY\xFF"},
    {"to the end only", "01ZWFEAB|01ZWFFAB|01ZRFF02|01ZRFE02", "01ZWOK|01NAK3|01NAK3|01ZRFE02AB"},
    {"outputs, wrong check, unknown", "01DOP1FF|!01DOP1FF|01XY", "01DOP1FF|01NAK1|01NAK2"},
};

// Arguments, the last line of the output and the status; "01DOP1FF" `frames` times at once,
// each answered with itself, at least leastMs later, in `reads` pieces (1: one; more: at least).
const Case kRuns[] = {
    {"at line speed", "", "stopped", 0, 1, 1, 20, 2},
    {"a burst", "", "stopped", 0, 4, 4, 55, 3},
    {"instant", "--instant", "stopped", 0, 1, 1, 0, 1},
    {"console closes, reopens", "--reply-delay 300", "stopped", 0, 1, 1, 0, 0, 1},
    {"hang-up", "--hang-up-after 1", "hang-up after 1 frames", 0, 1, 0},
    {"stray argument", "COM1", "devicesim: unexpected argument \"COM1\". See --help.", 2},
};

class TestDeviceSim : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decoderCutsTheStream_data() { rows(kStreams); }
    void decoderCutsTheStream()
    {
        QFETCH(int, row);
        const QByteArray stream = fromHex(kStreams[row].given);
        for (const qsizetype step : {stream.size(), qsizetype(1)}) {
            Decoder decoder;
            QStringList seen;
            for (qsizetype at = 0; at <= stream.size(); at += step) // and a last turn, quiet
                for (const Piece &p : at < stream.size() ? decoder.feed(stream.sliced(at, step))
                                                         : decoder.lineQuiet())
                    seen << (at < stream.size() ? "" : "quiet: ")
                                + u"%1 %2"_s.arg(kKinds[p.kind][p.checkOk]).arg(p.bytes.size());
            QCOMPARE(seen.join(", "), kStreams[row].expected);
        }
    }

    void deviceAnswers_data() { rows(kCommands); }
    void deviceAnswers()
    {
        QFETCH(int, row);
        Device device;
        QByteArrayList answers;
        for (QStringView text : QString(kCommands[row].given).split(u'|')) {
            const bool wrong = text.startsWith(u'!');
            const QByteArray frame = Frames::secondGenerationFrame(text.sliced(wrong));
            const QList<Piece> reply = Decoder().feed(
                device.answer({Piece::SecondGeneration, frame, !wrong, -1, {}}).reply);
            answers << (reply.size() == 1 && reply[0].checkOk ? reply[0].payload() : "unframed");
        }
        QCOMPARE(answers.join('|'), kCommands[row].expected);
    }

    void programOnItsLine_data() { rows(kRuns); }
    void programOnItsLine()
    {
        QFETCH(int, row);
        const Case &run = kRuns[row];
        QProcess simulator;
        simulator.start(DEVICESIM_PATH, QString(run.given).split(u' ', Qt::SkipEmptyParts));
        if (run.frames > 0) {
            QVERIFY(simulator.waitForReadyRead(5000));
            QSerialPort port(QString(simulator.readLine().trimmed().mid(7)));
            QVERIFY(port.open(QIODevice::ReadWrite));
            const QByteArray on = Frames::secondGenerationFrame(u"01DOP1FF");
            const QDeadlineTimer least(run.leastMs);
            port.write(on.repeated(run.frames));
            QVERIFY(port.waitForBytesWritten(5000));
            if (run.reopen) {
                port.close();
                QTest::qWait(500); // the answer goes out meanwhile
                QVERIFY(port.open(QIODevice::ReadWrite));
            }
            QByteArrayList pieces;
            while (pieces.join().size() < run.answers * on.size() && port.waitForReadyRead(5000))
                pieces << port.readAll();
            QCOMPARE(pieces.join(), on.repeated(run.answers));
            QVERIFY(least.hasExpired());
            QVERIFY(run.reads == 1 ? pieces.size() == 1 : pieces.size() >= run.reads);
        }
        if (run.answers > 0)
            simulator.terminate();
        QVERIFY(simulator.waitForFinished(5000));
        const QByteArray log = simulator.readAll() + simulator.readAllStandardError();
        QCOMPARE(simulator.exitCode(), run.status);
        QVERIFY2(log.endsWith(run.expected + "\n"_ba) && log.count(" tx ") == run.answers, log);
    }
};

QTEST_GUILESS_MAIN(TestDeviceSim)
#include "tst_devicesim.moc"
