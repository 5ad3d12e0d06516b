#include "childprocess.h"

ChildRun runChild(const QString &scenario, int timeoutMs)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CONSOLE_TEST_CHILD"), scenario);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {});
    const bool finished = child.waitForFinished(timeoutMs);
    if (!finished)
        child.kill();
    return {finished, child.exitStatus(), child.exitCode(), child.readAll()};
}
