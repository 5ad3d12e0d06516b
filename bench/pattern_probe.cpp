// One run of the running light of the digital-output console, measured at the
// device end: a pseudo-terminal whose far end a second thread reads, stamping
// each frame as it arrives, while the window runs on the offscreen platform in
// the main thread. Built twice, against the sleeping and the polling wait;
// bench_pattern runs both and prints the table rows.
//   probe_pattern[_polling] <commands>
// prints "intervals <ms> <ms> ..." and "cpu <main thread CPU ms> <wall ms>".
#include "application.h"
#include "benchtable.h"
#include "form1.h"

#include <QApplication>
#include <QPushButton>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Reads the device end until `count` frames have arrived; returns their arrival times.
std::vector<double> readFrames(int master, int count)
{
    std::vector<double> arrivals;
    char buffer[256];
    while (int(arrivals.size()) < count) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        const double now = wallMs();
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] == 0x04)
                arrivals.push_back(now);
        }
    }
    return arrivals;
}

} // namespace

int main(int argc, char **argv)
{
    const int commands = argc > 1 ? std::atoi(argv[1]) : 151;
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "openpty: %s\n", std::strerror(errno));
        return 1;
    }
    termios raw{};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    qputenv("COMM_COM2", name);

    QApplication app(argc, argv);
    const Program marlo{"marlo", 2, ReplyVariant::SecondGeneration};
    setUpApplication(app, marlo);
    dio::Form1 form(marlo);
    form.Form_Load();
    form.show();
    if (!form.serialControl().portOpen())
        return 1;

    std::vector<double> arrivals;
    std::thread device([&] {
        arrivals = readFrames(master, commands);
        // Closing the window is what ends a pattern.
        QMetaObject::invokeMethod(&form, [&form] { form.close(); }, Qt::QueuedConnection);
    });

    const double wall = wallMs();
    const double cpu = threadCpuMs();
    form.findChild<QPushButton *>(QStringLiteral("Command2"))->click();
    const double cpuSpent = threadCpuMs() - cpu;
    const double wallSpent = wallMs() - wall;
    device.join();
    ::close(master);
    ::close(slave);
    if (int(arrivals.size()) < commands)
        return 1;

    std::printf("intervals");
    for (size_t i = 1; i < arrivals.size(); ++i)
        std::printf(" %.3f", arrivals[i] - arrivals[i - 1]);
    std::printf("\ncpu %.3f %.3f\n", cpuSpent, wallSpent);
    return 0;
}
