#include "Caption.h"

namespace quobin {

QString captionFor(ProgramVersion version)
{
    return designCaption + QStringLiteral(" - V ") + QString::number(version.major)
        + QLatin1Char('.') + QString::number(version.minor);
}

} // namespace quobin
