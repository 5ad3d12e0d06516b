#pragma once

#include "decoder.h"
#include "device.h"

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
// answers each frame, and hangs up when told to.
class Simulator : public QObject {
    Q_OBJECT

public:
    struct Options {
        std::chrono::milliseconds replyDelay{0};
        int hangUpAfter = 0; // frames; 0 for never
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
    void readLine();
    void lineQuiet();
    void handle(const QList<Piece> &pieces);
    void queueReply(const QByteArray &reply);
    void sendDueReplies();
    void send(const QByteArray &reply);
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
    std::deque<Due> m_due;
    QByteArray m_outgoing;
    int m_frames = 0;
    bool m_stopped = false;
};

} // namespace devicesim
