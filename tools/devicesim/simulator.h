#pragma once

#include "decoder.h"
#include "device.h"
#include "line.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
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
// keeps to the pace of a 9600-baud line both ways: answers go out a byte per
// character time, and what the console wrote is taken off the line no faster,
// so a console that writes faster than that finds its bytes piling up.
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
    using Nanoseconds = std::chrono::nanoseconds;

    // Bytes the line has carried by now when the next one may go at `next`.
    static qsizetype dueBy(Nanoseconds now, Nanoseconds next);
    Nanoseconds now() const { return Nanoseconds(m_clock.nsecsElapsed()); }
    static void armFor(QTimer &timer, Nanoseconds wait);

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
    QElapsedTimer m_clock;
    // When the line may carry the next byte in, and out; while nothing is
    // waiting, when it fell idle.
    Nanoseconds m_nextIn{0};
    Nanoseconds m_nextOut{0};
    std::deque<Due> m_due;
    // Answers not yet on the line in full; the front one has its first
    // m_frontSent bytes out and is logged once its first byte goes.
    std::deque<QByteArray> m_outgoing;
    qsizetype m_frontSent = 0;
    bool m_frontLogged = false;
    qsizetype m_outgoingBytes = 0;
    int m_frames = 0;
    bool m_stopped = false;
};

} // namespace devicesim
