#include "decoder.h"

#include "codepage.h"
#include "frames.h"

#include <QStringDecoder>
#include <algorithm>

namespace devicesim {
namespace {

using Frames::EOT;
using Frames::ETX;
using Frames::NUL;
using Frames::SOH;
using Frames::STX;

constexpr quint8 kFirstTextByte = 0x20;
constexpr quint8 kLastCheck = 0x7F;
constexpr qsizetype kFirstGenerationOverhead = 8; // SOH address NUL STX ... value ETX check EOT
constexpr qsizetype kSecondGenerationOverhead = 3; // SOH ... check EOT

bool isTextByte(char byte)
{
    return quint8(byte) >= kFirstTextByte;
}

enum class Shape { Open, Complete, Broken };

struct ShapeScan {
    Shape shape;
    qsizetype end; // the EOT of a complete frame
};

// SOH, text bytes, a check from space to DEL, EOT, starting at `at`.
ShapeScan secondGenerationShape(const QByteArray &bytes, qsizetype at)
{
    qsizetype i = at + 1;
    while (i < bytes.size() && isTextByte(bytes.at(i)))
        ++i;
    if (i == bytes.size())
        return {Shape::Open, -1};
    if (bytes.at(i) == EOT && i - at + 1 >= kSecondGenerationOverhead
        && quint8(bytes.at(i - 1)) <= kLastCheck)
        return {Shape::Complete, i};
    return {Shape::Broken, i};
}

enum class Head { Unknown, Yes, No };

// SOH, address, NUL, STX starting at `at`.
Head firstGenerationHead(const QByteArray &bytes, qsizetype at)
{
    if (at + 2 < bytes.size() && bytes.at(at + 2) != NUL)
        return Head::No;
    if (at + 3 >= bytes.size())
        return Head::Unknown;
    return bytes.at(at + 3) == STX ? Head::Yes : Head::No;
}

bool isFirstGenerationEnd(const QByteArray &bytes, qsizetype end)
{
    return end + 1 >= kFirstGenerationOverhead && bytes.at(end) == EOT && bytes.at(end - 2) == ETX;
}

struct Reading {
    bool checkOk;
    int expected;
    QString text;
};

// The consoles send U+0000..U+00FF as one byte and Chinese as GBK pairs, so
// the same bytes can stand for two texts with different checks: either counts.
Reading readText(QByteArrayView payload, int check, int (*checkCode)(QStringView))
{
    Reading plain{false, 0, CodePage::fromBytes(payload)};
    plain.expected = checkCode(plain.text);
    plain.checkOk = plain.expected == check;
    const bool ascii =
        std::all_of(payload.begin(), payload.end(), [](char byte) { return quint8(byte) < 0x80; });
    if (plain.checkOk || ascii)
        return plain;
    QStringDecoder gbk("GBK", QStringConverter::Flag::Stateless);
    if (!gbk.isValid())
        return plain;
    const QString chinese = gbk.decode(payload);
    if (!gbk.hasError() && checkCode(chinese) == check)
        return {true, check, chinese};
    return plain;
}

Piece secondGenerationFrame(QByteArrayView bytes)
{
    Piece piece{Piece::SecondGeneration, bytes.toByteArray(), false, -1, {}};
    const Reading reading = readText(piece.payload(), piece.check(), &Frames::checkCharCode);
    piece.checkOk = reading.checkOk;
    piece.expectedCheck = reading.expected;
    piece.text = reading.text;
    return piece;
}

Piece firstGenerationFrame(QByteArrayView bytes)
{
    Piece piece{Piece::FirstGeneration, bytes.toByteArray(), false, -1, {}};
    const Reading reading = readText(piece.payload(), piece.check(), &Frames::checkSumCode);
    piece.checkOk = reading.checkOk;
    piece.expectedCheck = reading.expected;
    piece.text = reading.text;
    return piece;
}

Piece unframed(Piece::Kind kind, QByteArrayView bytes)
{
    return {kind, bytes.toByteArray(), false, -1, CodePage::fromBytes(bytes)};
}

} // namespace

QByteArray Piece::payload() const
{
    switch (kind) {
    case SecondGeneration:
        return bytes.sliced(1, bytes.size() - kSecondGenerationOverhead);
    case FirstGeneration:
        return bytes.sliced(4, bytes.size() - kFirstGenerationOverhead);
    default:
        return {};
    }
}

QList<Piece> Decoder::feed(QByteArrayView bytes)
{
    m_buffer.append(bytes);
    return take(false);
}

QList<Piece> Decoder::lineQuiet()
{
    return take(true);
}

QList<Piece> Decoder::take(bool quiet)
{
    QList<Piece> out;
    while (!m_buffer.isEmpty()) {
        const qsizetype start = m_buffer.indexOf(SOH);
        if (start < 0 && !quiet && m_buffer.size() <= kLongestFrame)
            break; // more noise may follow: one piece for all of it
        if (start != 0) {
            const qsizetype noise = start < 0 ? m_buffer.size() : start;
            out.append(unframed(Piece::Noise, m_buffer.first(noise)));
            m_buffer.remove(0, noise);
            continue;
        }
        const qsizetype used = takeFrameAtStart(out, quiet);
        if (used == 0)
            break;
        m_buffer.remove(0, used);
    }
    return out;
}

// The buffer starts with SOH. Returns how many bytes the pieces appended to
// `out` took, 0 while the frame is still arriving.
qsizetype Decoder::takeFrameAtStart(QList<Piece> &out, bool quiet)
{
    const bool tooLong = m_buffer.size() > kLongestFrame;
    const ShapeScan shape = secondGenerationShape(m_buffer, 0);
    if (shape.shape == Shape::Complete) {
        out.append(secondGenerationFrame(m_buffer.first(shape.end + 1)));
        return shape.end + 1;
    }
    if (shape.shape == Shape::Open && !tooLong)
        return 0;
    const Head head = shape.shape == Shape::Open ? Head::No : firstGenerationHead(m_buffer, 0);
    if (head == Head::Yes)
        return takeFirstGeneration(out, quiet);
    if (head == Head::Unknown)
        return 0;
    const qsizetype next = m_buffer.indexOf(SOH, 1);
    const qsizetype cut = next < 0 ? m_buffer.size() : next;
    out.append(unframed(Piece::CutOff, m_buffer.first(cut)));
    return cut;
}

qsizetype Decoder::takeFirstGeneration(QList<Piece> &out, bool quiet)
{
    // Where the next frame plausibly starts, this one has ended at the latest.
    qsizetype next = -1;
    for (qsizetype at = m_buffer.indexOf(SOH, 1); at > 0; at = m_buffer.indexOf(SOH, at + 1)) {
        if (firstGenerationHead(m_buffer, at) == Head::Yes
            || secondGenerationShape(m_buffer, at).shape == Shape::Complete) {
            next = at;
            break;
        }
    }
    const qsizetype limit = next < 0 ? m_buffer.size() : next;
    qsizetype lastEnd = -1;
    for (qsizetype end = 0; end < limit; ++end) {
        if (!isFirstGenerationEnd(m_buffer, end))
            continue;
        Piece frame = firstGenerationFrame(m_buffer.first(end + 1));
        if (frame.checkOk) {
            out.append(std::move(frame));
            return end + 1;
        }
        lastEnd = end;
    }
    const bool settle = next >= 0 || quiet || m_buffer.size() > kLongestFrame;
    if (!settle)
        return 0;
    if (lastEnd >= 0) {
        out.append(firstGenerationFrame(m_buffer.first(lastEnd + 1)));
        return lastEnd + 1;
    }
    if (next < 0 && quiet && m_buffer.size() <= kLongestFrame)
        return 0; // still arriving, however slowly
    const qsizetype other = m_buffer.indexOf(SOH, 1);
    const qsizetype cut = next >= 0 ? next : (other < 0 ? m_buffer.size() : other);
    out.append(unframed(Piece::CutOff, m_buffer.first(cut)));
    return cut;
}

QString hexBytes(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

QString quoted(QStringView text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            out.append(u'\\').append(c);
        else if (c.isPrint())
            out.append(c);
        else
            out.append(QStringLiteral("\\x").append(
                QString::number(c.unicode(), 16).toUpper().rightJustified(2, u'0')));
    }
    return out.append(u'"');
}

QString logColumns(QStringView what, QByteArrayView bytes, QStringView says)
{
    constexpr qsizetype kWhatWidth = 16;
    return what.toString().leftJustified(kWhatWidth) + QStringLiteral(" | ") + hexBytes(bytes)
           + QStringLiteral(" | ") + says.toString();
}

QString describe(const Piece &piece)
{
    switch (piece.kind) {
    case Piece::Noise:
        return logColumns(u"rx noise", piece.bytes, quoted(piece.text));
    case Piece::CutOff:
        return logColumns(u"rx cut-off", piece.bytes, quoted(piece.text));
    case Piece::SecondGeneration:
    case Piece::FirstGeneration:
        break;
    }
    const bool second = piece.kind == Piece::SecondGeneration;
    QString what = second ? QStringLiteral("rx 2nd ") : QStringLiteral("rx 1st ");
    what += piece.checkOk ? QStringLiteral("check ok") : QStringLiteral("check bad");
    QString says = second ? quoted(piece.text)
                          : QStringLiteral("address %1, data %2, value %3")
                                .arg(piece.address())
                                .arg(quoted(piece.text))
                                .arg(piece.value());
    if (!piece.checkOk)
        says +=
            QStringLiteral(", check %1 expected %2").arg(piece.check()).arg(piece.expectedCheck);
    return logColumns(what, piece.bytes, says);
}

} // namespace devicesim
