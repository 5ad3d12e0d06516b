// The serial control's line of writes and switches: what reaches which port,
// in which order, and what the window hears of it.
#include "harness.h"
#include "serialcontrol.h"

namespace {

// Steps: a letter writes 20 of it (21 ms on the line), a digit switches to
// that port, '-' closes. Every switch's report runs an event loop of its own
// for 30 ms, as a warning box does.
// clang-format off
const struct { const char *name; QString steps; QStringList heard; bool com2Missing = false; } kLines[] = {
    {"a switch on an idle line", u"2b"_s, {u"COM2 opened"_s, u"b on COM2"_s}},
    {"a switch waits for the write before it", u"a2b"_s, {u"a on COM1"_s, u"COM2 opened"_s, u"b on COM2"_s}},
    {"writes behind a failed switch are dropped", u"a2b"_s, {u"a on COM1"_s, u"COM2 failed, writes dropped"_s}, true},
    {"after a failed switch: refused, until the next", u"2b1c"_s, {u"b refused"_s, u"COM2 failed"_s, u"COM1 opened"_s, u"c on COM1"_s}, true},
    {"switches and writes keep their turns", u"a2b1c"_s, {u"a on COM1"_s, u"COM2 opened"_s, u"b on COM2"_s, u"COM1 opened"_s, u"c on COM1"_s}},
    {"closing finishes the write, then refuses", u"a-b"_s, {u"a on COM1"_s, u"b refused"_s}},
};
// clang-format on

} // namespace

class TestSerialControl : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writesAndSwitchesKeepTheirTurns_data() { useRows(kLines); }
    void writesAndSwitchesKeepTheirTurns()
    {
        const auto &row = currentRow(kLines);
        TwoPorts ports;
        if (row.com2Missing)
            qputenv("COMM_COM2", "/dev/pts/none");
        SerialControl control;
        QVERIFY(control.setPortOpen(true));
        QStringList heard;
        QByteArray sent[2];
        connect(&control, &SerialControl::portSwitched, this,
                [&](int port, bool opened, bool writesDropped) {
                    heard << u"COM%1 %2%3"_s.arg(port).arg(opened ? u"opened"_s : u"failed"_s,
                                                           writesDropped ? u", writes dropped"_s
                                                                         : QString());
                    QTest::qWait(30);
                });
        for (const QChar step : row.steps) {
            const QByteArray bytes(20, char(step.unicode()));
            if (step.isDigit())
                control.switchPort(step.digitValue());
            else if (step == u'-')
                control.setPortOpen(false);
            else if (!control.setOutput(bytes, [&, step, bytes](auto) {
                         heard << u"%1 on COM%2"_s.arg(step).arg(control.commPort());
                         sent[control.commPort() - 1] += bytes;
                     }))
                heard << u"%1 refused"_s.arg(step);
        }
        QTRY_COMPARE(heard, row.heard);
        QTRY_COMPARE(ports.com1.received(), sent[0]);
        QTRY_COMPARE(ports.com2.received(), sent[1]);
        QTest::qWait(50);
        QCOMPARE(heard, row.heard);
        QCOMPARE(control.outBufferCount(), 0);
    }
};

QTEST_MAIN(TestSerialControl)
#include "tst_serialcontrol.moc"
