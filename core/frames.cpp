#include "frames.h"

#include "codepage.h"

namespace Frames {
namespace {

constexpr int kSevenBits = 0x7F;
constexpr int kSpace = 32;

} // namespace

int checkSumCode(QStringView text)
{
    int sum = 0;
    for (const qint16 code : CodePage::characterCodes(text))
        sum = (sum + code) & kSevenBits;
    return sum;
}

int checkCharCode(QStringView text)
{
    const int sum = checkSumCode(text);
    return sum <= kSpace ? sum + kSpace : sum;
}

QByteArray secondGenerationFrame(QStringView text)
{
    const QString upper = CodePage::upperCased(text);
    QByteArray frame;
    frame.append(SOH);
    frame.append(CodePage::toBytes(upper));
    frame.append(char(checkCharCode(upper)));
    frame.append(EOT);
    return frame;
}

FirstGenerationFrame firstGenerationFrame(quint8 address, QStringView data, quint8 value)
{
    const auto bytes = [](auto... each) { return QByteArrayList{QByteArray(1, char(each))...}; };
    return {bytes(SOH, address, NUL, STX), CodePage::characterBytes(data),
            bytes(value, ETX, checkSumCode(data), EOT)};
}

} // namespace Frames
