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

QString quotedText(const QString &text)
{
    return QLatin1Char('"') + escapedBytes(text.toUtf8()) + QLatin1Char('"');
}

} // namespace quobin
