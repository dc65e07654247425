#pragma once

#include <QString>

namespace quobin {

// The program's major and minor version numbers.
struct ProgramVersion {
    int major = 0;
    int minor = 0;
};

// The window's caption as designed, before start-up adds the version.
inline const QString designCaption = QStringLiteral("Kelsar Vantor Quobin");

// The design caption followed by " - V major.minor", both numbers plain
// decimal without leading zeros: 3.0, 3.5, 3.12.
QString captionFor(ProgramVersion version);

} // namespace quobin
