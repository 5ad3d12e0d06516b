#pragma once

#include "consolewindow.h"
#include "ptydevice.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

// What every console test pins: the programs' fonts and font substitutions.
void setUpTestApplication();

// Spaced hexadecimal, as frames are written in tables: "01 20 04".
QByteArray fromHex(const char *spaced);

// Keeps the event loop running for half a second; false when this process
// took more than a quarter of it (a port spinning on a gone device takes all).
bool staysQuiet();

// Answers every modal box with OK as soon as it comes up, keeping "title|text".
class ModalBoxes : public QObject {
public:
    ModalBoxes();
    QStringList seen;

private:
    QTimer m_poll;
};

// COM1 and COM2 on pseudo-terminals, mapped through COMM_COM1 and COMM_COM2,
// and every modal box answered. The boxes go first, then the devices.
struct TwoPorts {
    explicit TwoPorts(PtyDevice::Pace pace = PtyDevice::Pace::Instant);
    PtyDevice &com(int port) { return port == 1 ? com1 : com2; }
    PtyDevice com1;
    PtyDevice com2;
    ModalBoxes boxes;
};

// One of the five programs' windows, by name, loaded and shown.
std::unique_ptr<ConsoleWindow> openConsole(const QString &program);

inline QLineEdit *box(QWidget &window, const char *name)
{
    return window.findChild<QLineEdit *>(QLatin1StringView(name));
}
inline void click(QWidget &window, const char *name)
{
    window.findChild<QPushButton *>(QLatin1StringView(name))->click();
}
inline void setText(QWidget &window, const char *name, const QString &text)
{
    box(window, name)->setText(text);
}

// What ends the process (the End buttons) runs in a copy of the test binary,
// which calls `childMain(scenario)`; the devices stay with the parent.
struct ChildRun {
    bool finished;
    int exitCode; // -1 for a crash
    qint64 ms; // from start to end
};
ChildRun runChild(const QString &scenario, int timeoutMs = 20000);

#define CONSOLE_TEST_MAIN(TestClass, childMain)                                                    \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        QApplication app(argc, argv);                                                              \
        setUpTestApplication();                                                                    \
        if (qEnvironmentVariableIsSet("CONSOLE_TEST_CHILD"))                                       \
            return childMain(qEnvironmentVariable("CONSOLE_TEST_CHILD"));                          \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
