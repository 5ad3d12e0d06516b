#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <memory>

// The device end of a pseudo-terminal, in raw mode. The console opens path();
// everything it writes is collected here as it arrives, with the arrival time.
class PtyDevice : public QObject {
    Q_OBJECT

public:
    struct Chunk {
        qint64 atMs; // since the device was created
        QByteArray bytes;
    };

    PtyDevice();
    ~PtyDevice() override;

    QString path() const { return m_path; }

    QByteArray received() const;

    // What has arrived cut after every EOT, each piece with the arrival time
    // of its EOT; an unfinished tail is left out.
    struct Arrival {
        qint64 atMs;
        QByteArray frame;
    };
    QList<Arrival> arrivals() const;
    QList<QByteArray> frames() const;
    const QList<Chunk> &chunks() const { return m_chunks; }
    void clear() { m_chunks.clear(); }

    // Keeps the event loop running until `count` bytes have arrived in all.
    bool waitForBytes(qsizetype count, int timeoutMs = 5000);

    void write(QByteArrayView bytes);

    // The device goes away, as a pulled USB adapter does.
    void hangUp();

    qint64 elapsedMs() const { return m_clock.elapsed(); }

    // The device end itself, non-blocking, for a writer on a thread of its own.
    int deviceEnd() const { return m_master; }

private:
    void collect();

    QString m_path;
    int m_master = -1;
    int m_slave = -1; // kept open so bytes still arrive after the console closes its end
    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<Chunk> m_chunks;
    QElapsedTimer m_clock;
};
