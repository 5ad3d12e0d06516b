#include "ptydevice.h"
#include "serialcontrol.h"
#include "testapp.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

class TestSerialControl : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void mapsPortNumbersToDevices_data();
    void mapsPortNumbersToDevices();
    void writesEachOutputWhole();
    void refusesOutputWhileClosed();
    void takesEveryWaitingByteOnce();
    void portNumberIsOneOrTwoAndSetOnlyWhileClosed();
    void missingDeviceDoesNotOpen();
    void portHeldByAnotherProgramDoesNotOpen();
    void portWeHoldCannotBeOpenedByAnother();
    void closeHandsOverEverythingQueued();
    void destructionHandsOverEverythingQueued();
    void hangUpClosesOnceAndStaysQuiet();

private:
    std::unique_ptr<PtyDevice> m_device;
};

void TestSerialControl::init()
{
    m_device = std::make_unique<PtyDevice>();
    qputenv("COMM_COM1", m_device->path().toLocal8Bit());
    qunsetenv("COMM_COM2");
}

void TestSerialControl::cleanup()
{
    m_device.reset();
}

void TestSerialControl::mapsPortNumbersToDevices_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QByteArray>("com1");
    QTest::addColumn<QByteArray>("com2");
    QTest::addColumn<QString>("device");

    QTest::newRow("COM1 default") << 1 << QByteArray() << QByteArray() << "/dev/ttyS0";
    QTest::newRow("COM2 default") << 2 << QByteArray() << QByteArray() << "/dev/ttyS1";
    QTest::newRow("COM1 mapped") << 1 << QByteArray("/dev/ttyUSB0") << QByteArray()
                                 << "/dev/ttyUSB0";
    QTest::newRow("COM2 mapped") << 2 << QByteArray("/dev/ttyUSB0") << QByteArray("/dev/pts/7")
                                 << "/dev/pts/7";
    QTest::newRow("other port's mapping ignored")
        << 2 << QByteArray("/dev/pts/3") << QByteArray() << "/dev/ttyS1";
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

void TestSerialControl::writesEachOutputWhole()
{
    SerialControl control;
    QVERIFY(control.setPortOpen(true));
    QVERIFY(control.setOutput(fromHex("01 30 4F 7F 04")));
    QVERIFY(control.setOutput(fromHex("00 FF")));
    QVERIFY(m_device->waitForBytes(7));
    QCOMPARE(m_device->received(), fromHex("01 30 4F 7F 04 00 FF"));
}

void TestSerialControl::refusesOutputWhileClosed()
{
    SerialControl control;
    QVERIFY(!control.setOutput("A"));
    QVERIFY(control.setPortOpen(true));
    QVERIFY(control.setPortOpen(false));
    QVERIFY(!control.setOutput("B"));
    QTest::qWait(50);
    QVERIFY(!m_device->waitForBytes(1, 50));
}

void TestSerialControl::takesEveryWaitingByteOnce()
{
    SerialControl control;
    QSignalSpy events(&control, &SerialControl::onComm);
    QVERIFY(control.setPortOpen(true));
    m_device->write(fromHex("41 00 0D FF"));
    QTRY_VERIFY(!events.isEmpty());
    QCOMPARE(control.commEvent(), int(SerialControl::Receive));
    QByteArray read;
    QTRY_VERIFY((read += control.input()).size() >= 4);
    QCOMPARE(read, fromHex("41 00 0D FF"));
    QCOMPARE(control.input(), QByteArray());
}

void TestSerialControl::portNumberIsOneOrTwoAndSetOnlyWhileClosed()
{
    SerialControl control;
    QVERIFY(!control.setCommPort(0));
    QVERIFY(!control.setCommPort(3));
    QVERIFY(control.setCommPort(2));
    QCOMPARE(control.commPort(), 2);
    QVERIFY(control.setCommPort(1));
    QVERIFY(control.setPortOpen(true));
    QVERIFY(!control.setCommPort(2));
    QCOMPARE(control.commPort(), 1);
}

void TestSerialControl::missingDeviceDoesNotOpen()
{
    qputenv("COMM_COM1", "/dev/pts/no-such-device");
    SerialControl control;
    QVERIFY(!control.setPortOpen(true));
    QVERIFY(!control.portOpen());
    QVERIFY(!control.setOutput("A"));
}

void TestSerialControl::portHeldByAnotherProgramDoesNotOpen()
{
    QSerialPort other(m_device->path());
    QVERIFY(other.open(QIODevice::ReadWrite));
    SerialControl control;
    QVERIFY(!control.setPortOpen(true));
    other.close();
    QVERIFY(control.setPortOpen(true));
}

void TestSerialControl::portWeHoldCannotBeOpenedByAnother()
{
    SerialControl control;
    QVERIFY(control.setPortOpen(true));
    QSerialPort other(m_device->path());
    QVERIFY(!other.open(QIODevice::ReadWrite));
    control.setPortOpen(false);
    QVERIFY(other.open(QIODevice::ReadWrite));
}

void TestSerialControl::closeHandsOverEverythingQueued()
{
    SerialControl control;
    QVERIFY(control.setPortOpen(true));
    const QByteArray block(3000, 'x');
    QVERIFY(control.setOutput(block));
    QVERIFY(control.setPortOpen(false));
    QVERIFY(m_device->waitForBytes(block.size()));
    QCOMPARE(m_device->received(), block);
}

void TestSerialControl::destructionHandsOverEverythingQueued()
{
    const QByteArray block(3000, 'y');
    {
        SerialControl control;
        QVERIFY(control.setPortOpen(true));
        QVERIFY(control.setOutput(block));
    }
    QVERIFY(m_device->waitForBytes(block.size()));
    QCOMPARE(m_device->received(), block);
}

void TestSerialControl::hangUpClosesOnceAndStaysQuiet()
{
    SerialControl control;
    QSignalSpy lost(&control, &SerialControl::portLost);
    QVERIFY(control.setPortOpen(true));
    m_device->hangUp();
    QTRY_COMPARE(lost.size(), 1);
    QCOMPARE(lost.front().front().toInt(), 1);
    QVERIFY(!control.portOpen());

    double spent = 0;
    QVERIFY2(staysQuiet(&spent), qPrintable(QStringLiteral("%1 ms of CPU").arg(spent)));
    QCOMPARE(lost.size(), 1);

    QCOMPARE(control.losses(), 1);
    QVERIFY(!control.setOutput("A"));
    QVERIFY(!control.setPortOpen(true));
}

QTEST_GUILESS_MAIN(TestSerialControl)
#include "tst_serialcontrol.moc"
