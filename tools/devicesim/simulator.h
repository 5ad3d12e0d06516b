#pragma once

#include "decoder.h"
#include "device.h"
#include "linemodel.h"
#include "pacedline.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>

namespace devicesim {

// The device on one line: reads what a console writes, logs every piece,
// answers each frame, and hangs up when told to. Unless told to be instant it
// keeps to the pace of a 9600-baud line both ways, kept by LineModel as the
// test device keeps it: each byte of an answer is written when it has crossed
// the line, and what the console wrote is taken off the line no faster
// (PacedLine), so a console that writes faster than that finds its bytes
// piling up.
class Simulator : public QObject {
    Q_OBJECT

public:

    struct Options {
        std::chrono::milliseconds replyDelay{0};
        int hangUpAfter = 0; // frames; 0 for never
        bool instant = false; // answers in one write, everything read at once
    };
    using Log = std::function<void(const QString &line)>;

    // Takes over `line`, a non-blocking descriptor, and `keepOpen` (-1 for
    // none): the console's end of a pseudo-terminal, held so that the line
    // survives a console closing its end.
    Simulator(int line, int keepOpen, Options options, Log log, QObject *parent = nullptr);
    ~Simulator() override;

Q_SIGNALS:
    // The line is closed: hung up on purpose (0) or gone (1).
    void finished(int exitCode);

private:
    using Clock = LineModel::Clock;
    using TimePoint = LineModel::TimePoint;

    static void armFor(QTimer &timer, TimePoint at);

    void lineReadable();
    void readAtLineSpeed();
    void readAll();
    bool took(const char *bytes, ssize_t n);
    void lineQuiet();
    void handle(const QList<Piece> &pieces);
    void queueReply(const QByteArray &reply);
    void sendDueReplies();
    void send(const QByteArray &reply);
    void lineWritable();
    void writeOutgoing();
    void stop(const QString &why, int exitCode);
    void closeLine();

    struct Due {
        QDeadlineTimer at;
        QByteArray reply;
    };
    struct Outgoing {
        QByteArray reply;
        TimePoint handedAt; // to the line
    };

    int m_line;
    int m_keepOpen;
    Options m_options;
    Log m_log;
    Decoder m_decoder;
    Device m_device;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QSocketNotifier> m_writable;
    QTimer m_quiet;
    QTimer m_replyTimer;
    QTimer m_readTimer;
    QTimer m_writeTimer;
    PacedLine m_in; // what the console wrote, taken off the line
    LineModel m_out; // what was handed to the line has crossed it
    std::deque<Due> m_due;
    // Answers not yet on the line in full; the front one has its first
    // m_frontSent bytes out and is logged once its first byte goes.
    std::deque<Outgoing> m_outgoing;
    qsizetype m_frontSent = 0;
    bool m_frontLogged = false;
    qsizetype m_outgoingBytes = 0;
    int m_frames = 0;
    bool m_stopped = false;
};

} // namespace devicesim
