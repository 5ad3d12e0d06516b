#include "harness.h"

#include "application.h"
#include "dio/form1.h"
#include "memory/form1.h"
#include "ostrel/form1.h"

#include <QMessageBox>
#include <QRadioButton>
#include <ctime>

void setUpTestApplication()
{
    static const Program program{"consoletest", 1, ReplyVariant::SecondGeneration};
    setUpApplication(*qApp, program);
}

QByteArray fromHex(const char *spaced)
{
    return QByteArray::fromHex(spaced);
}

bool staysQuiet()
{
    const std::clock_t before = std::clock(); // the processor time of the whole process
    QTest::qWait(500);
    return std::clock() - before < CLOCKS_PER_SEC / 8;
}

bool waitForBytes(const PtyDevice &device, qsizetype count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return device.received().size() >= count; }, timeoutMs);
}

qint64 msBetween(const PtyDevice::Arrival &earlier, const PtyDevice::Arrival &later)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(later.at - earlier.at).count();
}

TwoPorts::TwoPorts(PtyDevice::Pace pace)
    : com1(pace)
    , com2(pace)
{
    qputenv("COMM_COM1", com1.path().toLocal8Bit());
    qputenv("COMM_COM2", com2.path().toLocal8Bit());
    QObject::connect(&answer, &QTimer::timeout, [this] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            const bool warning = box->icon() == QMessageBox::Warning;
            boxes << box->windowTitle() + (warning ? u"|"_s : u"[no warning icon]|"_s)
                         + box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start(5);
}

template <typename Form> std::unique_ptr<ConsoleWindow> make(const Program &program)
{
    return std::make_unique<Form>(program);
}

std::unique_ptr<ConsoleWindow> openConsole(const QString &program)
{
    // The window of each folder of sources.
    const std::pair<const char *, std::unique_ptr<ConsoleWindow> (*)(const Program &)> windows[] = {
        {"ostrel", &make<ostrel::Form1>},
        {"dio", &make<dio::Form1>},
        {"memory", &make<memory::Form1>},
    };
    const ProgramRow &row = programRow(program);
    for (const auto &[folder, makeWindow] : windows) {
        if (qstrcmp(folder, row.folder) == 0) {
            std::unique_ptr<ConsoleWindow> window = makeWindow(row.program);
            window->Form_Load();
            window->show();
            return window;
        }
    }
    qFatal("no window for the folder %s", row.folder);
}

QLineEdit *box(QWidget &window, const char *name)
{
    return window.findChild<QLineEdit *>(QLatin1StringView(name));
}

void setText(QWidget &window, const char *name, const QString &text)
{
    box(window, name)->setText(text);
}

void click(QWidget &window, const char *name)
{
    auto *button = window.findChild<QAbstractButton *>(QLatin1StringView(name));
    // An option's geometry is wider than its text, and only the text takes a click.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, button->height() / 2));
}

void clickRepeatedly(QWidget &window, int count, const std::function<const char *(int)> &button,
                     const std::function<void()> &then)
{
    auto *clicker = new QTimer(&window);
    QObject::connect(clicker, &QTimer::timeout, &window, [=, &window, clicks = 0]() mutable {
        click(window, button(clicks));
        if (++clicks < count)
            return;
        clicker->deleteLater();
        clicker->stop();
        if (then)
            then();
    });
    clicker->start(0);
}

void clickInTurn(QWidget &window, const QStringList &buttons)
{
    const auto clicked = std::make_shared<qsizetype>(0);
    for (qsizetype i = 0; i < buttons.size(); ++i)
        QTimer::singleShot(int(10 * i), &window, [&window, clicked, name = buttons[i].toLatin1()] {
            click(window, name.constData());
            ++*clicked;
        });
    if (!QTest::qWaitFor([&] { return *clicked == buttons.size(); }, 10'000))
        qWarning("clickInTurn: the clicks did not all return");
}
