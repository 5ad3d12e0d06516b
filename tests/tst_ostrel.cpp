#include "expectedlayouts.h"
#include "form1.h"
#include "frames.h"
#include "module1.h"
#include "testapp.h"
#include "twoports.h"
#include "windowcheck.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <chrono>

namespace {

const Program kOstrel{"ostrel", 2, ReplyVariant::FirstGeneration};
const QString kBadAddress = QStringLiteral("系统信息|地址值必须是0到255之间的整数！");
const QString kBadValue = QStringLiteral("系统信息|输入值必须是0到255之间的整数！");

quint32 realTicks()
{
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Only the pacing waits read the tick counter, so `observe` runs between the
// bytes of a frame, while it is still going out. The counter stays the real clock.
class DuringWaits {
public:
    explicit DuringWaits(std::function<void()> observe)
    {
        Module1::setTickSource([observe = std::move(observe)] {
            observe();
            return realTicks();
        });
    }
    ~DuringWaits() { Module1::setTickSource({}); }
};

// Byte counts at the device after each write of a frame with these data writes.
QSet<qsizetype> writeBoundaries(const QList<int> &dataWrites)
{
    QList<int> writes{1, 1, 1, 1};
    writes << dataWrites << QList<int>{1, 1, 1, 1};
    QSet<qsizetype> boundaries;
    qsizetype total = 0;
    for (const int size : writes)
        boundaries << (total += size);
    return boundaries;
}

} // namespace

class TestOstrel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestApplication(); }
    void init();
    void cleanup();

    void layout();
    void framesOnTheWire_data();
    void framesOnTheWire();
    void valueGoesOutAloneAndBecomesTheDataText_data();
    void valueGoesOutAloneAndBecomesTheDataText();
    void badNumbersSendNothing_data();
    void badNumbersSendNothing();
    void frameGoesOutOneWriteAfterEachWait_data();
    void frameGoesOutOneWriteAfterEachWait();
    void replyDuringAFrameIsShownAtOnce_data();
    void replyDuringAFrameIsShownAtOnce();
    void actionsDuringAFrameWaitForIt_data();
    void actionsDuringAFrameWaitForIt();
    void frameThatCannotGoOutIsReportedOnce_data();
    void frameThatCannotGoOutIsReportedOnce();

private:
    void openForm(const QString &address, const QString &data, const QString &value);
    void setTexts(const QString &address, const QString &data, const QString &value);
    QLineEdit *box(const char *name) { return m_form->findChild<QLineEdit *>(name); }
    void click(const char *name)
    {
        QTest::mouseClick(m_form->findChild<QPushButton *>(name), Qt::LeftButton);
    }

    std::unique_ptr<TwoPorts> m_ports;
    std::unique_ptr<ostrel::Form1> m_form;
};

void TestOstrel::init()
{
    m_ports = std::make_unique<TwoPorts>();
}

void TestOstrel::cleanup()
{
    Module1::setTickSource({});
    m_form.reset();
    m_ports.reset();
}

void TestOstrel::openForm(const QString &address, const QString &data, const QString &value)
{
    auto form = std::make_unique<ostrel::Form1>(kOstrel);
    form->Form_Load();
    form->show();
    m_form = std::move(form);
    setTexts(address, data, value);
}

void TestOstrel::setTexts(const QString &address, const QString &data, const QString &value)
{
    box("Text5")->setText(address);
    box("Text2")->setText(data);
    box("Text3")->setText(value);
}

void TestOstrel::layout()
{
    ostrel::Form1 form(kOstrel);
    const QStringList differences = layoutDifferences(&form, {408, 262}, kOstrelLayout);
    QVERIFY2(differences.isEmpty(), qPrintable(differences.join(u'\n')));
    QCOMPARE(tabOrder(&form), QStringList({"Text1", "Command1", "Text2", "Text3", "Command2",
                                           "optCom(1)", "optCom(0)", "Text4", "Text5", "Text6"}));
    QStringList captions;
    for (const char *name : {"Frame1", "optCom(0)", "optCom(1)", "Label1", "Label2(0)", "Label2(1)",
                             "Label2(2)", "Command1", "Command2"}) {
        const QWidget *widget = form.findChild<QWidget *>(name);
        const bool isGroupBox = qobject_cast<const QGroupBox *>(widget);
        captions << widget->property(isGroupBox ? "title" : "text").toString();
    }
    QCOMPARE(captions,
             QStringList({"请挑选端口", "COM1", "COM2", "反回结果显示：", "命令输入字符：",
                          "输入值ASCII：", "输入地址值ASCII：", "发送", "发送"}));
    QCOMPARE(form.findChildren<QPushButton *>().size(), 2); // no End button
}

