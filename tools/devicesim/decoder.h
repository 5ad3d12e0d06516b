#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace devicesim {

// One stretch of the byte stream a console sent: a frame of either generation,
// the start of a frame that never ended, or bytes outside any frame.
struct Piece {
    enum Kind { FirstGeneration, SecondGeneration, CutOff, Noise };

    Kind kind = Noise;
    QByteArray bytes;
    bool checkOk = false; // frames only
    int expectedCheck = -1; // frames only: the check the text calls for
    QString text; // the command or data text as the console held it

    bool isFrame() const { return kind == FirstGeneration || kind == SecondGeneration; }
    // Frames only: the command text (second generation) or the data text (first).
    QByteArray payload() const;
    quint8 check() const { return quint8(bytes.at(bytes.size() - 2)); }
    // First generation only.
    quint8 address() const { return quint8(bytes.at(1)); }
    quint8 value() const { return quint8(bytes.at(bytes.size() - 4)); }
};

// Cuts the stream into pieces as bytes arrive. A first-generation frame may
// carry any byte in its address, data, value and check, so its end is the EOT
// whose preceding bytes agree (ETX two before it, a matching check); a frame
// whose check is wrong has no such EOT and is settled once the next frame
// starts or the line goes quiet.
class Decoder {
public:
    // Beyond this an unfinished frame is given up as cut off.
    static constexpr qsizetype kLongestFrame = 1024;

    QList<Piece> feed(QByteArrayView bytes);
    // Nothing more is coming for now: settles a first-generation frame with a
    // wrong check and hands over the noise held back so far.
    QList<Piece> lineQuiet();
    bool hasPending() const { return !m_buffer.isEmpty(); }

private:
    QList<Piece> take(bool quiet);
    qsizetype takeFrameAtStart(QList<Piece> &out, bool quiet);
    qsizetype takeFirstGeneration(QList<Piece> &out, bool quiet);

    QByteArray m_buffer;
};

// The bytes as spaced upper-case hexadecimal: "01 20 04".
QString hexBytes(QByteArrayView bytes);
// A text in double quotes, with bytes that do not print written as \xNN.
QString quoted(QStringView text);
// A log line's columns: what, the bytes, what they say.
QString logColumns(QStringView what, QByteArrayView bytes, QStringView says);
// One log line for a piece received: kind, check, bytes, text.
QString describe(const Piece &piece);

} // namespace devicesim
