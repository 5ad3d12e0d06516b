#include "childprocess.h"
#include "expectedlayouts.h"
#include "form1.h"
#include "frames.h"
#include "testapp.h"
#include "twoports.h"
#include "windowcheck.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTest>
#include <QTimer>

namespace {

const Program kQuenby{"quenby", 1, ReplyVariant::SecondGeneration};
const Program kTamsin{"tamsin", 2, ReplyVariant::EveryEvent};

QLineEdit *box(QWidget &form, const QString &name)
{
    return form.findChild<QLineEdit *>(name);
}

void click(QWidget &form, const QString &name)
{
    QTest::mouseClick(form.findChild<QPushButton *>(name), Qt::LeftButton);
}

// Command3 while Command4 waits, with the factory frame still queued for the port.
int endDuringWait(const QString &)
{
    setUpTestApplication();
    memory::Form1 form(kQuenby);
    form.Form_Load();
    form.show();
    QTimer::singleShot(50, &form, [&form] {
        click(form, QStringLiteral("Command1"));
        click(form, QStringLiteral("Command3"));
    });
    click(form, QStringLiteral("Command4"));
    click(form, QStringLiteral("Command2")); // must never run
    return 3;
}

} // namespace

class TestMemory : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestApplication(); }
    void init();
    void cleanup();

    void layout();
    void rowsSendTheirFrameAndShowItsCheck_data();
    void rowsSendTheirFrameAndShowItsCheck();
    void readClickedDuringTheWriteWaitGoesOutAtOnce();
    void repliesShowDuringTheWaitOnly_data();
    void repliesShowDuringTheWaitOnly();
    void refusedSendIsReportedAndKeepsText4();
    void eachProgramOpensItsPortAndClosesItWithTheWindow_data();
    void eachProgramOpensItsPortAndClosesItWithTheWindow();
    void onlyTamsinActsOnOtherEvents_data();
    void onlyTamsinActsOnOtherEvents();
    void endButtonEndsTheProcessInsideAWait();

private:
    std::unique_ptr<TwoPorts> m_ports;
};

void TestMemory::init()
{
    m_ports = std::make_unique<TwoPorts>();
}

void TestMemory::cleanup()
{
    m_ports.reset();
}

void TestMemory::layout()
{
    memory::Form1 form(kQuenby);
    const QStringList differences = layoutDifferences(&form, {416, 268}, kMemoryLayout);
    QVERIFY2(differences.isEmpty(), qPrintable(differences.join(u'\n')));
    QCOMPARE(tabOrder(&form),
             QStringList({"Command1", "Text2", "Text3", "Command2", "optCom(1)", "optCom(0)",
                          "Text4", "Text5", "Text6", "Command3", "Command4", "Text1"}));
    const QStringList texts{box(form, "Text2")->text(), box(form, "Text3")->text(),
                            box(form, "Text5")->text()};
    QCOMPARE(texts, QStringList({"FFTO0130202", "01ZW00ABCDEFGH", "01ZR0008"}));
}

void TestMemory::rowsSendTheirFrameAndShowItsCheck_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("textBox");
    QTest::addColumn<QString>("typed"); // null: the initial text
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("text4");

    QTest::newRow("factory setting")
        << "Command1"
        << "Text2" << QString() << fromHex("01 46 46 54 4F 30 31 33 30 32 30 32 27 04") << "39";
    QTest::newRow("memory write") << "Command4"
                                  << "Text3" << QString()
                                  << fromHex("01 30 31 5A 57 30 30 41 42 43 44 45 46 47 48 36 04")
                                  << "54";
    QTest::newRow("memory read") << "Command2"
                                 << "Text5" << QString()
                                 << fromHex("01 30 31 5A 52 30 30 30 38 55 04") << "85";
    QTest::newRow("lower-case read shows the check on the wire")
        << "Command2"
        << "Text5"
        << "01zr0008" << fromHex("01 30 31 5A 52 30 30 30 38 55 04") << "85";
    QTest::newRow("four lower-case letters")
        << "Command1"
        << "Text2"
        << "ffto0130202" << fromHex("01 46 46 54 4F 30 31 33 30 32 30 32 27 04") << "39";
    QTest::newRow("empty write box") << "Command4"
                                     << "Text3"
                                     << "" << fromHex("01 20 04") << "32";
    QTest::newRow("empty factory box") << "Command1"
                                       << "Text2"
                                       << "" << fromHex("01 20 04") << "32";
}

void TestMemory::rowsSendTheirFrameAndShowItsCheck()
{
    QFETCH(QString, button);
    QFETCH(QString, textBox);
    QFETCH(QString, typed);
    QFETCH(QByteArray, frame);
    QFETCH(QString, text4);

    memory::Form1 form(kQuenby);
    form.Form_Load();
    form.show();
    if (!typed.isNull()) {
        box(form, textBox)->clear();
        QTest::keyClicks(box(form, textBox), typed);
    }
    click(form, button);
    QVERIFY(m_ports->com1.waitForBytes(frame.size()));
    QCOMPARE(m_ports->com1.received(), frame);
    QCOMPARE(box(form, "Text4")->text(), text4);
    QCOMPARE(m_ports->boxes.seen, QStringList());
}

