#include "consolewindow.h"

#include "codepage.h"
#include "module1.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <cstdio>
#include <cstdlib>

namespace {

QString otherPort(int port)
{
    return QString::number(port == 1 ? 2 : 1);
}

QString loadFailedText(int port)
{
    return QStringLiteral("串行端口%1已被其它设备所使用，请选择Com%2")
        .arg(port)
        .arg(otherPort(port));
}

QString switchFailedText(int port)
{
    return QStringLiteral("串行端口%1已被其它设备所使用！").arg(port);
}

QString lostText(int port)
{
    return QStringLiteral("串行端口%1已断开！").arg(port);
}

QString notOpenText(int port)
{
    return QStringLiteral("串行端口%1未打开，命令未发送！").arg(port);
}

} // namespace

ConsoleWindow::ConsoleWindow(const Layout::Window &layout, const Program &program, QWidget *parent)
    : QWidget(parent)
    , m_program(program)
{
    setWindowTitle(QStringLiteral("comm"));
    Layout::build(this, layout);
    optCom[0] = control<QRadioButton>("optCom(0)");
    optCom[1] = control<QRadioButton>("optCom(1)");
    Text1 = control<QLineEdit>("Text1");
    Text4 = control<QLineEdit>("Text4");
    Text6 = control<QLineEdit>("Text6");

    QPalette red = Text1->palette();
    red.setColor(QPalette::Text, QColor(255, 0, 0));
    Text1->setPalette(red);

    for (int index = 0; index < 2; ++index)
        connect(optCom[index], &QRadioButton::clicked, this,
                [this, index] { optCom_Click(index); });
    connect(&MSComm1, &SerialControl::onComm, this, &ConsoleWindow::MSComm1_OnComm);
    m_look.setSingleShot(true);
    m_look.setTimerType(Qt::PreciseTimer);
    connect(&m_look, &QTimer::timeout, this, &ConsoleWindow::lookAtTheLine);
    connect(&MSComm1, &SerialControl::portLost, this, [this](int port) {
        startAfresh();
        showWarning(lostText(port));
    });
    connect(&MSComm1, &SerialControl::portSwitched, this,
            [this](int port, bool opened, bool writesDropped) {
                startAfresh();
                if (!opened)
                    showWarning(switchFailedText(port));
                // A command clicked while the switch waited was accepted:
                // it is told as a click on the closed port is.
                if (writesDropped)
                    showWarning(notOpenText(port));
            });
}

ConsoleWindow::~ConsoleWindow()
{
    // Closing drains the port; nothing it reports may reach a window half torn down.
    MSComm1.disconnect(this);
    MSComm1.setPortOpen(false);
}

void ConsoleWindow::Form_Load()
{
    MSComm1.setCommPort(m_program.startPort);
    optCom[m_program.startPort - 1]->setChecked(true);
    if (!MSComm1.setPortOpen(true))
        showWarning(loadFailedText(MSComm1.commPort()));
}

void ConsoleWindow::optCom_Click(int index)
{
    MSComm1.switchPort(index + 1);
}

void ConsoleWindow::Form_Unload()
{
    m_unloaded = true;
    MSComm1.setPortOpen(false);
}

void ConsoleWindow::MSComm1_OnComm()
{
    if (m_program.reply != ReplyVariant::EveryEvent
        && MSComm1.commEvent() != SerialControl::Receive)
        return;
    const QByteArray read = MSComm1.input();
    m_replies.read(Clock::now(), read, MSComm1.inBufferCount());
    showReply();
}

void ConsoleWindow::lookAtTheLine()
{
    if (m_replies.look(Clock::now(), MSComm1.inBufferCount()))
        showReply();
    else
        armLook();
}

// What was waiting on a closed port never comes: the next byte is another
// port's, or another device's, and starts a reply of its own.
void ConsoleWindow::startAfresh()
{
    m_replies.startAfresh();
    armLook();
}

// As a text box shows text that is set: from its start, the rest by scrolling.
void ConsoleWindow::showReply()
{
    const QByteArray &reply = m_replies.shown();
    const int base = m_program.reply == ReplyVariant::FirstGeneration ? 10 : 16;
    Text1->setText(CodePage::fromBytes(reply));
    Text1->setCursorPosition(0);
    Text6->setText(reply.isEmpty() ? QString()
                                   : QString::number(quint8(reply.back()), base).toUpper());
    armLook();
}

void ConsoleWindow::armLook()
{
    if (const auto next = m_replies.nextLook())
        m_look.start(std::max(std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()),
                              std::chrono::milliseconds::zero()));
    else
        m_look.stop();
}

void ConsoleWindow::closeEvent(QCloseEvent *event)
{
    hideAtOnce();
    Form_Unload();
    event->accept();
}

void ConsoleWindow::hideAtOnce()
{
    hide();
    QGuiApplication::sync();
}

bool ConsoleWindow::send(const QByteArray &bytes, Operation operation, bool endsCommand,
                         std::function<void()> onLine)
{
    const bool taken = MSComm1.setOutput(
        bytes, [this, bytes, endsCommand, onLine = std::move(onLine)](Clock::time_point gone) {
            m_replies.handedOver(Clock::now(), gone, bytes, endsCommand, MSComm1.inBufferCount());
            armLook();
            if (onLine)
                onLine();
        });
    if (!taken && MSComm1.losses() == operation.lossesAtStart)
        showWarning(notOpenText(MSComm1.commPort()));
    return taken;
}

bool ConsoleWindow::waitForLine(const std::function<bool()> &stopEarly)
{
    for (auto busy = MSComm1.lineBusyFor(); busy.count() > 0; busy = MSComm1.lineBusyFor()) {
        if (!Module1::Delay(qint32(busy.count()), stopEarly))
            return false;
    }
    return true;
}

void ConsoleWindow::showWarning(const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("系统信息"), text, QMessageBox::Ok, this);
    box.exec();
}

void ConsoleWindow::endProgram()
{
    hideAtOnce();
    MSComm1.disconnect(this);
    MSComm1.setPortOpen(false);
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
}
