// Each fault case runs a whole program in a child copy of this binary: its
// window, its event loop and its end. The child holds the devices, plays the
// case's script and reports what it saw; this side judges the report.
#include "application.h"
#include "cases.h"
#include "childprocess.h"
#include "dio/form1.h"
#include "memory/form1.h"
#include "modalboxes.h"
#include "module1.h"
#include "ostrel/form1.h"
#include "ptydevice.h"
#include "testapp.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>

using namespace Reliability;

namespace {

constexpr int kQuietMs = 500;
// A console that spins takes the whole window; an idle one a few ms.
constexpr double kSpinMs = kQuietMs / 2.0;
constexpr int kChildTimeoutMs = 60000;
const QByteArray kReport("report:");

quint32 realTicks()
{
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::unique_ptr<ConsoleWindow> makeForm(const FaultCase &c)
{
    const Program program{c.program, c.startPort,
                          c.window == Window::FirstGeneration ? ReplyVariant::FirstGeneration
                                                              : ReplyVariant::SecondGeneration};
    switch (c.window) {
    case Window::Memory:
        return std::make_unique<memory::Form1>(program);
    case Window::DigitalOutput:
        return std::make_unique<dio::Form1>(program);
    case Window::FirstGeneration:
        return std::make_unique<ostrel::Form1>(program);
    }
    return {};
}

// Plays a case's steps against a running program. Triggers are checked from
// a 1 ms timer and from every reading of the tick counter, so a step can land
// between two bytes of a paced frame.
class Script : public QObject {
public:
    Script(const FaultCase &c, ConsoleWindow &form, PtyDevice *devices[2], const ModalBoxes &boxes)
        : m_case(c)
        , m_form(form)
        , m_devices{devices[0], devices[1]}
        , m_boxes(boxes)
    {
        m_poll.setInterval(1);
        connect(&m_poll, &QTimer::timeout, this, &Script::advance);
        m_poll.start();
        Module1::setTickSource([this] {
            advance();
            return realTicks();
        });
    }
    ~Script() override { Module1::setTickSource({}); }

    void advance()
    {
        if (m_advancing)
            return;
        m_advancing = true;
        while (m_quietFrom < 0 && m_next < m_case.script.size() && holds(m_case.script[m_next])) {
            std::printf("step %zu\n", m_next);
            std::fflush(stdout);
            run(m_case.script[m_next++]);
        }
        m_advancing = false;
    }

    size_t stepsRun() const { return m_next; }
    double quietCpuMs() const { return m_quietCpuMs; }

private:
    bool holds(const Step &step) const
    {
        switch (step.trigger) {
        case Step::Trigger::Next:
            return true;
        case Step::Trigger::Bytes: {
            PtyDevice &device = *m_devices[step.device - 1];
            device.waitForBytes(0, 0); // collects what has arrived, without dispatching
            return device.received().size() >= step.count;
        }
        case Step::Trigger::Boxes:
            return m_boxes.seen.size() >= step.count && !QApplication::activeModalWidget();
        }
        return false;
    }

    // Clicks and the close come as events of their own, as the operator's do.
    void post(QObject *target, std::function<void()> action)
    {
        if (!target)
            qFatal("step names no control of this window");
        QMetaObject::invokeMethod(target, std::move(action), Qt::QueuedConnection);
    }

    void run(const Step &step)
    {
        const auto button = [this, &step] {
            return m_form.findChild<QAbstractButton *>(QLatin1StringView(step.target));
        };
        switch (step.action) {
        case Step::Action::Type:
            m_form.findChild<QLineEdit *>(QLatin1StringView(step.target))->setText(step.text);
            break;
        case Step::Action::Click:
            post(button(), [b = button()] { b->click(); });
            break;
        case Step::Action::Choose: {
            auto *option =
                m_form.findChild<QRadioButton *>(QStringLiteral("optCom(%1)").arg(step.port - 1));
            post(option, [option] { option->click(); });
            break;
        }
        case Step::Action::HangUp:
            m_devices[step.port - 1]->hangUp();
            break;
        case Step::Action::Hold:
            m_held = std::make_unique<QSerialPort>(m_devices[step.port - 1]->path());
            if (!m_held->open(QIODevice::ReadWrite))
                qFatal("could not hold the port");
            break;
        case Step::Action::Release:
            m_held.reset();
            break;
        case Step::Action::Quiet:
            m_quietFrom = cpuMs();
            QTimer::singleShot(kQuietMs, this, [this] {
                m_quietCpuMs = cpuMs() - std::exchange(m_quietFrom, -1);
                advance();
            });
            break;
        case Step::Action::Close:
            post(&m_form, [this] { m_form.close(); });
            break;
        }
    }

    const FaultCase &m_case;
    ConsoleWindow &m_form;
    PtyDevice *m_devices[2];
    const ModalBoxes &m_boxes;
    QTimer m_poll;
    std::unique_ptr<QSerialPort> m_held;
    size_t m_next = 0;
    bool m_advancing = false;
    double m_quietFrom = -1;
    double m_quietCpuMs = -1;
};

void report(const char *key, const QByteArray &value)
{
    std::printf("%s%s:%s\n", kReport.constData(), key, value.constData());
}

// The child: the whole program under the script, then what it left behind.
int childMain(const QString &scenario)
{
    setUpTestApplication();
    const auto &cases = faultCases();
    const auto found = std::find_if(cases.begin(), cases.end(), [&](const FaultCase &c) {
        return QString::fromUtf8(c.name) == scenario;
    });
    if (found == cases.end())
        return 4;
    PtyDevice com1, com2;
    qputenv("COMM_COM1", com1.path().toLocal8Bit());
    qputenv("COMM_COM2", com2.path().toLocal8Bit());
    ModalBoxes boxes;
    const std::unique_ptr<ConsoleWindow> form = makeForm(*found);
    PtyDevice *devices[] = {&com1, &com2};
    Script script(*found, *form, devices, boxes);
    script.advance(); // what comes before the window loads, such as a port held
    const int status = runConsole(*form);

    com1.waitForBytes(joined(found->com1).size(), 200);
    com2.waitForBytes(joined(found->com2).size(), 200);
    report("steps", QByteArray::number(qulonglong(script.stepsRun())));
    for (const QString &box : boxes.seen)
        report("box", box.toUtf8());
    report("com1", com1.received().toHex());
    report("com2", com2.received().toHex());
    report("text4", form->findChild<QLineEdit *>(QStringLiteral("Text4"))->text().toUtf8());
    report("quiet", QByteArray::number(script.quietCpuMs()));
    std::fflush(stdout);
    return status;
}

// What the child reported, by key, in order.
QMultiMap<QByteArray, QByteArray> parseReport(const QByteArray &output)
{
    QMultiMap<QByteArray, QByteArray> values;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith(kReport))
            continue;
        const QByteArray rest = line.mid(kReport.size());
        const qsizetype colon = rest.indexOf(':');
        values.insert(rest.left(colon), rest.mid(colon + 1));
    }
    return values;
}

