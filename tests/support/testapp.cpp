#include "testapp.h"

#include "application.h"

#include <QApplication>
#include <QTest>
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

double cpuMs()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

bool staysQuiet(double *spentMs)
{
    constexpr int kWindowMs = 500;
    const double before = cpuMs();
    QTest::qWait(kWindowMs);
    *spentMs = cpuMs() - before;
    return *spentMs < kWindowMs / 2;
}