void TestMemory::readClickedDuringTheWriteWaitGoesOutAtOnce()
{
    memory::Form1 form(kQuenby);
    form.Form_Load();
    form.show();
    const QByteArray write = Frames::secondGenerationFrame(u"01ZW00ABCDEFGH");
    const QByteArray read = Frames::secondGenerationFrame(u"01ZR0008");
    qint64 writeWaitEnded = -1;
    bool readReturned = false;
    QTimer::singleShot(50, &form, [&] {
        click(form, QStringLiteral("Command2"));
        readReturned = true;
    });
    const auto writeWait =
        connect(form.findChild<QPushButton *>(QStringLiteral("Command4")), &QPushButton::clicked,
                &form, [&] { writeWaitEnded = m_ports->com1.elapsedMs(); });
    click(form, QStringLiteral("Command4"));
    disconnect(writeWait);

    // The read ran inside the write's wait, and its own wait ended first.
    QVERIFY(readReturned);
    QVERIFY(m_ports->com1.waitForBytes(write.size() + read.size()));
    QCOMPARE(m_ports->com1.received(), write + read);
    QCOMPARE(m_ports->com1.chunks().size(), 2);
    QVERIFY(m_ports->com1.chunks().last().atMs < writeWaitEnded);
    QCOMPARE(box(form, "Text4")->text(), QStringLiteral("85"));
}

void TestMemory::repliesShowDuringTheWaitOnly_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("shownWhenItReturns");
    QTest::newRow("write waits") << "Command4"
                                 << "OK";
    QTest::newRow("read waits") << "Command2"
                                << "OK";
    QTest::newRow("factory setting does not") << "Command1"
                                              << "";
}

void TestMemory::repliesShowDuringTheWaitOnly()
{
    QFETCH(QString, button);
    QFETCH(QString, shownWhenItReturns);

    memory::Form1 form(kQuenby);
    form.Form_Load();
    form.show();
    QTimer::singleShot(30, &form, [this] { m_ports->com1.write("OK"); });
    click(form, button);
    QCOMPARE(box(form, "Text1")->text(), shownWhenItReturns);
    QTRY_COMPARE(box(form, "Text1")->text(), QStringLiteral("OK"));
    QCOMPARE(box(form, "Text6")->text(), QStringLiteral("4B"));
}

void TestMemory::refusedSendIsReportedAndKeepsText4()
{
    memory::Form1 form(kQuenby);
    form.Form_Load();
    form.show();
    click(form, QStringLiteral("Command1"));
    QCOMPARE(box(form, "Text4")->text(), QStringLiteral("39"));
    form.serialControl().setPortOpen(false);
    click(form, QStringLiteral("Command2"));
    QCOMPARE(box(form, "Text4")->text(), QStringLiteral("39"));
    QCOMPARE(m_ports->boxes.seen, QStringList{QStringLiteral("系统信息|串行端口1未打开，命令未发送！")});
}

void TestMemory::eachProgramOpensItsPortAndClosesItWithTheWindow_data()
{
    QTest::addColumn<bool>("isTamsin");
    QTest::newRow("quenby") << false;
    QTest::newRow("tamsin") << true;
}

void TestMemory::eachProgramOpensItsPortAndClosesItWithTheWindow()
{
    QFETCH(bool, isTamsin);
    const Program &program = isTamsin ? kTamsin : kQuenby;
    PtyDevice &device = isTamsin ? m_ports->com2 : m_ports->com1;

    memory::Form1 form(program);
    form.Form_Load();
    form.show();
    QCOMPARE(form.serialControl().commPort(), program.startPort);
    QVERIFY(form.findChild<QRadioButton *>(isTamsin ? "optCom(1)" : "optCom(0)")->isChecked());
    click(form, QStringLiteral("Command1"));
    QVERIFY(device.waitForBytes(14));

    form.close();
    QSerialPort other(device.path());
    QVERIFY(other.open(QIODevice::ReadWrite));
}

void TestMemory::onlyTamsinActsOnOtherEvents_data()
{
    QTest::addColumn<bool>("isTamsin");
    QTest::addColumn<QString>("text1");
    QTest::newRow("quenby leaves the bytes waiting") << false << "";
    QTest::newRow("tamsin shows them") << true << "LINE";
}

void TestMemory::onlyTamsinActsOnOtherEvents()
{
    QFETCH(bool, isTamsin);
    QFETCH(QString, text1);

    memory::Form1 form(isTamsin ? kTamsin : kQuenby);
    form.Form_Load();
    SerialControl &port = form.serialControl();
    // Hold the receive event back, so that the bytes are waiting when the line changes.
    port.blockSignals(true);
    m_ports->com(isTamsin ? 2 : 1).write("LINE");
    QTest::qWait(100);
    port.blockSignals(false);
    port.raiseEvent(SerialControl::DsrChange);
    QCOMPARE(box(form, "Text1")->text(), text1);
}

void TestMemory::endButtonEndsTheProcessInsideAWait()
{
    const ChildRun child = runChild(QStringLiteral("end during wait"));
    QVERIFY2(child.finished, child.output.constData());
    QCOMPARE(child.status, QProcess::NormalExit);
    QCOMPARE(child.exitCode, 0);
    const QByteArray expected = Frames::secondGenerationFrame(u"01ZW00ABCDEFGH")
                                + Frames::secondGenerationFrame(u"FFTO0130202");
    QVERIFY(m_ports->com1.waitForBytes(expected.size()));
    QTest::qWait(100);
    QCOMPARE(m_ports->com1.received(), expected);
}

CONSOLE_TEST_MAIN(TestMemory, endDuringWait)
#include "tst_memory.moc"