void TestOstrel::framesOnTheWire_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("text4");

    // The hexadecimal is spelled out, not computed, so it checks the frame helpers too.
    const auto row = [](const char *name, const QString &address, const QString &data,
                        const QString &value, const char *frame, const char *text4) {
        QTest::newRow(name) << address << data << value << fromHex(frame) << QString(text4);
    };
    row("check equals SOH", "1", "01DOP1FF", "0", "01 01 00 02 30 31 44 4F 50 31 46 46 00 03 01 04",
        "1");
    row("check equals ETX", "1", "AB", "0", "01 01 00 02 41 42 00 03 03 04", "3");
    row("lower case as typed", "1", "abc", "0", "01 01 00 02 61 62 63 00 03 26 04", "38");
    row("no data", "1", "", "0", "01 01 00 02 00 03 00 04", "0");
    row("address 0, value 255", "0", "", "255", "01 00 00 02 FF 03 00 04", "0");
    row("address 255, value 0", "255", "x", "0", "01 FF 00 02 78 00 03 78 04", "120");
    row("blanks and leading zeros", " 007 ", "", "\t042", "01 07 00 02 2A 03 00 04", "0");
    row("full-width digits and blank", u"\u3000１２"_qs, "", u"２５５"_qs,
        "01 0C 00 02 FF 03 00 04", "0");
    row("double-byte data, trail byte counts", "1", u"中"_qs, "0", "01 01 00 02 D6 D0 00 03 50 04",
        "80");
    row("single-byte Latin-1 data", "1", u"é"_qs, "0", "01 01 00 02 E9 00 03 69 04", "105");
}

void TestOstrel::framesOnTheWire()
{
    QFETCH(QString, address);
    QFETCH(QString, data);
    QFETCH(QString, value);
    QFETCH(QByteArray, frame);
    QFETCH(QString, text4);

    openForm(address, data, value);
    click("Command1");
    QVERIFY(m_ports->com2.waitForBytes(frame.size()));
    QCOMPARE(m_ports->com2.received(), frame);
    QCOMPARE(box("Text4")->text(), text4);
    QCOMPARE(m_ports->boxes.seen, QStringList());
}

void TestOstrel::valueGoesOutAloneAndBecomesTheDataText_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("text2");
    QTest::addColumn<QByteArray>("thenWithAFrame");
    QTest::addColumn<QString>("text4");

    const auto row = [](const char *value, const QString &text2, const char *wire,
                        const char *text4) {
        QTest::newRow(value) << QString(value) << text2 << fromHex(wire) << QString(text4);
    };
    row("65", "A", "41  01 01 00 02 41 41 03 41 04", "65");
    row("200", u"\u00c8"_qs, "C8  01 01 00 02 C8 C8 03 48 04", "72");
    row("0", QString(QChar(0)), "00  01 01 00 02 00 00 03 00 04", "0");
    row("255", u"\u00ff"_qs, "FF  01 01 00 02 FF FF 03 7F 04", "127");
}

void TestOstrel::valueGoesOutAloneAndBecomesTheDataText()
{
    QFETCH(QString, value);
    QFETCH(QString, text2);
    QFETCH(QByteArray, thenWithAFrame);
    QFETCH(QString, text4);

    openForm("1", "typed", value);
    box("Text4")->setText("9");
    click("Command2");
    QVERIFY(m_ports->com2.waitForBytes(1));
    QCOMPARE(box("Text2")->text(), text2);
    QCOMPARE(box("Text4")->text(), QStringLiteral("9"));
    click("Command1");
    QVERIFY(m_ports->com2.waitForBytes(thenWithAFrame.size()));
    QCOMPARE(m_ports->com2.received(), thenWithAFrame);
    QCOMPARE(box("Text4")->text(), text4);
}

void TestOstrel::badNumbersSendNothing_data()
{
    QTest::addColumn<QString>("typed");
    for (const char *typed : {"", "   ", "abc", "-1", "256", "1.5", "0x10", "+5", "1e2", "1 2",
                              "99999999999999999999", "٣"})
        QTest::newRow(typed) << QString::fromUtf8(typed);
}

