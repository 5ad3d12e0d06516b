// Whatever an operator pastes into a box: the frames go out whole and byte for
// byte, or the box's number is refused with its message and nothing goes out.
// Either way the window goes on showing replies.
#include "cases.h"
#include "dio/form1.h"
#include "memory/form1.h"
#include "module1.h"
#include "ostrel/form1.h"
#include "testapp.h"
#include "twoports.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Reliability;

namespace {

constexpr int kTimeoutMs = 30000;

std::unique_ptr<ConsoleWindow> makeForm(Window window)
{
    switch (window) {
    case Window::Memory:
        return std::make_unique<memory::Form1>(
            Program{"quenby", 1, ReplyVariant::SecondGeneration});
    case Window::DigitalOutput:
        return std::make_unique<dio::Form1>(Program{"marlo", 2, ReplyVariant::SecondGeneration});
    case Window::FirstGeneration:
        return std::make_unique<ostrel::Form1>(Program{"ostrel", 2, ReplyVariant::FirstGeneration});
    }
    return {};
}

} // namespace

class TestReliabilityInput : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestApplication(); }
    void init();
    void cleanup();

    void pastedIntoEveryBox_data();
    void pastedIntoEveryBox();

private:
    std::unique_ptr<TwoPorts> m_ports;
};

void TestReliabilityInput::init()
{
    m_ports = std::make_unique<TwoPorts>();
}

void TestReliabilityInput::cleanup()
{
    Module1::setTickSource({});
    m_ports.reset();
}

void TestReliabilityInput::pastedIntoEveryBox_data()
{
    QTest::addColumn<int>("index");
    for (size_t i = 0; i < inputCases().size(); ++i) {
        const InputCase &c = inputCases()[i];
        QTest::addRow("%s %s: %s", qPrintable(windowName(c.window).remove(u'`')), c.box, c.input)
            << int(i);
    }
}

void TestReliabilityInput::pastedIntoEveryBox()
{
    QFETCH(int, index);
    const InputCase &c = inputCases()[size_t(index)];
    const bool firstGeneration = c.window == Window::FirstGeneration;
    PtyDevice &device = c.window == Window::Memory ? m_ports->com1 : m_ports->com2;
    const QByteArray expected = joined(c.wire);

    const std::unique_ptr<ConsoleWindow> form = makeForm(c.window);
    const auto box = [&form](const char *name) {
        return form->findChild<QLineEdit *>(QLatin1StringView(name));
    };
    form->Form_Load();
    form->show();
    if (firstGeneration) {
        box("Text5")->setText(QStringLiteral("1"));
        box("Text2")->setText(QStringLiteral("AB"));
        box("Text3")->setText(QStringLiteral("0"));
        // Every pacing wait is one pass of events: a frame of 40,000
        // characters goes out in seconds, byte for byte as at full pace.
        Module1::setTickSource([ticks = quint32(0)]() mutable { return ticks += 2; });
    }
    QGuiApplication::clipboard()->setText(c.text);
    box(c.box)->selectAll();
    box(c.box)->paste();
    QCOMPARE(box(c.box)->text(), c.text);

    // Once the frames are in, the device replies; once the reply shows, the
    // window closes, which also ends a pattern.
    bool replied = false;
    QTimer poll;
    poll.setInterval(2);
    connect(&poll, &QTimer::timeout, form.get(), [&] {
        if (device.received().size() < expected.size())
            return;
        if (!std::exchange(replied, true))
            device.write("OK");
        else if (box("Text1")->text() == u"OK")
            form->close();
    });
    QTimer stuck;
    stuck.setSingleShot(true);
    connect(&stuck, &QTimer::timeout, form.get(), [&form] { form->close(); });
    poll.start();
    stuck.start(kTimeoutMs);
    QTest::mouseClick(form->findChild<QPushButton *>(QLatin1StringView(c.button)), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), kTimeoutMs);
    QVERIFY2(stuck.isActive(), "the frames did not arrive, or the reply was not shown");

    QVERIFY(!device.waitForBytes(expected.size() + 1, 50));
    QCOMPARE(device.received().size(), expected.size());
    QVERIFY(device.received() == expected); // too long for QCOMPARE to print
    QCOMPARE(m_ports->boxes.texts(), c.message.isEmpty() ? QStringList() : QStringList{c.message});
    QCOMPARE(box("Text4")->text(), c.text4);
    QCOMPARE(box("Text1")->text(), QStringLiteral("OK"));
    QCOMPARE(box("Text6")->text(), QString::fromLatin1(firstGeneration ? "75" : "4B"));
}

QTEST_MAIN(TestReliabilityInput)
#include "tst_reliability_input.moc"
