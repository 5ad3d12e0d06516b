// libFuzzer target over what turns operator text into bytes on the wire and
// device bytes into text: the check functions, the frame builders and the
// code-page conversion. Any input is fine; a broken invariant aborts.
#include "codepage.h"
#include "frames.h"

#include <QString>
#include <cstdlib>

namespace {

void require(bool holds)
{
    if (!holds)
        std::abort();
}

void checkText(const QString &text)
{
    const int sum = Frames::checkSumCode(text);
    require(sum >= 0 && sum <= 127);
    const int check = Frames::checkCharCode(text);
    require(check >= 32 && check <= 127);
    require(check == (sum <= 32 ? sum + 32 : sum));

    const QString upper = CodePage::upperCased(text);
    const QByteArray frame = Frames::secondGenerationFrame(text);
    const QByteArray body = CodePage::toBytes(upper);
    require(frame.size() == body.size() + 3);
    require(frame.front() == Frames::SOH && frame.back() == Frames::EOT);
    require(frame.mid(1, body.size()) == body);
    require(quint8(frame.at(frame.size() - 2)) == Frames::checkCharCode(upper));

    // One write per character of the data, so that no wait splits one.
    const QByteArrayList writes = Frames::firstGenerationFrame(7, text, 9).writes();
    require(writes.size() == qsizetype(CodePage::characterCodes(text).size()) + 8);
    const QByteArray first = writes.join();
    const QByteArray data = CodePage::toBytes(text);
    require(first.size() == data.size() + 8);
    require(first.mid(4, data.size()) == data);
    require(quint8(first.at(first.size() - 2)) == sum);

    // Every character is one or two bytes, and counts once in the sum.
    require(qsizetype(CodePage::characterCodes(text).size()) <= data.size());
    require(data.size() <= 2 * text.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    const QByteArrayView raw(reinterpret_cast<const char *>(bytes), qsizetype(size));

    // Bytes from the device: every byte is one character and comes back unchanged.
    const QString received = CodePage::fromBytes(raw);
    require(received.size() == raw.size());
    require(CodePage::toBytes(received) == raw);
    checkText(received);

    // The same bytes read as UTF-16, as typed text: any code unit, lone surrogates included.
    checkText(QString(reinterpret_cast<const QChar *>(bytes), qsizetype(size / 2)));
    return 0;
}
