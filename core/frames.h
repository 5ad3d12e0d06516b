#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

// The wire vocabulary: check characters of both generations and the
// second-generation frame.
namespace Frames {

constexpr char NUL = 0x00;
constexpr char SOH = 0x01;
constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char EOT = 0x04;

// First generation: the masked sum itself, 0..127, control characters included.
int checkSumCode(QStringView text);

// Second generation: never below the space, 32..127.
int checkCharCode(QStringView text);

// SOH, the upper-cased text, the check character of that upper-cased text, EOT.
QByteArray secondGenerationFrame(QStringView text);

// A first-generation frame as its console writes it, one write at a time:
// each control, address, value and check byte on its own, and each character
// of the data text on its own, as a wait between writes must not split a
// double-byte character.
struct FirstGenerationFrame {
    QByteArrayList before; // SOH, the address, NUL, STX
    QByteArrayList data; // the data text as typed, a character a write
    QByteArrayList after; // the value, ETX, the check character of the data, EOT

    QByteArrayList writes() const { return before + data + after; }
};
FirstGenerationFrame firstGenerationFrame(quint8 address, QStringView data, quint8 value);

} // namespace Frames
