#include "codepage.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <QStringEncoder>
#endif

namespace CodePage {
namespace {

constexpr char32_t kLastSingleByte = 0xFF;
constexpr char kUnmappable = '?';

// The GBK bytes of one character; empty where GBK has none. Qt for Windows
// carries no GBK converter of its own, but every Windows has code page 936.
QByteArray gbkBytes(QStringView character)
{
#ifdef Q_OS_WIN
    constexpr UINT kChineseSimplified = 936;
    char bytes[4] = {};
    BOOL unmappable = FALSE;
    const int size = WideCharToMultiByte(
        kChineseSimplified, WC_NO_BEST_FIT_CHARS, reinterpret_cast<LPCWCH>(character.utf16()),
        int(character.size()), bytes, int(sizeof bytes), nullptr, &unmappable);
    return unmappable ? QByteArray() : QByteArray(bytes, size);
#else
    thread_local QStringEncoder gbk("GBK", QStringConverter::Flag::Stateless);
    return gbk.isValid() ? QByteArray(gbk.encode(character)) : QByteArray();
#endif
}

// Calls visit(QByteArrayView) once per character with that character's bytes.
template <typename Visit> void encode(QStringView text, Visit visit)
{
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype start = i;
        char32_t cp = text[i].unicode();
        if (QChar::isHighSurrogate(cp) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        ++i;
        if (cp <= kLastSingleByte) {
            const char byte = char(cp);
            visit(QByteArrayView(&byte, 1));
            continue;
        }
        QByteArray bytes = gbkBytes(text.sliced(start, i - start));
        // Qt's converter itself answers "?" for a character GBK lacks.
        if (bytes.isEmpty() || bytes.size() > 2)
            bytes = QByteArray(1, kUnmappable);
        visit(QByteArrayView(bytes));
    }
}

} // namespace

QByteArray toBytes(QStringView text)
{
    QByteArray out;
    out.reserve(text.size());
    encode(text, [&out](QByteArrayView bytes) { out.append(bytes); });
    return out;
}

QByteArrayList characterBytes(QStringView text)
{
    QByteArrayList out;
    out.reserve(text.size());
    encode(text, [&out](QByteArrayView bytes) { out.append(bytes.toByteArray()); });
    return out;
}

QString fromBytes(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes);
}

std::vector<qint16> characterCodes(QStringView text)
{
    std::vector<qint16> codes;
    codes.reserve(size_t(text.size()));
    encode(text, [&codes](QByteArrayView bytes) {
        const auto lead = quint8(bytes.front());
        codes.push_back(bytes.size() == 1 ? qint16(lead)
                                          : qint16(quint16(lead << 8 | quint8(bytes.back()))));
    });
    return codes;
}

QString upperCased(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c >= u'a' && c <= u'z') {
            out.append(QChar(c.unicode() - (u'a' - u'A')));
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            const char32_t upper = QChar::toUpper(QChar::surrogateToUcs4(c, text[i + 1]));
            out.append(QString::fromUcs4(&upper, 1));
            ++i;
        } else {
            out.append(c.toUpper());
        }
    }
    return out;
}

} // namespace CodePage
