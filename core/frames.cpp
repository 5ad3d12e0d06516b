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

QByteArray firstGenerationFrame(quint8 address, QStringView data, quint8 value)
{
    QByteArray frame;
    frame.append(SOH).append(char(address)).append(NUL).append(STX);
    frame.append(CodePage::toBytes(data));
    frame.append(char(value)).append(ETX).append(char(checkSumCode(data))).append(EOT);
    return frame;
}

} // namespace Frames
