#include "LegacyCodePage.h"

namespace quobin::legacyCodePage {

std::optional<QString> decode(QByteArrayView)
{
    return std::nullopt;
}

std::optional<QByteArray> encode(const QString &)
{
    return std::nullopt;
}

} // namespace quobin::legacyCodePage
