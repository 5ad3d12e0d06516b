#include "harness.h"

#include "application.h"
#include "dio/form1.h"
#include "memory/form1.h"
#include "ostrel/form1.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <sys/resource.h>

void setUpTestApplication()
{
    static const Program testProgram{"consoletest", 1, ReplyVariant::SecondGeneration};
    setUpApplication(*qApp, testProgram);
}

QByteArray fromHex(const char *spaced)
{
    return QByteArray::fromHex(QByteArray(spaced));
}

bool staysQuiet()
{
    const auto cpuMs = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
               + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
    };
    const double before = cpuMs();
    QTest::qWait(500);
    return cpuMs() - before < 125;
}

ModalBoxes::ModalBoxes()
{
    m_poll.setInterval(5);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        const bool warning = box->icon() == QMessageBox::Warning;
        seen << box->windowTitle() + (warning ? u"|"_s : u"[not a warning]|"_s) + box->text();
        box->button(QMessageBox::Ok)->click();
    });
    m_poll.start();
}

namespace {

template <typename Form> std::unique_ptr<ConsoleWindow> make(const Program &program)
{
    return std::make_unique<Form>(program);
}

struct Build {
    Program program;
    std::unique_ptr<ConsoleWindow> (*make)(const Program &);
};

const Build kBuilds[] = {
    {{"ostrel", 2, ReplyVariant::FirstGeneration}, make<ostrel::Form1>},
    {{"marlo", 2, ReplyVariant::SecondGeneration}, make<dio::Form1>},
    {{"dunwell", 1, ReplyVariant::SecondGeneration}, make<dio::Form1>},
    {{"quenby", 1, ReplyVariant::SecondGeneration}, make<memory::Form1>},
    {{"tamsin", 2, ReplyVariant::EveryEvent}, make<memory::Form1>},
};

} // namespace

std::unique_ptr<ConsoleWindow> openConsole(const QString &program)
{
    for (const Build &build : kBuilds) {
        if (program != QLatin1StringView(build.program.name))
            continue;
        std::unique_ptr<ConsoleWindow> window = build.make(build.program);
        window->Form_Load();
        window->show();
        return window;
    }
    qFatal("no program %s", qPrintable(program));
}

TwoPorts::TwoPorts(PtyDevice::Pace pace)
    : com1(pace)
    , com2(pace)
{
    qputenv("COMM_COM1", com1.path().toLocal8Bit());
    qputenv("COMM_COM2", com2.path().toLocal8Bit());
}

ChildRun runChild(const QString &scenario, int timeoutMs)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CONSOLE_TEST_CHILD"), scenario);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), {});
    // The devices live here, so the loop keeps running while the child works.
    const bool finished =
        QTest::qWaitFor([&] { return child.state() == QProcess::NotRunning; }, timeoutMs);
    const qint64 ms = clock.elapsed();
    if (!finished)
        child.kill();
    child.waitForFinished();
    return {finished, child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1, ms};
}
