// The serial control on a real QSerialPort against a pseudo-terminal.
#include "harness.h"
#include "serialcontrol.h"

#include <QSerialPort>
#include <QSignalSpy>

class TestSerialControl : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_device = std::make_unique<PtyDevice>(PtyDevice::Pace::LineSpeed);
        qputenv("COMM_COM1", m_device->path().toLocal8Bit());
    }
    void cleanup() { m_device.reset(); }
    void mapsPortNumbersToDevices_data();
    void mapsPortNumbersToDevices();
    void opensOnlyAPortThatIsThereAndFree();
    void takesEveryWaitingByteOnce();
    void writesLeaveAtTheLinesPace();
    void closingFinishesTheWriteOnTheLineAndDropsTheRest_data();
    void closingFinishesTheWriteOnTheLineAndDropsTheRest();
    void aDeviceThatGoesAwayIsLostOnceAndQuietly();

private:
    std::unique_ptr<PtyDevice> m_device;
};

void TestSerialControl::mapsPortNumbersToDevices_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("com1");
    QTest::addColumn<QByteArray>("com2");
    QTest::addColumn<QString>("device");

    QTest::newRow("COM1") << 1 << QByteArray() << QByteArray() << u"/dev/ttyS0"_s;
    QTest::newRow("COM2") << 2 << QByteArray() << QByteArray() << u"/dev/ttyS1"_s;
    QTest::newRow("COM1 mapped") << 1 << QByteArray("/dev/ttyUSB0") << QByteArray("x")
                                 << u"/dev/ttyUSB0"_s;
    QTest::newRow("COM2 mapped") << 2 << QByteArray("x") << QByteArray("/dev/pts/7")
                                 << u"/dev/pts/7"_s;
}

void TestSerialControl::mapsPortNumbersToDevices()
{
    QFETCH(int, port);
    QFETCH(QByteArray, com1);
    QFETCH(QByteArray, com2);
    QFETCH(QString, device);

    qputenv("COMM_COM1", com1);
    qputenv("COMM_COM2", com2);
    QCOMPARE(SerialControl::deviceFor(port), device);
}

void TestSerialControl::opensOnlyAPortThatIsThereAndFree()
{
    SerialControl control;
    QVERIFY(!control.setCommPort(0) && !control.setCommPort(3) && control.setCommPort(2));
    QVERIFY2(!control.setPortOpen(true), "COM2 is a missing device here");
    QVERIFY(!control.setOutput("A"));

    QVERIFY(control.setCommPort(1));
    QSerialPort other(m_device->path());
    QVERIFY(other.open(QIODevice::ReadWrite));
    QVERIFY2(!control.setPortOpen(true), "another program holds the port");
    other.close();
    QVERIFY(control.setPortOpen(true));
    QVERIFY2(!other.open(QIODevice::ReadWrite), "held by the console now");
    QVERIFY2(!control.setCommPort(2) && control.commPort() == 1, "switched while open");
}

void TestSerialControl::takesEveryWaitingByteOnce()
{
    SerialControl control;
    QSignalSpy events(&control, &SerialControl::onComm);
    QVERIFY(control.setPortOpen(true));
    m_device->write(fromHex("41 00 0D FF"));
    QByteArray read;
    QTRY_COMPARE((read += control.input()), fromHex("41 00 0D FF"));
    QVERIFY(!events.isEmpty());
    QCOMPARE(control.commEvent(), int(SerialControl::Receive));
    QCOMPARE(control.input(), QByteArray());
}

void TestSerialControl::writesLeaveAtTheLinesPace()
{
    SerialControl control;
    QVERIFY(control.setPortOpen(true));
    const QByteArray write(96, 'w'); // 100 ms on the line
    for (int i = 0; i < 3; ++i)
        QVERIFY(control.setOutput(write));
    QCOMPARE(control.outBufferCount(), 2 * write.size());
    QVERIFY(control.lineBusyFor() >= std::chrono::milliseconds(290));
    QVERIFY(m_device->waitForBytes(3 * write.size()));
    QCOMPARE(m_device->received(), write + write + write);
    QCOMPARE(control.lineBusyFor().count(), 0);
}

void TestSerialControl::closingFinishesTheWriteOnTheLineAndDropsTheRest_data()
{
    QTest::addColumn<bool>("destroyed");
    QTest::newRow("closed") << false;
    QTest::newRow("destroyed") << true;
}

void TestSerialControl::closingFinishesTheWriteOnTheLineAndDropsTheRest()
{
    QFETCH(bool, destroyed);

    auto control = std::make_unique<SerialControl>();
    QVERIFY(control->setPortOpen(true));
    const QByteArray onTheLine = QByteArray(200, 'a') + '\x04';
    QVERIFY(control->setOutput(onTheLine));
    QVERIFY(control->setOutput("queued"));
    if (destroyed)
        control.reset();
    else
        QVERIFY(control->setPortOpen(false));
    QVERIFY(m_device->waitForBytes(onTheLine.size()));
    QTest::qWait(100);
    QCOMPARE(m_device->received(), onTheLine);
}

void TestSerialControl::aDeviceThatGoesAwayIsLostOnceAndQuietly()
{
    SerialControl control;
    QSignalSpy lost(&control, &SerialControl::portLost);
    QVERIFY(control.setPortOpen(true));
    QVERIFY(control.setOutput(QByteArray(500, 'x')));
    m_device->hangUp();
    QTRY_COMPARE(lost.size(), 1);
    QCOMPARE(lost.front().front().toInt(), 1);
    QVERIFY(!control.portOpen());
    QVERIFY2(staysQuiet(), "a port left open on a gone device spins");
    QCOMPARE(lost.size(), 1);
    QVERIFY(!control.setOutput("A"));
}

QTEST_GUILESS_MAIN(TestSerialControl)
#include "tst_serialcontrol.moc"
