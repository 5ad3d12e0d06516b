#include "module1.h"
#include "testapp.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

// A counter that returns scripted readings, start + offset, one per read.
// Past the script it reads as long finished, so a wrong loop shows up as
// extra reads instead of a hang.
class ScriptedCounter {
public:
    ScriptedCounter(quint32 start, QList<quint32> offsets)
        : m_start(start)
        , m_offsets(std::move(offsets))
    {
        Module1::setTickSource([this] {
            const quint32 offset = m_reads < m_offsets.size() ? m_offsets[m_reads] : 1'000'000;
            ++m_reads;
            if (onRead)
                onRead(m_reads);
            return m_start + offset;
        });
    }
    ~ScriptedCounter() { Module1::setTickSource({}); }

    qsizetype reads() const { return m_reads; }
    std::function<void(qsizetype)> onRead;

private:
    quint32 m_start;
    QList<quint32> m_offsets;
    qsizetype m_reads = 0;
};

class TestDelay : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsTheCounterUntilStrictlyPastTheCount_data();
    void readsTheCounterUntilStrictlyPastTheCount();
    void aPendingEventRunsBeforeTheFirstReread();
    void aWaitInsideAWaitReturnsFirst();
    void sleepsBetweenPassesInsteadOfPolling();
    void stopsEarlyWhenAsked();
};

void TestDelay::readsTheCounterUntilStrictlyPastTheCount_data()
{
    QTest::addColumn<quint32>("start");
    QTest::addColumn<QList<quint32>>("offsets");
    QTest::addColumn<int>("count");
    QTest::addColumn<qsizetype>("reads");

    const quint32 nearWrap = 0xFFFFFFF0u;
    const quint32 nearSignBit = 0x7FFFFFF0u;
    QTest::newRow("200 across 2^32")
        << nearWrap << QList<quint32>{0, 150, 201} << 200 << qsizetype(3);
    QTest::newRow("200 across 2^31")
        << nearSignBit << QList<quint32>{0, 150, 201} << 200 << qsizetype(3);
    QTest::newRow("exactly the count is not enough")
        << 5u << QList<quint32>{0, 200, 201} << 200 << qsizetype(3);
    QTest::newRow("1 ms needs two counter steps")
        << 5u << QList<quint32>{0, 1, 2} << 1 << qsizetype(3);
    QTest::newRow("0 waits for any movement")
        << nearWrap << QList<quint32>{0, 0, 1} << 0 << qsizetype(3);
    QTest::newRow("negative returns after one pass")
        << 5u << QList<quint32>{0, 0} << -1 << qsizetype(2);
}

void TestDelay::readsTheCounterUntilStrictlyPastTheCount()
{
    QFETCH(quint32, start);
    QFETCH(QList<quint32>, offsets);
    QFETCH(int, count);
    QFETCH(qsizetype, reads);

    ScriptedCounter counter(start, offsets);
    Module1::Delay(count);
    QCOMPARE(counter.reads(), reads);
}

void TestDelay::aPendingEventRunsBeforeTheFirstReread()
{
    bool handled = false;
    bool handledAtReread = false;
    QMetaObject::invokeMethod(
        this, [&] { handled = true; }, Qt::QueuedConnection);
    ScriptedCounter counter(0, {0, 1000});
    counter.onRead = [&](qsizetype read) {
        if (read == 2)
            handledAtReread = handled;
    };
    Module1::Delay(200);
    QVERIFY(handledAtReread);
    QCOMPARE(counter.reads(), qsizetype(2));
}

void TestDelay::aWaitInsideAWaitReturnsFirst()
{
    QStringList order;
    QTimer::singleShot(20, this, [&] {
        order << QStringLiteral("inner start");
        Module1::Delay(50);
        order << QStringLiteral("inner end");
    });
    Module1::Delay(30);
    order << QStringLiteral("outer end");
    QCOMPARE(order, (QStringList{QStringLiteral("inner start"), QStringLiteral("inner end"),
                                 QStringLiteral("outer end")}));
}

void TestDelay::sleepsBetweenPassesInsteadOfPolling()
{
    qsizetype reads = 0;
    Module1::setTickSource([&reads] {
        ++reads;
        using namespace std::chrono;
        return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    });
    Module1::Delay(200);
    Module1::setTickSource({});
    // A polling wait reads the counter hundreds of thousands of times here.
    QVERIFY2(reads < 50, qPrintable(QString::number(reads)));
}

void TestDelay::stopsEarlyWhenAsked()
{
    bool stop = false;
    QTimer::singleShot(10, this, [&] { stop = true; });
    QVERIFY(!Module1::Delay(60'000, [&] { return stop; }));
    QVERIFY(stop);
}

QTEST_MAIN(TestDelay)
#include "tst_delay.moc"
