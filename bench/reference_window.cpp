// The least a Qt window can do for what a console shows during its running light: one precise
// timer every 200 ms that writes one 11-byte command to COM2 and shows a new value in one text
// box. Built for Windows only; bench_wine runs it under Wine beside the consoles, as the floor
// that Wine and Qt set for the console's main thread.
#include <QApplication>
#include <QLineEdit>
#include <QSerialPort>
#include <QTimer>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("comm"));
    window.resize(408, 262);
    QLineEdit box(&window);
    box.setGeometry(288, 40, 89, 25);
    QSerialPort port(QStringLiteral("COM2"));
    port.setBaudRate(9600);
    port.open(QIODevice::ReadWrite);
    QTimer step;
    step.setTimerType(Qt::PreciseTimer);
    int steps = 0;
    QObject::connect(&step, &QTimer::timeout, &window, [&] {
        box.setText(QString::number(84 + ++steps % 2));
        port.write("\x01" "01DOP000T\x04");
    });
    step.start(200);
    window.show();
    return QApplication::exec();
}
