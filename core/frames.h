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

// The writes a first-generation console makes for one frame, in order, each
// one byte but for a double-byte character of `data`, which a wait between
// writes must not split.
QByteArrayList firstGenerationFrame(quint8 address, QStringView data, quint8 value);

} // namespace Frames
