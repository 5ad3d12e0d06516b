#pragma once

#include <QApplication>
#include <QProcess>
#include <QTest>

// Some behaviour ends the process (the End buttons); the test binary then
// runs that part in a copy of itself. The child runs `childMain(scenario)`.
struct ChildRun {
    bool finished;
    QProcess::ExitStatus status;
    int exitCode;
    QByteArray output;
};

ChildRun runChild(const QString &scenario, int timeoutMs = 10000);

#define CONSOLE_TEST_MAIN(TestClass, childMain)                                                    \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        QApplication app(argc, argv);                                                              \
        const QString scenario = qEnvironmentVariable("CONSOLE_TEST_CHILD");                       \
        if (!scenario.isEmpty())                                                                   \
            return childMain(scenario);                                                            \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
