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

// A device's answer reaches the console in pieces: a UART hands over its FIFO
// at a trigger level or after a character time-out, a USB adapter once per
// latency-timer tick of up to 16 ms. Pieces closer than this are one reply,
// unless a command has gone out between them.
constexpr std::chrono::milliseconds kReplyQuiet{50};
// An endless stream shows its latest part: one read buffer's worth.
constexpr qsizetype kReplyShownBytes = 4096;

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
    connect(&MSComm1, &SerialControl::portLost, this,
            [this](int port) { showWarning(lostText(port)); });
    connect(&MSComm1, &SerialControl::portSwitched, this, [this](int port, bool opened) {
        if (!opened)
            showWarning(switchFailedText(port));
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
    const Clock::time_point now = Clock::now();
    // An empty read empties the boxes, and the next byte starts a new reply.
    if (read.isEmpty() || replyEnded(now)) {
        m_reply.clear();
        m_commandGone = false;
    }
    m_reply += read;
    m_lastByteAt = read.isEmpty() ? Clock::time_point() : now;
    if (m_reply.size() > kReplyShownBytes)
        m_reply.remove(0, m_reply.size() - kReplyShownBytes);
    const int base = m_program.reply == ReplyVariant::FirstGeneration ? 10 : 16;
    Text1->setText(CodePage::fromBytes(m_reply));
    Text6->setText(m_reply.isEmpty() ? QString()
                                     : QString::number(quint8(m_reply.back()), base).toUpper());
}

// The reply shown is over once a command has gone out since it began, or
// after a quiet time. A command counts when its last byte has left: what the
// device still sends while the command goes out ends the answer before.
bool ConsoleWindow::replyEnded(Clock::time_point now)
{
    settleCommands(now);
    return m_commandGone || now - m_lastByteAt > kReplyQuiet;
}

void ConsoleWindow::settleCommands(Clock::time_point now)
{
    while (!m_commandsGoneAt.empty() && m_commandsGoneAt.front() <= now) {
        m_commandsGoneAt.pop_front();
        m_commandGone = true;
    }
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
        bytes, [this, endsCommand, onLine = std::move(onLine)](Clock::time_point gone) {
            if (endsCommand) {
                settleCommands(Clock::now());
                m_commandsGoneAt.push_back(gone);
            }
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