void TestOstrel::badNumbersSendNothing()
{
    QFETCH(QString, typed);

    openForm(typed, "AB", "65");
    click("Command1");
    box("Text5")->setText("1");
    box("Text3")->setText(typed);
    click("Command1");
    click("Command2");
    QCOMPARE(box("Text2")->text(), QStringLiteral("AB"));
    box("Text5")->setText(typed);
    click("Command1"); // both bad: the address goes out first, so it is named
    QCOMPARE(m_ports->boxes.seen, QStringList({kBadAddress, kBadValue, kBadValue, kBadAddress}));

    // Bytes keep their order: a good frame now is the first thing the device sees.
    box("Text5")->setText("1");
    box("Text3")->setText("65");
    click("Command1");
    const QByteArray frame = fromHex("01 01 00 02 41 42 41 03 03 04");
    QVERIFY(m_ports->com2.waitForBytes(frame.size()));
    QCOMPARE(m_ports->com2.received(), frame);
}

void TestOstrel::frameGoesOutOneWriteAfterEachWait_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QList<int>>("dataWrites"); // bytes per character

    QTest::newRow("no data") << "" << QList<int>{};
    QTest::newRow("AB") << "AB" << QList<int>{1, 1};
    QTest::newRow("double-byte character is one write") << u"中A"_qs << QList<int>{2, 1};
    QTest::newRow("16 characters") << "0123456789ABCDEF" << QList<int>(16, 1);
}

void TestOstrel::frameGoesOutOneWriteAfterEachWait()
{
    QFETCH(QString, data);
    QFETCH(QList<int>, dataWrites);
    const int waits = int(dataWrites.size()) + 7;

    openForm("1", data, "0");
    const QByteArray frame = Frames::firstGenerationFrame(1, data, 0);
    QSet<qsizetype> seenDuringWaits;
    const qint64 clicked = m_ports->com2.elapsedMs();
    {
        DuringWaits watch([this, &seenDuringWaits] {
            m_ports->com2.waitForBytes(0, 0); // collects what has arrived, without dispatching
            seenDuringWaits << m_ports->com2.received().size();
        });
        click("Command1");
    }
    QVERIFY(m_ports->com2.waitForBytes(frame.size()));
    QCOMPARE(m_ports->com2.received(), frame);
    // Each wait lasts more than 1 ms, so the last byte comes at least that much later.
    QVERIFY(m_ports->com2.chunks().last().atMs - clicked >= waits);
    // The device sees the frame grow write by write, never part of a write.
    seenDuringWaits.remove(0);
    QVERIFY(!seenDuringWaits.isEmpty());
    QVERIFY(writeBoundaries(dataWrites).contains(seenDuringWaits));
    QVERIFY(!seenDuringWaits.contains(frame.size()));

    // Every wait reads the counter exactly three times when it steps by one per reading.
    int reads = 0;
    Module1::setTickSource([&reads] { return quint32(++reads); });
    m_ports->com2.clear();
    click("Command1");
    Module1::setTickSource({});
    QCOMPARE(reads, 3 * waits);
    QVERIFY(m_ports->com2.waitForBytes(frame.size()));
    QCOMPARE(m_ports->com2.received(), frame);
}

void TestOstrel::replyDuringAFrameIsShownAtOnce_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text6");

    QTest::newRow("AB") << QByteArray("AB") << "66";
    QTest::newRow("CR") << fromHex("0D") << "13";
    QTest::newRow("FF") << fromHex("FF") << "255";
    QTest::newRow("ends with NUL") << fromHex("4F 00") << "0";
}

void TestOstrel::replyDuringAFrameIsShownAtOnce()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, text6);

    openForm("1", "0123456789ABCDEF", "0");
    bool replied = false;
    QString text1Shown, text6Shown;
    {
        DuringWaits watch([&] {
            m_ports->com2.waitForBytes(0, 0);
            if (!replied && m_ports->com2.received().size() >= 3) {
                m_ports->com2.write(reply);
                replied = true;
            }
            text1Shown = box("Text1")->text();
            text6Shown = box("Text6")->text();
        });
        click("Command1");
    }
    QVERIFY(replied);
    QCOMPARE(text6Shown, text6);
    QCOMPARE(text1Shown, QString::fromLatin1(reply));
    QCOMPARE(box("Text4")->text(), QStringLiteral("34"));
}

