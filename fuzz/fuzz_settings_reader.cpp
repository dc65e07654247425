// Feeds arbitrary bytes to the settings reader. The reader may refuse them
// only by throwing SettingsError (anything else escaping aborts the run), and
// whatever it accepts must survive writing and reading back: the writer does
// not escape the path, so that holds for every path without a double quote.

#include "SettingsFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using quobin::StoredSettings;

namespace {

[[noreturn]] void fail(const char *what, const StoredSettings &settings, const QByteArray &written)
{
    std::fprintf(stderr, "%s: %d, %d, \"%s\"\nwritten as: %s\n", what,
                 int(settings.comPortPosition), int(settings.baudRatePosition),
                 settings.firmwarePath.toUtf8().toHex(' ').constData(),
                 written.toHex(' ').constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    StoredSettings parsed;
    try {
        parsed = quobin::parseSettings(content);
    } catch (const quobin::SettingsError &) {
        return 0;
    }

    const QByteArray written = quobin::formatSettings(parsed);
    if (parsed.firmwarePath.contains(QLatin1Char('"'))) {
        // Not expected to read back whole; it must still be read safely.
        try {
            quobin::parseSettings(written);
        } catch (const quobin::SettingsError &) {
        }
        return 0;
    }
    try {
        if (!(quobin::parseSettings(written) == parsed))
            fail("read back differently", parsed, written);
    } catch (const quobin::SettingsError &) {
        fail("refused its own output", parsed, written);
    }
    return 0;
}
