#include "ArgumentText.h"


namespace quobin::cli {

namespace {

constexpr char16_t kFirstEscape = 0xDC80;
constexpr char16_t kLastEscape = 0xDCFF;

// An escaped byte is a low surrogate on its own; the same unit after a high
// surrogate is half of a character beyond U+FFFF (U+1F480, for one).
bool isEscapeAt(const QString &text, qsizetype at)
{
    const char16_t unit = text[at].unicode();
    return unit >= kFirstEscape && unit <= kLastEscape && (at == 0 || !text[at - 1].isHighSurrogate());
}

// The length of the valid UTF-8 sequence at bytes[at], 0 when there is none.
qsizetype validSequence(const QByteArray &bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    qsizetype length = 0;
    char32_t value = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

QString textKeepingBytes(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype length = validSequence(bytes, at);
        if (length == 0) {
            text += QChar(char16_t(kFirstEscape - 0x80 + static_cast<unsigned char>(bytes[at])));
            ++at;
            continue;
        }
        text += QString::fromUtf8(bytes.constData() + at, length);
        at += length;
    }
    return text;
}

QStringList argumentsKeepingBytes(int argc, const char *const *argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << textKeepingBytes(QByteArray(argv[i]));
    return arguments;
}

QByteArray argumentBytes(const QString &argument)
{
    QByteArray bytes;
    qsizetype from = 0;
    for (qsizetype at = 0; at <= argument.size(); ++at) {
        if (at < argument.size() && !isEscapeAt(argument, at))
            continue;
        bytes += QStringView(argument).mid(from, at - from).toUtf8();
        if (at < argument.size())
            bytes += char(argument[at].unicode() - kFirstEscape + 0x80);
        from = at + 1;
    }
    return bytes;
}

bool isPlainText(const QString &argument)
{
    for (qsizetype at = 0; at < argument.size(); ++at) {
        if (isEscapeAt(argument, at))
            return false;
    }
    return true;
}

QString readable(const QString &argument)
{
    QString text = argument;
    for (qsizetype at = 0; at < argument.size(); ++at) {
        if (isEscapeAt(argument, at))
            text[at] = QChar::ReplacementCharacter;
    }
    return text;
}

} // namespace quobin::cli
