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
// A command's end is judged up to a millisecond early, as timers count whole
// milliseconds: an answer, whose first byte comes at least a character time
// after the command's end, never loses it to the reply before, which at worst
// loses its own last byte to the answer.
constexpr std::chrono::milliseconds kJudgedEarly{1};
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
    m_quiet.setSingleShot(true);
    m_quiet.setTimerType(Qt::PreciseTimer);
    m_quiet.setInterval(kReplyQuiet);
    connect(&m_quiet, &QTimer::timeout, this, &ConsoleWindow::lineFellQuiet);
    m_commandGone.setSingleShot(true);
    m_commandGone.setTimerType(Qt::PreciseTimer);
    connect(&m_commandGone, &QTimer::timeout, this, &ConsoleWindow::commandLeftTheLine);
    connect(&MSComm1, &SerialControl::portLost, this, [this](int port) {
        startAfresh();
        showWarning(lostText(port));
    });
    connect(&MSComm1, &SerialControl::portSwitched, this, [this](int port, bool opened) {
        startAfresh();
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
    // An empty read empties the boxes, and the next byte starts a new reply.
    if (read.isEmpty())
        m_reply.clear();
    const qint64 first = m_received;
    m_received += read.size();
    qsizetype from = 0;
    for (; !m_replyEnds.empty() && m_replyEnds.front() < m_received; m_replyEnds.pop_front()) {
        from = std::max(from, qsizetype(m_replyEnds.front() - first));
        m_reply.clear();
    }
    m_reply += read.sliced(from);
    if (!read.isEmpty())
        m_quiet.start();
    if (m_reply.size() > kReplyShownBytes)
        m_reply.remove(0, m_reply.size() - kReplyShownBytes);
    const int base = m_program.reply == ReplyVariant::FirstGeneration ? 10 : 16;
    Text1->setText(CodePage::fromBytes(m_reply));
    Text6->setText(m_reply.isEmpty() ? QString()
                                     : QString::number(quint8(m_reply.back()), base).toUpper());
}

// Bytes that arrived while this window was busy are still to be read: the
// line was not quiet, however long ago the last read was.
void ConsoleWindow::lineFellQuiet()
{
    if (MSComm1.inBufferCount() > 0)
        m_quiet.start();
    else
        endReplyAt(m_received);
}

// A command counts once its last byte has left: what the device still sent
// while the command went out, read or not, ends the answer before it.
void ConsoleWindow::commandLeftTheLine()
{
    const Clock::time_point now = Clock::now();
    bool left = false;
    for (; !m_commandsGoneAt.empty() && m_commandsGoneAt.front() - kJudgedEarly <= now;
         m_commandsGoneAt.pop_front())
        left = true;
    if (left)
        endReplyAt(m_received + MSComm1.inBufferCount());
    if (!m_commandsGoneAt.empty())
        m_commandGone.start(std::chrono::ceil<std::chrono::milliseconds>(m_commandsGoneAt.front()
                                                                         - kJudgedEarly - now));
}

// What was waiting on a closed port never comes: the next byte is another
// port's, or another device's, and starts a reply of its own.
void ConsoleWindow::startAfresh()
{
    m_replyEnds.clear();
    endReplyAt(m_received);
}

void ConsoleWindow::endReplyAt(qint64 position)
{
    if (m_replyEnds.empty() || m_replyEnds.back() < position)
        m_replyEnds.push_back(position);
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
                m_commandsGoneAt.push_back(gone);
                if (!m_commandGone.isActive())
                    commandLeftTheLine();
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
