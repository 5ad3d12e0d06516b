// The serial control on a real QSerialPort against a pseudo-terminal.
#include "harness.h"
#include "serialcontrol.h"

#include <QSerialPort>
#include <QSignalSpy>

class TestSerialControl : public QObject {
    Q_OBJECT

    std::unique_ptr<PtyDevice> m_device;

private Q_SLOTS:
    void init()
    {
        m_device = std::make_unique<PtyDevice>(PtyDevice::Pace::LineSpeed);
        qputenv("COMM_COM1", m_device->path().toLocal8Bit());
        qunsetenv("COMM_COM2");
    }

    void opensOnlyAPortThatIsThereAndFree()
    {
        QCOMPARE(SerialControl::deviceFor(2), u"/dev/ttyS1"_s);
        qputenv("COMM_COM2", "/dev/pts/none");
        SerialControl control;
        QVERIFY(!control.setCommPort(0) && !control.setCommPort(3) && control.setCommPort(2));
        QVERIFY2(!control.setPortOpen(true) && !control.setOutput("A"), "a missing device");
        QVERIFY(control.setCommPort(1));
        QSerialPort other(m_device->path());
        QVERIFY(other.open(QIODevice::ReadWrite));
        QVERIFY2(!control.setPortOpen(true), "another program holds the port");
        other.close();
        QVERIFY(control.setPortOpen(true));
        QVERIFY2(!other.open(QIODevice::ReadWrite), "held by the console now");
        QVERIFY2(!control.setCommPort(2) && control.commPort() == 1, "switched while open");
    }

    void closingFinishesTheWriteOnTheLineAndDropsTheRest()
    {
        const QByteArray onTheLine = QByteArray(200, 'a') + '\x04';
        for (const bool destroyed : {false, true}) {
            auto control = std::make_unique<SerialControl>();
            QVERIFY(control->setPortOpen(true));
            QVERIFY(control->setOutput(onTheLine) && control->setOutput("queued"));
            destroyed ? control.reset() : void(control->setPortOpen(false));
            QTest::qWait(100);
            QCOMPARE(m_device->received(), destroyed ? onTheLine + onTheLine : onTheLine);
        }
    }

    void aDeviceThatGoesAwayIsLostOnceAndQuietly()
    {
        SerialControl control;
        QSignalSpy lost(&control, &SerialControl::portLost);
        QVERIFY(control.setPortOpen(true) && control.setOutput(QByteArray(500, 'x')));
        m_device->hangUp();
        QTRY_COMPARE(lost.size(), 1);
        QCOMPARE(lost.front().front().toInt(), 1);
        QVERIFY2(staysQuiet(), "a port left open on a gone device spins");
        QVERIFY(lost.size() == 1 && !control.portOpen() && !control.setOutput("A"));
    }
};

QTEST_MAIN(TestSerialControl)
#include "tst_serialcontrol.moc"
