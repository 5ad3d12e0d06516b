#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <vector>

// How text becomes bytes on the serial line and back, as on a Chinese-locale
// (code page 936) system: U+0000..U+00FF are the single byte of that value, so
// every byte 0..255 survives byte -> character -> byte; anything else goes out
// as its GBK bytes, or "?" where GBK has none.
namespace CodePage {

QByteArray toBytes(QStringView text);

// The same bytes, one entry per character: one byte, or two for a GBK character.
QByteArrayList characterBytes(QStringView text);

// One character per byte, in order.
QString fromBytes(QByteArrayView bytes);

// The code a check sum adds for each character: its single byte, or for a
// double-byte character lead * 256 + trail read as a signed 16-bit number.
std::vector<qint16> characterCodes(QStringView text);

// ASCII a-z to A-Z, other characters by their simple upper-case mapping.
QString upperCased(QStringView text);

} // namespace CodePage