QList<QByteArray> inOrder(const QMultiMap<QByteArray, QByteArray> &values, const QByteArray &key)
{
    QList<QByteArray> out = values.values(key);
    std::reverse(out.begin(), out.end()); // QMultiMap lists the latest first
    return out;
}

} // namespace

class TestReliabilityFaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wholeProgramThroughAFault_data();
    void wholeProgramThroughAFault();
};

void TestReliabilityFaults::wholeProgramThroughAFault_data()
{
    QTest::addColumn<int>("index");
    for (size_t i = 0; i < faultCases().size(); ++i)
        QTest::newRow(faultCases()[i].name) << int(i);
}

void TestReliabilityFaults::wholeProgramThroughAFault()
{
    QFETCH(int, index);
    const FaultCase &c = faultCases()[size_t(index)];

    const ChildRun child = runChild(QString::fromUtf8(c.name), kChildTimeoutMs);
    QVERIFY2(child.finished,
             qPrintable(QStringLiteral("the program hung after:\n") + child.output));
    QVERIFY2(child.status == QProcess::NormalExit, child.output.constData());
    QCOMPARE(child.exitCode, 0);

    const auto values = parseReport(child.output);
    QCOMPARE(values.value("steps").toULongLong(), qulonglong(c.script.size()));
    QList<QByteArray> boxes;
    for (const QString &text : c.boxes)
        boxes << (QStringLiteral("系统信息|") + text).toUtf8();
    QCOMPARE(inOrder(values, "box"), boxes);
    QCOMPARE(QByteArray::fromHex(values.value("com1")), joined(c.com1));
    QCOMPARE(QByteArray::fromHex(values.value("com2")), joined(c.com2));
    QCOMPARE(QString::fromUtf8(values.value("text4")), c.text4);

    const bool measured = std::any_of(c.script.begin(), c.script.end(), [](const Step &s) {
        return s.action == Step::Action::Quiet;
    });
    const double quiet = values.value("quiet").toDouble();
    QCOMPARE(quiet >= 0, measured);
    QVERIFY2(quiet < kSpinMs, qPrintable(QStringLiteral("%1 ms of CPU while idle").arg(quiet)));
}

CONSOLE_TEST_MAIN(TestReliabilityFaults, childMain)
#include "tst_reliability_faults.moc"
