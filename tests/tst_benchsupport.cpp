#include "benchdevice.h"
#include "benchtable.h"
#include "probe.h"

#include <QTest>
#include <mutex>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using Values = std::vector<double>;
Q_DECLARE_METATYPE(Values)

namespace {

Values oneTo(int n)
{
    Values values;
    for (int i = 1; i <= n; ++i)
        values.push_back(i);
    return values;
}

// The console's end of a bench device, raw as the consoles set it.
class ConsoleEnd {
public:
    explicit ConsoleEnd(const QString &path)
        : m_fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY))
    {
        termios raw{};
        ::tcgetattr(m_fd, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_fd, TCSANOW, &raw);
    }
    ~ConsoleEnd() { ::close(m_fd); }

    bool isOpen() const { return m_fd >= 0; }
    void write(QByteArrayView bytes) { (void)!::write(m_fd, bytes.data(), size_t(bytes.size())); }

    QByteArray read(qsizetype count)
    {
        QByteArray bytes;
        char buffer[256];
        pollfd end{m_fd, POLLIN, 0};
        while (bytes.size() < count && ::poll(&end, 1, 5000) > 0) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, n);
        }
        return bytes;
    }

private:
    int m_fd;
};

} // namespace

class TestBenchSupport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void percentileIsNearestRank_data();
    void percentileIsNearestRank();
    void deviationCountsEarlyStepsToo();
    void probeOutput_data();
    void probeOutput();
    void deviceSplitsFramesAtEot();
    void answersGoOutInOrderAndNotEarly();
};

void TestBenchSupport::percentileIsNearestRank_data()
{
    QTest::addColumn<Values>("values");
    QTest::addColumn<double>("p");
    QTest::addColumn<double>("expected");

    QTest::newRow("one value") << Values{7} << 99.0 << 7.0;
    QTest::newRow("median of four is the second") << Values{4, 1, 3, 2} << 50.0 << 2.0;
    QTest::newRow("p99 of 100 is the 99th") << oneTo(100) << 99.0 << 99.0;
    QTest::newRow("p99 of 200 is the 198th") << oneTo(200) << 99.0 << 198.0;
    QTest::newRow("p99 of 50 is the largest") << oneTo(50) << 99.0 << 50.0;
    QTest::newRow("p100 is the largest") << Values{3, 9, 1} << 100.0 << 9.0;
    QTest::newRow("small p is the smallest") << oneTo(10) << 0.1 << 1.0;
    QTest::newRow("none") << Values{} << 50.0 << 0.0;
}

void TestBenchSupport::percentileIsNearestRank()
{
    QFETCH(Values, values);
    QFETCH(double, p);
    QFETCH(double, expected);
    QCOMPARE(percentile(values, p), expected);
}

void TestBenchSupport::deviationCountsEarlyStepsToo()
{
    QCOMPARE(p99Deviation({201, 193, 202}, 200), 7.0);
}

void TestBenchSupport::probeOutput_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Values>("intervals");
    QTest::addColumn<Values>("latencies");
    QTest::addColumn<Values>("cpuWallRss");

    const QByteArray run = "intervals 201.500 200.250\ncpu 12.000 400.000\nrss 30000 30100\n";
    QTest::newRow("run") << run << true << Values{201.5, 200.25} << Values{}
                         << Values{12, 400, 30000, 30100};
    QTest::newRow("with answers") << "latencies 0.250 0.400 0.300\n" + run << true
                                  << Values{201.5, 200.25} << Values{0.25, 0.4, 0.3}
                                  << Values{12, 400, 30000, 30100};
    // Standard error is merged in: Qt's warnings may come between the lines.
    QTest::newRow("warnings between the lines")
        << "QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'\n" + run
               + "cpu of the day\n"
        << true << Values{201.5, 200.25} << Values{} << Values{12, 400, 30000, 30100};
    QTest::newRow("no cpu line") << QByteArray("intervals 201.5\n") << false << Values{} << Values{}
                                 << Values{};
    QTest::newRow("no intervals") << QByteArray("cpu 1 2\nrss 3 4\n") << false << Values{}
                                  << Values{} << Values{};
    QTest::newRow("crashed before the end")
        << QByteArray("intervals\n") << false << Values{} << Values{} << Values{};
}

void TestBenchSupport::probeOutput()
{
    QFETCH(QByteArray, output);
    QFETCH(bool, valid);
    QFETCH(Values, intervals);
    QFETCH(Values, latencies);
    QFETCH(Values, cpuWallRss);

    const std::optional<ProbeRun> run = parseProbeOutput(output);
    QCOMPARE(run.has_value(), valid);
    if (!run)
        return;
    QCOMPARE(run->intervals, intervals);
    QCOMPARE(run->latencies, latencies);
    QCOMPARE((Values{run->cpuMs, run->wallMs, run->rssStartKiB, run->rssEndKiB}), cpuWallRss);
}

void TestBenchSupport::deviceSplitsFramesAtEot()
{
    std::mutex mutex;
    QList<QByteArray> frames;
    BenchDevice device([&](const QByteArray &frame, double) {
        const std::lock_guard lock(mutex);
        frames.append(frame);
    });
    ConsoleEnd console(device.path());
    QVERIFY(console.isOpen());

    console.write("\x01"
                  "AB\x04\x01"
                  "C");
    console.write("D\x04\x01"
                  "E");
    QTRY_COMPARE(device.size(), 10);
    const std::lock_guard lock(mutex);
    QCOMPARE(frames, (QList<QByteArray>{"\x01"
                                        "AB\x04",
                                        "\x01"
                                        "CD\x04"}));
    QCOMPARE(device.bytes(), QByteArray("\x01"
                                        "AB\x04\x01"
                                        "CD\x04\x01"
                                        "E"));
}

void TestBenchSupport::answersGoOutInOrderAndNotEarly()
{
    BenchDevice device;
    ConsoleEnd console(device.path());
    QVERIFY(console.isOpen());

    const double now = wallMs();
    const Values due{now + 30, now + 60, now + 60};
    device.answerAt("first ", due[0]);
    device.answerAt("second ", due[1]);
    device.answerAt("third", due[2]);
    QCOMPARE(console.read(18), QByteArray("first second third"));
    const Values answered = device.answeredAtMs();
    QCOMPARE(answered.size(), due.size());
    for (size_t i = 0; i < due.size(); ++i)
        QVERIFY2(answered[i] >= due[i], qPrintable(QString::number(due[i] - answered[i])));
}

QTEST_GUILESS_MAIN(TestBenchSupport)
#include "tst_benchsupport.moc"
