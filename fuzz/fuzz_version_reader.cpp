// Feeds arbitrary bootloader replies to the version reader. The only failure
// it may raise is VersionNumberError, and a result is always a finite number.
#include "VersionNumber.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const float version = quobin::readVersionNumber(text);
        if (!std::isfinite(version))
            std::abort();
    } catch (const quobin::VersionNumberError &) {
    }
    return 0;
}