void TestOstrel::actionsDuringAFrameWaitForIt_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QByteArray>("com2");
    QTest::addColumn<QByteArray>("com1");
    QTest::addColumn<int>("portAfter"); // 0: the window has closed
    QTest::addColumn<QString>("text4");

    const QByteArray frame = fromHex("01 01 00 02 41 42 41 03 03 04"); // "AB", value 65
    const QByteArray value = fromHex("41");
    const QByteArray frameOfValue = fromHex("01 01 00 02 41 41 03 41 04"); // "A" after Command2
    const QByteArray frameOfEdit = fromHex("01 02 00 02 5A 5A 42 03 34 04"); // "ZZ", 2, 66
    const QByteArray none;

    const auto row = [](const char *name, const QStringList &actions, const QByteArray &com2,
                        const QByteArray &com1, int portAfter, const char *text4) {
        QTest::newRow(name) << actions << com2 << com1 << portAfter << QString(text4);
    };
    row("second frame follows", {"Command1"}, frame + frame, none, 2, "3");
    row("value byte follows", {"Command2"}, frame + value, none, 2, "3");
    row("value, then frame", {"Command2", "Command1"}, frame + value + frameOfValue, none, 2, "65");
    row("frame, then value", {"Command1", "Command2"}, frame + frame + value, none, 2, "3");
    row("edit keeps the frame whole", {"edit"}, frame, none, 2, "3");
    row("edit, then frame", {"edit", "Command1"}, frame + frameOfEdit, none, 2, "52");
    row("switch", {"COM1"}, frame, none, 1, "3");
    row("switch, then frame", {"COM1", "Command1"}, frame, frame, 1, "3");
    row("frame, then switch", {"Command1", "COM1"}, frame + frame, none, 1, "3");
    row("close", {"close"}, frame, none, 0, "3");
    row("frame, then close", {"Command1", "close"}, frame + frame, none, 0, "3");
    row("close, then frame", {"close", "Command1"}, frame, none, 0, "3");
}

void TestOstrel::actionsDuringAFrameWaitForIt()
{
    QFETCH(QStringList, actions);
    QFETCH(QByteArray, com2);
    QFETCH(QByteArray, com1);
    QFETCH(int, portAfter);
    QFETCH(QString, text4);

    openForm("1", "AB", "65");
    int reads = 0;
    {
        // Delivered by the frame's own dispatch, like the operator's clicks.
        DuringWaits watch([&] {
            if (++reads != 2)
                return;
            QTimer::singleShot(0, m_form.get(), [&] {
                for (const QString &action : actions) {
                    if (action == u"COM1")
                        clickOption(m_form->findChild<QRadioButton *>("optCom(0)"));
                    else if (action == u"close")
                        QVERIFY(!m_form->close());
                    else if (action == u"edit")
                        setTexts("2", "ZZ", "66");
                    else
                        click(qPrintable(action));
                }
            });
        });
        click("Command1");
    }
    QVERIFY(m_ports->com2.waitForBytes(com2.size()));
    QVERIFY(m_ports->com1.waitForBytes(com1.size()));
    QTest::qWait(20);
    QCOMPARE(m_ports->com2.received(), com2);
    QCOMPARE(m_ports->com1.received(), com1);
    QCOMPARE(m_form->isVisible(), portAfter != 0);
    QCOMPARE(m_form->serialControl().portOpen(), portAfter != 0);
    if (portAfter != 0)
        QCOMPARE(m_form->serialControl().commPort(), portAfter);
    QCOMPARE(box("Text4")->text(), text4);
    QCOMPARE(m_ports->boxes.seen, QStringList());
}

void TestOstrel::frameThatCannotGoOutIsReportedOnce_data()
{
    QTest::addColumn<bool>("portHeld");
    QTest::addColumn<QStringList>("boxes");

    QTest::newRow("device lost in the middle")
        << false << QStringList{QStringLiteral("系统信息|串行端口2已断开！")};
    QTest::newRow("port never opened")
        << true
        << QStringList{QStringLiteral("系统信息|串行端口2已被其它设备所使用，请选择Com1"),
                       QStringLiteral("系统信息|串行端口2未打开，命令未发送！")};
}

void TestOstrel::frameThatCannotGoOutIsReportedOnce()
{
    QFETCH(bool, portHeld);
    QFETCH(QStringList, boxes);

    QSerialPort holder(m_ports->com2.path());
    if (portHeld)
        QVERIFY(holder.open(QIODevice::ReadWrite));
    openForm("1", "0123456789ABCDEF", "0");
    box("Text4")->setText("9");
    int reads = 0;
    {
        DuringWaits watch([&] {
            if (++reads == 4)
                m_ports->com2.hangUp();
        });
        click("Command1");
    }
    // The loss report is queued: it may come up after the frame has already stopped.
    QTRY_COMPARE(m_ports->boxes.seen, boxes);
    QTest::qWait(50);
    QCOMPARE(m_ports->boxes.seen, boxes);
    QCOMPARE(box("Text4")->text(), QStringLiteral("9"));
    QVERIFY(!m_form->serialControl().portOpen());
}

QTEST_MAIN(TestOstrel)
#include "tst_ostrel.moc"
