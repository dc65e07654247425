#include "LogText.h"

namespace quobin {

QString escapedBytes(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size() + 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\')
            text += QStringLiteral("\\\\");
        else if (byte == '\r')
            text += QStringLiteral("\\r");
        else if (byte == '\n')
            text += QStringLiteral("\\n");
        else if (byte >= 0x20 && byte < 0x7f)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString terminalText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        const bool control = unit < 0x20 || (unit >= 0x7f && unit < 0xa0) || unit == 0x2028 || unit == 0x2029;
        if (!control) {
            shown += c;
            continue;
        }
        switch (unit) {
        case 0x1b: shown += QStringLiteral("\\e"); break;
        case 0x07: shown += QStringLiteral("\\a"); break;
        case '\r': shown += QStringLiteral("\\r"); break;
        case '\n': shown += QStringLiteral("\\n"); break;
        case '\t': shown += QStringLiteral("\\t"); break;
        default:
            shown += unit < 0x100 ? QStringLiteral("\\x%1").arg(int(unit), 2, 16, QLatin1Char('0'))
                                  : QStringLiteral("\\u%1").arg(int(unit), 4, 16, QLatin1Char('0'));
        }
    }
    return shown;
}

QString quotedText(const QString &text)
{
    return QLatin1Char('"') + escapedBytes(text.toUtf8()) + QLatin1Char('"');
}

} // namespace quobin
